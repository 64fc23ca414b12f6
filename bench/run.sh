#!/usr/bin/env bash
# Builds what the benchmarks need, runs each comparison side by side under one Wine prefix, and
# writes docs/benchmarks.md. Usage: bash bench/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh

cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target brevlo brevlo_bench brevlo_bench_options brevlo_bench_starter brevlo_bench_peak brevlo_bench_extract brevlo_demo_app

build="$root/build/windows"
bench="$build/bench"
out="$bench/results"
rm -rf "$out"
mkdir -p "$out"
# LC_ALL: Wine reads file names in the locale's character set; the checkout's may hold any letter.
export WINEPREFIX="$bench/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
# One persistent server for every run below (if one is running already, it serves).
wineserver -p >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
fi
unix_local="$WINEPREFIX/drive_c/users/$(whoami)/AppData/Local"
win_local='C:\users\'"$(whoami)"'\AppData\Local'
key='HKLM\SOFTWARE\WOW6432Node\Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}'

# 1. Launch overhead with the application present: brevlo against the bare CreateProcessW starter.
mkdir -p "$unix_local/Ostrevan"
cp "$build/demo/Ostrevan.exe" "$unix_local/Ostrevan/Ostrevan.exe"
cp "$bench/brevlo_bench.exe" "$bench/brevlo_bench_options.exe" "$bench/brevlo_bench_starter.exe" \
  "$WINEPREFIX/drive_c/"
# hyperfine -N splits its commands like a shell, so the Windows paths are written with slashes.
# Two passes in opposite orders, pooled, so that a drift of the machine during one pass weighs on
# both programs alike.
launcher_cmd="wine C:/brevlo_bench.exe"
starter_cmd="wine C:/brevlo_bench_starter.exe ${win_local//\\//}/Ostrevan/Ostrevan.exe"
hyperfine -N --warmup 5 --runs 80 --export-json "$out/launch.json" "$launcher_cmd" "$starter_cmd" >"$out/launch.txt"
hyperfine -N --warmup 5 --runs 80 --export-json "$out/launch_reversed.json" "$starter_cmd" "$launcher_cmd" >>"$out/launch.txt"

# 2. Extraction of the 8,014,088-byte image: the stage's writer against one plain WriteFile.
wine "$bench/brevlo_bench_extract.exe" 30 'C:\users\'"$(whoami)"'\Temp' >"$out/extract.txt"

# 4. Peak commit during a full installation with the 8 MB image (runtime registered: silent).
rm -rf "$unix_local/Ostrevan"
wine reg add "$key" /v pv /t REG_SZ /d 120.0.2210.91 /f >/dev/null 2>&1
wine "$bench/brevlo_bench_peak.exe" 'C:\brevlo_bench.exe' >"$out/peak.txt" 2>"$out/peak.err" || true

# 6. The launcher packed with --failure-dialog and --support-log against the one without: launches
# with the application present, then first runs (silent installation of the 8 MB image, the game
# started), each from a machine without the application. Two passes in opposite orders, pooled.
options_cmd="wine C:/brevlo_bench_options.exe"
hyperfine -N --warmup 5 --runs 40 --export-json "$out/options_launch.json" "$launcher_cmd" "$options_cmd" >"$out/options.txt"
hyperfine -N --warmup 5 --runs 40 --export-json "$out/options_launch_reversed.json" "$options_cmd" "$launcher_cmd" >>"$out/options.txt"
# The game started by the previous run may still be writing its record there: remove until gone.
remove_app="sh -c 'until rm -rf \"\$0\"; do sleep 0.05; done' '$unix_local/Ostrevan'"
hyperfine -N --warmup 1 --runs 8 --prepare "$remove_app" --export-json "$out/options_first.json" "$launcher_cmd" "$options_cmd" >>"$out/options.txt"
hyperfine -N --warmup 1 --runs 8 --prepare "$remove_app" --export-json "$out/options_first_reversed.json" "$options_cmd" "$launcher_cmd" >>"$out/options.txt"
wine reg delete "$key" /f >/dev/null 2>&1 || true

# 5. Packing the 8,014,088-byte image into the stub with the build machine's brevlo-pack, against
# cat of the same bytes into one file. Both commands through the shell, whose own start hyperfine
# measures and takes off; two passes in opposite orders, pooled.
stub="$build/brevlo-stub.exe"
pack_cmd="$build/host-tools/brevlo-pack --stub $stub --config $root/inputs/game.json --installer $bench/bench_setup.exe --out $bench/packed.exe"
cat_cmd="cat $stub $root/inputs/game.json $bench/bench_setup.exe > $bench/concatenated.exe"
hyperfine --warmup 5 --runs 60 --export-json "$out/pack.json" "$pack_cmd" "$cat_cmd" >"$out/pack.txt"
hyperfine --warmup 5 --runs 60 --export-json "$out/pack_reversed.json" "$cat_cmd" "$pack_cmd" >>"$out/pack.txt"

# 3. Size, from the shipped launcher's link map: what each library and our own code cost beside the
# image and the configuration.
x86_64-w64-mingw32-size "$bench/brevlo_bench.exe" >"$out/size.txt"
x86_64-w64-mingw32-objdump -h "$bench/brevlo_bench.exe" >"$out/sections.txt"
/usr/bin/python3 "$root/bench/map_sizes.py" "$build/generated/brevlo-stub.map" "$build/brevlo-stub.exe" \
  | tee "$out/size_by_origin.txt"

/usr/bin/python3 "$root/bench/report.py" "$out" "$bench/brevlo_bench.exe" "$build/generated/brevlo-stub.map" \
  "$root/inputs/game.json" "$bench/bench_setup.exe" "$build/brevlo-stub.exe" >"$root/docs/benchmarks.md"
echo "wrote docs/benchmarks.md"
