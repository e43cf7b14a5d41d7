#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and runs ctest for the default and
# AddressSanitizer presets, the threading tests under ThreadSanitizer, and a short smoke run of
# every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

run_preset() {
  local preset=$1; shift
  echo "=== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== ${preset}: test"
  (cd "build/${preset}" && ctest --output-on-failure --timeout 600 -j "$jobs" "$@")
}

run_preset default
run_preset asan -L 'unit|integration'
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_preset tsan -L unit
run_preset fuzz -L fuzz-smoke
echo "=== all tests passed"
