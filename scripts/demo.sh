#!/usr/bin/env bash
# The main job, in a throwaway Wine prefix: the usage text, a rejected document, then the demo
# package installed with its policies, verified, and removed again.
set -uo pipefail
build="$(cd "${1:?build directory}" && pwd)"
package="$build/demo/package"
prefix="$build/demo-prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" WINEARCH=win64

stop_server() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_server EXIT

step() { printf '\n\033[1m==> %s\033[0m\n' "$*"; }
# Runs installer.exe from the package folder through the launcher, which prints the full exit code.
installer() { (cd "$package" && wine "$build/bin/launch.exe" "$package/installer.exe" "$@"); }
show_log() { iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r' | sed 's/^\xEF\xBB\xBF//; s/\xEF\xBB\xBF//g' | sed 's/^/    /'; }

step "A fresh Wine prefix in $prefix"
stop_server
rm -rf "$prefix"
mkdir -p "$prefix"
wineserver -p </dev/null >/dev/null 2>&1
wineboot -i </dev/null >/dev/null 2>&1
# Creating the prefix leaves two service managers running, which share out the starts of the
# services between them (a start then times out with 1053 or finds the database locked, 1055):
# start the server once more so that one service manager runs.
wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; wineserver -p </dev/null >/dev/null 2>&1
wineboot </dev/null >/dev/null 2>&1
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

step "Install the demo package with its policies (-i ... -s configuration.xml -q ...)"
installer -i -x package.xml -s configuration.xml -d 'C:\Program Files\Tarnex' -c 'C:\TarnexContent' \
  -q 'C:\TarnexQuarantine' -l 'C:\TarnexLogs\install.log'
echo "    installed files:"
(cd "$drive_c/Program Files/Tarnex" 2>/dev/null && find . -type f | sed 's/^/      /')

step "The engine service the install registered (its SCM record) and started (sc query TarnexEngine)"
wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\TarnexEngine' 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/    /'
wine sc query TarnexEngine 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/    /'

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

step "The install log, first and last lines"
show_log "$drive_c/TarnexLogs/install.log" | head -8
echo "    ..."
show_log "$drive_c/TarnexLogs/install.log" | tail -4
