#!/usr/bin/env python3
"""Records from the camera simulator through the plain-C host and Zephrin.dll under Wine, then has
ffmpeg decode the recording: every frame must decode without an error.

The simulator stays a Linux process on its own loopback address (the driver opens RTSP on port 554
of the device, so this needs root; without it the test is skipped); the Windows host reaches it
there.

Usage: run_c_host.py --library ZEPHRIN.DLL --camsim CAMSIM.PY --out DIR -- WINE... C_HOST.EXE
(WINE... is the command that runs a Windows program, with its arguments)
"""
import argparse
import os
import pathlib
import re
import select
import subprocess
import sys
import time

SKIP = 77
ADDRESS = "127.0.0.61"
SECONDS = "4"
# The host parameters a capability query reports for the simulator's ptz-dome profile.
PARAMETERS = ["1=1", "2=3", "3=DH620", "4=2.4.1", "8=720p,d1,vga,cif,qvga", "9=0"]


def windows_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def start_camera(camsim):
    command = ["/usr/bin/python3", camsim, "--address", ADDRESS, "--http-port", "0", "--rtsp-port", "554",
               "--profile", "ptz-dome", "--user", "operator", "--password", "secret", "--auth", "digest"]
    camera = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        ready, _, _ = select.select([camera.stdout], [], [], 0.5)
        if ready:
            line = camera.stdout.readline()
            if not line:
                break
            match = re.search(r"ready http=[\d.]+:(\d+)", line)
            if match:
                return camera, int(match.group(1))
    camera.kill()
    camera.wait()
    raise RuntimeError(f"zephrin-camsim did not become ready on {ADDRESS}")


def decode(path):
    """(frames decoded, ffmpeg's error output)."""
    run = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "h264", "-i", str(path), "-f", "framemd5", "-"],
                         capture_output=True, text=True)
    frames = [line for line in run.stdout.splitlines() if line and not line.startswith("#")]
    errors = run.stderr.strip()
    if run.returncode != 0 and not errors:
        errors = f"ffmpeg exited with {run.returncode}"
    return len(frames), errors


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--library", "--camsim", "--out"):
        parser.add_argument(option, required=True)
    parser.add_argument("host", nargs="+", help="the command that runs the C host under Wine")
    args = parser.parse_args(argv[1:])
    if os.geteuid() != 0:
        print("skipped: the simulated camera needs root to listen on RTSP port 554 of its loopback address")
        return SKIP
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    recording = out / "c_host.h264"
    recording.unlink(missing_ok=True)

    camera, http_port = start_camera(args.camsim)
    try:
        environment = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        environment.pop("DISPLAY", None)
        command = [*args.host, windows_path(args.library), ADDRESS, str(http_port), "operator", "secret",
                   "ELMO DH620", windows_path(recording), SECONDS, *PARAMETERS]
        host = subprocess.run(command, capture_output=True, text=True, env=environment, timeout=120)
    finally:
        camera.terminate()
        try:
            camera.wait(timeout=10)
        except subprocess.TimeoutExpired:
            camera.kill()
            camera.wait()
    sys.stdout.write(host.stdout)
    sys.stderr.write(host.stderr)
    if host.returncode != 0:
        print(f"the C host exited with {host.returncode}")
        return 1
    match = re.search(r"recorded (\d+) frames \((\d+) H\.264\)", host.stdout)
    if not match or int(match.group(2)) == 0:
        print("the C host recorded no H.264 frame")
        return 1
    recorded = int(match.group(2))
    frames, errors = decode(recording)
    print(f"ffmpeg decoded {frames} of the {recorded} frames the host recorded")
    if errors:
        print(f"ffmpeg reported errors:\n{errors}")
        return 1
    if frames != recorded:
        print("ffmpeg did not decode one picture per recorded frame")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
