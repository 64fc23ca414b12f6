#!/usr/bin/env bash
# The release bundles as a publisher gets them. Packs the release builds' programs (presets
# release-native and release-windows, as scripts/release.sh leaves them) twice with the packaging
# step of scripts/release.sh, which checks all four linker maps against the notices, checks both
# archives' entries and sums, then, from nothing but each unpacked bundle, a game.json and an
# installer (the stand-in installer), makes a launcher with the bundle's brevlo-pack
# (brevlo-pack.exe under Wine, the Linux brevlo-pack) and runs it under Wine: first to install
# the game, then to start it.
#
# Usage: bundle_test.sh ROOT WINE_RUN WINEPREFIX VERSION NATIVE_BUILD WINDOWS_BUILD STAND_IN DEMO_APP
# ROOT is the test's own scratch folder, made anew; NATIVE_BUILD and WINDOWS_BUILD the release
# builds. In the prefix the test uses the product folder BrevloBundleCheck of LOCALAPPDATA and the
# same folder in TEMP, and removes both.
set -euo pipefail
root=$1 wine_run=$2 prefix=$3 version=$4 native_build=$5 windows_build=$6 stand_in=$7 demo_app=$8
stub=$windows_build/brevlo-stub.exe
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
. "$source_dir/tests/common/time_limit.sh"
win=brevlo-$version-windows-x64
linux=brevlo-$version-linux-x86_64
local_dir=$prefix/drive_c/users/root/AppData/Local/BrevloBundleCheck
temp_dir=$prefix/drive_c/users/root/Temp
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# expect WHAT ACTUAL EXPECTED: the texts are the same
expect() {
  if [ "$2" != "$3" ]; then
    fail "$1"
    diff <(printf '%s\n' "$3") <(printf '%s\n' "$2") || true
  fi
}
# expect_file WHAT FILE EXPECTED: the file holds exactly the text
expect_file() {
  if ! cmp -s "$2" <(printf '%s' "$3"); then
    fail "$1"
    diff <(printf '%s' "$3") "$2" || true
  fi
}
clean_prefix() { rm -rf "$local_dir" "$temp_dir/BrevloBundleCheck" "$temp_dir/standin-run.txt"; }
package() {
  /usr/bin/python3 "$source_dir/tools/package_release.py" --version "$version" --epoch 1767225600 \
    --out "$1" --native-build "$native_build" --windows-build "$windows_build" >/dev/null
}
# entries ARCHIVE: type and mode, owner, time and name of every entry (zip: owner 0/0)
entries() {
  case $1 in
    *.zip) unzip -Z "$1" | awk '$3 == "unx" {print $1, "0/0", $7, $8, $9}' ;;
    *) tar --numeric-owner -tvzf "$1" | awk '{print $1, $2, $4, $5, $6}' ;;
  esac
}
# run_launcher NAME: runs NAME.exe of the current folder, as the test's player, and waits for the
# record of the game it starts
run_launcher() {
  rm -f "$local_dir/ostrevan-run.txt"
  set +e
  BREVLO_STANDIN_INSTALL=1 BREVLO_STANDIN_APP='C:\users\root\Temp\BrevloBundleCheck\game.exe' \
    BREVLO_STANDIN_TARGET='BrevloBundleCheck\BundleGame.exe' BREVLO_TEST_MARK=$1 \
    "$wine_run" "$1.exe" >"$1.out" 2>"$1.err"
  status=$?
  set -e
  brevlo_wait_for_file "$local_dir/ostrevan-run.txt" || fail "$1.exe: the game's record"
}

rm -rf "$root"
mkdir -p "$root"
package "$root/dist"
package "$root/again"
cmp -s "$root/dist/SHA256SUMS" "$root/again/SHA256SUMS" || fail "a second packing gives other sums"
expect "sha256sum -c" "$(cd "$root/dist" && sha256sum -c SHA256SUMS 2>&1)" \
  "$linux.tar.gz: OK
$win.zip: OK"

documents="LICENSE README.md THIRD-PARTY-NOTICES.md"
listing() {
  local folder=$1 names=$2
  echo "drwxr-xr-x 0/0 2026-01-01 00:00 $folder/"
  for name in $names; do
    case $name in *.md | *.png | LICENSE) mode=-rw-r--r-- ;; *) mode=-rwxr-xr-x ;; esac
    echo "$mode 0/0 2026-01-01 00:00 $folder/$name"
  done
}
expect "zip entries" "$(entries "$root/dist/$win.zip" | sed 's/ 26-Jan-01 / 2026-01-01 /')" \
  "$(listing "$win" "$documents brevlo-pack.exe brevlo-stub.exe failure-dialog.png splash.png")"
