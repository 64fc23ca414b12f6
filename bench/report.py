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
import paired

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
load_start = open(os.path.join(out, "loadavg_start.txt")).read().split()[:3]
load_end = open(os.path.join(out, "loadavg_end.txt")).read().split()[:3]
w(f"Made by `bash bench/run.sh` on {datetime.date.today().isoformat()}: {nproc} cores (`nproc`), "
  f"{cpu}, {wine}, Debian 12. Every Windows program ran under Wine in one prefix with one "
  "persistent wineserver. Load average (1, 5, 15 minutes) as the runs began: "
  f"{', '.join(load_start)}; as they ended: {', '.join(load_end)}. Figures are minimum / median / "
  "maximum.")
w("")
w("Whole-process comparisons (1, 2, 6) come from `bench/paired.py`: the commands take turns, "
  "one run each per round (A B A B ..., not all runs of A and then all of B), the first rounds "
  "are warm-up and dropped, and a comparison is the **median of the ratios of the two commands' "
  "times within each round**, with a 95% percentile bootstrap interval over the rounds "
  f"({paired.RESAMPLES:,} resamples of the pairs). The extraction (3) alternates its two writers "
  "inside one program and is summed up the same way. Verdict against a target: **met** when the "
  "interval's upper end is at most the target, **missed** when its lower end is above it, "
  "**undecided** when the target lies inside the interval (the runs cannot tell at this noise; "
  "run again on a quieter machine or with more rounds). A launcher packed with pack options "
  "counts as unchanged against the plain one "
  "when the interval of their ratio holds 1.")
w("")
if float(load_start[0]) > nproc:
    w(f"**The machine was busy** (a load average of {load_start[0]} on {nproc} cores as the runs "
      "began, other build and test jobs sharing its cores): these figures show the method at "
      "work, not the launcher's cost alone; make them again "
      "on a quiet machine before relying on them.")
    w("")


def load_runs(name):
    data = json.load(open(os.path.join(out, name + ".json")))
    return data["rounds"], data["names"], data["warmup"]


def ratio_line(c, numerator, denominator, target=None):
    low, high = c["interval"]
    text = (f"{numerator} / {denominator}: median of {c['pairs']} pair ratios **{c['ratio']:.3f}×**, "
            f"95% interval **{low:.3f}× to {high:.3f}×**")
    if target is not None:
        text += f" (target at most {target:.2f}×): **{c['verdict']}**"
    return text + "."


def timing_table(rounds, names):
    """Each command's whole-process times over the rounds."""
    w("| program | whole process, min / median / max |")
    w("|---|---|")
    for n in names:
        w(f"| {n} | {fmt(paired.column(rounds, names, n), scale=1000)} |")
    w("")


