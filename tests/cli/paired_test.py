#!/usr/bin/env python3
"""bench/paired.py's statistics, each a table of cases: which times are paired, the median of the
pair ratios (not the ratio of the medians), the bootstrap interval's ends, the verdict against a
target at and around its edges, and the probe records of one launcher run read back."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import paired  # noqa: E402

NAMES = ["starter", "launcher", "probe"]
# Rounds in which the launcher is slow when the starter is, and the starter's median comes from
# another round than the launcher's: the ratio of medians is 15/10 = 1.5, the median of the round
# ratios 1.2.
ROUNDS = [[10.0, 12.0, 99.0], [20.0, 24.0, 99.0], [5.0, 15.0, 99.0], [40.0, 36.0, 99.0],
          [8.0, 12.0, 99.0]]

failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


# (numerator, denominator, ratios)
for num, den, want in [
    ("launcher", "starter", [1.2, 1.2, 3.0, 0.9, 1.5]),
    ("starter", "launcher", [10 / 12, 20 / 24, 5 / 15, 40 / 36, 8 / 12]),
    ("probe", "launcher", [99 / 12, 99 / 24, 99 / 15, 99 / 36, 99 / 12]),
]:
    check(f"pair_ratios {num}/{den}", paired.pair_ratios(ROUNDS, NAMES, num, den), want)

c = paired.comparison(ROUNDS, NAMES, "launcher", "starter", target=1.05)
check("comparison ratio (median of pair ratios)", c["ratio"], 1.2)
check("comparison pairs", c["pairs"], 5)
check("comparison column", paired.column(ROUNDS, NAMES, "launcher"), [12.0, 24.0, 15.0, 36.0, 12.0])

# (values, interval): a constant has no spread; with two values the resampled medians fall on
# either, or between them when the resample splits evenly; a value in a tenth of the pairs never
# holds the median of 100 resampled pairs.
for values, want in [
    ([1.25] * 40, (1.25, 1.25)),
    ([1.0] * 50 + [3.0] * 50, (1.0, 3.0)),
    ([1.0] * 90 + [3.0] * 10, (1.0, 1.0)),
    ([3.0] * 10 + [1.0] * 90, (1.0, 1.0)),
    ([2.0] * 90 + [1.0] * 10, (2.0, 2.0)),
]:
    check(f"bootstrap_interval of {len(values)} values", paired.bootstrap_interval(values), want)

# Spread data: the interval holds the median, is ordered, and narrows as the pairs grow.
spread = [1.0 + (i % 21) / 100 for i in range(105)]
low, high = paired.bootstrap_interval(spread)
check("interval ordered around the median", low <= 1.1 <= high and low < high, True)
low4, high4 = paired.bootstrap_interval(spread * 4)
check("interval narrows with four times the pairs", high4 - low4 < high - low, True)
check("interval the same for the same draws", paired.bootstrap_interval(spread), (low, high))

# (interval, target, verdict)
for interval, target, want in [
    ((0.98, 1.04), 1.05, "met"),
    ((0.98, 1.05), 1.05, "met"),
    ((1.03, 1.07), 1.05, "undecided"),
    ((1.05, 1.07), 1.05, "undecided"),
    ((1.051, 1.07), 1.05, "missed"),
    ((1.2, 1.4), 1.5, "met"),
]:
    check(f"verdict {interval} against {target}", paired.verdict(interval, target), want)

# (the probe's records of one run, milliseconds): the run's last start is its game's; a run that
# recorded nothing, whose last start failed, or whose creation time was not known, gives none.
for text, want in [
    ("32 1 35277 1\n", 35.277),
    ("288 1 76155 1\n288 2 426638 1\n", 426.638),
    ("7 2 500000 1\n7 1 100000 1\n", 500.0),
    ("9 1 1000 1\n9 2 2000 0\n", None),
    ("11 1 -1 1\n", None),
    ("", None),
]:
    check(f"probe_time {text!r}", paired.probe_time(text), want)

try:
    paired.probe_time("32 1 35277\n")
    failures.append("probe_time accepted a line of three fields")
except ValueError:
    pass

COLLECTED = [["", "", "1 1 10 1\n"], ["", "", "2 1 20 1\n"]]
check("collected_column", paired.collected_column(COLLECTED, NAMES, "probe"), ["1 1 10 1\n", "2 1 20 1\n"])

for line in failures:
    print(line)
sys.exit(1 if failures else 0)
