#!/usr/bin/env bash
# The digest benchmark beside its references, measured in the same run: scripts/bench.sh runs it
# in its Wine prefix (WINEPREFIX set, server started). Usage: bench-digest.sh <build dir> [rounds]
#
# One 256 MiB file of random bytes in the build tree. Each round runs bench_sha256.exe on it once
# per block function (in memory and through the file digest), each followed by its reference:
#   portable        - sha256sum of the same file (Linux side, user + system time)
#   avx2            - openssl speed -evp sha256 -bytes 40960 with the SHA extensions masked
#   sha             - openssl speed -evp sha256 -bytes 40960
# All figures are MB/s over processor time (openssl speed counts user time). The table gives
# the median over the rounds, the best and the range; each round measures a path and its
# reference back to back, and the ratio is the median of the rounds' ratios (with their range).
# In memory the processor time is user time on both sides; the file figures count system time too.
# Every path's file digest must equal sha256sum's.
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
rounds="${2:-7}"
: "${WINEPREFIX:?run from scripts/bench.sh, which sets up the Wine prefix}"
exe="$build/bin/bench_sha256.exe"
file="$build/bench-digest.bin"
raw="$build/bench-digest.txt"
bytes=268435456
trap 'rm -f "$file"' EXIT

head -c "$bytes" /dev/urandom >"$file" || exit 1
winfile="Z:${file//\//\\}"
expected="$(sha256sum "$file" | cut -d' ' -f1)"
: >"$raw"

openssl_rate() {  # prints MB/s; openssl speed reports 1000s of bytes per second
  "$@" speed -evp sha256 -bytes 40960 -seconds 2 2>/dev/null | awk '$1 == "sha256" { sub(/k$/, "", $2); printf "%.1f\n", $2 / 1000 }'
}

have_openssl=1
command -v openssl >/dev/null 2>&1 || { have_openssl=0; echo "openssl is not installed: its references are left out"; }
# Each path and its reference are measured one right after the other, so that both see the same
# load on the machine.
reference() {
  case "$1" in
    portable)
      TIMEFORMAT='%3U %3S'
      local times
      times="$({ time sha256sum "$file" >/dev/null; } 2>&1)"
      awk -v b="$bytes" -v t="$times" 'BEGIN { split(t, x, " "); printf "reference sha256sum file %.1f\n", b / 1e6 / (x[1] + x[2]) }' ;;
    avx2)
      [ "$have_openssl" = 1 ] && echo "reference openssl-noshaext memory $(OPENSSL_ia32cap=':~0x20000000' openssl_rate openssl)" ;;
    sha)
      [ "$have_openssl" = 1 ] && echo "reference openssl memory $(openssl_rate openssl)" ;;
  esac
  return 0
}
for ((round = 1; round <= rounds; round++)); do
  for path in portable avx2 sha; do
    # Odd rounds measure the reference first, even rounds the path first.
    ((round % 2)) && reference "$path" | sed "s/^/$round /" >>"$raw"
    output="$(cd "$build/bin" && wine "$exe" --path "$path" --file "$winfile" --runs 1 | tr -d '\r')" \
      || { echo "bench_sha256.exe --path $path failed in round $round"; echo "$output"; exit 1; }
    grep 'not available' <<<"$output"
    grep -E '^(result|digest) ' <<<"$output" | sed "s/^/$round /" >>"$raw"
    ((round % 2)) || reference "$path" | sed "s/^/$round /" >>"$raw"
  done
  printf 'round %d of %d done\n' "$round" "$rounds"
done

status=0
while read -r _ name digest; do
  if [ "$digest" != "$expected" ]; then
    echo "$name: file digest $digest, sha256sum says $expected"
    status=1
  fi
done < <(awk '$2 == "digest" { print $2, $3, $4 }' "$raw" | sort -u)

echo
echo "SHA-256, MB/s over processor time, $rounds rounds (each path beside its reference, same run)"
awk '
  function sorted(list, n,    i, j, tmp) {
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (list[j] < list[i]) { tmp = list[i]; list[i] = list[j]; list[j] = tmp }
  }
  function median(list, n) { return (n % 2) ? list[(n + 1) / 2] : (list[n / 2] + list[n / 2 + 1]) / 2 }
  function stats(key,    n, i, v) {
    n = count[key]; if (n == 0) return "";
    for (i = 1; i <= n; i++) v[i] = value[key, i];
    sorted(v, n);
    return sprintf("%7.1f  %7.1f  %6.1f-%-7.1f", median(v, n), v[n], v[1], v[n]);
  }
  $2 == "result" || $2 == "reference" { key = $3 " " $4; value[key, ++count[key]] = $5; at[key, $1] = $5 }
  END {
    printf "%-9s %-6s %7s  %7s  %-14s | %-26s %7s  %7s  %-14s | %s\n", "path", "where", "median", "best", "range",
           "reference", "median", "best", "range", "ratio (median of the rounds)";
    split("portable file sha256sum|avx2 memory openssl-noshaext|sha memory openssl", rows, "|");
    for (r = 1; r <= 3; r++) {
      split(rows[r], f, " ");
      for (w = 1; w <= 2; w++) {
        where = (w == 1) ? "memory" : "file";
        ours = f[1] " " where;
        text = stats(ours);
        if (text == "") continue;
        line = sprintf("%-9s %-6s %s", f[1], where, text);
        refkey = f[3] " " f[2];
        if (where == f[2] && count[refkey] > 0) {
          n = 0;
          for (round = 1; round <= rounds; round++)
            if ((ours, round) in at && (refkey, round) in at && at[refkey, round] > 0) ratio[++n] = at[ours, round] / at[refkey, round];
          sorted(ratio, n);
          if (n > 0) line = line sprintf(" | %-26s %s | %.2f (%.2f-%.2f)", f[3] " (" f[2] ")", stats(refkey), median(ratio, n), ratio[1], ratio[n]);
        }
        print line;
      }
    }
  }' rounds="$rounds" "$raw"
echo "(raw figures: $raw)"
exit $status
