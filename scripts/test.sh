#!/usr/bin/env bash
# Sets everything up and runs every test: the native suites, then the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset native -DBREVLO_WERROR=ON
cmake --build --preset native -j2
ctest --preset native

cmake --preset windows -DBREVLO_WERROR=ON
cmake --build --preset windows -j2
ctest --preset windows
