#!/usr/bin/env bash
# The driver end to end on one machine: builds the driver and the tools, starts a simulated camera
# (zephrin-camsim) on a loopback address, asks it what it is (zephrin-host probe, as a host does when a
# camera is added), records a few seconds of H.264 into an MP4 file with zephrin-host record, takes a
# PNG picture of one decoded frame and prints where both are.
#
#   bash scripts/demo.sh [SECONDS]
#
# The driver talks RTSP to port 554 of the camera and HTTP to port 80, so the simulated camera needs
# root to listen there (run as root, or with sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
address=${ZEPHRIN_DEMO_ADDRESS:-127.0.0.2}
user=admin
password=secret

if [ "$(id -u)" -ne 0 ]; then
  echo "demo: the simulated camera listens on ports 80 and 554 of $address, which needs root; run as root" >&2
  exit 1
fi

echo "=== installing what is missing and building"
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build build/default -j"$(nproc)" --target Zephrin zephrin-host

bin=build/default/bin
work=$(mktemp -d /tmp/zephrin-demo.XXXXXX)
camsim_pid=""
cleanup() {
  if [ -n "$camsim_pid" ]; then
    kill "$camsim_pid" 2>/dev/null || true
    wait "$camsim_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

echo "=== starting zephrin-camsim on $address (profile ptz-dome)"
"$bin/zephrin-camsim" --address "$address" --profile ptz-dome --user "$user" --password "$password" \
  --request-log "$work/camsim-requests.log" >"$work/camsim.out" 2>"$work/camsim.err" &
camsim_pid=$!
for _ in $(seq 1 100); do
  grep -q '^ready' "$work/camsim.out" 2>/dev/null && break
  if ! kill -0 "$camsim_pid" 2>/dev/null; then
    echo "demo: zephrin-camsim did not start:" >&2
    cat "$work/camsim.err" >&2
    exit 1
  fi
  sleep 0.1
done
grep '^ready' "$work/camsim.out" || { echo "demo: zephrin-camsim is not ready" >&2; exit 1; }

params=()
if "$bin/zephrin-host" --help 2>&1 | grep -qw probe; then
  echo "=== zephrin-host probe: what the camera says it is"
  ZEPHRIN_PASSWORD="$password" "$bin/zephrin-host" probe --address "$address" --user "$user" --save "$work/camera.params"
  params=(--params "$work/camera.params")
else
  # Without the probe command, the properties the capability query would report for this camera.
  params=(--param 1=1 --param 2=3 --param 3=DH620 --param 4=2.4.1 --param 8=720p,d1,vga,cif,qvga --param 9=0)
fi

recording=$work/demo.mp4
snapshot=$work/demo.png
echo "=== zephrin-host record: $seconds s of H.264 at 1280x720, 30 frames per second, into an MP4 file"
ZEPHRIN_PASSWORD="$password" "$bin/zephrin-host" record --address "$address" --user "$user" --model "ELMO DH620" \
  "${params[@]}" --codec h264 --size 1280x720 --fps 30 --quality 60 --duration "$seconds" \
  --out "$recording"

echo "=== what was recorded"
ls -l "$recording"
echo "requests the camera saw:"
sed 's/^/  /' "$work/camsim-requests.log"
if command -v ffprobe >/dev/null; then
  echo "ffprobe of the recording:"
  ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,profile,width,height,nb_read_frames -of default=noprint_wrappers=1 \
    "$recording" | sed 's/^/  /'
  errors=$(ffmpeg -v error -i "$recording" -f null - 2>&1 | wc -l)
  echo "  decode errors: $errors"
fi
if command -v ffmpeg >/dev/null && ffmpeg -v error -y -i "$recording" -frames:v 1 "$snapshot" && [ -s "$snapshot" ]; then
  echo "=== one decoded frame as a picture"
else
  snapshot=""
  echo "demo: no picture of a frame (ffmpeg is missing or could not decode the recording)" >&2
fi
echo "recording: $recording"
[ -z "$snapshot" ] || echo "picture:   $snapshot"
echo "all files are in $work"
