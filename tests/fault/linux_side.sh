#!/bin/sh
# Faults that are made on the build machine's side, where the launcher under Wine cannot make
# them itself, followed by the one fault case that checks the launcher against them.
#
#   linux_side.sh small-disk DRIVE_C NAME EMULATOR FAULT_TESTS
#       mounts a 64 KiB tmpfs at DRIVE_C/NAME (C:\NAME for the test), fills all but 16 KiB of it,
#       and runs LinuxSideFault.TempOnANearlyFullDisk with TEMP on it; unmounts on the way out.
#   linux_side.sh dangling-link DRIVE_C NAME EMULATOR FAULT_TESTS
#       makes DRIVE_C/NAME/local/Ostrevan/Ostrevan.exe a symbolic link to a missing file and runs
#       LinuxSideFault.DanglingLinkAtTheApplicationPath; then checks that the link is still there
#       and its target still missing, and removes the folder.
#   DRIVE_C is the folder that is drive C: of the Wine prefix the EMULATOR runs in, so the test's
#   paths do not depend on where the build tree is.
#   linux_side.sh check-config CONFIG CHECKER
#       runs the build's configuration check on CONFIG: exit 0 and the two values, nothing else.
#
# Exit status: 0 passed, 1 failed, 77 skipped: the case skipped itself, where Wine lacks what it
# needs (the reason on standard output).
set -u

skip() {
  echo "SKIPPED: $*"
  exit 77
}

fail() {
  echo "FAILED: $*"
  exit 1
}

# Runs one case of the fault tests; a case that skipped itself makes the whole test a skip.
run_case() {
  filter=$1
  emulator=$2
  tests=$3
  log=$("$emulator" "$tests" --gtest_filter="$filter" --gtest_color=no 2>&1)
  status=$?
  printf '%s\n' "$log"
  if [ "$status" -ne 0 ]; then
    fail "$filter ended with status $status"
  fi
  if printf '%s\n' "$log" | grep -q '^\[  SKIPPED \] 1 test'; then
    skip "$filter skipped itself"
  fi
  printf '%s\n' "$log" | grep -q '^\[  PASSED  \] 1 test' || fail "$filter did not run"
}

mode=${1:-}
case "$mode" in
  small-disk)
    [ $# -eq 5 ] || fail "usage: $0 small-disk DRIVE_C NAME EMULATOR FAULT_TESTS"
    folder=$2/$3
    mkdir -p "$folder" || fail "cannot make $folder"
    if mountpoint -q "$folder"; then
      umount "$folder" || fail "$folder is still mounted from an earlier run"
    fi
    # The test runs as root (scripts/test.sh); a machine that refuses the mount cannot check it.
    if ! reason=$(mount -t tmpfs -o size=64k,mode=0755 tmpfs "$folder" 2>&1); then
      fail "cannot mount a small tmpfs at $folder (the test needs root): $reason"
    fi
    # Unmounted however the script ends, a time-out's signal included.
    trap 'umount "$folder" && rmdir "$folder"' EXIT
    trap 'exit 1' INT TERM HUP
    # All but 16 KiB taken, so that the installer file starts well and then finds the disk full.
    head -c 49152 /dev/zero >"$folder/filler" || fail "cannot fill $folder"
    mkdir "$folder/temp" || fail "cannot make $folder/temp"
    BREVLO_FAULT_SMALL_DISK="C:\\$3\\temp"
    export BREVLO_FAULT_SMALL_DISK
    run_case LinuxSideFault.TempOnANearlyFullDisk "$4" "$5"
    echo "left on the small disk:"
    ls -l "$folder" "$folder/temp"
    ;;
  dangling-link)
    [ $# -eq 5 ] || fail "usage: $0 dangling-link DRIVE_C NAME EMULATOR FAULT_TESTS"
    folder=$2/$3
    rm -rf "$folder"
    mkdir -p "$folder/local/Ostrevan" || fail "cannot make $folder/local/Ostrevan"
    # The target's folder is missing too, so that nothing can be created through the link.
    target="$folder/missing/Ostrevan.exe"
    link="$folder/local/Ostrevan/Ostrevan.exe"
    ln -s "$target" "$link" || fail "cannot make the link $link"
    BREVLO_FAULT_LINK_LOCAL="C:\\$3\\local"
    export BREVLO_FAULT_LINK_LOCAL
    run_case LinuxSideFault.DanglingLinkAtTheApplicationPath "$4" "$5"
    [ -L "$link" ] || fail "the link $link is gone"
    [ "$(readlink "$link")" = "$target" ] || fail "the link $link was changed"
    [ ! -e "$target" ] || fail "something was made at the link's target $target"
    [ ! -e "$folder/missing" ] || fail "something was made at $folder/missing"
    echo "the link is still there and its target still missing"
    rm -rf "$folder"
    ;;
  check-config)
    [ $# -eq 3 ] || fail "usage: $0 check-config CONFIG CHECKER"
    out="$2.check-output"
    "$3" "$2" >"$out" 2>&1
    status=$?
    cat "$out"
    [ "$status" -eq 0 ] || fail "the check refused $2 (status $status)"
    printf 'mainBinaryName: Ostrevan\nproductName: Ostrevan\n' | cmp - "$out" ||
      fail "the check printed something else"
    ;;
  *)
    fail "unknown mode '$mode'"
    ;;
esac
exit 0
