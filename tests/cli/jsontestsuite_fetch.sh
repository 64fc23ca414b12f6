#!/usr/bin/env bash
# scripts/jsontestsuite.sh without a network: the folder beside the checkout, and git fetches from
# local repositories made here from the suite's files, with the files as recorded or one changed.
#
# Usage: jsontestsuite_fetch.sh ROOT SUITE
# ROOT is the test's own scratch folder, made anew; SUITE a folder holding the recorded suite.
set -euo pipefail
root=$1 suite=$2
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/jsontestsuite.sh
recorded=b936f9acdd24b9f5fefe68b90b9beab2c681137a
# The tree with a space appended to y_structure_lonely_int.json.
changed=36af412461f2d0ad4ca202444e2b30af166cf90b
failures=0

rm -rf "$root"
mkdir -p "$root/same" "$root/changed"
cp -R "$suite" "$root/same/test_parsing"
cp -R "$suite" "$root/changed/test_parsing"
chmod -R u+w "$root"
printf ' ' >>"$root/changed/test_parsing/y_structure_lonely_int.json"
commit() {
  git -C "$1" init -q
  git -C "$1" add test_parsing
  git -C "$1" -c user.name=brevlo -c user.email=brevlo@localhost -c commit.gpgsign=false \
    commit -q -m suite
  git -C "$1" rev-parse HEAD
}
same_ref=$(commit "$root/same")
changed_ref=$(commit "$root/changed")
missing=$root/no-such-folder
prefix="jsontestsuite.sh: "

# name | folder beside the checkout | repository | ref | destination | exit status | stderr
rows=(
  "beside the checkout|$root/same/test_parsing|$missing|$same_ref|$root/d1|0|"
  "beside the checkout, one file changed|$root/changed/test_parsing|$root/same|$same_ref|$root/d2|1|${prefix}$root/changed/test_parsing is not the recorded JSON parsing test suite: its tree is $changed, the recorded one $recorded"
  "fetched|$missing|$root/same|$same_ref|$root/d3|0|"
  "fetched again with no repository: kept|$missing|$missing|$same_ref|$root/d3|0|"
  "fetched, one file changed|$missing|$root/changed|$changed_ref|$root/d4|1|${prefix}$root/d4/.fetch/test_parsing is not the recorded JSON parsing test suite: its tree is $changed, the recorded one $recorded"
  "neither|$missing|$missing|$same_ref|$root/d5|1|${prefix}the JSON parsing test suite is neither at $missing nor to be had from $missing at $same_ref"
)
for row in "${rows[@]}"; do
  IFS='|' read -r name shared repository ref dest want_status want_err <<<"$row"
  set +e
  BREVLO_JSONTESTSUITE_GIT=$repository BREVLO_JSONTESTSUITE_REF=$ref \
    bash "$script" "$dest" "$shared" >"$root/out" 2>"$root/err"
  status=$?
  set -e
  err=$(cat "$root/err")
  if [ "$status" != "$want_status" ] || [ "$err" != "$want_err" ] || [ -s "$root/out" ]; then
    echo "FAIL: $name: exit $status, want $want_status"
    diff <(printf '%s\n' "$want_err") "$root/err" || true
    failures=$((failures + 1))
    continue
  fi
  # A success leaves the very files; a refusal leaves no suite.
  if [ "$want_status" = 0 ]; then
    diff -r "$suite" "$dest/test_parsing" >/dev/null || { echo "FAIL: $name: other files"; failures=$((failures + 1)); }
  elif [ -e "$dest/test_parsing" ]; then
    echo "FAIL: $name: a suite was left at $dest/test_parsing"
    failures=$((failures + 1))
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failures; scratch files in $root"
  exit 1
fi
rm -rf "$root"
echo "ok"
