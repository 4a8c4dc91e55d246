#!/usr/bin/env bash
# The main job, in a throwaway Wine prefix: the usage text, a rejected document, then the demo
# package installed with its policies, verified, and removed again.
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
package="$build/demo/package"
prefix="$build/demo-prefix"
. "$(dirname "$0")/wine-prefix.sh"

step() { printf '\n\033[1m==> %s\033[0m\n' "$*"; }
# Runs installer.exe from the package folder through the launcher, which prints the full exit code.
installer() { (cd "$package" && wine "$build/bin/launch.exe" "$package/installer.exe" "$@"); }
show_log() { iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r' | sed 's/^\xEF\xBB\xBF//; s/\xEF\xBB\xBF//g' | sed 's/^/    /'; }

step "A fresh Wine prefix in $prefix"
wine_prefix_boot "$prefix"
drive_c="$prefix/drive_c"
mkdir -p "$drive_c/TarnexContent" "$drive_c/TarnexLogs"

step "No arguments: the usage text and exit code 87"
installer

step "-h: the usage text and exit code 0"
installer -h

step "A document that fails validation: exit code 1465 (0x5b9) and the log lines"
installer -vi -x invalid-package.xml -d 'C:\Program Files\Tarnex' -c 'C:\TarnexContent' -l 'C:\TarnexLogs\rejected.log'
show_log "$drive_c/TarnexLogs/rejected.log"

step "The two sample documents (every element kind) loaded, validated and bound: verified on a machine without them"
installer -vi -x sample-package.xml -s configuration.xml -d 'C:\Program Files\Tarnex' -c 'C:\TarnexContent' \
  -l 'C:\TarnexLogs\samples.log' | tail -8
echo "    (nothing is installed yet: the service is not registered, 1060)"
show_log "$drive_c/TarnexLogs/samples.log" | grep -E 'Tarnex Version|Completed' | sed 's/^ *//; s/^/    /'

step "The prerequisite platform the driver needs (HKLM\\SOFTWARE\\Norvex\\Keelson)"
wine reg add 'HKLM\SOFTWARE\Norvex\Keelson' /f >/dev/null 2>&1 && echo "    created"

step "Install the demo package with its policies (-i ... -s configuration.xml -q ...)"
installer -i -x package.xml -s configuration.xml -d 'C:\Program Files\Tarnex' -c 'C:\TarnexContent' \
  -q 'C:\TarnexQuarantine' -l 'C:\TarnexLogs\install.log'
echo "    installed files:"
(cd "$drive_c/Program Files/Tarnex" 2>/dev/null && find . -type f | sed 's/^/      /')
echo "    the driver in the drivers directory:"
(cd "$drive_c/windows/system32/drivers" && ls tnxflt.* 2>/dev/null | sed 's/^/      /')

step "The engine service the install registered (its SCM record) and started (sc query TarnexEngine)"
wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\TarnexEngine' 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/    /'
wine sc query TarnexEngine 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/    /'

step "The driver service the INF registered, with the values its NvxAddReg section added"
wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\tnxflt' /s 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/    /'

step "The registry the install wrote (install reference, engine records, policies)"
wine reg query 'HKLM\SOFTWARE\Norvex\Coravel' /s 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/    /'

step "Verify the installation and its policies (-vi ... -s configuration.xml)"
installer -vi -x package.xml -s configuration.xml -d 'C:\Program Files\Tarnex' -c 'C:\TarnexContent' \
  -q 'C:\TarnexQuarantine'

step "Uninstall (-u ... -s configuration.xml)"
installer -u -x package.xml -s configuration.xml -l 'C:\TarnexLogs\uninstall.log'
if wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\TarnexEngine' >/dev/null 2>&1; then echo "    service TarnexEngine still registered"; else echo "    service TarnexEngine stopped (control 218) and deleted"; fi
if [ -e "$drive_c/Program Files/Tarnex" ]; then echo "    install directory still present"; else echo "    install directory removed"; fi
if wine reg query 'HKLM\SOFTWARE\Norvex\Coravel' >/dev/null 2>&1; then echo "    HKLM\\SOFTWARE\\Norvex\\Coravel still present"; else echo "    HKLM\\SOFTWARE\\Norvex\\Coravel removed"; fi
echo "    the driver's tombstone, honoured at the next restart (DeleteFlag 1, Start 4 = disabled):"
wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\tnxflt' 2>/dev/null | tr -d '\r' | grep -E 'DeleteFlag|Start' | sed 's/^ */      /'
if [ -e "$drive_c/windows/system32/drivers/tnxflt.inf" ]; then echo "    drivers\\tnxflt.inf still present"; else echo "    drivers\\tnxflt.inf removed"; fi

step "The install log, first and last lines"
show_log "$drive_c/TarnexLogs/install.log" | head -8
echo "    ..."
show_log "$drive_c/TarnexLogs/install.log" | tail -4

# pkgtool: the demo package lints clean; a broken copy of it (one payload file edited after its
# digest was taken, one section cut from the INF) gives one line per fault and exit code 1.
pkgtool() { (cd "$1" && shift && wine "$build/bin/launch.exe" "$build/bin/pkgtool.exe" "$@"); }

step "pkgtool lint: the demo package and its configuration are clean (exit code 0)"
pkgtool "$package" lint package.xml --config configuration.xml

step "pkgtool lint on a broken copy of the demo package: a wrong digest and a missing INF section (exit code 1)"
broken="$build/demo/broken-package"
rm -rf "$broken" && cp -r "$package" "$broken"
echo "edited after the digest was taken" >> "$broken/bin/tarnex-engine.txt"
old_inf="$(sha256sum "$broken/tnxflt.inf" | cut -d' ' -f1)"
awk '/^\[/{header = $0; sub(/\r$/, "", header); skip = (header == "[DefaultUninstall.NTamd64.Services]")} !skip' "$package/tnxflt.inf" > "$broken/tnxflt.inf"
new_inf="$(sha256sum "$broken/tnxflt.inf" | cut -d' ' -f1)"
sed -i "s/$old_inf/$new_inf/I" "$broken/package.xml"
echo "    (bin/tarnex-engine.txt edited; [DefaultUninstall.NTamd64.Services] cut from tnxflt.inf, its digest updated)"
pkgtool "$broken" lint package.xml | tr -d '\r' | sed '/^$/d; s/^/    /'
exit 0
