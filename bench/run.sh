#!/usr/bin/env bash
# Builds what the benchmarks need, runs each comparison under one Wine prefix and one persistent
# wineserver, prints each comparison's ratio with its 95% interval, and writes docs/benchmarks.md.
# Usage: bash bench/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh

cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target brevlo brevlo_bench brevlo_bench_probe brevlo_bench_starter \
  brevlo_bench_peak brevlo_bench_extract brevlo_demo_app

build="$root/build/windows"
bench="$build/bench"
out="$bench/results"
rm -rf "$out"
mkdir -p "$out"
# LC_ALL: Wine reads file names in the locale's character set; the checkout's may hold any letter.
export WINEPREFIX="$bench/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
# One persistent server for every run below: a server left from before is ended first, since it
# may not be a persistent one.
mkdir -p "$WINEPREFIX"  # the server starts in the prefix, which a fresh build tree lacks
wineserver -k >/dev/null 2>&1 || true
wineserver -p
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
fi
unix_local="$WINEPREFIX/drive_c/users/$(whoami)/AppData/Local"
win_local='C:\users\'"$(whoami)"'\AppData\Local'
key='HKLM\SOFTWARE\WOW6432Node\Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}'

# Launchers packed with pack options, measured beside the plain launcher in the launch and the
# first-run comparisons (the report gives each one's ratio to it): one "name:options" entry each,
# packed below from the same stub, game.json and image.
# The splash launcher's image is the tests' 480x270 one; run from here with standard handles,
# the launcher never shows it, so its rows measure what the option costs a run that shows nothing
# (the path is relative to the checkout: the options are split into words).
/usr/bin/python3 "$root/tests/e2e/make_splash.py" "$bench/splash.png" 480 270
option_launchers=("both_options:--failure-dialog --support-log" "splash:--splash build/windows/bench/splash.png")

# Rounds of the paired comparisons (bench/paired.py: the commands take turns, one run each per
# round; the warm-up rounds are dropped).
launch_rounds=200 launch_warmup=5
first_rounds=60 first_warmup=3
pack_rounds=60 pack_warmup=5

python=/usr/bin/python3
paired=("$python" "$root/bench/paired.py")
record="$unix_local/Ostrevan/ostrevan-run.txt"  # the demo game writes it when it is started
game_win="${win_local//\\//}/Ostrevan/Ostrevan.exe"  # slashes: the commands are split like a shell's

# The programs, at the top of C: so that no command holds the checkout's path.
cp "$bench/brevlo_bench.exe" "$bench/brevlo_bench_probe.exe" "$bench/brevlo_bench_starter.exe" \
  "$bench/bench_setup.exe" "$WINEPREFIX/drive_c/"
