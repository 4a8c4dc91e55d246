#!/usr/bin/env bash
# Runs the whole suite under Wine in a fresh prefix of the build tree, with one persistent
# wineserver for the run; the server is stopped afterwards, also when a test fails. Extra
# arguments go to ctest (e.g. -R services_tests).
set -uo pipefail
build="${1:?build directory}"
shift
. "$(dirname "$0")/wine-prefix.sh"
wine_prefix_boot "$(cd "$build" && pwd)/wineprefix"
# Tests that change the machine (registry, files, services) carry RUN_SERIAL: ctest runs them
# one at a time whatever -j says.
(cd "$build" && ctest --output-on-failure --timeout 300 "$@")
