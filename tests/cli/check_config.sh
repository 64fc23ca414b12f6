#!/bin/sh
# Runs brevlo-check-config on one case and compares its exit status, standard output and standard
# error byte for byte with what a publisher must see.
# Usage: check_config.sh TOOL CASE WORK_DIR SOURCE_DIR
set -u
tool=$1
name=$2
work=$3/$2
source_dir=$4
rm -rf "$work"
mkdir -p "$work"

# expect STATUS STDOUT STDERR -- ARGS...
expect() {
  want_status=$1
  printf '%s' "$2" >"$work/want.out"
  printf '%s' "$3" >"$work/want.err"
  shift 4
  "$tool" "$@" >"$work/got.out" 2>"$work/got.err"
  status=$?
  failed=0
  if [ "$status" -ne "$want_status" ]; then
    echo "exit status $status, expected $want_status"
    failed=1
  fi
  for stream in out err; do
    if ! cmp -s "$work/want.$stream" "$work/got.$stream"; then
      echo "std$stream differs:"
      diff "$work/want.$stream" "$work/got.$stream"
      failed=1
    fi
  done
  exit "$failed"
}

nl='
'
case $name in
  shipped)
    expect 0 "mainBinaryName: Ostrevan${nl}productName: Ostrevan${nl}" "" -- \
      "$source_dir/inputs/game.json"
    ;;
  array_form)
    printf '["a b", "c\\u00e9"]\r\n' >"$work/game.json"
    expect 0 "mainBinaryName: a b${nl}productName: cé${nl}" "" -- "$work/game.json"
    ;;
  refused)
    printf '{}' >"$work/game.json"
    expect 1 "" "无法解析 game.json: Error(\"missing field \`mainBinaryName\`\", line: 1, column: 2)${nl}" -- \
      "$work/game.json"
    ;;
  refused_later_line)
    printf '{\r\n  "mainBinaryName": "a",\r\n  "productName": 7\r\n}\r\n' >"$work/game.json"
    expect 1 "" "无法解析 game.json: Error(\"invalid type: integer \`7\`, expected a string\", line: 3, column: 18)${nl}" -- \
      "$work/game.json"
    ;;
  missing_file)
    expect 2 "" "brevlo-check-config: cannot read $work/none.json: No such file or directory${nl}" -- \
      "$work/none.json"
    ;;
  directory)
    expect 2 "" "brevlo-check-config: cannot read $work: Is a directory${nl}" -- "$work"
    ;;
  no_argument)
    expect 2 "" "usage: brevlo-check-config FILE${nl}" --
    ;;
  *)
    echo "unknown case $name"
    exit 1
    ;;
esac
