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
  brevlo_bench_floor brevlo_bench_peak brevlo_bench_extract brevlo_demo_app

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
large_rounds=30 large_warmup=2
pack_rounds=60 pack_warmup=5
pack_1g_rounds=10 pack_1g_warmup=1

python=/usr/bin/python3
paired=("$python" "$root/bench/paired.py")
record="$unix_local/Ostrevan/ostrevan-run.txt"  # the demo game writes it when it is started
game_win="${win_local//\\//}/Ostrevan/Ostrevan.exe"  # slashes: the commands are split like a shell's

# A 1 GiB installer, the size of a large game's: the benchmark installer followed by seeded,
# incompressible bytes (data after its image, which neither the system's loader nor the installer
# reads), made once in the build tree; and the launcher around it.
large=1073741824
if [ "$(stat -c %s "$bench/bench_setup_1g.exe" 2>/dev/null || echo 0)" -ne "$large" ]; then
  "$python" - "$bench/bench_setup.exe" "$bench/bench_setup_1g.exe" "$large" <<'PY'
import os, random, shutil, sys
source, target, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
rng = random.Random(20261210)
with open(target + ".partial", "wb") as out:
    with open(source, "rb") as f:
        shutil.copyfileobj(f, out)
    while out.tell() < size:
        out.write(rng.randbytes(min(1 << 24, size - out.tell())))
os.replace(target + ".partial", target)
PY
fi
"$build/host-tools/brevlo-pack" --stub "$build/brevlo-stub.exe" --config "$root/inputs/game.json" \
  --installer "$bench/bench_setup_1g.exe" --out "$bench/brevlo_bench_1g.exe"
# The floors of a first run (bench/floor.c): the floor program with the same installer after it,
# then the installer's length in 8 little-endian bytes.
make_floor() {  # installer output
  cat "$bench/brevlo_bench_floor.exe" "$1" >"$2"
  "$python" -c "import os,sys; sys.stdout.buffer.write(os.path.getsize(sys.argv[1]).to_bytes(8, 'little'))" \
    "$1" >>"$2"
}
make_floor "$bench/bench_setup.exe" "$bench/floor_8m.exe"
make_floor "$bench/bench_setup_1g.exe" "$bench/floor_1g.exe"

# The programs, at the top of C: so that no command holds the checkout's path.
cp "$bench/brevlo_bench.exe" "$bench/brevlo_bench_probe.exe" "$bench/brevlo_bench_starter.exe" \
  "$bench/bench_setup.exe" "$bench/brevlo_bench_1g.exe" "$bench/bench_setup_1g.exe" \
  "$bench/floor_8m.exe" "$bench/floor_1g.exe" "$WINEPREFIX/drive_c/"
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
  "starter=wine C:/brevlo_bench_starter.exe $game_win" "${launchers[@]}" "$probe" \
  "launcher_1g=wine C:/brevlo_bench_1g.exe" | tee "$out/launch.txt"

# 2. First run, the game missing and the runtime registered (silent installation): the launcher
# against the floor (bench/floor.c: the same installer written to the temporary folder with one
# WriteFile and a flush, run with /S, then the game started) and against a starter that runs the
# same installer from disk with /S, waits for it, then starts the game. Before every run, outside
# its time, the installed game is removed. Then the same at 1 GiB.
wine reg add "$key" /v pv /t REG_SZ /d 120.0.2210.91 /f >/dev/null 2>&1
echo "first run: $first_rounds rounds after $first_warmup warm-up rounds"
"${paired[@]}" --out "$out/first_run.json" --rounds "$first_rounds" --warmup "$first_warmup" \
  --reset "$unix_local/Ostrevan" --settle "$record" --collect "$probe_file" \
  "starter=wine C:/brevlo_bench_starter.exe $game_win C:/bench_setup.exe" "${launchers[@]}" "$probe" \
  "floor=wine C:/floor_8m.exe $game_win" | tee "$out/first_run.txt"