def whole_process_section(name, target, probe_words, baseline="starter", also=()):
    """The table of a paired comparison of the starter, the launcher, launchers packed with
    options and the probe variant; the launcher's ratio to the baseline (and to each (name,
    target) of also); each option launcher's ratio to the plain one; the probe's in-process
    figure beside the launcher's whole process."""
    rounds, names, warmup = load_runs(name)
    w(f"{len(rounds)} rounds after {warmup} warm-up rounds; order in each round: "
      f"{', '.join(names)}.")
    w("")
    timing_table(rounds, names)
    c = paired.comparison(rounds, names, "launcher", baseline, target)
    w(ratio_line(c, "launcher", baseline, target))
    w("")
    for other, other_target in also:
        o = paired.comparison(rounds, names, "launcher", other, other_target)
        w(ratio_line(o, "launcher", other, other_target))
        w("")
    for n in names:
        if n in ("starter", "launcher", "probe", baseline) or n in dict(also) or n == "launcher_1g":
            continue
        o = paired.comparison(rounds, names, n, "launcher")
        low, high = o["interval"]
        w(ratio_line(o, n, "launcher") + (" Unchanged within noise (the interval holds 1)."
                                          if low <= 1.0 <= high else " A difference beyond noise."))
        w("")
    collected = json.load(open(os.path.join(out, name + ".json")))["collected"]
    probe_whole = paired.column(rounds, names, "probe")
    runs = [(paired.probe_time(text), whole * 1000)
            for text, whole in zip(paired.collected_column(collected, names, "probe"), probe_whole)]
    inside = [ms for ms, _ in runs if ms is not None]
    if len(inside) == len(runs):
        whole = statistics.median(paired.column(rounds, names, "launcher")) * 1000
        w(f"The launcher's own time, measured inside the process {probe_words}: "
          f"**{statistics.median(inside):.2f} ms** median ({fmt(inside)}, {len(inside)} runs), "
          f"beside **{statistics.median(probe_whole) * 1000:.2f} ms** for the whole process of "
          f"the same runs and **{whole:.2f} ms** for the whole launcher process above. It is taken "
          "by the probe variant of the stub (`bench/launch_probe.c`, linked with `--wrap` around "
          "the import of `CreateProcessW`; row `probe` above), from the creation time the system "
          "keeps for the process (`GetProcessTimes`) to the return of the game's `CreateProcessW`; "
          "the shipped stub carries none of it (its link map lists no wrapped import, checked by "
          "`bench/run.sh` and the `pe_form` test). The rest of the whole-process figure is the "
          "start of the `wine` command before the process is created, and the process's end.")
    else:
        w(f"The probe variant recorded the game's start in {len(inside)} of {len(runs)} runs: "
          "no in-process figure.")
    w("")


# 1. Launch.
w("## 1. Launch overhead, application present")
w("")
w("`brevlo.exe` (with the 8,014,088-byte image) against a starter that does nothing but "
  "`CreateProcessW` the same test application (`bench/starter.c`); whole `wine` processes. Each "
  "run is followed, outside its time, by a wait for the record the test application writes when "
  "it starts, so every run is known to have started it.")
w("")
whole_process_section("launch", 1.05, "from its start to the game's start")
rounds, names, _ = load_runs("launch")
if "launcher_1g" in names:
    w("With a 1 GiB installer (row `launcher_1g`: the same launcher packed with the 1 GiB image of "
      "section 2b): the launch path against the starter, and against the same launcher with the "
      "8 MB image (an interval holding 1 means the image's size changes nothing measurable):")
    w("")
    w(ratio_line(paired.comparison(rounds, names, "launcher_1g", "starter", 1.05), "launcher_1g",
                 "starter", 1.05))
    w("")
    w(ratio_line(paired.comparison(rounds, names, "launcher_1g", "launcher"), "launcher_1g",
                 "launcher"))
    w("")
w("Before the launcher's sections were aligned to 4 KiB in the file, Wine read the whole 8 MB "
  "image at every start and the launch ratio was 1.32×; importing advapi32 for the registry probe "
  "cost another 8 ms (both measured with the earlier method of this script: `hyperfine`, two passes "
  "in opposite orders pooled, the ratio of the medians).")
w("")

# 2. First run.
w("## 2. First run, application missing")
w("")
w("The launcher on a machine without the game, the WebView2 runtime registered (so the "
  "installation is silent): it writes the 8,014,088-byte installer to the temporary folder while "
  "a second thread checks its XXH3-128, runs it with `/S`, starts the game and removes the "
  "installer. Against the floor (`bench/floor.c`, row `floor`: a program carrying the same "
  "installer, which it writes to the temporary folder with one `WriteFile` and a flush from where "
  "it is mapped, runs with `/S`, then starts the game), and, as a second row, against a starter "
  "that runs the same installer, already on disk, with `/S`, waits for it and starts the game "
  "(`bench/starter.c` with the installer as its second argument). Before every run, outside its "
  "time, the installed game is removed; after it, the runner waits for the game's record.")
w("")
whole_process_section("first_run", 1.05, "from its start to the game's start, installation included",
                      baseline="floor", also=[("starter", None)])

