#!/usr/bin/env bash
# Puts the JSON parsing test suite (JSONTestSuite's test_parsing folder, MIT) at DEST/test_parsing
# for the tests: a copy of ../shared/jsontestsuite/test_parsing beside the checkout when that
# folder is there, otherwise the folder fetched with git from BREVLO_JSONTESTSUITE_GIT at
# BREVLO_JSONTESTSUITE_REF. Either way its git tree id must be the recorded one.
#
# Usage: jsontestsuite.sh DEST [SHARED]
# SHARED is the folder looked for first (default: ../shared/jsontestsuite/test_parsing beside the
# checkout). A DEST that already holds the recorded tree is kept. Safe to run again; exit 1 with
# one line on standard error when the suite cannot be had.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
dest=$1
shared=${2:-$source_dir/../shared/jsontestsuite/test_parsing}
url=${BREVLO_JSONTESTSUITE_GIT:-https://github.com/nst/JSONTestSuite}
ref=${BREVLO_JSONTESTSUITE_REF:-1ef36fa01286573e846ac449e8683f8833c5b26a}
# The tree id of test_parsing at 1ef36fa01286573e846ac449e8683f8833c5b26a.
recorded=b936f9acdd24b9f5fefe68b90b9beab2c681137a
# How long the fetch may take before the machine counts as offline.
fetch_seconds=45

fail() {
  echo "jsontestsuite.sh: $*" >&2
  exit 1
}

mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
# The fetch happens in DEST/.fetch, gone when this ends.
clone=$dest/.fetch
scratch=$(mktemp -d)
trap 'rm -rf "$scratch" "$clone"' EXIT
git_here() { git -c core.autocrlf=false -c core.fileMode=true "$@"; }

# tree_id FOLDER: the id git gives FOLDER's tree when the folder is added to an empty repository.
tree_id() {
  local index=$scratch/index.$RANDOM
  rm -rf "$scratch/ids"
  git_here init -q --bare "$scratch/ids"
  GIT_DIR=$scratch/ids GIT_INDEX_FILE=$index GIT_WORK_TREE=$(dirname "$1") \
    git_here add -- "$(basename "$1")"
  local tree
  tree=$(GIT_DIR=$scratch/ids GIT_INDEX_FILE=$index git_here write-tree)
  GIT_DIR=$scratch/ids git_here rev-parse "$tree:$(basename "$1")" 2>/dev/null || echo none
}

# check FOLDER: the folder holds the recorded tree, or the run stops naming both ids.
check() {
  local id
  id=$(tree_id "$1")
  [ "$id" = "$recorded" ] ||
    fail "$1 is not the recorded JSON parsing test suite: its tree is $id, the recorded one $recorded"
}

target=$dest/test_parsing
if [ -d "$shared" ]; then
  check "$shared"
  rm -rf "$target"
  cp -R "$shared" "$target"
  chmod -R u+w "$target"
  exit 0
fi
if [ -d "$target" ] && [ "$(tree_id "$target")" = "$recorded" ]; then
  exit 0
fi

rm -rf "$clone"
git_here init -q "$clone"
if ! timeout "$fetch_seconds" git -C "$clone" fetch -q --depth 1 "$url" "$ref" 2>/dev/null ||
  ! git -C "$clone" checkout -q FETCH_HEAD -- test_parsing 2>/dev/null; then
  fail "the JSON parsing test suite is neither at $shared nor to be had from $url at $ref"
fi
check "$clone/test_parsing"
rm -rf "$target"
mv "$clone/test_parsing" "$target"
