#!/bin/sh
# A launcher signed by the build: it verifies against the test CA; with one byte of its installer
# section changed it no longer does; packed again it is the unsigned launcher byte for byte, which
# signs and verifies again.
# Usage: signing_test.sh WORK SIGNED UNSIGNED CERT_DIR BREVLO_PACK INSTALLER GAME_JSON PYTHON
set -u
work=$1 signed=$2 unsigned=$3 cert=$4 pack=$5 installer=$6 config=$7 python=$8
rm -rf "$work"
mkdir -p "$work"
failed=0

# expect ok|fails NAME COMMAND...: the command's outcome, with its output when it is not as wanted.
expect() {
  want=$1 name=$2
  shift 2
  if "$@" >"$work/$name.log" 2>&1; then got=ok; else got=fails; fi
  if [ "$got" = "$want" ]; then
    echo "ok   $name"
  else
    echo "FAIL $name: the command $got"
    cat "$work/$name.log"
    failed=1
  fi
}

verify() { osslsigncode verify -CAfile "$cert/ca.pem" -in "$1"; }

expect ok signed_verifies verify "$signed"

"$python" - "$signed" "$work/flipped.exe" <<'PY'
import sys
import pefile
data = bytearray(open(sys.argv[1], "rb").read())
pe = pefile.PE(data=bytes(data), fast_load=True)
section = next(s for s in pe.sections if s.Name.rstrip(b"\0") == b".brvimg")
at = section.PointerToRawData + section.Misc_VirtualSize // 2
data[at] ^= 0x01
open(sys.argv[2], "wb").write(data)
PY
expect fails flipped_installer_byte_fails verify "$work/flipped.exe"

# inspect: the signed launcher is whole, its signature present and matching; with the byte
# flipped both the installer digest and the signature's digest name the damage (exit 1).
expect ok inspect_signed "$pack" inspect "$signed"
expect ok inspect_signed_says_present grep -qx "signature: present" "$work/inspect_signed.log"
expect ok inspect_signed_names_signer grep -qx "signature-signer: CN=brevlo test publisher" \
  "$work/inspect_signed.log"
expect ok inspect_signed_digest_matches grep -qx "signature-digest: matches" "$work/inspect_signed.log"
expect fails inspect_flipped "$pack" inspect "$work/flipped.exe"
expect ok inspect_flipped_names_both grep -q \
  "installer digest mismatch: .*; the signature no longer covers the file's bytes (its sha256 digest does not match)$" \
  "$work/inspect_flipped.log"
head -c 100000 "$signed" >"$work/truncated.exe"
expect fails inspect_truncated "$pack" inspect "$work/truncated.exe"

expect ok repack_signed "$pack" --stub "$signed" --config "$config" --installer "$installer" \
  --out "$work/repacked.exe"
expect ok repacked_is_the_unsigned_launcher cmp "$work/repacked.exe" "$unsigned"
expect fails repacked_has_no_signature verify "$work/repacked.exe"
expect ok sign_again osslsigncode sign -pkcs12 "$cert/signer.pfx" -readpass "$cert/password.txt" \
  -h sha256 -in "$work/repacked.exe" -out "$work/resigned.exe"
expect ok signed_again_verifies verify "$work/resigned.exe"
exit "$failed"
