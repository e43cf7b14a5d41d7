#!/usr/bin/env bash
# Many cameras at once: N simulated cameras (default 1, 8 and 32) stream H.264 at a few Mbit/s; the
# driver records them all for a fixed time while ffmpeg (-rtsp_transport udp -c copy -f null) reads
# the same cameras in the same run. Prints CPU seconds per stream-minute, frames received against
# frames sent, and the CPU ratio driver/ffmpeg. Needs root (port 554 on each camera's address).
#
#   bash tests/bench/multi_camera.sh [N ...] [--seconds S] [--kbits K]
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset default >/dev/null
cmake --build build/default -j"$(nproc)" --target Zephrin zephrin-host >/dev/null
exec /usr/bin/python3 tests/bench/multi_camera.py "$@"
