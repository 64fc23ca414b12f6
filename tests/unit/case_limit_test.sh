#!/bin/sh
# The unit program's per-case time limit: a case that never ends stops the run after the limit,
# with exit status 1 and one line on standard error naming the case; the cases run before it are
# reported as usual on standard output.
# Usage: case_limit_test.sh WORK UNIT_TESTS [EMULATOR]
set -u
work=$1 tests=$2 emulator=${3:-}
rm -rf "$work"
mkdir -p "$work"
run() {
  if [ -n "$emulator" ]; then "$emulator" "$@"; else "$@"; fi
}
run "$tests" --gtest_filter=CaseWatchdog.* --gtest_also_run_disabled_tests --gtest_color=no \
  --case_limit=1 >"$work/got.out" 2>"$work/got.err"
status=$?
failed=0
[ "$status" -eq 1 ] || { echo "exit status $status, expected 1"; failed=1; }
cat >"$work/want.out" <<'OUT'
Note: Google Test filter = CaseWatchdog.*
[==========] Running 1 test from 1 test suite.
[----------] Global test environment set-up.
[----------] 1 test from CaseWatchdog
[ RUN      ] CaseWatchdog.DISABLED_NeverEnds
OUT
printf '[  TIMEOUT ] CaseWatchdog.DISABLED_NeverEnds still running after 1 s; the run ends here\n' \
  >"$work/want.err"
# A Windows program's text-mode output ends its lines with CR LF.
for stream in out err; do
  tr -d '\r' <"$work/got.$stream" >"$work/got.$stream.lf"
  if ! cmp -s "$work/want.$stream" "$work/got.$stream.lf"; then
    echo "std$stream differs:"
    diff "$work/want.$stream" "$work/got.$stream.lf"
    failed=1
  fi
done
exit "$failed"
