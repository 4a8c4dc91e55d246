# The pieces of `make try` that are plain text processing, sourced by try.sh and by its tests:
# Win32 code names, the parsing of `reg query` listings, the difference between two snapshots
# (what is left behind), and JSON strings.

# --- Win32 code names ------------------------------------------------------------------------
# The names come from the cross compiler's own winerror.h, so every code installer.exe can return
# has its Windows name without a table to keep up to date. A number defined under several names
# gets the first ERROR_ name (0 is ERROR_SUCCESS, not NO_ERROR or S_OK); HRESULT names are taken
# only for failure codes (0x8xxxxxxx), since S_OK and S_FALSE share 0 and 1 with Win32 codes.
declare -gA TRY_CODE_NAMES=()

try_winerror_header() {
  local h
  for h in "${WINERROR_H:-}" /usr/share/mingw-w64/include/winerror.h /usr/x86_64-w64-mingw32/include/winerror.h; do
    [ -n "$h" ] && [ -r "$h" ] && { echo "$h"; return 0; }
  done
  return 1
}

try_load_code_names() {
  local header number name
  [ ${#TRY_CODE_NAMES[@]} -gt 0 ] && return 0
  header="$(try_winerror_header)" || return 1
  while read -r number name; do
    TRY_CODE_NAMES[$number]="$name"
  done < <(awk '
    $1 == "#define" && NF == 3 {
      if (match($3, /^__MSABI_LONG\([0-9]+\)$/)) {
        number = substr($3, 14, length($3) - 14) + 0
      } else if (match($3, /^_HRESULT_TYPEDEF_\(0x[89A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]L?\)$/)) {
        hex = substr($3, 21); sub(/L?\)$/, "", hex)
        number = 0
        for (i = 1; i <= length(hex); i++) number = number * 16 + index("0123456789abcdef", tolower(substr(hex, i, 1))) - 1
      } else next
      key = sprintf("%.0f", number)
      erroname = ($2 ~ /^ERROR_/)
      if (!(key in best) || (erroname && !(bestIsError[key]))) { best[key] = $2; bestIsError[key] = erroname }
    }
    END { for (k in best) print k, best[k] }' "$header")
}

# Prints the name of a Win32 code or HRESULT given as an unsigned decimal number; nothing when
# the code has no name. A Win32 code wrapped as an HRESULT (0x8007xxxx) without a name of its own
# is shown as HRESULT_FROM_WIN32 of the code's name.
win32_name() {
  local code="$1"
  try_load_code_names || return 0
  if [ -n "${TRY_CODE_NAMES[$code]:-}" ]; then
    echo "${TRY_CODE_NAMES[$code]}"
  elif [ "$code" -ge 2147942400 ] 2>/dev/null && [ "$code" -le 2148007935 ]; then
    local inner="${TRY_CODE_NAMES[$((code - 2147942400))]:-}"
    [ -n "$inner" ] && echo "HRESULT_FROM_WIN32($inner)"
  fi
  return 0
}

# --- Registry listings -----------------------------------------------------------------------
# Turns the output of `reg query <key> /s` into one line per key and per value:
#   K<TAB><key>
#   V<TAB><key><TAB><value name><TAB><type><TAB><data>
# with HKEY_LOCAL_MACHINE shortened to HKLM, as the documents spell their keys.
try_reg_listing() {
  tr -d '\r' | awk '
    BEGIN { FS = "\t"; OFS = "\t" }
    /^HKEY_/ {
      key = $0
      sub(/^HKEY_LOCAL_MACHINE/, "HKLM", key); sub(/^HKEY_CURRENT_USER/, "HKCU", key)
      sub(/^HKEY_CLASSES_ROOT/, "HKCR", key); sub(/^HKEY_USERS/, "HKU", key)
      sub(/^HKEY_CURRENT_CONFIG/, "HKCC", key)
      print "K", key
      next
    }
    /^    [^ ]/ && key != "" {
      line = substr($0, 5)
      # name, type and data are separated by four blanks; the type is one REG_ word.
      if (match(line, /    REG_[A-Z_]+(    |$)/)) {
        name = substr(line, 1, RSTART - 1)
        rest = substr(line, RSTART + 4)
        type = rest; sub(/    .*$/, "", type)
        data = (length(rest) > length(type)) ? substr(rest, length(type) + 5) : ""
        print "V", key, name, type, data
      }
    }'
}

# --- What is left behind -----------------------------------------------------------------------
# try_new_entries BEFORE AFTER: both files hold one path per line, backslash-separated, listing a
# whole tree (every folder or key above an entry is listed too). Prints the entries of AFTER that
# are not in BEFORE and whose parent is not new itself, each followed by a tab and the number of
# new entries below it. Paths compare without regard to case, as Windows compares them.
try_new_entries() {
  awk '
    BEGIN { FS = "\n" }
    FILENAME == ARGV[1] { if ($0 != "") before[tolower($0)] = 1; next }
    $0 != "" && !(tolower($0) in before) && !(tolower($0) in isnew) { isnew[tolower($0)] = 1; order[++n] = $0 }
    END {
      for (i = 1; i <= n; i++) {
        path = order[i]; parent = path; sub(/\\[^\\]*$/, "", parent)
        if (parent != path && (tolower(parent) in isnew)) continue
        below = 0; prefix = tolower(path) "\\"
        for (j = 1; j <= n; j++) if (index(tolower(order[j]), prefix) == 1) below++
        print path "\t" below
      }
    }' "$1" "$2"
}

# try_new_values BEFORE AFTER: both files are try_reg_listing output. Prints "<key>\<value name>"
# for each value of AFTER whose key was there before and which was not there before itself (the
# values of a new key go with the key).
try_new_values() {
  awk '
    BEGIN { FS = "\t" }
    FILENAME == ARGV[1] {
      if ($1 == "K") keys[tolower($2)] = 1
      else if ($1 == "V") values[tolower($2 "\\" $3)] = 1
      next
    }
    $1 == "V" && (tolower($2) in keys) && !(tolower($2 "\\" $3) in values) { print $2 "\\" $3 }' "$1" "$2"
}

# The strings of a MULTI_SZ as `reg query` prints it ("a\0b\0\0c"), one per line.
try_multi_sz_lines() {
  awk '{ n = split($0, parts, /\\0/); for (i = 1; i <= n; i++) print parts[i] }'
}

# try_pending_operations BEFORE AFTER: each file holds the strings of
# PendingFileRenameOperations, one per line (source, then target; an empty target deletes).
# Prints the operations of AFTER that BEFORE did not hold: "delete <path>" or
# "rename <path> -> <path>", without the \??\ prefix.
try_pending_operations() {
  awk '
    function plain(p) { sub(/^!/, "", p); sub(/^\\\?\?\\/, "", p); return p }
    FILENAME == ARGV[1] { b[++nb] = $0; next }
    { a[++na] = $0 }
    END {
      for (i = 1; i <= nb; i += 2) seen[tolower(b[i] "\t" b[i + 1])] = 1
      for (i = 1; i <= na; i += 2) {
        if (a[i] == "") continue
        if (tolower(a[i] "\t" a[i + 1]) in seen) continue
        if (a[i + 1] == "") print "delete " plain(a[i])
        else print "rename " plain(a[i]) " -> " plain(a[i + 1])
      }
    }' "$1" "$2"
}

# --- JSON ------------------------------------------------------------------------------------
json_string() {
  # Control characters other than line breaks and tabs never occur in what the report shows
  # (paths, names, log lines); they are dropped rather than escaped.
  local s
  s="$(printf '%s' "$1" | tr -d '\000-\010\013\014\016-\037')"
  s="${s//\\/\\\\}"; s="${s//\"/\\\"}"
  s="${s//$'\n'/\\n}"; s="${s//$'\r'/\\r}"; s="${s//$'\t'/\\t}"
  printf '"%s"' "$s"
}

# A JSON array of strings from the lines of a file (an empty file gives []).
json_lines() {
  local first=1 line
  printf '['
  while IFS= read -r line || [ -n "$line" ]; do
    [ $first -eq 1 ] || printf ','
    first=0
    json_string "$line"
  done < "$1"
  printf ']'
}
