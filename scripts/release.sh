#!/usr/bin/env bash
# Builds the release bundles into dist/:
#   brevlo-<version>-windows-x64.zip      brevlo-stub.exe, brevlo-pack.exe, the publisher guide
#                                         (README.md), LICENSE, THIRD-PARTY-NOTICES.md
#   brevlo-<version>-linux-x86_64.tar.gz  brevlo-pack, brevlo-check-config, brevlo-stub.exe, the same
#   SHA256SUMS                            both, for `sha256sum -c SHA256SUMS`
# The version is the one of project() in CMakeLists.txt. The programs come from the presets
# release-native and release-windows (build/release-native, build/release-windows): the project's
# own options with BREVLO_RELEASE=ON. Every time stamp is the commit's date (SOURCE_DATE_EPOCH), so
# two runs on one commit give the same bytes, from any checkout.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export TZ=UTC LC_ALL=C.UTF-8
if ! git diff --quiet HEAD -- 2>/dev/null; then
  echo "release.sh: the working tree has changes not in $(git rev-parse --short HEAD); the bundles are not that commit's" >&2
fi

cmake --preset release-native
cmake --build --preset release-native -j2
cmake --preset release-windows
cmake --build --preset release-windows -j2

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release-native/CMakeCache.txt)
/usr/bin/python3 tools/package_release.py --version "$version" --epoch "$SOURCE_DATE_EPOCH" --out dist \
  --native-build build/release-native --windows-build build/release-windows
(cd dist && sha256sum -c SHA256SUMS)
