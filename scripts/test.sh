#!/usr/bin/env bash
# Sets everything up and runs every test: the native suites (plain and under ASan/UBSan), the
# fuzzers (the configuration parser for 60 seconds, the pack tool's readers for 10 each), then
# the Windows build and its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
# The JSON parsing test suite, from ../shared or fetched (BREVLO_JSONTESTSUITE_GIT, _REF), before
# the packages: without it the run stops at once rather than after installing them (git first,
# where the machine lacks it).
command -v git >/dev/null || bash scripts/setup.sh
bash scripts/jsontestsuite.sh build/jsontestsuite
bash scripts/setup.sh

cmake --preset native -DBREVLO_WERROR=ON
cmake --build --preset native -j2
ctest --preset native

cmake --preset native-asan -DBREVLO_WERROR=ON
cmake --build --preset native-asan -j2
ctest --preset native-asan

cmake --preset fuzz
cmake --build --preset fuzz -j2
bash tests/fuzz/run_fuzz.sh 60

cmake --preset windows -DBREVLO_WERROR=ON
cmake --build --preset windows -j2
# The release bundles; the windows suite's release_bundles test packs and runs these builds.
bash scripts/release.sh
ctest --preset windows
