#!/usr/bin/env python3
"""Turns the raw results of bench/run.sh into docs/benchmarks.md (written to stdout)."""
import datetime
import json
import os
import re
import statistics
import subprocess
import sys

import map_sizes

out, exe, mapfile, config, image, stub_exe = sys.argv[1:7]


def stats(values):
    return min(values), statistics.median(values), max(values)


def fmt(values, unit="ms", scale=1.0):
    lo, med, hi = stats([v * scale for v in values])
    return f"{lo:.2f} / {med:.2f} / {hi:.2f} {unit}"


cpu = "unknown"
with open("/proc/cpuinfo") as f:
    for line in f:
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
nproc = os.cpu_count()
wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
lines = []
w = lines.append
w("# Benchmarks")
w("")
w(f"Made by `bash bench/run.sh` on {datetime.date.today().isoformat()}: {nproc} cores (`nproc`), "
  f"{cpu}, {wine}, Debian 12. Every Windows program ran under Wine in one prefix with one "
  "persistent wineserver. Figures are minimum / median / maximum.")
w("")

# 1. Launch overhead.
def pooled(name):
    """Times of the two programs of hyperfine's NAME.json and NAME_reversed.json (the same two,
    in the other order), pooled; the ratio of their medians (first over second); and that ratio
    in each pass alone."""
    first = json.load(open(os.path.join(out, name + ".json")))["results"]
    second = json.load(open(os.path.join(out, name + "_reversed.json")))["results"]
    a = first[0]["times"] + second[1]["times"]
    b = first[1]["times"] + second[0]["times"]
    passes = (statistics.median(first[0]["times"]) / statistics.median(first[1]["times"]),
              statistics.median(second[1]["times"]) / statistics.median(second[0]["times"]))
    return a, b, statistics.median(a) / statistics.median(b), passes


brevlo_t, starter_t, ratio, (pass1, pass2) = pooled("launch")
w("## 1. Launch overhead, application present")
w("")
w("`brevlo.exe` (with the 8,014,088-byte image) against a starter that does nothing but "
  "`CreateProcessW` the same test application; `hyperfine -N`, whole processes under Wine, two "
  "passes in opposite orders (5 warm-up runs each) pooled: "
  f"{len(brevlo_t)} runs of each program.")
w("")
w("| program | min / median / max |")
w("|---|---|")
w(f"| brevlo.exe | {fmt(brevlo_t, scale=1000)} |")
w(f"| starter | {fmt(starter_t, scale=1000)} |")
w("")
w(f"Ratio of medians: **{ratio:.3f}×** (target at most 1.05×): "
  f"**{'met' if ratio <= 1.05 else 'missed'}**.")
w("")
w(f"The two passes alone gave {pass1:.3f}× (launcher first) and {pass2:.3f}× (starter first): "
  "process creation under Wine varies by several milliseconds from run to run, which is why "
  "the passes are pooled. Before the launcher's sections were aligned to 4 KiB in the file, "
  "Wine read the whole 8 MB image at every start and this ratio was 1.32×; importing advapi32 "
  "for the registry probe cost another 8 ms (both measured with this script's method).")
w("")

# 2. Extraction.
stage, plain, single = [], [], None
for line in open(os.path.join(out, "extract.txt")):
    parts = line.split()
    if parts[0] == "stage":
        stage.append(float(parts[1]))
    elif parts[0] == "plain":
        plain.append(float(parts[1]))
    elif parts[0] == "single-write":
        single = (int(parts[1]), int(parts[3]))
ratio2 = statistics.median(stage) / statistics.median(plain)
w("## 2. Extraction")
w("")
w("The installer stage's create, write, flush and close of the 8,014,088-byte image against "
  "`CreateFileW` + one `WriteFile` + `FlushFileBuffers` + `CloseHandle` of the same bytes, "
  f"alternating in one Windows program, {len(stage)} rounds each.")
w("")
w("| writer | min / median / max |")
w("|---|---|")
w(f"| installer stage | {fmt(stage)} |")
w(f"| plain WriteFile | {fmt(plain)} |")
w("")
w(f"Ratio of medians: **{ratio2:.3f}×** (target at most 1.10×): "
  f"**{'met' if ratio2 <= 1.10 else 'missed'}**.")
if single:
    w(f"One system write (`NtWriteFile`) took {single[0]:,} of {single[1]:,} bytes: "
      f"{'the whole image in one call' if single[0] == single[1] else 'not the whole image'}.")
w("")

# 3. Size.
total = os.path.getsize(exe)
img = os.path.getsize(image)
cfg = os.path.getsize(config)
rest = total - img - cfg
stub = os.path.getsize(stub_exe)
target = 256 * 1024
w("## 3. Size")
w("")
w(f"`brevlo-stub.exe` (stripped, as shipped: the launcher before `brevlo-pack` adds the image "
  f"and the configuration): **{stub:,} bytes = {stub / 1024:.1f} KiB** (target at most 256 KiB, "
  f"icon included): **{'met' if stub <= target else 'missed'}**.")
w("")
w(f"Packed, `brevlo.exe` is {total:,} bytes: image {img:,} bytes, configuration {cfg:,} bytes, "
  f"and {rest:,} bytes ({rest / 1024:.1f} KiB) beside them: the stub, the two payload sections' "
  "padding to 4 KiB and their section headers.")
w("")
w("```")
w(open(os.path.join(out, "size.txt")).read().rstrip())
w("```")
w("")
w("Where the stub's weight comes from (`bench/map_sizes.py`: bytes of the input sections the link kept, "
  "from the link map, by origin; the last row is what the map does not account for):")
