#!/usr/bin/env bash
# The long randomized campaigns (make fuzz), in a fresh Wine prefix of their own, on two lanes
# (one per core). Each campaign prints its counts and the distribution of outcomes; a failing
# input is saved with its seed under <build>/bin/fuzz-failures/ (see README: replaying a failure).
#
#   scripts/fuzz.sh <build>        FUZZ_SEED (default 1) and the counts below may be set
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
seed="${FUZZ_SEED:-1}"
command_lines="${FUZZ_COMMAND_LINES:-100000}"
parsers="${FUZZ_PARSERS:-100000}"          # cases of each parser
documents="${FUZZ_DOCUMENTS:-20000}"
runs="${FUZZ_RUNS:-5000}"
. "$(dirname "$0")/wine-prefix.sh"
wine_prefix_boot "$build/fuzz-prefix"
logs="$build/fuzz-logs"
rm -rf "$logs" "$build/bin/fuzz-failures"
mkdir -p "$logs"

# One campaign: its output goes to its log; the log's last lines are printed at the end.
campaign() {
  local log="$logs/$1.log"
  shift
  (cd "$build/bin" && wine "$@" --failures fuzz-failures) >"$log" 2>&1 </dev/null
  echo "$? $log" >>"$logs/status"
}

started=$(date +%s)
# Lane 1: the whole-program runs (installer.exe allows one running instance at a time).
( campaign runs fuzz_runs.exe --seed "$seed" --count "$runs" ) &
lane1=$!
# Lane 2: the in-process campaigns.
(
  campaign command_line fuzz_command_line.exe --seed "$seed" --count "$command_lines"
  campaign parsers fuzz_parsers.exe --seed "$seed" --count "$parsers" --target all
  campaign documents fuzz_documents.exe --seed "$seed" --count "$documents"
) &
lane2=$!
wait $lane1 $lane2
elapsed=$(( $(date +%s) - started ))

status=0
while read -r code log; do
  printf '\n==> %s (exit %s)\n' "$(basename "$log" .log)" "$code"
  grep -v '^FAILURE\|^  input saved' "$log" | tail -n 40
  grep -c '^FAILURE' "$log" >/dev/null && grep '^FAILURE' "$log" | head -n 20
  [ "$code" = 0 ] || status=1
done <"$logs/status"
printf '\nfuzz: %s s in all; %s\n' "$elapsed" "$([ $status = 0 ] && echo 'no failures' || echo 'FAILURES: see above and build/bin/fuzz-failures')"
exit $status
