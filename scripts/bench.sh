#!/usr/bin/env bash
# Runs every benchmark program of the build under Wine in a throwaway prefix.
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
export WINEPREFIX="$build/bench-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" WINEARCH=win64
stop_server() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_server EXIT
stop_server
rm -rf "$WINEPREFIX"; mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
wineboot -i </dev/null >/dev/null 2>&1
status=0
for bench in "$build"/bin/bench_*.exe; do
  [ -e "$bench" ] || continue
  printf '\n==> %s\n' "$(basename "$bench")"
  if [ "$(basename "$bench")" = bench_sha256.exe ]; then
    "$(dirname "$0")/bench-digest.sh" "$build" || status=1
  else
    (cd "$build/bin" && wine "$bench") || status=1
  fi
done
exit $status
