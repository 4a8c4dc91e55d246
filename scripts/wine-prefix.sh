# The Wine prefix every program of the build runs in: its environment, booting a fresh one with
# one persistent wineserver, and stopping that server. Sourced by run-tests.sh, demo.sh, bench.sh
# and the build's wine-run launcher:
#
#   . scripts/wine-prefix.sh
#   wine_prefix_use "$build/wineprefix"   # the environment only (WINEPREFIX and the rest)
#   wine_prefix_boot "$build/wineprefix"  # the environment, a fresh prefix, a running server;
#                                         # the server is stopped when the calling shell exits
#   wine_prefix_stop                      # stops the server of the prefix in use

wine_prefix_use() {
  export WINEPREFIX="${1:?prefix directory}"
  # Wine links the profile folders to $HOME's: the prefix has a home of its own.
  mkdir -p "$WINEPREFIX.home"
  export HOME="$WINEPREFIX.home"
  export WINEDEBUG="${WINEDEBUG:--all}"
  # A new prefix need not install the .NET and HTML engines: no program here uses them.
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=}"
  export WINEARCH=win64
}

wine_prefix_stop() {
  wineserver -k >/dev/null 2>&1 || true
}

# A new prefix links the profile folders under C:\users (Desktop, Documents, ...) to the Linux
# home: an uninstall that went wrong there would delete the machine's own files. The prefix gets
# a home of its own, and every link that leads out of the prefix becomes an empty folder.
wine_prefix_cut_links() {
  local link target
  find "$WINEPREFIX/drive_c/users" -type l 2>/dev/null | while read -r link; do
    target="$(readlink -f "$link" || true)"
    case "$target" in
      "$WINEPREFIX"/*) ;;
      *) rm -f "$link" && mkdir -p "$link" ;;
    esac
  done
}

wine_prefix_boot() {
  wine_prefix_use "$1"
  trap wine_prefix_stop EXIT
  wine_prefix_stop
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  # The server and the first programs must not hold the caller's standard handles (a caller
  # reading them through a pipe would wait for the server to end): all three go to /dev/null.
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot -i </dev/null >/dev/null 2>&1
  # A new prefix comes up with two service managers, each with its own list of services, and a
  # client reaches either: a service one of them created is missing for the other. One restart
  # of the server leaves a single manager.
  wineserver -k >/dev/null 2>&1
  wine_prefix_cut_links
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot </dev/null >/dev/null 2>&1
}
