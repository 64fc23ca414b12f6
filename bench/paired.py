#!/usr/bin/env python3
"""The paired, interleaved runner of bench/run.sh, and the statistics its report draws from it.

Whole processes under Wine vary by several milliseconds from run to run, and the machine drifts
over minutes: timing all runs of one program and then all of the other puts that drift into
their difference. Here the commands take turns, one run each per round (A B A B ..., or A B C A
B C ... with more), the first rounds are warm-up and dropped, and each comparison is the median
of the ratios of the two commands' times within a round, with a 95% bootstrap interval over the
rounds (the pairs are resampled, never the two commands' times apart).

  paired.py --out FILE --rounds N --warmup W [--reset PATH]... [--settle PATH] [--collect PATH]
            NAME=COMMAND...

runs the commands (each split as a POSIX shell would, without a shell) W + N times round by
round, and writes FILE (JSON): the names, the commands, the N timed rounds, each the list of the
commands' times in seconds, and for each timed round the text each run left in --collect (the
probe variant's records; "" when it left none). Before each run, outside its time, every --reset
path is removed (a folder with what it holds), and so are --settle and --collect; after each run,
outside its time, the runner waits for --settle to appear (the record the game writes when it is
started), so that every run is known to have started the game and no run overlaps the previous
run's game. A command that ends with a status other than 0, or a game that never writes its
record, stops the runner with a line naming it. At the end, each command's ratio to the first is
printed, one line each.
"""
import argparse
import json
import math
import os
import random
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

CONFIDENCE = 0.95
RESAMPLES = 10000
SEED = 20261209
SETTLE_TIMEOUT = 60.0  # seconds a game may take to write its record


def pair_ratios(rounds, names, numerator, denominator):
    """The ratio numerator / denominator of the two commands' times in each round."""
    i, j = names.index(numerator), names.index(denominator)
    return [r[i] / r[j] for r in rounds]


def bootstrap_interval(values, resamples=RESAMPLES, confidence=CONFIDENCE, seed=SEED):
    """The percentile bootstrap interval (low, high) of the median of values: values resampled
    with replacement resamples times (the same draws for the same seed), the medians sorted, and
    the ones at the (1 - confidence) / 2 and (1 + confidence) / 2 quantiles taken."""
    rng = random.Random(seed)
    n = len(values)
    medians = sorted(statistics.median(rng.choices(values, k=n)) for _ in range(resamples))
    tail = (1.0 - confidence) / 2.0
    low = medians[int(math.floor(tail * resamples))]
    high = medians[int(math.ceil((1.0 - tail) * resamples)) - 1]
    return low, high


def verdict(interval, target):
    """'met' when the whole interval is at most target, 'missed' when all of it is above, and
    'undecided' when it holds target: the runs did not tell at this precision."""
    low, high = interval
    if high <= target:
        return "met"
    if low > target:
        return "missed"
    return "undecided"


def comparison(rounds, names, numerator, denominator, target=None):
    """The median pair ratio, its interval, the number of pairs and (given a target) the verdict."""
    ratios = pair_ratios(rounds, names, numerator, denominator)
    interval = bootstrap_interval(ratios)
    return {
        "ratio": statistics.median(ratios),
        "interval": interval,
        "pairs": len(ratios),
        "verdict": verdict(interval, target) if target is not None else None,
    }


def column(rounds, names, name):
    """The times of one command, round by round."""
    i = names.index(name)
    return [r[i] for r in rounds]


def probe_time(text):
    """Milliseconds from process creation to the game's start in one launcher run, from the lines
    bench/launch_probe.c appended ("pid call microseconds started"): the run's last call, which
    starts the game. None when the run recorded no call, its last start failed, or the system
    did not give the creation time."""
    last = None
    for line in text.splitlines():
        fields = line.split()
        if len(fields) != 4:
            raise ValueError(f"not a probe line: {line!r}")
        _, call, microseconds, started = (int(f) for f in fields)
        if last is None or call > last[0]:
            last = (call, microseconds, started)
    if last is None or last[2] != 1 or last[1] < 0:
        return None
    return last[1] / 1000.0


def collected_column(collected, names, name):
    """The texts the runs of one command left in --collect, round by round."""
    i = names.index(name)
    return [c[i] for c in collected]


def _remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.remove(path)


def _run_once(name, argv, resets, settle, collect):
    """The time of one run of argv in seconds, and the text it left in collect."""
    for path in resets + [settle, collect]:
        if path:
            _remove(path)
    # Standard error goes to a file, read only when the run fails.
    with tempfile.TemporaryFile() as errors:
        start = time.perf_counter()
        status = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=errors).returncode
        elapsed = time.perf_counter() - start
        if status != 0:
            errors.seek(0)
            said = errors.read().decode(errors="replace").strip()
            sys.exit(f"paired.py: {name} ended with status {status}: {shlex.join(argv)}"
                     + (f"\n{said}" if said else ""))
    if settle:
        deadline = time.monotonic() + SETTLE_TIMEOUT
        while not os.path.exists(settle):
            if time.monotonic() > deadline:
                sys.exit(f"paired.py: {name} started no game: {settle} did not appear")
            time.sleep(0.002)
    text = ""
    if collect and os.path.exists(collect):
        with open(collect, encoding="ascii") as f:
            text = f.read()
    return elapsed, text


def run(args):
    names, argvs = [], []
    for spec in args.commands:
        name, sep, command = spec.partition("=")
        if not sep or not name or not command:
            sys.exit(f"paired.py: not NAME=COMMAND: {spec}")
        names.append(name)
        argvs.append(shlex.split(command))
    rounds, collected = [], []
    for index in range(args.warmup + args.rounds):
        runs = [_run_once(n, a, args.reset, args.settle, args.collect) for n, a in zip(names, argvs)]
        if index >= args.warmup:
            rounds.append([elapsed for elapsed, _ in runs])
            collected.append([text for _, text in runs])
    with open(args.out, "w") as f:
        json.dump({"names": names, "commands": args.commands, "warmup": args.warmup,
                   "rounds": rounds, "collected": collected}, f, indent=1)
    for name in names[1:]:
        c = comparison(rounds, names, name, names[0])
        print(f"{name} / {names[0]}: {c['ratio']:.3f}x, 95% interval "
              f"{c['interval'][0]:.3f}x to {c['interval'][1]:.3f}x ({c['pairs']} pairs)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--rounds", type=int, required=True)
    parser.add_argument("--warmup", type=int, default=5)
    parser.add_argument("--reset", action="append", default=[])
    parser.add_argument("--settle")
    parser.add_argument("--collect")
    parser.add_argument("commands", nargs="+")
    args = parser.parse_args()
    if len(args.commands) < 2:
        sys.exit("paired.py: give at least two commands")
    run(args)


if __name__ == "__main__":
    main()
