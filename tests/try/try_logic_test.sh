#!/usr/bin/env bash
# The text processing behind make try's report: code names, registry listings, the difference
# between the snapshots before the install and after the uninstall, restart operations, JSON.
set -uo pipefail
. "$(dirname "$0")/../../scripts/try-lib.sh"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

failures=0
expect_eq() { # expect_eq <description> <expected> <actual>
  if [ "$2" != "$3" ]; then
    printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}

# --- Code names: the first ERROR_ name of a number, whole numbers only, HRESULTs apart from
# the Win32 codes that share their low values.
while read -r code expected; do
  expect_eq "name of $code" "${expected#-}" "$(win32_name "$code")"
done <<'EOF'
0 ERROR_SUCCESS
1 ERROR_INVALID_FUNCTION
2 ERROR_FILE_NOT_FOUND
87 ERROR_INVALID_PARAMETER
258 WAIT_TIMEOUT
301 ERROR_INVALID_OPLOCK_PROTOCOL
1062 ERROR_SERVICE_NOT_ACTIVE
1392 ERROR_FILE_CORRUPT
1465 ERROR_XML_PARSE_ERROR
3010 ERROR_SUCCESS_REBOOT_REQUIRED
2147942405 E_ACCESSDENIED
2147942402 HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
2147500037 E_FAIL
301000 -
EOF

# --- Registry listings as `reg query /s` prints them (CRLF, four-blank separators, a value name
# with a blank, an empty value, data with blanks).
printf '%s\r\n' '' 'HKEY_LOCAL_MACHINE\SOFTWARE\Norvex\Keelson' '    (Default)    REG_SZ    ' '' \
  'HKEY_LOCAL_MACHINE\SOFTWARE\Norvex\Coravel' '    Engine Path    REG_SZ    C:\Program Files\Tarnex\a b.txt' \
  '    dwLevel    REG_DWORD    0x4' '' >"$tmp/query"
expect_eq "keys and values of a listing" \
  "$(printf 'K\tHKLM\\SOFTWARE\\Norvex\\Keelson\nV\tHKLM\\SOFTWARE\\Norvex\\Keelson\t(Default)\tREG_SZ\t\nK\tHKLM\\SOFTWARE\\Norvex\\Coravel\nV\tHKLM\\SOFTWARE\\Norvex\\Coravel\tEngine Path\tREG_SZ\tC:\\Program Files\\Tarnex\\a b.txt\nV\tHKLM\\SOFTWARE\\Norvex\\Coravel\tdwLevel\tREG_DWORD\t0x4')" \
  "$(try_reg_listing <"$tmp/query")"

# --- New entries: a tree that was there before is not reported, a new tree is reported once at
# its top with the count below it, names compare without case, and an empty snapshot before
# (no family key at all) reports everything new.
printf '%s\n' 'HKLM\SOFTWARE\Norvex' 'HKLM\SOFTWARE\Norvex\Keelson' >"$tmp/before"
printf '%s\n' 'HKLM\SOFTWARE\Norvex' 'HKLM\SOFTWARE\NORVEX\keelson' 'HKLM\SOFTWARE\Norvex\Tools' \
  'HKLM\SOFTWARE\Norvex\Tools\A' 'HKLM\SOFTWARE\Norvex\Tools\A\B' 'HKLM\SOFTWARE\Norvex\Keelson\Left' >"$tmp/after"
expect_eq "new keys at their top" \
  "$(printf 'HKLM\\SOFTWARE\\Norvex\\Tools\t2\nHKLM\\SOFTWARE\\Norvex\\Keelson\\Left\t0')" \
  "$(try_new_entries "$tmp/before" "$tmp/after")"
: >"$tmp/empty"
printf '%s\n' 'C:\Program Files\Tarnex' 'C:\Program Files\Tarnex\rules' 'C:\Program Files\Tarnex\rules\x.dat' >"$tmp/files"
expect_eq "everything new when nothing was there before" 'C:\Program Files\Tarnex	2' \
  "$(try_new_entries "$tmp/empty" "$tmp/files")"
expect_eq "nothing new when the trees are the same" "" "$(try_new_entries "$tmp/files" "$tmp/files")"
# A sibling whose name begins with a new folder's name is not counted below it.
printf '%s\n' 'C:\T\a' 'C:\T\ab' >"$tmp/siblings"
expect_eq "prefix siblings" "$(printf 'C:\\T\\a\t0\nC:\\T\\ab\t0')" "$(try_new_entries "$tmp/empty" "$tmp/siblings")"

# --- New values: only in keys that were there before, without case, new keys' values go with
# the key.
printf 'K\tHKLM\\S\\Keelson\nV\tHKLM\\S\\Keelson\tOld\tREG_SZ\tx\n' >"$tmp/rb"
printf 'K\tHKLM\\S\\Keelson\nV\tHKLM\\S\\Keelson\told\tREG_SZ\ty\nV\tHKLM\\S\\Keelson\tLeft\tREG_DWORD\t0x1\nK\tHKLM\\S\\New\nV\tHKLM\\S\\New\tv\tREG_SZ\tz\n' >"$tmp/ra"
expect_eq "new values of old keys" 'HKLM\S\Keelson\Left' "$(try_new_values "$tmp/rb" "$tmp/ra")"
expect_eq "values when no key was there before" "" "$(try_new_values "$tmp/empty" "$tmp/ra")"

# --- Restart operations, as Wine's reg prints PendingFileRenameOperations: a delete (empty
# target) and a rename (target with its "!" replace flag); one that was pending before is not
# reported.
printf '%s\n' '\??\C:\a b.txt\0\0\??\C:\b.txt\0!\??\C:\c.txt' | try_multi_sz_lines >"$tmp/pa"
expect_eq "MULTI_SZ strings" "$(printf '%s\n' '\??\C:\a b.txt' '' '\??\C:\b.txt' '!\??\C:\c.txt')" "$(cat "$tmp/pa")"
expect_eq "new restart operations" "$(printf '%s\n' 'delete C:\a b.txt' 'rename C:\b.txt -> C:\c.txt')" \
  "$(try_pending_operations "$tmp/empty" "$tmp/pa")"
printf '%s\n' '\??\C:\A B.TXT' '' >"$tmp/pb"
expect_eq "operations pending before" 'rename C:\b.txt -> C:\c.txt' "$(try_pending_operations "$tmp/pb" "$tmp/pa")"

# --- JSON strings read back as the text they carry.
for text in 'C:\Program Files\Tarnex' 'say "no"' $'two\nlines\tand tab' 'Données'; do
  expect_eq "JSON of $text" "$text" "$(json_string "$text" | jq -r .)"
done
printf '%s\n' 'a\b' '"q"' >"$tmp/lines"
expect_eq "JSON array of lines" '["a\\b","\"q\""]' "$(json_lines "$tmp/lines")"
expect_eq "JSON array of no lines" '[]' "$(json_lines "$tmp/empty")"

[ "$failures" -eq 0 ] && echo "all checks passed"
[ "$failures" -eq 0 ]
