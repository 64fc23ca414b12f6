#!/usr/bin/env bash
# Runs the configuration fuzzer for the given number of seconds (default 60), seeded from the public
# JSON conformance suite and the project's own documents. Any crash fails the run.
set -euo pipefail
seconds=${1:-60}
root="$(cd "$(dirname "$0")/../.." && pwd)"
fuzzer="$root/build/fuzz/tests/brevlo_config_fuzz"
work="$root/build/fuzz/run"
mkdir -p "$work/corpus" "$work/seeds" "$work/artifacts"
cp "$root"/tests/fuzz/seeds/* "$root/inputs/game.json" "$work/seeds/"
# Where scripts/jsontestsuite.sh puts the suite.
suite="$root/build/jsontestsuite/test_parsing"
if [ ! -d "$suite" ]; then
  echo "run_fuzz.sh: the JSON parsing test suite is missing: no folder $suite (bash scripts/jsontestsuite.sh build/jsontestsuite)" >&2
  exit 1
fi
cp "$suite"/* "$work/seeds/"
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
  -dict="$root/tests/fuzz/json.dict" -artifact_prefix="$work/artifacts/" \
  "$work/corpus" "$work/seeds" 2>&1 | tail -n 25