# 2b. First run at 1 GiB.
rounds, names, warmup = load_runs("first_run_1g")
w("## 2b. First run with a 1 GiB installer")
w("")
w("The same with a 1,073,741,824-byte installer: the benchmark installer followed by seeded, "
  "incompressible bytes (data after its image, which neither the loader nor the installer reads), "
  "packed into the same stub; the floor carries the same 1 GiB installer, and the starter runs it "
  f"from disk. {len(rounds)} rounds after {warmup} warm-up rounds; order in each round: "
  f"{', '.join(names)}.")
w("")
timing_table(rounds, names)
w(ratio_line(paired.comparison(rounds, names, "launcher", "floor", 1.10), "launcher", "floor", 1.10))
w("")
w(ratio_line(paired.comparison(rounds, names, "launcher", "starter"), "launcher", "starter"))
w("")

# 3. Extraction.
stage, plain, hashing, single = [], [], [], None
for line in open(os.path.join(out, "extract.txt")):
    parts = line.split()
    if parts[0] == "stage":
        stage.append(float(parts[1]))
    elif parts[0] == "plain":
        plain.append(float(parts[1]))
    elif parts[0] == "hash":
        hashing.append(float(parts[1]))
    elif parts[0] == "single-write":
        single = (int(parts[1]), int(parts[3]))
# The two writers alternate, stage first, so round i is the pair (stage[i], plain[i]).
extraction = paired.comparison([list(r) for r in zip(stage, plain)], ["stage", "plain"],
                               "stage", "plain", 1.10)
w("## 3. Extraction")
w("")
w("The install path's work on the 8,014,088-byte image (the installer stage's create, write in "
  "32 MiB pieces, flush and close, while a second thread checks the image's XXH3-128) against "
  "`CreateFileW` + one `WriteFile` + `FlushFileBuffers` + `CloseHandle` of the same bytes, "
  f"alternating in one Windows program (`bench/extract_bench.cpp`), {len(stage)} rounds each, "
  "paired by round as the whole-process comparisons are.")
w("")
w("| writer | min / median / max |")
w("|---|---|")
w(f"| check + installer stage | {fmt(stage)} |")
w(f"| the XXH3-128 check alone, for comparison | {fmt(hashing)} |")
w(f"| plain WriteFile | {fmt(plain)} |")
w("")
w(ratio_line(extraction, "check + installer stage", "plain WriteFile", 1.10))
if single:
    w(f"One system write (`NtWriteFile`) took {single[0]:,} of {single[1]:,} bytes: "
      f"{'the whole image in one call' if single[0] == single[1] else 'not the whole image'}.")
w("")

# 4. Size.
total = os.path.getsize(exe)
img = os.path.getsize(image)
cfg = os.path.getsize(config)
rest = total - img - cfg
stub = os.path.getsize(stub_exe)
target = 256 * 1024
w("## 4. Size")
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
  "static-initialisation guards and thread-local variables) leaves, 249.2 KiB. Later rounds "
  "brought it to 272 KiB; mingw's formatted output (`mingw_pformat`) and text-to-number "
  "conversion (`strtodg`, `gdtoa`, `gethex`), about 30 KB for one error message's number and "
  "the backtrace lines, gave way to exact decimal digits of doubles "
  "(`src/core/config/number_text.cpp`) and hand-formed backtrace lines: 276.0 to 240.0 KiB.")
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

# 5. Memory.
w("## 5. Memory")
w("")


def peak_fields(name):
    text = open(os.path.join(out, name)).read()

    def field(key):
        m = re.search(r"^" + key + r" (\d+)$", text, re.M)
        return int(m.group(1)) if m else None
    return {k: field(k) for k in ("peak_pagefile", "polled_peak_pagefile",
                                  "polled_peak_working_set", "polled_samples", "exit")}


