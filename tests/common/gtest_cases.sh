#!/bin/sh
# The emulator of the GoogleTest programs CTest runs case by case (tests/common/gtest_cases.cmake):
# runs PROGRAM under EMULATOR. When CTest lists the cases (--gtest_list_tests), the list loses its
# carriage returns: a Windows program's text-mode output ends its lines with CR LF, which CMake's
# reading of the list would keep in the suites' names.
# Usage: gtest_cases.sh EMULATOR... PROGRAM ARGUMENTS...
set -u
for arg in "$@"; do
  if [ "$arg" = "--gtest_list_tests" ]; then
    out=$(mktemp) || exit 1
    "$@" >"$out"
    status=$?
    tr -d '\r' <"$out"
    rm -f "$out"
    exit "$status"
  fi
done
exec "$@"
