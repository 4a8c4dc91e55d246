#!/usr/bin/env bash
# Tries a package's whole lifecycle in a throwaway Wine prefix of its own: install, verify, a
# restart, damage and repair, upgrade (with --newer), uninstall, and a sweep of what the uninstall
# left behind. Prints a one-page report (or the same report as JSON with --json) and exits 0 only
# when every step succeeded and nothing was left behind.
#
#   scripts/try.sh <build dir> <package dir> [--newer <package dir>] [--json] [--work <dir>]
#                  [--install-dir <Windows path>] [--content-dir <Windows path>]
#
# A package folder holds installer.exe, the installation document package.xml, optionally the
# configuration document configuration.xml, and the payload laid out as the document's source
# folders name it, next to installer.exe. Exit status: 0 passed, 1 a step failed or something was
# left behind, 2 the run could not be set up (bad arguments, missing package files, no prefix).
set -uo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine-prefix.sh"
. "$here/try-lib.sh"

usage() {
  sed -n '7,8p' "$0" | sed 's/^#  //' >&2
  exit 2
}
die() { echo "try: $*" >&2; exit 2; }

[ $# -ge 2 ] || usage
build="$(cd "$1" 2>/dev/null && pwd)" || die "no build directory $1"
package_src="$2"
shift 2
newer_src="" json=0 work="$build/try"
install_dir='C:\Program Files\Tarnex'
content_dir='C:\TarnexContent'
while [ $# -gt 0 ]; do
  case "$1" in
    --newer) newer_src="${2:-}"; [ -n "$newer_src" ] || usage; shift 2 ;;
    --json) json=1; shift ;;
    --work) work="${2:-}"; [ -n "$work" ] || usage; shift 2 ;;
    --install-dir) install_dir="${2:-}"; [ $# -ge 2 ] || usage; shift 2 ;;
    --content-dir) content_dir="${2:-}"; [ $# -ge 2 ] || usage; shift 2 ;;
    *) usage ;;
  esac
done

check_package() {
  local dir="$1" what="$2"
  [ -d "$dir" ] || die "$what: $dir is not a folder"
  [ -f "$dir/installer.exe" ] || die "$what: $dir holds no installer.exe"
  [ -f "$dir/package.xml" ] || die "$what: $dir holds no package.xml (the installation document)"
}
check_package "$package_src" "package"
package_src="$(cd "$package_src" && pwd)"
if [ -n "$newer_src" ]; then
  check_package "$newer_src" "newer package"
  newer_src="$(cd "$newer_src" && pwd)"
fi
case "$install_dir$content_dir" in *'"'*) die "install and content paths may not hold quotes" ;; esac
# Both lie on drive C:, the prefix's drive_c, where the sweep looks for them.
for path in "$install_dir" "$content_dir"; do
  [[ "$path" =~ ^[Cc]:\\[^\\] ]] || die "$path is not a full Windows path below C:\\"
done
launch="$build/bin/launch.exe"
[ -f "$launch" ] || die "$launch is missing (build first)"
try_load_code_names || die "winerror.h of the cross compiler not found (set WINERROR_H)"

mkdir -p "$work" || die "cannot create $work"
work="$(cd "$work" && pwd)"
logs="$work/logs"
rm -rf "$logs" "$work/snapshots"
mkdir -p "$logs" "$work/snapshots"
snap="$work/snapshots"

# A Windows path below C:\ as the Linux path inside the prefix.
unix_path() {
  local p="${1:3}"
  printf '%s/drive_c/%s' "$WINEPREFIX" "${p//\\//}"
}

echo "try: booting a fresh Wine prefix in $work/wineprefix" >&2
wine_prefix_boot "$work/wineprefix" || die "the Wine prefix did not boot"
drive_c="$WINEPREFIX/drive_c"
[ -d "$drive_c" ] || die "the Wine prefix has no drive C:"

