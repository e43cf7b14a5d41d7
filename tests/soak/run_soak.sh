#!/bin/sh
# The fault soak: several simulated cameras stream into the driver for minutes while faults cycle
# (camera restarts, RTSP closes, delayed stalls beyond the stream time-out, refused RTSP requests,
# packet loss and reordering, hung, trickling, slow, delayed, empty, cut and garbled CGI answers, error
# statuses, digital input changes and PTZ commands, a stalling frame sink, streams stopped and started,
# the driver closed and reopened), and the host is rude: its callbacks block past the stop limits,
# call the driver from inside and from other threads (--polite turns that off). Prints the host's
# figures: frames outside fault windows, RSS slope after the warm-up, file descriptors and threads
# before and after, the longest host call, and whether the host process survived.
#
#   tests/soak/run_soak.sh [--preset default|asan|tsan] [--minutes M] [--cameras N] [--warmup M]
#                          [--first-address 161] [--seed S] [--polite] [--close-in-callbacks]
#                          [--block-ms MS] [--fresh-frames]
#
# Needs root (RTSP port 554 on each camera's loopback address). Builds the preset's libZephrin.so and
# zephrin-soak-host first. Not a CI test: run it by hand; it takes as long as asked.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
preset=default
if [ "${1:-}" = --preset ]; then
  preset=${2:?--preset needs a name}
  shift 2
fi
build="$root/build/$preset"
if [ "$(id -u)" != 0 ]; then
  echo "run_soak.sh: needs root (each simulated camera listens on RTSP port 554 of its own address)" >&2
  exit 2
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$root" && cmake --preset "$preset") || exit 2
fi
(cd "$root" && cmake --build "$build" --target Zephrin zephrin-soak-host) || exit 2

if [ "$preset" = tsan ]; then
  TSAN_OPTIONS="suppressions=$root/tests/soak/tsan.supp ${TSAN_OPTIONS:-}"
  export TSAN_OPTIONS
fi
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
