#!/usr/bin/env bash
# Runs every benchmark program of the build under Wine in a throwaway prefix.
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
. "$(dirname "$0")/wine-prefix.sh"
wine_prefix_boot "$build/bench-prefix"
status=0
for bench in "$build"/bin/bench_*.exe; do
  [ -e "$bench" ] || continue
  printf '\n==> %s\n' "$(basename "$bench")"
  if [ "$(basename "$bench")" = bench_sha256.exe ]; then
    "$(dirname "$0")/bench-digest.sh" "$build" || status=1
  elif [ "$(basename "$bench")" = bench_install_race.exe ]; then
    "$(dirname "$0")/bench-install.sh" "$build" || status=1
  else
    (cd "$build/bin" && wine "$bench") || status=1
  fi
done
exit $status