# The package folders go to C:\TarnexTry, the installer's logs to C:\TarnexTry\logs.
mkdir -p "$drive_c/TarnexTry/logs"
cp -rL "$package_src" "$drive_c/TarnexTry/package" || die "cannot copy $package_src into the prefix"
package_win='C:\TarnexTry\package'
newer_win=""
if [ -n "$newer_src" ]; then
  cp -rL "$newer_src" "$drive_c/TarnexTry/newer" || die "cannot copy $newer_src into the prefix"
  newer_win='C:\TarnexTry\newer'
fi

# --- Steps -------------------------------------------------------------------------------------
# Each step records: name, exit code (full 32-bit, read Windows-side by launch.exe), seconds,
# whether it passed, the log file, and a detail text.
step_names=() step_codes=() step_seconds=() step_ok=() step_logs=() step_details=() step_expect=()
failed_verify=()   # "step<TAB>line"
step_index=0

now_ns() { date +%s%N; }
seconds_since() { awk -v a="$1" -v b="$(now_ns)" 'BEGIN { printf "%.1f", (b - a) / 1e9 }'; }

# record <name> <code or empty when not started> <seconds> <expected: 0 | 0,3010> <log> <detail>
record() {
  local ok=0
  if [ -n "$2" ]; then
    case ",$4," in *",$2,"*) ok=1 ;; esac
  fi
  step_names+=("$1"); step_codes+=("$2"); step_seconds+=("$3"); step_expect+=("$4")
  step_ok+=("$ok"); step_logs+=("$5"); step_details+=("$6")
}
record_skipped() {
  step_names+=("$1"); step_codes+=("-"); step_seconds+=("0"); step_expect+=("$2")
  step_ok+=("skip"); step_logs+=(""); step_details+=("skipped: $3")
}

# run_launch <output file> <working folder (Linux)> <program (Windows path)> [arguments...]
# Runs the program through launch.exe and sets last_code (empty when it did not start) and
# last_seconds. The program's standard output and error go to the output file.
run_launch() {
  local out="$1" cwd="$2" start
  shift 2
  start="$(now_ns)"
  (cd "$cwd" && wine "$launch" "$@" </dev/null >"$out" 2>&1)
  last_seconds="$(seconds_since "$start")"
  last_code="$(tr -d '\r' <"$out" | sed -n 's/^\[exit code \([0-9][0-9]*\) (0x[0-9a-f]*)\]$/\1/p' | tail -1)"
}

# installer_step <name> <expected> <package folder (Windows)> <installer arguments...>
installer_step() {
  local name="$1" expected="$2" folder="$3"
  shift 3
  step_index=$((step_index + 1))
  local base
  base="$(printf '%02d-%s' "$step_index" "$name")"
  local win_log="C:\\TarnexTry\\logs\\$base.log"
  local linux_folder
  linux_folder="$(unix_path "$folder")"
  run_launch "$logs/$base.out" "$linux_folder" "$folder\\installer.exe" "$@" -l "$win_log"
  # The installer's log is UTF-16; the copy beside the output is UTF-8.
  local raw="$drive_c/TarnexTry/logs/$base.log" log="$logs/$base.log"
  if [ -f "$raw" ]; then
    iconv -f UTF-16LE -t UTF-8 "$raw" 2>/dev/null | tr -d '\r' | sed 's/\xEF\xBB\xBF//g' >"$log"
  else
    log="$logs/$base.out"
  fi
  local detail="installer.exe $*"
  [ -n "$last_code" ] || detail="did not start: $(tr -d '\r' <"$logs/$base.out" | head -1)"
  record "$name" "$last_code" "$last_seconds" "$expected" "$log" "$detail"
  if [[ "$name" == verify* ]]; then
    local line
    while IFS= read -r line; do
      failed_verify+=("$name"$'\t'"$line")
    done < <(tr -d '\r' <"$logs/$base.out" | grep -E '^(Verification failed|Failed to )' || true)
  fi
}

# The prefix's server is stopped and started again and wineboot -r runs: pending file renames
# are carried out and automatic services start, as after a Windows restart.
restart_step() {
  local name="$1"
  step_index=$((step_index + 1))
  local out
  out="$logs/$(printf '%02d-%s' "$step_index" "$name").out"
  local start
  start="$(now_ns)"
  wine_prefix_stop
  wineserver -p </dev/null >/dev/null 2>&1
  run_launch "$out" "$drive_c" 'C:\windows\system32\wineboot.exe' -r
  last_seconds="$(seconds_since "$start")"
  record "$name" "$last_code" "$last_seconds" "0" "$out" "wineboot -r after the server restarted"
}

