#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the tools and the demo need. Safe to run again.
set -euo pipefail
packages=(
  build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libpugixml-dev libcurl4-openssl-dev
  python3 python3-gi gir1.2-gst-rtsp-server-1.0 gir1.2-gstreamer-1.0
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
  ffmpeg iproute2 binutils clang-format
  libavformat-dev libavcodec-dev libavutil-dev help2man dpkg-dev
  g++-mingw-w64-x86-64-posix wine wine64
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y "${missing[@]}"
fi
