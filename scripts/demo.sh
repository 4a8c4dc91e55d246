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