w("")
w("| origin | bytes |")
w("|---|---|")
rows = map_sizes.stub_rows(mapfile, stub, 0)
for name, size in rows:
    w(f"| {name} | {size:,} |")
w(f"| **the stub** | **{sum(size for _, size in rows):,}** |")
w("")
w("The icon resource alone is 67,624 bytes (the required 128×128 32-bit image). Sections are "
  "aligned to 4 KiB in the file so that the image is mapped rather than read at start (see 1), "
  "which is most of the last row. What was there without being used is gone: `std::to_chars` "
  "for doubles pulled in 170 KiB of tables for one error message and was replaced by a "
  "`snprintf` round trip (539,416 bytes before, measured by this script). Measured the same way "
  "on the launcher around the demo installer: libstdc++'s verbose terminate handler with "
  "its demangler, and its `std::__throw_*` functions with `std::system_error`, the "
  "`<stdexcept>` family and two more `std::string` instantiations, gave way to the launcher's "
  "own (`src/main/runtime_win.cpp`, each ending with a \"fatal runtime error\" line and "
  "fast-fail): 377.2 to 277.2 KiB. With `std::mutex` in the output channels and the child start "
  "replaced by locks on `SRWLOCK`, the launcher uses no C++ thread facility, so it links GCC's "
  "runtime libraries of the win32 thread model while everything is compiled once for the POSIX "
  "model the tests need: winpthreads (26 KB, pulled under the POSIX model by exception support, "
  "static-initialisation guards and thread-local variables) leaves, 249.2 KiB.")
w("")
w("Largest single inputs besides the image and the configuration:")
w("")
w("| input | bytes |")
w("|---|---|")
inputs = map_sizes.by_input(mapfile)
payload = ("_installer.S.obj", "_config.S.obj", "embedded_config.S.obj)")
largest = [kv for kv in sorted(inputs.items(), key=lambda kv: -kv[1]) if not kv[0].endswith(payload)]
for name, size in largest[:15]:
    w(f"| {name} | {size:,} |")
w("")

# 4. Memory.
w("## 4. Memory")
w("")
peak = open(os.path.join(out, "peak.txt")).read()


def field(name):
    m = re.search(r"^" + name + r" (\d+)$", peak, re.M)
    return int(m.group(1)) if m else None


ended = field("peak_pagefile")
polled = field("polled_peak_pagefile")
polled_ws = field("polled_peak_working_set")
samples = field("polled_samples")
status = field("exit")
w("Peak commit (`PeakPagefileUsage`) of the launcher during a full, silent installation with the "
  "8 MB image, read by a harness (`bench/peak_commit.c`) with `GetProcessMemoryInfo`.")
w("")
if ended:
    w(f"From the ended process: **{ended:,} bytes = {ended / 1048576:.2f} MiB** (target at most "
      f"4 MiB): **{'met' if ended <= 4 * 1048576 else 'missed'}**.")
else:
    w(f"Wine reports nothing usable for a process that has ended (`PeakPagefileUsage` "
      f"{ended if ended is not None else 'unavailable'}). The figure it could measure instead: the "
      f"harness polls the running launcher every millisecond ({samples} samples) and keeps the "
      "largest `PeakPagefileUsage` / `PagefileUsage` seen.")
    if polled:
        w("")
        w(f"Polled peak commit **{polled:,} bytes = {polled / 1048576:.2f} MiB** (target at most "
          f"4 MiB): **{'met' if polled <= 4 * 1048576 else 'missed'}**. Peak working set "
          f"{polled_ws:,} bytes: it counts the mapped executable, the 8 MB image included, which "
          "is file-backed and not commit.")
w("")
w(f"Launcher exit status in that run: {status}.")
w("")

# 5. Packing.
pack_t, cat_t, ratio5, _ = pooled("pack")
w("## 5. Packing")
w("")
w("The build machine's `brevlo-pack` making a launcher of the stub, `inputs/game.json` and the "
  "8,014,088-byte image, against `cat` of the same three files into one; `hyperfine` through the "
  "shell (its start measured and taken off), two passes in opposite orders (5 warm-up runs "
  f"each) pooled: {len(pack_t)} runs of each.")
w("")
w("| command | min / median / max |")
w("|---|---|")
w(f"| brevlo-pack | {fmt(pack_t, scale=1000)} |")
w(f"| cat | {fmt(cat_t, scale=1000)} |")
w("")
w(f"Ratio of medians: **{ratio5:.3f}×** (target at most 1.5×): "
  f"**{'met' if ratio5 <= 1.5 else 'missed'}**. On Linux the tool maps its inputs: it reads the "
  "image once for the checksum and hands the mapped pages to `write`, where `cat` copies them "
  "through a buffer.")
w("")
# 6. The run-time pack options.
w("## 6. Pack options: --failure-dialog and --support-log")
w("")
w("The benchmark launcher packed with both options against the same launcher without them; "
  "`hyperfine -N`, two passes in opposite orders pooled. The options load nothing at start "
  "(user32 only when a dialog is shown); the support log is appended to at every run.")
w("")
w("| runs | without options | with both options | ratio of medians |")
w("|---|---|---|---|")
for name, label in (("options_launch", "launch, application present"),
                    ("options_first", "first run: silent installation, then the game")):
    plain_t, options_t, ratio6, _ = pooled(name)
    w(f"| {label} ({len(plain_t)} each) | {fmt(plain_t, scale=1000)} | "
      f"{fmt(options_t, scale=1000)} | {1 / ratio6:.3f}× |")
w("")
print("\n".join(lines))
