#!/usr/bin/env bash
# Builds GoogleTest and GoogleMock from Debian's source (/usr/src/googletest) with the MinGW-w64
# toolchain and installs them into build/gtest-mingw, where the windows preset finds them. Does nothing
# when they are already there. Usage: scripts/build-gtest-mingw.sh [install directory]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-$root/build/gtest-mingw}
if [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  exit 0
fi
work=$prefix.build
rm -rf "$work"
cmake -S /usr/src/googletest -B "$work" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_SHARED_LIBS=OFF -Dgtest_force_shared_crt=OFF >/dev/null
cmake --build "$work" -j "${ZEPHRIN_JOBS:-$(nproc)}" >/dev/null
cmake --install "$work" >/dev/null
rm -rf "$work"