launchers=("launcher=wine C:/brevlo_bench.exe")
for entry in "${option_launchers[@]}"; do
  name=${entry%%:*}
  # shellcheck disable=SC2086 # the options are words
  "$build/host-tools/brevlo-pack" --stub "$build/brevlo-stub.exe" --config "$root/inputs/game.json" \
    --installer "$bench/bench_setup.exe" --out "$bench/$name.exe" ${entry#*:}
  cp "$bench/$name.exe" "$WINEPREFIX/drive_c/"
  launchers+=("$name=wine C:/$name.exe")
done
probe="probe=wine C:/brevlo_bench_probe.exe"
# The probe variant appends its records here (the runner keeps each run's); the other launchers
# do not read the variable.
export BREVLO_BENCH_PROBE_FILE='C:\bench_probe.txt'
probe_file="$WINEPREFIX/drive_c/bench_probe.txt"

# The shipped stub carries nothing of the probe: its link map lists no wrapped import.
if grep -q '__wrap_' "$build/generated/brevlo-stub.map"; then
  echo "brevlo-stub.exe was linked with a wrapped import (the benchmark probe's link)" >&2
  exit 1
fi

# How busy the machine was as the runs began and as they ended, for the report.
cp /proc/loadavg "$out/loadavg_start.txt"

# 1. Launch with the application present: the launcher against the bare CreateProcessW starter.
rm -rf "$unix_local/Ostrevan"
mkdir -p "$unix_local/Ostrevan"
cp "$build/demo/Ostrevan.exe" "$unix_local/Ostrevan/Ostrevan.exe"
echo "launch: $launch_rounds rounds after $launch_warmup warm-up rounds"
"${paired[@]}" --out "$out/launch.json" --rounds "$launch_rounds" --warmup "$launch_warmup" \
  --settle "$record" --collect "$probe_file" \
  "starter=wine C:/brevlo_bench_starter.exe $game_win" "${launchers[@]}" "$probe" | tee "$out/launch.txt"

# 2. First run, the game missing and the runtime registered (silent installation): the launcher
# against a starter that runs the same installer with /S, waits for it, then starts the game.
# Before every run, outside its time, the installed game is removed.
wine reg add "$key" /v pv /t REG_SZ /d 120.0.2210.91 /f >/dev/null 2>&1
echo "first run: $first_rounds rounds after $first_warmup warm-up rounds"
"${paired[@]}" --out "$out/first_run.json" --rounds "$first_rounds" --warmup "$first_warmup" \
  --reset "$unix_local/Ostrevan" --settle "$record" --collect "$probe_file" \
  "starter=wine C:/brevlo_bench_starter.exe $game_win C:/bench_setup.exe" "${launchers[@]}" "$probe" \
  | tee "$out/first_run.txt"

# 3. Extraction of the 8,014,088-byte image: the stage's writer against one plain WriteFile.
wine "$bench/brevlo_bench_extract.exe" 30 'C:\users\'"$(whoami)"'\Temp' >"$out/extract.txt"

# 5. Peak commit during a full installation with the 8 MB image (runtime registered: silent).
rm -rf "$unix_local/Ostrevan"
wine "$bench/brevlo_bench_peak.exe" 'C:\brevlo_bench.exe' >"$out/peak.txt" 2>"$out/peak.err" || true
wine reg delete "$key" /f >/dev/null 2>&1 || true

# 6. Packing the 8,014,088-byte image into the stub with the build machine's brevlo-pack, against
# cat of the same bytes into one file; both through sh, whose start is in both times. The paths
# reach the commands through the environment, so that any checkout path works.
export BENCH_PACK="$build/host-tools/brevlo-pack" BENCH_STUB="$build/brevlo-stub.exe" \
  BENCH_CONFIG="$root/inputs/game.json" BENCH_IMAGE="$bench/bench_setup.exe" BENCH_DIR="$bench"
echo "packing: $pack_rounds rounds after $pack_warmup warm-up rounds"
"${paired[@]}" --out "$out/pack.json" --rounds "$pack_rounds" --warmup "$pack_warmup" \
  "cat=sh -c 'cat \"\$BENCH_STUB\" \"\$BENCH_CONFIG\" \"\$BENCH_IMAGE\" > \"\$BENCH_DIR/concatenated.exe\"'" \
  "brevlo-pack=sh -c '\"\$BENCH_PACK\" --stub \"\$BENCH_STUB\" --config \"\$BENCH_CONFIG\" --installer \"\$BENCH_IMAGE\" --out \"\$BENCH_DIR/packed.exe\"'" \
  | tee "$out/pack.txt"

cp /proc/loadavg "$out/loadavg_end.txt"

# 4. Size, from the shipped launcher's link map: what each library and our own code cost beside the
# image and the configuration.
# From inside its folder, so that the table names the file without the checkout's path.
(cd "$bench" && x86_64-w64-mingw32-size brevlo_bench.exe) >"$out/size.txt"
x86_64-w64-mingw32-objdump -h "$bench/brevlo_bench.exe" >"$out/sections.txt"
"$python" "$root/bench/map_sizes.py" "$build/generated/brevlo-stub.map" "$build/brevlo-stub.exe" \
  | tee "$out/size_by_origin.txt"

"$python" "$root/bench/report.py" "$out" "$bench/brevlo_bench.exe" "$build/generated/brevlo-stub.map" \
  "$root/inputs/game.json" "$bench/bench_setup.exe" "$build/brevlo-stub.exe" >"$root/docs/benchmarks.md"
echo "wrote docs/benchmarks.md"
