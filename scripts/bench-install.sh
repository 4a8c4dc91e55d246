#!/usr/bin/env bash
# The install race and the growth table: scripts/bench.sh runs it in its Wine prefix (WINEPREFIX
# set, server started). Usage: bench-install.sh <build dir> [rounds]
#
# Race: one payload of 2,000 files of random bytes (200 MiB in 20 folders) laid out once, an NSIS
# installer of it built once with makensis (stored, amd64-unicode stub, silent /S, an uninstaller
# that removes the folder), the installation document with the files' real digests; then, in
# this one prefix, alternating rounds of installer.exe install (-l), verify, uninstall and the
# NSIS install, uninstall. Growth: installer.exe alone on 200, 2,000 and 20,000 files (200 MiB in
# all) and on one 1 GiB file: seconds and peak working set. BENCH_RACE_ONLY=1 skips the growth.
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
rounds="${2:-7}"
: "${WINEPREFIX:?run from scripts/bench.sh, which sets up the Wine prefix}"
exe="$build/bin/bench_install_race.exe"
root="$WINEPREFIX/drive_c/bench"
trap 'rm -rf "$root"' EXIT

# makensis comes from Debian's nsis package; only the benchmark needs it.
if ! command -v makensis >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  echo "Installing: nsis"
  $SUDO apt-get update && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends nsis || exit 1
fi

bench() { (cd "$build/bin" && wine "$exe" "$@" | tr -d '\r'); }

mib=$((1024 * 1024))
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
bench prepare 'C:\bench\race' 2000 $((200 * mib)) 20 || exit 1
(cd "$root/race" && makensis -V1 race.nsi) || { echo "makensis failed"; exit 1; }
bench race 'C:\bench\race' 'C:\bench\race\setup.exe' "$rounds" || exit 1
echo "load average after the race: $(cut -d' ' -f1-3 /proc/loadavg)"
# BENCH_RACE_ONLY=1: the race alone, without the growth table (for quick comparisons).
[ "${BENCH_RACE_ONLY:-0}" = 1 ] && exit 0

echo
echo "Growth: installer.exe alone, one run each (seconds; peak working set of the process)"
bench alone 'C:\bench\race' "2,000 files, 200 MiB" || exit 1
rm -rf "$root/race"
for shape in "200 $((200 * mib)) 20 200-files,-200-MiB" "20000 $((200 * mib)) 20 20,000-files,-200-MiB" \
             "1 $((1024 * mib)) 1 1-file,-1-GiB"; do
  set -- $shape
  bench prepare 'C:\bench\growth' "$1" "$2" "$3" >/dev/null || exit 1
  bench alone 'C:\bench\growth' "${4//-/ }" || exit 1
  rm -rf "$root/growth"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
