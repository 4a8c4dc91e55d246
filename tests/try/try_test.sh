#!/usr/bin/env bash
# make try end to end, each case in a throwaway prefix of its own:
#   demo      the demo package as the build lays it out: every step 0 (3010 where a restart is
#             expected), the damage really done and repaired, nothing left behind, exit 0;
#   leftover  a package whose uninstall leaves its parent key behind, with its next release for
#             the upgrade step: every step succeeds (the repair of its driver image with 3010,
#             then a restart), the report names the key, exit non-zero;
#   bad-digest  a package whose install fails with 1392 (a code a Linux shell sees as 112): the
#             report shows the full code and its name, the later steps are skipped, exit non-zero.
#   incomplete  folders without installer.exe or without package.xml: exit 2 before any prefix
#             is booted.
#   try_test.sh <build dir> demo|leftover|bad-digest|incomplete
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
case_name="${2:?case}"
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
work="$build/try-tests/$case_name"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { # check <description> <jq expression that must be true>
  if [ "$(jq -r "$2" "$json")" != true ]; then fail "$1 ($2)"; fi
}

if [ "$case_name" = incomplete ]; then
  folder="$build/try-tests/incomplete"
  rm -rf "$folder" && mkdir -p "$folder/package"
  touch "$folder/package/package.xml"
  for missing in installer.exe package.xml; do
    message="$("$source_dir/scripts/try.sh" "$build" "$folder/package" --work "$folder/work" 2>&1 >/dev/null)"
    status=$?
    [ "$status" -eq 2 ] || fail "without $missing: exit status $status, expected 2"
    [[ "$message" == *"holds no $missing"* ]] || fail "without $missing: the message was: $message"
    [ ! -e "$folder/work/wineprefix" ] || fail "without $missing: a prefix was booted"
    rm -f "$folder/package/package.xml"; touch "$folder/package/installer.exe"
  done
  [ "$failures" -eq 0 ] && echo "try incomplete: all checks passed"
  [ "$failures" -eq 0 ]
  exit
fi

case "$case_name" in
  demo) package="$build/demo/package"; extra=() ;;
  leftover) package="$build/try-fixtures/leftover"; extra=(--newer "$build/try-fixtures/leftover-newer") ;;
  bad-digest) package="$build/try-fixtures/bad-digest"; extra=() ;;
  *) echo "unknown case $case_name"; exit 2 ;;
esac

json="$work.json"
mkdir -p "$(dirname "$work")"
"$source_dir/scripts/try.sh" "$build" "$package" "${extra[@]}" --json --work "$work" >"$json"
status=$?
report="$work/report.txt"
echo "--- exit status $status; the report:"
cat "$report" 2>/dev/null || fail "no text report at $report"

jq -e . "$json" >/dev/null || { fail "the --json output is not JSON"; cat "$json"; exit 1; }
# The text report and the JSON report describe the same run.
cmp -s "$json" "$work/report.json" || fail "--json printed something else than report.json"

# Each step's code is judged here from the codes themselves, not from the script's own verdict.
if [ "$case_name" != bad-digest ]; then
  reboot_steps='["repair", "upgrade", "uninstall"]'
  check "every step ran and ended with 0, or 3010 where a restart is expected" \
    "[.steps[] | .exit_code == 0 or (.exit_code == 3010 and (.step as \$s | $reboot_steps | index(\$s) != null))] | all"
  check "a step that ended with 3010 is followed by a restart" \
    '[.steps as $s | range(0; $s | length) | select($s[.].exit_code == 3010) | $s[. + 1].step == "restart"] | all'
  check "every step carries its Win32 name and a time" \
    '[.steps[] | (.name | type) == "string" and (.seconds | type) == "number"] | all'
fi

case "$case_name" in
  demo)
    [ "$status" -eq 0 ] || fail "exit status $status, expected 0"
    check "the lifecycle steps in order" \
      '[.steps[].step | select(. != "restart")] == ["install", "verify", "damage", "repair", "verify-repaired", "uninstall"]'
    check "a restart after the verify" '[.steps[].step] | index("restart") == 2'
    check "the damage overwrote a file and deleted a registry value" \
      '.steps[] | select(.step == "damage") | (.detail | test("^overwrote C:\\\\Program Files\\\\Tarnex\\\\.*; deleted HKLM\\\\SOFTWARE\\\\"))'
    check "no verify line failed" '.failed_verify_lines == []'
    check "nothing left behind" '.left_behind == {"files": [], "registry": [], "services": [], "pending_restart": []}'
    check "passed" '.passed == true'
    grep -q '^install  *0 ERROR_SUCCESS ' "$report" || fail "the text report does not show the install's 0 ERROR_SUCCESS"
    grep -q '^PASSED' "$report" || fail "the text report does not end with PASSED"
    ;;
  leftover)
    [ "$status" -ne 0 ] || fail "exit status 0 although a key was left behind"
    check "the repair of the damaged driver image asked for a restart, and one followed" \
      '[.steps[].step] as $n | ($n | index("repair")) as $r | .steps[$r].exit_code == 3010
       and .steps[$r].name == "ERROR_SUCCESS_REBOOT_REQUIRED" and $n[$r + 1] == "restart"'
    check "the upgrade ran from the newer package" \
      '.steps[] | select(.step == "upgrade") | .detail | test("-iu -x package.xml")'
    check "the left-behind key is named, and it alone" \
      '.left_behind.registry == ["HKLM\\SOFTWARE\\Norvex\\TarnexTools (key)"]'
    check "no file, service or restart operation left behind" \
      '.left_behind.files == [] and .left_behind.services == [] and .left_behind.pending_restart == []'
    check "not passed" '.passed == false and .failed_steps == 0 and .left_behind_count == 1'
    grep -qF 'HKLM\SOFTWARE\Norvex\TarnexTools (key)' "$report" || fail "the text report does not name the key"
    grep -q '^FAILED: 0 step(s) failed, 1 thing(s) left behind' "$report" || fail "the text report's verdict"
    ;;
  bad-digest)
    [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
    check "the install's full code and its name" \
      '.steps[0] | .step == "install" and .exit_code == 1392 and .name == "ERROR_FILE_CORRUPT" and .status == "failed"'
    check "the steps after the failed install are skipped" \
      '([.steps[1:][] | .status == "skipped" and .exit_code == null] | all) and (.steps | length) == 7'
    check "the rolled-back install left nothing behind" \
      '.left_behind == {"files": [], "registry": [], "services": [], "pending_restart": []}'
    check "not passed" '.passed == false and .failed_steps == 7'
    grep -q '^install  *1392 ERROR_FILE_CORRUPT .*FAILED (expected 0)' "$report" || fail "the text report's install line"
    ;;
esac

[ "$failures" -eq 0 ] && echo "try $case_name: all checks passed"
[ "$failures" -eq 0 ]
