#!/usr/bin/env bash
# Builds the benchmark installer at exactly the target size: a first build measures what the
# installer adds around its payload, a second one sizes the payload to hit the target.
set -euo pipefail
makensis=$1 app=$2 out=$3 target=$4 script=$5
work="$out.work"
mkdir -p "$work"
payload() {  # seeded, incompressible bytes
  /usr/bin/python3 -c "import random,sys; r=random.Random(20261208); sys.stdout.buffer.write(r.randbytes($1))" >"$work/payload.bin"
}
payload 7900000
"$makensis" -V1 -NOCONFIG "-DAPP_EXE=$app" "-DPAYLOAD=$work/payload.bin" "-DOUT_FILE=$out" "$script"
size=$(stat -c %s "$out")
payload $((7900000 + target - size))
"$makensis" -V1 -NOCONFIG "-DAPP_EXE=$app" "-DPAYLOAD=$work/payload.bin" "-DOUT_FILE=$out" "$script"
size=$(stat -c %s "$out")
if [ "$size" -ne "$target" ]; then
  echo "benchmark installer is $size bytes, not $target" >&2
  exit 1
fi
