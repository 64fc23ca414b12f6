#!/usr/bin/env bash
# Runs the configuration fuzzer for the given number of seconds (default 60), seeded from the public
# JSON conformance suite and the project's own documents, then each of the pack tool's six reader
# fuzzers for a sixth of that (at least 2 seconds), seeded from sample stubs and launchers made by
# brevlo_pack_fuzz_seeds, a launcher of them signed with a throwaway certificate, and the Windows
# build's own stub and launcher when that build is there, and a small splash image. Any crash fails the run.
set -euo pipefail
seconds=${1:-60}
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build/fuzz"
work="$build/run"
mkdir -p "$work/corpus" "$work/seeds" "$work/artifacts"
cp "$root"/tests/fuzz/seeds/* "$root/inputs/game.json" "$work/seeds/"
# Where scripts/jsontestsuite.sh puts the suite.
suite="$root/build/jsontestsuite/test_parsing"
if [ ! -d "$suite" ]; then
  echo "run_fuzz.sh: the JSON parsing test suite is missing: no folder $suite (bash scripts/jsontestsuite.sh build/jsontestsuite)" >&2
  exit 1
fi
cp "$suite"/* "$work/seeds/"
"$build/tests/brevlo_config_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
  -print_final_stats=1 -dict="$root/tests/fuzz/json.dict" -artifact_prefix="$work/artifacts/" \
  "$work/corpus" "$work/seeds" 2>&1 | tail -n 25

# The pack tool's readers.
pack_seeds="$work/pack-seeds"
rm -rf "$pack_seeds"
"$build/tests/brevlo_pack_fuzz_seeds" "$pack_seeds"
mkdir -p "$pack_seeds/signature" "$pack_seeds/splash"
/usr/bin/python3 "$root/tests/e2e/make_splash.py" "$pack_seeds/splash/card.png" 48 27
if [ -f "$root/build/windows/brevlo-stub.exe" ]; then
  cp "$root/build/windows/brevlo-stub.exe" "$pack_seeds/stub/"
  cp "$root/build/windows/brevlo.exe" "$pack_seeds/inspect/"
fi
certificate="$work/certificate"
sh "$root/tests/e2e/make_test_certificate.sh" "$certificate"
osslsigncode sign -pkcs12 "$certificate/signer.pfx" -readpass "$certificate/password.txt" \
  -h sha256 -in "$pack_seeds/inspect/plain.exe" -out "$pack_seeds/inspect/signed.exe" >/dev/null
# The signature alone: the certificate table's entry after its 8-byte header.
/usr/bin/python3 - "$pack_seeds/inspect/signed.exe" "$pack_seeds/signature/signed.p7" <<'PYTHON'
import struct, sys
data = open(sys.argv[1], "rb").read()
optional = struct.unpack_from("<I", data, 60)[0] + 24
at, size = struct.unpack_from("<II", data, optional + 112 + 4 * 8)
length = struct.unpack_from("<I", data, at)[0]
open(sys.argv[2], "wb").write(data[at + 8:at + length])
PYTHON
each=$(( seconds / 6 > 2 ? seconds / 6 : 2 ))
for reader in inspect stub icon version signature splash; do
  corpus="$work/pack-corpus/$reader"
  mkdir -p "$corpus"
  echo "== brevlo_pack_${reader}_fuzz for $each seconds"
  "$build/tests/brevlo_pack_${reader}_fuzz" -max_total_time="$each" -timeout=10 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/$reader-" \
    "$corpus" "$pack_seeds/$reader" 2>&1 | tail -n 12
done
