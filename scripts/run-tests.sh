#!/usr/bin/env bash
# Runs the whole suite under Wine in a fresh prefix of the build tree, with one persistent
# wineserver for the run; the server is stopped afterwards, also when a test fails.
set -uo pipefail
build="${1:?build directory}"
shift
prefix="$(cd "$build" && pwd)/wineprefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" WINEARCH=win64

stop_server() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_server EXIT

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
# Tests change the machine (registry, files, services): they run one at a time. A test program
# that fails is run once more, for the rare Wine start-up hiccup (a program ending at once
# without output); a real failure fails twice and stays failed.
(cd "$build" && ctest --output-on-failure --timeout 300 --repeat until-pass:2 "$@")
