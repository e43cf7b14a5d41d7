#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and runs ctest for the default preset (all
# tests), the AddressSanitizer preset (unit and integration tests), the ThreadSanitizer preset (unit
# tests), a short smoke run of every fuzz target, and the Windows DLLs with their unit and integration
# tests under Wine (windows preset, MinGW-w64 cross build). The sanitizer and fuzz presets build only the
# programs their tests need. Every stage runs even when an earlier one failed; the summary at the end
# lists each stage's time and result, and the exit status is non-zero when any stage failed.
#
# Environment: ZEPHRIN_JOBS (parallel build and test jobs, default: the processor count),
# ZEPHRIN_FUZZ_SECONDS (seconds per fuzz target, default 20), ZEPHRIN_PRESETS (the presets to run,
# default "default asan tsan fuzz windows").
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1
jobs=${ZEPHRIN_JOBS:-$(nproc)}
presets=${ZEPHRIN_PRESETS:-default asan tsan fuzz windows}
summary=()
failed=0
failures=()  # what each failed test printed last, for the end of the output

# The tests bind loopback addresses besides 127.0.0.1 and the cameras' RTSP port 554. A normal user
# runs them in a network namespace of its own in which it is root (when the kernel allows it).
in_test_net=()
if [ "$(id -u)" -ne 0 ] && unshare -rn sh -c 'ip link set lo up' 2>/dev/null; then
  in_test_net=(unshare -rn sh -c 'ip link set lo up && exec "$@"' sh)
fi

# stage <name> <command>...: runs one step, times it and records the result.
stage() {
  local name=$1; shift
  local start=$SECONDS
  echo "=== ${name}"
  if "$@"; then
    summary+=("$(printf '%-24s %5ds  ok' "$name" $((SECONDS - start)))")
    return 0
  fi
  summary+=("$(printf '%-24s %5ds  FAILED' "$name" $((SECONDS - start)))")
  failed=1
  return 1
}

quiet() { "$@" >/dev/null; }

# run_preset <preset> "<build targets or empty for all>" <ctest arguments>...
run_preset() {
  local preset=$1 targets=$2; shift 2
  local configure=(cmake --preset "$preset")
  [ "$preset" = fuzz ] && configure+=("-DZEPHRIN_FUZZ_SECONDS=${ZEPHRIN_FUZZ_SECONDS:-20}")
  local build=(cmake --build --preset "$preset" -j "$jobs")
  [ -n "$targets" ] && build+=(--target $targets)
  stage "${preset}: configure" quiet "${configure[@]}" || return
  stage "${preset}: build" "${build[@]}" || return
  stage "${preset}: test" "${in_test_net[@]}" ctest --test-dir "build/${preset}" --output-on-failure --timeout 600 -j "$jobs" "$@" ||
    failures+=("$(last_output "$preset" "build/${preset}/Testing/Temporary/LastTest.log")")
}

# last_output <preset> <ctest log>: the name and the last lines printed by each failed test of the log, so
# that the end of a long run's output says what failed and how.
last_output() {
  awk -v preset="$1" '
    /^[0-9]+\/[0-9]+ Testing: / { name = $NF; n = 0; out = 0; next }
    /^Output:$/ { out = 1; next }
    /^<end of output>$/ { out = 0; next }
    out && !/^-+$/ { lines[n++ % 30] = $0 }
    /^Test Failed\.$/ {
      print "--- " preset ": " name " failed; its last lines:"
      for (i = (n > 30 ? n - 30 : 0); i < n; ++i) print lines[i % 30]
    }' "$2" 2>/dev/null
}

# The Windows build: GoogleTest for MinGW first, then the DLLs and the test programs. The programs run
# under Wine through scripts/wine-run.sh (the build's test emulator, with its prefix in build/windows/wine);
# one wineserver serves the whole ctest run and is stopped after it.
run_windows() {
  stage "windows: googletest" bash scripts/build-gtest-mingw.sh || return
  local wine=(bash scripts/wine-run.sh --prefix build/windows/wine)
  stage "windows: wine prefix" "${wine[@]}" --start || return
  run_preset windows "Zephrin Wendrick unit_programs integration_programs" -L 'unit|integration'
  "${wine[@]}" --stop
}

for preset in $presets; do
  case $preset in
    default) run_preset default "" ;;
    asan) run_preset asan "unit_programs integration_programs" -L 'unit|integration' ;;
    tsan) TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
            run_preset tsan unit_programs -L unit ;;
    fuzz) run_preset fuzz fuzz_programs -L fuzz-smoke ;;
    windows) run_windows ;;
    *) echo "unknown preset: $preset" >&2; failed=1 ;;
  esac
done

if ((${#failures[@]})); then
  echo "=== failed tests"
  printf '%s\n' "${failures[@]}"
fi
echo "=== summary (${jobs} jobs)"
printf '%s\n' "${summary[@]}"
if ((failed)); then
  echo "=== some tests FAILED"
  exit 1
fi
echo "=== all tests passed"
