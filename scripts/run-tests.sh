#!/usr/bin/env bash
# Runs the whole suite under Wine in a fresh prefix of the build tree, with one persistent
# wineserver for the run; the server is stopped afterwards, also when a test fails. Extra
# arguments go to ctest (e.g. -R services_tests).
set -uo pipefail
build="${1:?build directory}"
shift
. "$(dirname "$0")/wine-prefix.sh"
wine_prefix_boot "$(cd "$build" && pwd)/wineprefix"
# Tests that change the machine (registry, files, services) carry RUN_SERIAL: ctest runs them
# one at a time whatever -j says.

# A small drive for the disk-full tests: a 1 MiB tmpfs seen by the prefix as T:, named to the
# tests in INSTALLER_TEST_SMALL_DRIVE. Unmounted when the run ends, also when a test fails. Where
# the mount is refused the variable stays unset and those tests say that they were skipped.
small_drive_dir="$(cd "$build" && pwd)/small-drive"
small_drive_release() {
  wine_prefix_stop
  if mountpoint -q "$small_drive_dir" 2>/dev/null; then
    umount "$small_drive_dir" 2>/dev/null || umount -l "$small_drive_dir" 2>/dev/null || true
  fi
  rm -f "$WINEPREFIX/dosdevices/t:"
}
trap small_drive_release EXIT
mkdir -p "$small_drive_dir"
if mountpoint -q "$small_drive_dir" || mount -t tmpfs -o size=1m,mode=0777 tmpfs "$small_drive_dir" 2>/dev/null; then
  ln -sfn "$small_drive_dir" "$WINEPREFIX/dosdevices/t:"
  export INSTALLER_TEST_SMALL_DRIVE="T:"
else
  echo "run-tests: no small drive (mount -t tmpfs refused); the disk-full tests will be skipped" >&2
fi

(cd "$build" && ctest --output-on-failure --timeout 300 "$@")
