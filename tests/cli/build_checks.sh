#!/bin/sh
# The Windows build's refusals, run as the build runs them: a game.json that would stop every run
# and an installer that is not a Windows executable each stop the build with a one-line reason.
# Usage: build_checks.sh CHECK_CONFIG_TOOL SOURCE_DIR WORK_DIR
set -u
tool=$1
src=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
failed=0

# expect_refusal NAME WANTED_LINE -- cmake -P arguments...
expect_refusal() {
  name=$1
  want=$2
  shift 3
  if cmake "$@" >"$work/$name.out" 2>&1; then
    echo "$name: the build went on"
    failed=1
  elif ! grep -qxF -- "$want" "$work/$name.out"; then
    echo "$name: no line '$want' in:"
    cat "$work/$name.out"
    failed=1
  fi
  if [ -e "$work/$name.stamp" ]; then
    echo "$name: refused but marked as checked"
    failed=1
  fi
}

printf '{"productName":"Ostrevan"}\r\n' >"$work/game.json"
expect_refusal config "$work/game.json would stop every run of the launcher: 无法解析 game.json: Error(\"missing field \`mainBinaryName\`\", line: 1, column: 26)" -- \
  -DCHECKER="$tool" -DCONFIG="$work/game.json" -DSTAMP="$work/config.stamp" -P "$src/cmake/check_game_config.cmake"

printf 'MZ this is not a Windows program, only text that starts like one' >"$work/fake.exe"
expect_refusal no_pe "installer image $work/fake.exe is not a Windows executable: no PE header" -- \
  -DIMAGE="$work/fake.exe" -DSTAMP="$work/no_pe.stamp" -P "$src/cmake/check_installer.cmake"

printf '#!/bin/sh\necho this is a shell script, padded to more than sixty-four bytes long\n' >"$work/script.exe"
expect_refusal no_mz "installer image $work/script.exe is not a Windows executable: no MZ header" -- \
  -DIMAGE="$work/script.exe" -DSTAMP="$work/no_mz.stamp" -P "$src/cmake/check_installer.cmake"

# The shipped document passes and is marked as checked.
if ! cmake -DCHECKER="$tool" -DCONFIG="$src/inputs/game.json" -DSTAMP="$work/ok.stamp" \
     -P "$src/cmake/check_game_config.cmake" >"$work/ok.out" 2>&1 || [ ! -e "$work/ok.stamp" ]; then
  echo "the shipped game.json was refused:"
  cat "$work/ok.out"
  failed=1
fi
exit "$failed"
