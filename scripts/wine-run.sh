#!/usr/bin/env bash
# Runs the Windows test programs under Wine: headless, quiet, and with a crash reported as a failure.
#
#   wine-run.sh [--prefix DIR] PROGRAM [ARGUMENTS...]   runs a program (the build's test emulator)
#   wine-run.sh [--prefix DIR] --start                  creates the prefix, keeps a wineserver running
#   wine-run.sh [--prefix DIR] --stop                   stops that wineserver
#
# The prefix (default: $WINEPREFIX, else ~/.wine-zephrin) is created on first use. Its AeDebug
# debugger entry is cleared: no winedbg attaches to a crashing program (it may let the program exit
# with status 0, so that its test passes); the process ends with the exception code instead, of which
# the low 8 bits reach us (0xC0000005 gives 5). Every wine process needs a wineserver; one started per program costs
# seconds, so a program started here leaves one behind for 30 s and --start keeps one until --stop.
set -euo pipefail
prefix=${WINEPREFIX:-$HOME/.wine-zephrin}
if [ "${1:-}" = --prefix ]; then
  prefix=$2
  shift 2
fi
[ $# -gt 0 ] || { echo "usage: $0 [--prefix DIR] PROGRAM [ARGUMENTS...] | --start | --stop" >&2; exit 2; }
mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || wine=$(command -v wine)
wineserver=$(command -v wineserver)
aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'

# The prefix is made once, under a lock: the build discovers the tests of several programs at once.
ensure_prefix() {
  [ -f "$prefix/.zephrin-ready" ] && return 0
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.zephrin-ready" ]; then
    "$wine" wineboot --init >/dev/null 2>&1 || true
    "$wineserver" -w
    # An empty entry, not a missing one: without the entry Wine starts winedbg all the same.
    "$wine" reg add "$aedebug" /v Debugger /t REG_SZ /d "" /f >/dev/null 2>&1 || true
    if "$wine" reg query "$aedebug" /v Debugger 2>/dev/null | grep -qi winedbg; then
      "$wineserver" -k || true
      echo "wine-run: cannot clear the AeDebug debugger of $prefix" >&2
      exit 1
    fi
    "$wineserver" -w
    touch "$prefix/.zephrin-ready"
  fi
  flock -u 9
  exec 9>&-
}

case $1 in
  --start)
    ensure_prefix
    # Refused when a wineserver of this prefix is running already (an earlier run's): that one serves.
    "$wineserver" -p 2>/dev/null || true
    # The first program of a new wineserver starts Wine's background services, which keep its output
    # open as long as the server lives: a throwaway program takes them, so that a test program's
    # output (read through a pipe by ctest) ends when the program does.
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
    ;;
  --stop)
    "$wineserver" -k 2>/dev/null || true
    ;;
  *)
    ensure_prefix
    # Refused (harmlessly) when a wineserver of this prefix is running already.
    "$wineserver" -p30 2>/dev/null || true
    # Now and then (about once in a few thousand starts, with programs starting side by side) Wine fails
    # to start a program at all: it fails without a line of output. As rarely, Wine's own process dies
    # of a signal (status 128 + its number; seen: 139, a segmentation fault while the program ended),
    # which a fault of the program cannot cause: that one ends with its exception code (0xC0000005
    # gives 5, a stack overflow 253). Either is tried once more, and said so; any other result is the
    # program's own, and one that fails the same way twice fails.
    output=$(mktemp)
    errors=$(mktemp)
    trap 'rm -f "$output" "$errors"' EXIT
    for attempt in 1 2; do
      status=0
      "$wine" "$@" >"$output" 2>"$errors" || status=$?
      cat "$output"
      cat "$errors" >&2
      if [ "$status" -eq 0 ] || [ "$attempt" -eq 2 ]; then exit "$status"; fi
      if [ "$status" -gt 128 ] && [ "$status" -lt 160 ]; then
        echo "wine-run: Wine's process running $1 died of signal $((status - 128)): starting it once more" >&2
      elif [ -s "$output" ] || [ -s "$errors" ]; then
        exit "$status"
      else
        echo "wine-run: $1 failed (status $status) without any output: starting it once more" >&2
      fi
    done
    ;;
esac
