#!/bin/sh
# Regenerates the committed clips that zephrin-camsim streams in a loop. Run once; the output is
# committed so that the simulator needs no encoder at run time.
#   H.264: Annex B byte stream, baseline profile, no B-frames, an access unit delimiter before every
#          picture, SPS/PPS before every IDR, one IDR per second (the loop restarts on an IDR).
#   JPEG:  concatenated baseline 4:2:0 JFIF pictures.
#   MPEG-4: part 2 simple profile elementary stream, no B-frames, headers before every I-VOP.
set -eu
cd "$(dirname "$0")/clips"
pattern() {  # colour bars with a white square moving across, easy to compress
  echo "smptebars=size=$1:rate=25[a];color=white:size=32x32:rate=25[b];[a][b]overlay=x='mod(n*8,W-32)':y=H/3:shortest=1"
}
ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }
for size in 320x240 640x480 1280x720; do
  ff -f lavfi -i "$(pattern $size)" -frames:v 50 -c:v libx264 -profile:v baseline -preset veryfast \
     -pix_fmt yuv420p -g 25 -keyint_min 25 -sc_threshold 0 -bf 0 -b:v 120k \
     -x264-params aud=1:repeat-headers=1 -f h264 "h264_$size.h264"
done
for size in 320x240 640x480; do
  ff -f lavfi -i "$(pattern $size)" -frames:v 10 -c:v mjpeg -huffman default -pix_fmt yuvj420p -q:v 10 -f mjpeg "jpeg_$size.mjpeg"
  ff -f lavfi -i "$(pattern $size)" -frames:v 50 -c:v mpeg4 -bf 0 -g 25 -b:v 120k -f m4v "mpeg4_$size.m4v"
done
ls -l
