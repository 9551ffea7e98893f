#!/usr/bin/env bash
# The fault tests' scratch file system: a small tmpfs at <build>/faults/disk
# and a read-only view of the same files at <build>/faults/disk-ro, so that a
# test can fill the data folder's disk or make it read-only without touching
# the host. Usage: scratch_disk.sh mount|unmount <build folder>
#
# Mounting needs root (as in CI). Without it nothing is mounted and the tests
# that need the disk skip. Both mounts go away with `unmount` (ctest's fixture
# clean-up) or, should that never run, as soon as the process that mounted
# them (ctest) is gone: a watchdog started here waits for it.
set -uo pipefail
action=$1
build_dir=$(cd "$2" && pwd)
folder=$build_dir/faults
disk=$folder/disk
read_only=$folder/disk-ro
watchdog=$folder/watchdog.pid

unmount_all() {
  local target
  for target in "$read_only" "$disk"; do
    if mountpoint -q "$target"; then
      umount "$target" 2>/dev/null || umount -l "$target"
    fi
  done
}

stop_watchdog() {
  local pid
  pid=$(cat "$watchdog" 2>/dev/null) || return 0
  if grep -q "scratch_disk.sh" "/proc/$pid/cmdline" 2>/dev/null; then kill "$pid" 2>/dev/null; fi
  rm -f "$watchdog"
}

case $action in
  mount)
    stop_watchdog
    unmount_all
    mkdir -p "$disk" "$read_only"
    if [ "$(id -u)" -ne 0 ] || ! mount -t tmpfs -o size=48m,mode=0755 qv-scratch "$disk" 2>/dev/null; then
      echo "scratch disk not mounted (needs root); the tests that need it skip"
      exit 0
    fi
    if ! mount --bind "$disk" "$read_only" || ! mount -o remount,bind,ro "$read_only"; then
      unmount_all
      echo "read-only view not mounted; the tests that need the scratch disk skip"
      exit 0
    fi
    touch "$disk/.scratch-disk"
    parent=${QV_SCRATCH_DISK_PARENT:-$PPID}
    setsid bash "${BASH_SOURCE[0]}" watch "$build_dir" "$parent" </dev/null >/dev/null 2>&1 &
    echo $! > "$watchdog"
    echo "scratch disk mounted at $disk (read-only view $read_only)"
    ;;
  watch)
    parent=$3
    while kill -0 "$parent" 2>/dev/null; do sleep 2; done
    unmount_all
    rm -f "$watchdog"
    ;;
  unmount)
    stop_watchdog
    unmount_all
    ;;
  *)
    echo "usage: $0 mount|unmount <build folder>" >&2
    exit 2
    ;;
esac