small = peak_fields("peak.txt")
large_peak = peak_fields("peak_1g.txt")
w("Peak commit (`PeakPagefileUsage`) of the launcher during a full, silent installation with the "
  "8 MB and with the 1 GiB image, read by a harness (`bench/peak_commit.c`) with "
  "`GetProcessMemoryInfo`. Wine reports nothing usable for a process that has ended "
  f"(`PeakPagefileUsage` {small['peak_pagefile']}); the harness polls the running launcher every "
  "millisecond and keeps the largest `PeakPagefileUsage` / `PagefileUsage` seen.")
w("")
w("| image | polled peak commit | peak working set | samples | exit status |")
w("|---|---|---|---|---|")
for label, f in (("8 MB", small), ("1 GiB", large_peak)):
    commit = f["polled_peak_pagefile"] or 0
    w(f"| {label} | {commit:,} bytes = {commit / 1048576:.2f} MiB | "
      f"{(f['polled_peak_working_set'] or 0):,} bytes | {f['polled_samples']} | {f['exit']} |")
w("")
if small["polled_peak_pagefile"] and large_peak["polled_peak_pagefile"]:
    growth = large_peak["polled_peak_pagefile"] / small["polled_peak_pagefile"]
    w(f"8 MB: target at most 4 MiB: **{'met' if small['polled_peak_pagefile'] <= 4 * 1048576 else 'missed'}**. "
      f"1 GiB against 8 MB: **{growth:.3f}×** (target at most 1.2×): "
      f"**{'met' if growth <= 1.2 else 'missed'}**. The working set counts the mapped executable, "
      "the image included, which is file-backed and not commit: the image is read where it is "
      "mapped, never copied.")
w("")

# 6. Packing.
w("## 6. Packing")
w("")
w("The build machine's `brevlo-pack` making a launcher of the stub, `inputs/game.json` and the "
  "installer, against `cp` of the same installer; both through `sh -c` (its start is in both "
  "times), each making a new file (the previous run's output is removed before each run, outside "
  "its time), paired as above. Overwriting costs both more on ext4, and `brevlo-pack` more than "
  "`cp`: the tool writes under a temporary name and renames it over the old file, and ext4 "
  "starts writing a file renamed over another out at once (its `auto_da_alloc` rule).")
w("")
w("| installer | rounds | command | min / median / max |")
w("|---|---|---|---|")
pack_runs = {}
for run, label in (("pack", "8 MB"), ("pack_1g", "1 GiB")):
    rounds, names, warmup = load_runs(run)
    pack_runs[label] = (rounds, names)
    for n in names:
        w(f"| {label} | {len(rounds)} after {warmup} | {n} | "
          f"{fmt(paired.column(rounds, names, n), scale=1000)} |")
w("")
for label, (rounds, names) in pack_runs.items():
    c = paired.comparison(rounds, names, "brevlo-pack", "cp", 1.5)
    w(f"{label}: " + ratio_line(c, "brevlo-pack", "cp", 1.5))
    w("")
w("The tool maps its inputs and writes the launcher in one pass, 1 MiB at a time, computing the "
  "PE checksum and the installer's XXH3-128 as the bytes go out and writing the checksum last.")
w("")
memory = {}
with open(os.path.join(out, "pack_memory.txt")) as f:
    for line in f:
        parts = line.split()
        if len(parts) == 3 and parts[2].isdigit():
            memory[(parts[0], parts[1])] = int(parts[2])
w("Peak resident memory of the Linux tool (`/usr/bin/time`, maximum resident set size); target "
  "at most 64 MiB at any installer size:")
w("")
w("| command | 8 MB installer | 1 GiB installer | target |")
w("|---|---|---|---|")
for command in ("pack", "inspect"):
    values = [memory.get((command, size)) for size in ("8m", "1g")]
    cells = [f"{v / 1024:.1f} MiB" if v is not None else "not measured" for v in values]
    verdict = ("met" if all(v is not None and v <= 64 * 1024 for v in values) else "missed")
    w(f"| brevlo-pack{' inspect' if command == 'inspect' else ''} | {cells[0]} | {cells[1]} | "
      f"**{verdict}** |")
w("")
print("\n".join(lines))
