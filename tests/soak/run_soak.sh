#!/bin/sh
# The fault soak: several simulated cameras stream into the driver for minutes while faults cycle
# (camera restarts, RTSP closes, stalls beyond the stream time-out, packet loss and reordering, hung
# and trickling CGI answers, a stalling frame sink, streams stopped and started, the driver closed and
# reopened). Prints the host's figures and whether the host process survived.
#
#   tests/soak/run_soak.sh [--minutes M] [--cameras N] [--first-address 161] [--seed S]
#
# Needs root (RTSP port 554 on each camera's loopback address). Builds the default preset's
# libZephrin.so and zephrin-soak-host first. Not a CI test: run it by hand; it takes as long as asked.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build/default"
if [ "$(id -u)" != 0 ]; then
  echo "run_soak.sh: needs root (each simulated camera listens on RTSP port 554 of its own address)" >&2
  exit 2
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$root" && cmake --preset default) || exit 2
fi
(cd "$root" && cmake --build --preset default --target Zephrin zephrin-soak-host) || exit 2

log=$(mktemp /tmp/zephrin-soak-XXXXXX.log)
echo "soak log: $log"
{ "$build/bin/zephrin-soak-host" "$@" 2>&1; echo "host-exit $?"; } | tee "$log"
status=$(sed -n 's/^host-exit //p' "$log")
case "$status" in
  0) echo "crashes: 0; soak passed" ;;
  1) echo "crashes: 0; soak FAILED its checks (see the report above)" ;;
  2) echo "soak could not run" ;;
  *) if [ "$status" -gt 128 ]; then
       echo "crashes: 1 (the host process died of signal $((status - 128)))"
     else
       echo "soak ended with status $status"
     fi ;;
esac
[ "$status" = 0 ]
