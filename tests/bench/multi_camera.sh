#!/usr/bin/env bash
# Many cameras, one recording host process: N cameras played by one light RTSP/RTP replayer are
# recorded by one host process that opens one driver per device, while ffmpeg (-rtsp_transport udp
# -c copy -f null) reads the same cameras in the same run (default 1, 8 and 32 cameras); then 128
# cameras recorded by the host alone for 60 s. First, one simulated camera per network condition (late,
# duplicated, lost packets, GET_PARAMETER-only session, RTP from another address), driver and ffmpeg
# side by side, and the latency from a frame's last packet to OnFrame (--conditions S; 0: none).
# Prints CPU seconds per stream-minute, frames received against frames sent, the CPU ratio driver/ffmpeg, and for the big run frames lost, RSS and threads
# per stream and the stop and close time; --search then looks for the largest count without loss.
# Needs root (ports 554 and 80 on each camera's address).
#
#   bash tests/bench/multi_camera.sh [N ...] [--seconds S] [--kbits K] [--big N] [--big-seconds S] [--conditions S] [--search]
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset default >/dev/null
cmake --build build/default -j2 --target Zephrin multi_device_host rtsp_replayer wake_cost >/dev/null
exec /usr/bin/python3 tests/bench/multi_camera.py "$@"