echo "first run at 1 GiB: $large_rounds rounds after $large_warmup warm-up rounds"
"${paired[@]}" --out "$out/first_run_1g.json" --rounds "$large_rounds" --warmup "$large_warmup" \
  --reset "$unix_local/Ostrevan" --settle "$record" \
  "floor=wine C:/floor_1g.exe $game_win" "launcher=wine C:/brevlo_bench_1g.exe" \
  "starter=wine C:/brevlo_bench_starter.exe $game_win C:/bench_setup_1g.exe" \
  | tee "$out/first_run_1g.txt"

# 3. Extraction of the 8,014,088-byte image: the stage's writer against one plain WriteFile.
wine "$bench/brevlo_bench_extract.exe" 30 'C:\users\'"$(whoami)"'\Temp' >"$out/extract.txt"

# 5. Peak commit during a full installation with the 8 MB and the 1 GiB image (runtime registered:
# silent).
rm -rf "$unix_local/Ostrevan"
wine "$bench/brevlo_bench_peak.exe" 'C:\brevlo_bench.exe' >"$out/peak.txt" 2>"$out/peak.err" || true
rm -rf "$unix_local/Ostrevan"
wine "$bench/brevlo_bench_peak.exe" 'C:\brevlo_bench_1g.exe' >"$out/peak_1g.txt" 2>"$out/peak_1g.err" || true
wine reg delete "$key" /f >/dev/null 2>&1 || true

# 6. Packing the 8,014,088-byte image and the 1 GiB one into the stub with the build machine's
# brevlo-pack, against cp of the same installer; both through sh, whose start is in both times,
# each making a new file (the previous run's output is removed first, outside the time).
# The paths reach the commands through the environment, so that any checkout path works. Then the
# tool's peak resident memory (/usr/bin/time) packing and inspecting each.
export BENCH_PACK="$build/host-tools/brevlo-pack" BENCH_STUB="$build/brevlo-stub.exe" \
  BENCH_CONFIG="$root/inputs/game.json" BENCH_DIR="$bench"
pack_pair() {  # name image rounds warmup
  echo "packing ($1): $3 rounds after $4 warm-up rounds"
  BENCH_IMAGE=$2 "${paired[@]}" --out "$out/$1.json" --rounds "$3" --warmup "$4" \
    --reset "$bench/copied.exe" --reset "$bench/packed.exe" \
    "cp=sh -c 'cp \"\$BENCH_IMAGE\" \"\$BENCH_DIR/copied.exe\"'" \
    "brevlo-pack=sh -c '\"\$BENCH_PACK\" --stub \"\$BENCH_STUB\" --config \"\$BENCH_CONFIG\" --installer \"\$BENCH_IMAGE\" --out \"\$BENCH_DIR/packed.exe\"'" \
    | tee "$out/$1.txt"
}
pack_pair pack "$bench/bench_setup.exe" "$pack_rounds" "$pack_warmup"
pack_pair pack_1g "$bench/bench_setup_1g.exe" "$pack_1g_rounds" "$pack_1g_warmup"
rm -f "$bench/copied.exe" "$bench/packed.exe"
: >"$out/pack_memory.txt"
for size in 8m 1g; do
  image=$bench/bench_setup.exe launcher=$bench/brevlo_bench.exe
  [ "$size" = 1g ] && image=$bench/bench_setup_1g.exe launcher=$bench/brevlo_bench_1g.exe
  /usr/bin/time -f "pack $size %M" -a -o "$out/pack_memory.txt" "$BENCH_PACK" --stub "$BENCH_STUB" \
    --config "$BENCH_CONFIG" --installer "$image" --out "$bench/packed_memory.exe"
  /usr/bin/time -f "inspect $size %M" -a -o "$out/pack_memory.txt" "$BENCH_PACK" inspect \
    "$launcher" >/dev/null
done
rm -f "$bench/packed_memory.exe"

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
