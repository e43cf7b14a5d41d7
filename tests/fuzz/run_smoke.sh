#!/bin/sh
# run_smoke.sh <fuzz program> <seconds> <work corpus> <seed corpus> <artifact folder>: one smoke run of a
# fuzz target. When it fails, the input that made it fail is printed (base64) after libFuzzer's report,
# so that a failure on a machine whose files are gone can still be replayed.
program=$1 seconds=$2 work=$3 seeds=$4 artifacts=$5
mkdir -p "$work" "$artifacts" || exit 1
rm -f "$artifacts"/*
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1 "$program" -max_total_time="$seconds" -rss_limit_mb=2048 \
  -timeout=10 -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "$seeds"
status=$?
if [ "$status" -ne 0 ]; then
  for input in "$artifacts"/*; do
    [ -f "$input" ] && echo "failing input $(basename "$input") ($(wc -c <"$input") bytes, base64): $(base64 -w0 "$input")"
  done
fi
exit "$status"