expect "tar.gz entries" "$(entries "$root/dist/$linux.tar.gz")" \
  "$(listing "$linux" "$documents brevlo-check-config brevlo-pack brevlo-stub.exe failure-dialog.png splash.png")"

mkdir "$root/win" "$root/linux"
(cd "$root/win" && unzip -q "$root/dist/$win.zip")
tar -xzf "$root/dist/$linux.tar.gz" -C "$root/linux"
for bundle in "$root/win/$win" "$root/linux/$linux"; do
  cmp -s "$bundle/README.md" "$source_dir/docs/publisher-guide.md" || fail "$bundle/README.md"
  cmp -s "$bundle/LICENSE" "$source_dir/LICENSE" || fail "$bundle/LICENSE"
  cmp -s "$bundle/failure-dialog.png" "$source_dir/docs/failure-dialog.png" || fail "$bundle/failure-dialog.png"
  cmp -s "$bundle/splash.png" "$source_dir/docs/splash.png" || fail "$bundle/splash.png"
  cmp -s "$bundle/THIRD-PARTY-NOTICES.md" "$source_dir/THIRD-PARTY-NOTICES.md" || fail "$bundle/THIRD-PARTY-NOTICES.md"
  cmp -s "$bundle/brevlo-stub.exe" "$stub" || fail "$bundle/brevlo-stub.exe"
  printf '{"productName": "BrevloBundleCheck", "mainBinaryName": "BundleGame"}\n' >"$bundle/game.json"
  cp "$stand_in" "$bundle/setup.exe"
done

clean_prefix
mkdir -p "$temp_dir/BrevloBundleCheck"
cp "$demo_app" "$temp_dir/BrevloBundleCheck/game.exe"
probe="🔍 WebView2 Runtime 安装状态: false "

# The Windows bundle: pack under Wine, then the first run installs and starts the game.
cd "$root/win/$win"
set +e
"$wine_run" brevlo-pack.exe --stub brevlo-stub.exe --config game.json --installer setup.exe \
  --out BundleGame.exe >pack.out 2>pack.err
status=$?
set -e
expect "brevlo-pack.exe: exit status" "$status" 0
expect_file "brevlo-pack.exe: stdout" pack.out ""
expect_file "brevlo-pack.exe: stderr" pack.err ""
run_launcher BundleGame
expect "first run: exit status" "$status" 0
expect_file "first run: stdout" BundleGame.out "$probe
📦 未发现应用。正在执行静默安装...
正在提取 setup_temp.exe 到 \"C:\\\\users\\\\root\\\\Temp\\\\setup_temp.exe\"
开始安装
✅ 安装成功。
🚀 正在启动新安装的应用...
✅ 主程序启动成功。
"
expect_file "first run: stderr" BundleGame.err ""
expect "first run: the game's record" "$(sed -n '1p;3p' "$local_dir/ostrevan-run.txt" 2>&1)" \
  'command_line="C:\users\root\AppData\Local\BrevloBundleCheck\BundleGame.exe"
BREVLO_TEST_MARK=BundleGame'
[ ! -e "$temp_dir/setup_temp.exe" ] || fail "setup_temp.exe was left behind"

# The Linux bundle: check game.json, pack the same launcher, and start the installed game with it.
cd "$root/linux/$linux"
./brevlo-check-config game.json >check.out 2>&1 || fail "brevlo-check-config: exit status $?"
expect_file "brevlo-check-config" check.out "mainBinaryName: BundleGame
productName: BrevloBundleCheck
"
./brevlo-pack --stub brevlo-stub.exe --config game.json --installer setup.exe --out BundleGame.exe \
  >pack.out 2>&1 || fail "brevlo-pack: exit status $?"
expect_file "brevlo-pack: stdout and stderr" pack.out ""
cmp -s BundleGame.exe "$root/win/$win/BundleGame.exe" ||
  fail "the Linux brevlo-pack and brevlo-pack.exe made different launchers"
run_launcher BundleGame
expect "second run: exit status" "$status" 0
expect_file "second run: stdout" BundleGame.out "$probe
🚀 发现已安装应用。正在启动...
✅ 主程序启动成功。
"
expect_file "second run: stderr" BundleGame.err ""
expect "second run: the game's record" "$(sed -n '3p' "$local_dir/ostrevan-run.txt" 2>&1)" \
  "BREVLO_TEST_MARK=BundleGame"

clean_prefix
if [ "$failures" -ne 0 ]; then
  echo "$failures failures; scratch files in $root"
  exit 1
fi
rm -rf "$root"
echo "ok"