# Options of the installer for a package folder, by action.
doc_args() {
  local folder_win="$1" with_config="$2"
  doc=(-x package.xml)
  if [ "$with_config" = yes ] && [ -f "$(unix_path "$folder_win")/configuration.xml" ]; then
    doc+=(-s configuration.xml)
  fi
}

# --- Snapshot of the machine before the install --------------------------------------------------
family_key='HKLM\SOFTWARE\Norvex'
family_keys=("$family_key" 'HKLM\SOFTWARE\Wow6432Node\Norvex')
pending_key='HKLM\System\CurrentControlSet\Control\Session Manager'

reg_snapshot() {
  local out="$1" key
  : >"$out"
  for key in "${family_keys[@]}"; do
    wine reg query "$key" /s </dev/null 2>/dev/null | try_reg_listing >>"$out"
  done
}
pending_snapshot() {
  wine reg query "$pending_key" /v PendingFileRenameOperations </dev/null 2>/dev/null | try_reg_listing |
    awk -F'\t' '$1 == "V" && $3 == "PendingFileRenameOperations" { print $5 }' | try_multi_sz_lines >"$1"
}
# Every file and folder below a Windows folder, as Windows paths (the folder itself included).
files_snapshot() {
  local out="$1" dir
  : >"$out"
  for dir in "$install_dir" "$content_dir"; do
    local root
    root="$(unix_path "$dir")"
    [ -e "$root" ] || continue
    find "$root" | while IFS= read -r path; do
      local rel="${path#"$root"}"
      printf '%s%s\n' "$dir" "${rel//\//\\}"
    done >>"$out"
  done
}

# The services the documents declare (Service elements) and the driver services their INF files
# add.
document_services() {
  local folder
  for folder in "$drive_c/TarnexTry/package" ${newer_src:+"$drive_c/TarnexTry/newer"}; do
    tr -d '\r' <"$folder/package.xml" | sed -n 's/.*<ServiceName>[[:space:]]*\([^<]*[^<[:space:]]\)[[:space:]]*<\/ServiceName>.*/\1/p'
  done | sort -fu
}
driver_services() {
  local folder inf
  for folder in "$drive_c/TarnexTry/package" ${newer_src:+"$drive_c/TarnexTry/newer"}; do
    tr -d '\r' <"$folder/package.xml" | sed -n 's/.*<InfFile[^>]*>[[:space:]]*\([^<]*[^<[:space:]]\)[[:space:]]*<\/InfFile>.*/\1/p' |
      while IFS= read -r inf; do
        [ -f "$folder/$inf" ] || continue
        tr -d '\r' <"$folder/$inf" | sed -n 's/^[[:space:]]*AddService[[:space:]]*=[[:space:]]*"\{0,1\}\([^,"[:space:]]*\).*/\1/Ip'
      done
  done | sort -fu
}
service_key() { echo "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$1"; }
service_registered() { wine reg query "$(service_key "$1")" </dev/null >/dev/null 2>&1; }

# The prerequisite platform: a package whose document has drivers needs it before its install.
if grep -q '<Driver' "$drive_c/TarnexTry/package/package.xml"; then
  wine reg add 'HKLM\SOFTWARE\Norvex\Keelson' /f </dev/null >/dev/null 2>&1 || die "cannot create the prerequisite key"
  prerequisite='HKLM\SOFTWARE\Norvex\Keelson created before the install (drivers need it)'
else
  prerequisite=''
fi
mkdir -p "$(unix_path "$content_dir")"

reg_snapshot "$snap/registry.before"
pending_snapshot "$snap/pending.before"
files_snapshot "$snap/files.before"
services_before=()
while IFS= read -r s; do
  [ -n "$s" ] && service_registered "$s" && services_before+=("$s")
done < <(document_services; driver_services)

# --- The lifecycle -------------------------------------------------------------------------------
restart_expected="0,3010"
doc_args "$package_win" yes
installer_step install 0 "$package_win" -i "${doc[@]}" -d "$install_dir" -c "$content_dir"
installed="${step_ok[-1]}"

if [ "$installed" = 1 ]; then
  installer_step verify 0 "$package_win" -vi "${doc[@]}" -d "$install_dir" -c "$content_dir"
  restart_step restart

  # Damage: one installed file overwritten (a data file when there is one: executables may be
  # held by a running service), one registry value of the document deleted.
  step_index=$((step_index + 1))
  damage_out="$logs/$(printf '%02d-damage' "$step_index").out"
  start="$(now_ns)"
  damaged_file=""
  root="$(unix_path "$install_dir")"
  if [ -d "$root" ]; then
    damaged_file="$(find "$root" -type f | sort | grep -viE '\.(exe|dll|sys)$' | head -1)"
    [ -n "$damaged_file" ] || damaged_file="$(find "$root" -type f | sort | head -1)"
  fi
  detail=""
  damage_code=0
  if [ -n "$damaged_file" ]; then
    printf 'damaged by make try\n' >"$damaged_file"
    rel="${damaged_file#"$root"}"
    detail="overwrote $install_dir${rel//\//\\}"
  else
    detail="no installed file to overwrite"
  fi
  # The first value of an HKLM key of the document, but not the engine's version record: the
  # repair reads that before it repairs anything, to decide whether it restarts the service.
  read -r damaged_key damaged_value < <(tr -d '\r' <"$drive_c/TarnexTry/package/package.xml" | awk '
    function attr(s, n,   m) { if (match(s, n "=\"[^\"]*\"")) { m = substr(s, RSTART + length(n) + 2, RLENGTH - length(n) - 3); gsub(/&amp;/, "\\&", m); gsub(/&quot;/, "\"", m); gsub(/&apos;/, "'"'"'", m); gsub(/&lt;/, "<", m); gsub(/&gt;/, ">", m); return m } return "" }
    /<RegKey[[:space:]]/ { key = attr($0, "key") }
    /<\/RegKey>/ { key = "" }
    /<RegValue[[:space:]]/ && key ~ /^HKLM\\/ { name = attr($0, "name"); if (name != "" && name !~ /[[:space:]]/ && tolower(name) != "sztarnexversion") { print key "\t" name; exit } }' | tr '\t' ' ')
  if [ -n "${damaged_key:-}" ]; then
    run_launch "$damage_out.reg" "$drive_c" 'C:\windows\system32\reg.exe' delete "$damaged_key" /v "$damaged_value" /f
    damage_code="$last_code"
    detail="$detail; deleted $damaged_key\\$damaged_value"
  else
    detail="$detail; the document has no HKLM value to delete"
  fi
  printf '%s\n' "$detail" >"$damage_out"
  record damage "$damage_code" "$(seconds_since "$start")" 0 "$damage_out" "$detail"

  installer_step repair "$restart_expected" "$package_win" -r "${doc[@]}" -d "$install_dir" -c "$content_dir"
  [ "${step_codes[-1]}" = 3010 ] && restart_step restart
  installer_step verify-repaired 0 "$package_win" -vi "${doc[@]}" -d "$install_dir" -c "$content_dir"

  uninstall_win="$package_win"
  if [ -n "$newer_win" ]; then
    doc_args "$newer_win" no
    installer_step upgrade "$restart_expected" "$newer_win" -iu "${doc[@]}" -c "$content_dir"
    [ "${step_codes[-1]}" = 3010 ] && restart_step restart
    uninstall_win="$newer_win"
  fi
  doc_args "$uninstall_win" yes
  installer_step uninstall "$restart_expected" "$uninstall_win" -u "${doc[@]}"
  [ "${step_codes[-1]}" = 3010 ] && restart_step restart
else
  for name in verify restart damage repair verify-repaired ${newer_win:+upgrade} uninstall; do
    case "$name" in repair|upgrade|uninstall) e="$restart_expected" ;; *) e=0 ;; esac
    record_skipped "$name" "$e" "the install failed"
  done
fi

# --- Sweep ---------------------------------------------------------------------------------------
reg_snapshot "$snap/registry.after"
pending_snapshot "$snap/pending.after"
files_snapshot "$snap/files.after"

awk -F'\t' '$1 == "K" { print $2 }' "$snap/registry.before" >"$snap/keys.before"
awk -F'\t' '$1 == "K" { print $2 }' "$snap/registry.after" >"$snap/keys.after"
{
  try_new_entries "$snap/keys.before" "$snap/keys.after" | awk -F'\t' '{ print $1 ($2 > 0 ? " (key with " $2 " below it)" : " (key)") }'
  try_new_values "$snap/registry.before" "$snap/registry.after" | sed 's/$/ (value)/'
} >"$snap/left.registry"
try_new_entries "$snap/files.before" "$snap/files.after" | awk -F'\t' '{ print $1 ($2 > 0 ? " (folder with " $2 " entries)" : "") }' >"$snap/left.files"
try_pending_operations "$snap/pending.before" "$snap/pending.after" >"$snap/left.pending"

: >"$snap/left.services"
: >"$snap/notes"
[ -n "$prerequisite" ] && echo "$prerequisite" >>"$snap/notes"
while IFS= read -r s; do
  [ -n "$s" ] || continue
  printf '%s\n' "${services_before[@]}" | grep -qixF -- "$s" && continue
  service_registered "$s" || continue
  # A driver the uninstall leaves loaded gets a tombstone (DeleteFlag 1) that the next Windows
  # restart honours by deleting the service; Wine's service manager never does.
  flag="$(wine reg query "$(service_key "$s")" /v DeleteFlag </dev/null 2>/dev/null | try_reg_listing | awk -F'\t' '$1 == "V" { print $5 }')"
  if [ "$flag" = "0x1" ]; then
    echo "service $s: marked for deletion at restart (DeleteFlag 1), which Wine does not carry out" >>"$snap/notes"
  else
    echo "$s ($(service_key "$s"))" >>"$snap/left.services"
  fi
done < <(document_services; driver_services)

# --- Report --------------------------------------------------------------------------------------
failed_steps=0
for i in "${!step_names[@]}"; do
  [ "${step_ok[$i]}" = 1 ] || failed_steps=$((failed_steps + 1))
done
left_count=$(cat "$snap/left.registry" "$snap/left.files" "$snap/left.pending" "$snap/left.services" | grep -c . || true)
passed=0
[ "$failed_steps" -eq 0 ] && [ "$left_count" -eq 0 ] && passed=1

code_text() {
  local code="$1"
  [ "$code" = "-" ] && { echo "-"; return; }
  [ -n "$code" ] || { echo "did not start"; return; }
  local name
  name="$(win32_name "$code")"
  printf '%s%s' "$code" "${name:+ $name}"
  [ "$code" -gt 65535 ] && printf ' (0x%x)' "$code"
  echo
}
expect_text() { [ "$1" = "0,3010" ] && echo "0 or 3010" || echo "$1"; }

# At most this many entries of a list on the page; the JSON report holds them all.
list_page() {
  local file="$1" limit=8 n
  n=$(grep -c . "$file" || true)
  if [ "$n" -eq 0 ]; then echo "  none"; return; fi
  head -n "$limit" "$file" | sed 's/^/  /'
  [ "$n" -gt "$limit" ] && echo "  ... and $((n - limit)) more (see the JSON report)"
  return 0
}

text_report() {
  echo "make try: $package_src${newer_src:+ -> $newer_src}"
  echo "prefix $WINEPREFIX; install dir $install_dir; content $content_dir; logs $logs"
  echo
  printf '%-16s %-44s %7s  %s\n' step "exit code" time result
  local i r
  for i in "${!step_names[@]}"; do
    case "${step_ok[$i]}" in
      1) r="ok"; [ "${step_codes[$i]}" = 3010 ] && r="ok, a restart follows" ;;
      skip) r="skipped" ;;
      *) r="FAILED (expected $(expect_text "${step_expect[$i]}"))" ;;
    esac
    printf '%-16s %-44s %6ss  %s\n' "${step_names[$i]}" "$(code_text "${step_codes[$i]}")" "${step_seconds[$i]}" "$r"
  done
  echo
  echo "Damage: $(cat "$logs"/*-damage.out 2>/dev/null || echo "not done")"
  echo
  echo "Verify lines that failed:"
  if [ ${#failed_verify[@]} -eq 0 ]; then echo "  none"; else
    printf '%s\n' "${failed_verify[@]}" | head -8 | awk -F'\t' '{ print "  " $1 ": " $2 }'
    [ ${#failed_verify[@]} -gt 8 ] && echo "  ... and $(( ${#failed_verify[@]} - 8 )) more (see the JSON report)"
  fi
  echo
  echo "Left behind (against the snapshot taken before the install):"
  echo " files under the install directory and the content path:"; list_page "$snap/left.files"
  echo " keys and values under $family_key (and its Wow6432Node twin):"; list_page "$snap/left.registry"
  echo " services of the document:"; list_page "$snap/left.services"
  echo " pending restart operations:"; list_page "$snap/left.pending"
  if [ -s "$snap/notes" ]; then
    echo
    echo "Notes:"; sed 's/^/  /' "$snap/notes"
  fi
  echo
  if [ "$passed" = 1 ]; then
    echo "PASSED: every step succeeded and nothing was left behind."
  else
    echo "FAILED: $failed_steps step(s) failed, $left_count thing(s) left behind."
  fi
}

json_report() {
  local i first=1
  printf '{"package":%s,' "$(json_string "$package_src")"
  if [ -n "$newer_src" ]; then printf '"newer":%s,' "$(json_string "$newer_src")"; else printf '"newer":null,'; fi
  printf '"prefix":%s,"install_dir":%s,"content_dir":%s,"logs":%s,' "$(json_string "$WINEPREFIX")" \
    "$(json_string "$install_dir")" "$(json_string "$content_dir")" "$(json_string "$logs")"
  printf '"steps":['
  for i in "${!step_names[@]}"; do
    [ $first -eq 1 ] || printf ','
    first=0
    local code="${step_codes[$i]}" name="" codejson status
    case "${step_ok[$i]}" in 1) status=ok ;; skip) status=skipped ;; *) status=failed ;; esac
    if [ "$code" = "-" ] || [ -z "$code" ]; then codejson=null; else codejson="$code"; name="$(win32_name "$code")"; fi
    printf '{"step":%s,"exit_code":%s,"name":%s,"expected":[%s],"status":"%s","seconds":%s,"log":%s,"detail":%s}' \
      "$(json_string "${step_names[$i]}")" "$codejson" "$( [ -n "$name" ] && json_string "$name" || echo null)" \
      "${step_expect[$i]}" "$status" "${step_seconds[$i]}" "$(json_string "${step_logs[$i]}")" \
      "$(json_string "${step_details[$i]}")"
  done
  printf '],"failed_verify_lines":['
  first=1
  local entry
  for entry in "${failed_verify[@]}"; do
    [ $first -eq 1 ] || printf ','
    first=0
    printf '{"step":%s,"line":%s}' "$(json_string "${entry%%$'\t'*}")" "$(json_string "${entry#*$'\t'}")"
  done
  printf '],"left_behind":{"files":%s,"registry":%s,"services":%s,"pending_restart":%s},' \
    "$(json_lines "$snap/left.files")" "$(json_lines "$snap/left.registry")" \
    "$(json_lines "$snap/left.services")" "$(json_lines "$snap/left.pending")"
  printf '"notes":%s,"failed_steps":%d,"left_behind_count":%d,"passed":%s}\n' "$(json_lines "$snap/notes")" \
    "$failed_steps" "$left_count" "$( [ "$passed" = 1 ] && echo true || echo false)"
}

text_report >"$work/report.txt"
json_report >"$work/report.json"
if [ "$json" = 1 ]; then cat "$work/report.json"; else cat "$work/report.txt"; fi
[ "$passed" = 1 ]
