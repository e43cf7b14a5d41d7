#!/usr/bin/python3
"""Many cameras at once, one recording host process: N cameras played by one light RTSP/RTP replayer
(tests/bench/rtsp_replayer.cpp, one loopback address per camera, all from one H.264 packet trace)
are recorded by one host process that loads the driver once and opens one driver per device
(tests/bench/multi_device_host.cpp), while ffmpeg (-rtsp_transport udp -c copy -f null, one process
per camera) reads the same cameras' second stream in the same run.

Table 1 (counts 1, 8, 32 by default): CPU seconds per stream-minute of the driver's host process and
of the ffmpeg processes (in the steady part, and over whole process lives with opening and closing), their ratios,
and the frames each received against the frames the replayer sent on its stream.
Before it, what one wake-up of a sleeping thread costs on this machine; under each row, the sleeps
(each ended by a wake-up) and preemptions per frame of the driver's threads and of ffmpeg's in the
steady part, and what the driver's sleeps cost at that price: the floor under its CPU figure.

Table 2 (--big N, default 128, 0 to skip): N cameras recorded by the host alone for --big-seconds
(default 60): frames lost, CPU per stream-minute, RSS per stream, threads, and the time the stop of
every stream and the close of every driver took.

--search looks for the largest number of cameras recorded without a lost frame (30 s runs, growing
from --search-from by --search-step until a run loses frames or a camera gets less than 95 % of its
frames in the second half of the run, then bisecting to within 8 cameras); it is long. The driver takes its local RTP ports
from 3556 to 4555, so at most 500 devices can stream at once.

Table 0 (--conditions S, default 20 s a row; 0 to skip): one zephrin-camsim camera (1280x720 H.264,
30 frames/s) per network condition, recorded by the host and decoded by ffmpeg (-rtsp_transport udp)
in the same run, each on its own stream of the same clip with the same seeded choice of late,
duplicated or lost packets: frames of each against the frames sent, decode errors (ffmpeg's own, and
those of ffmpeg decoding the frames the driver delivered), and the driver's longest gap between frames. Under the clean row, the latency from
a frame's last RTP packet leaving the camera to the host's OnFrame (median and 99th percentile; on
loopback leaving is arriving).

When a run ends the replayer first stops sending and reports its counts; the receivers are stopped
1.5 s later, so every frame sent had the time to arrive and "lost" means lost.

Run through tests/bench/multi_camera.sh (which builds what is needed); needs root, because every
camera listens on ports 554 and 80 of its own loopback address (127.0.1.1, 127.0.1.2, ...).
"""
import argparse
import bisect
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DRAIN_SECONDS = 1.5
SETTLE_SECONDS = 8.0
SEARCH_SECONDS = 30
SEARCH_RESOLUTION = 8
MAX_DEVICES = 500  # the driver's local RTP port pairs, 3556 to 4555
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def make_clip(directory, kbits):
    """A 1280x720 H.264 clip at about kbits kbit/s, in the cameras' clip format (Annex B with a
    delimiter before every picture, parameter sets before every IDR, one IDR per second)."""
    path = os.path.join(directory, "h264_1280x720.h264")
    subprocess.run(
        ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
         "testsrc2=size=1280x720:rate=25,noise=alls=12:allf=t", "-frames:v", "100", "-c:v", "libx264",
         "-profile:v", "baseline", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "25", "-keyint_min", "25",
         "-sc_threshold", "0", "-bf", "0", "-b:v", "%dk" % kbits, "-maxrate", "%dk" % kbits,
         "-bufsize", "%dk" % kbits, "-x264-params", "aud=1:repeat-headers=1", "-f", "h264", path],
        check=True)
    return path, os.path.getsize(path) * 8 * 25 / 100 / 1000.0  # kbit/s at 25 frames per second


def camera_parameters(bin_dir, directory):
    """The parameter list a simulated PTZ dome answers (what the driver reads before streaming)."""
    out_path = os.path.join(directory, "camsim-params.out")
    with open(out_path, "w+") as out:
        process = subprocess.Popen(
            [os.path.join(bin_dir, "zephrin-camsim"), "--address", "127.0.9.1", "--http-port", "0", "--no-rtsp",
             "--profile", "ptz-dome", "--auth", "none"], stdout=out, stderr=subprocess.STDOUT)
        try:
            deadline = time.time() + 30
            port = 0
            while time.time() < deadline and not port:
                out.seek(0)
                match = re.search(r"ready http=[\d.]+:(\d+)", out.read())
                port = int(match.group(1)) if match else 0
                if process.poll() is not None:
                    break
                time.sleep(0.1)
            if not port:
                raise RuntimeError("zephrin-camsim did not start (see %s)" % out_path)
            with urllib.request.urlopen("http://127.0.9.1:%d/cgi-bin/admin/param.cgi?action=list" % port,
                                        timeout=5) as answer:
                body = answer.read()
        finally:
            process.send_signal(signal.SIGTERM)
            process.wait()
    path = os.path.join(directory, "params.txt")
    with open(path, "wb") as f:
        f.write(body)
    return path


def process_cpu(pid):
    """CPU seconds a running process has used so far: the sum of its threads' run time in ns from
    schedstat (the user + system times of /proc/PID/stat come in 10 ms ticks, too coarse for one
    camera's few CPU-milliseconds per second), or those times where schedstat is missing."""
    total, seen = 0, False
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                    total += int(f.read().split()[0])
                    seen = True
            except (OSError, IndexError, ValueError):
                pass
    except OSError:
        return 0.0
    if seen:
        return total / 1e9
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS
    except (OSError, IndexError, ValueError):
        return 0.0


def process_switches(pid):
    """Context switches a running process's threads have made so far: (voluntary, involuntary). A
    voluntary switch is a thread going to sleep, so each one is followed by a wake-up."""
    voluntary = involuntary = 0
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return 0, 0
    for task in tasks:
        try:
            with open("/proc/%d/task/%s/status" % (pid, task)) as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches:"):
                        voluntary += int(line.split()[1])
                    elif line.startswith("nonvoluntary_ctxt_switches:"):
                        involuntary += int(line.split()[1])
        except (OSError, IndexError, ValueError):
            pass
    return voluntary, involuntary


def wait_with_usage(process, timeout=30):
    """Waits for a child and returns its CPU seconds (user + system)."""
    deadline = time.time() + timeout
    while True:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid:
            process.returncode = os.waitstatus_to_exitcode(status)
            return usage.ru_utime + usage.ru_stime
        if time.time() > deadline:
            process.kill()
            deadline = time.time() + 10
        time.sleep(0.05)


class Replayer:
    def __init__(self, tool, clip, params, count, first, log_dir):
        self.log = open(os.path.join(log_dir, "replayer-%d.err" % count), "w")
        # Real cameras send whatever load the recording host is under: the replayer runs at a higher
        # priority (nice -10) so that a saturated machine starves the host, not the cameras.
        self.process = subprocess.Popen(
            ["nice", "-n", "-10", tool, "--clip", clip, "--params", params, "--cameras", str(count), "--first", first],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log, text=True, bufsize=1)
        line = self.process.stdout.readline()
        if not line.startswith("ready"):
            raise RuntimeError("rtsp_replayer did not start: %r (see %s)" % (line, self.log.name))

    def command(self, line):
        """Sends a command (pause, pause PATH, status); returns ({(address, path): frames}, cpu seconds,
        wall seconds, late)."""
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        sent, cpu, wall, late = {}, 0.0, 0.0, 0
        for line in self.process.stdout:
            words = line.split()
            if words[:1] == ["sent"]:
                sent[(words[1], words[2])] = int(words[3])
            elif words[:1] == ["cpu"]:
                cpu, wall, late = float(words[1]) + float(words[2]), float(words[4]), int(words[8])
            elif words[:1] == ["end"]:
                break
        return sent, cpu, wall, late

    def stop(self):
        try:
            self.process.stdin.write("quit\n")
            self.process.stdin.close()
        except (BrokenPipeError, ValueError):
            pass
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.close()


def addresses(first, count):
    parts = [int(p) for p in first.split(".")]
    value = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3]
    out = []
    for _ in range(count):
        out.append("%d.%d.%d.%d" % (value >> 24, (value >> 16) & 255, (value >> 8) & 255, value & 255))
        value += 1
        while value & 255 in (0, 255):
            value += 1
    return out


def run(count, seconds, args, clip, params, log_dir, with_ffmpeg, perf_data=None, settle=None):
    """One run; returns a dict of figures. With perf_data, the host process is sampled by perf
    record during the steady part of the run."""
    load_before = os.getloadavg()
    replayer = Replayer(args.replayer, clip, params, count, args.first, log_dir)
    host = readers = None
    try:
        host_out = open(os.path.join(log_dir, "host-%d.out" % count), "w+")
        host_err = open(os.path.join(log_dir, "host-%d.err" % count), "w+")
        host = subprocess.Popen([args.host, "--first", args.first, "--devices", str(count), "--port", "80",
                                 "--library", os.path.join(args.bin, "libZephrin.so")],
                                stdin=subprocess.PIPE, stdout=host_out, stderr=host_err)
        readers = []
        if with_ffmpeg:
            for address in addresses(args.first, count):
                progress = os.path.join(log_dir, "ffmpeg-%d-%s.progress" % (count, address))
                readers.append((progress, subprocess.Popen(
                    ["ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", "udp", "-i",
                     "rtsp://%s:554/h264_2" % address, "-c", "copy", "-f", "null", "-progress", progress, "-"],
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)))
        # Steady state: from SETTLE_SECONDS after the start (ffmpeg has probed its stream, every
        # driver streams) to the end of sending, read from /proc for the host and every ffmpeg.
        settle = min(SETTLE_SECONDS, seconds / 3.0) if settle is None else settle
        time.sleep(settle)
        steady_begin = (process_cpu(host.pid), sum(process_cpu(reader.pid) for _, reader in readers), time.time(),
                        process_switches(host.pid), [process_switches(reader.pid) for _, reader in readers])
        steady_sent, _, _, _ = replayer.command("status")
        if perf_data:
            with open(os.path.join(log_dir, "perf-record.out"), "w") as out:
                subprocess.run(["perf", "record", "-q", "-g", "-F", "499", "-o", perf_data, "-p", str(host.pid), "--",
                                "sleep", "%.1f" % (seconds - settle)], stdout=out, stderr=subprocess.STDOUT)
        else:
            time.sleep(seconds - settle)
        steady_end = (process_cpu(host.pid), sum(process_cpu(reader.pid) for _, reader in readers), time.time(),
                      process_switches(host.pid), [process_switches(reader.pid) for _, reader in readers])
        # The driver's stream stops first; ffmpeg's goes on until ffmpeg has ended (it only notices an
        # interrupt when a packet arrives), and its count is read when its session has closed.
        sent, sender_cpu, sender_wall, late = replayer.command("pause h264")
        time.sleep(DRAIN_SECONDS)
        host.stdin.write(b"stop\n")
        host.stdin.flush()
        for _, reader in readers:
            reader.send_signal(signal.SIGINT)
        driver_cpu = wait_with_usage(host)
        ffmpeg_cpu = sum(wait_with_usage(reader) for _, reader in readers)
        if readers:
            time.sleep(0.5)
            final, _, _, _ = replayer.command("status")
            sent.update({key: n for key, n in final.items() if key[1] == "h264_2"})
        host = None
        host_out.seek(0)
        text = host_out.read()
        summary = dict(re.findall(r"(\w+)=([\d.]+)", text[text.find("summary"):])) if "summary" in text else {}
        received = {m.group(1): int(m.group(2)) for m in re.finditer(r"^device (\S+) frames (\d+)", text, re.M)}
        ffmpeg_frames = 0
        for progress, _ in readers:
            frames = re.findall(r"^frame=(\d+)", open(progress).read(), re.M) if os.path.exists(progress) else []
            ffmpeg_frames += int(frames[-1]) if frames else 0
        sent_driver = {a: n for (a, path), n in sent.items() if path == "h264"}
        lost_cameras = sum(1 for a in addresses(args.first, count) if received.get(a, 0) < sent_driver.get(a, 0))
        fewest_sent = min(sent_driver.get(a, 0) for a in addresses(args.first, count))
        # Frames sent to the camera that got the fewest in the steady part (all cameras up, sender pacing).
        steady_counts = [sent_driver.get(a, 0) - steady_sent.get((a, "h264"), 0) for a in addresses(args.first, count)]
        fewest_steady = min(steady_counts)
        steady_expected = 25 * (steady_end[2] - steady_begin[2])
        short_cameras = sum(1 for n in steady_counts if n < 0.95 * steady_expected)
        return {
            "count": count, "seconds": sender_wall, "driver_cpu": driver_cpu, "ffmpeg_cpu": ffmpeg_cpu,
            "driver_frames": sum(received.values()), "ffmpeg_frames": ffmpeg_frames,
            "sent_driver": sum(sent_driver.values()),
            "sent_ffmpeg": sum(n for (a, path), n in sent.items() if path == "h264_2"),
            "lost_cameras": lost_cameras, "fewest_sent": fewest_sent, "fewest_steady": fewest_steady,
            "short_cameras": short_cameras,
            "lost": sum(max(0, sent_driver.get(a, 0) - received.get(a, 0)) for a in addresses(args.first, count)),
            "steady_driver_cpu": steady_end[0] - steady_begin[0], "steady_ffmpeg_cpu": steady_end[1] - steady_begin[1],
            "steady_seconds": steady_end[2] - steady_begin[2], "steady_frames": sum(steady_counts),
            "steady_driver_switches": tuple(e - b for e, b in zip(steady_end[3], steady_begin[3])),
            "steady_ffmpeg_switches": tuple(sum(e[i] - b[i] for e, b in zip(steady_end[4], steady_begin[4])) for i in (0, 1)),
            "sender_cpu": sender_cpu, "late": late, "summary": summary,
            "load": (load_before, os.getloadavg()),
            "host_errors": host_err.name,
        }
    finally:
        if host is not None:
            host.kill()
            host.wait()
        for _, reader in readers or []:
            if reader.poll() is None:
                reader.kill()
                reader.wait()
        replayer.stop()


CONDITIONS = [  # (name, simulator options); fault rules name "*": both streams of the camera
    ("clean", []),
    ("10 % of RTP packets 1-15 ms late", ["--rtsp-fault", "* late=0.1"]),
    ("2 % of RTP packets duplicated", ["--rtsp-fault", "* dup=0.02"]),
    ("1 % of RTP packets lost", ["--rtsp-fault", "* loss=0.01"]),
    ("session kept only by GET_PARAMETER (timeout 5 s)", ["--keepalive", "get_parameter", "--session-timeout", "5"]),
    ("RTP from another address (source=)", ["--rtp-source", "127.0.2.201"]),
]


def decode_errors(text):
    """Slices the decoder could not decode (concatenated frames may end in a lone delimiter, which it
    also names: that is no damage)."""
    return sum(1 for line in text.splitlines() if "error while decoding MB" in line)


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))] if ordered else float("nan")


def run_condition(index, options, seconds, args, log_dir):
    """One camera with the condition: returns (sent to the driver, driver frames, driver decode errors,
    sent to ffmpeg, ffmpeg frames, ffmpeg decode errors, latencies in ms, the driver's longest gap
    between frames in s)."""
    address = "127.0.2.%d" % (index + 1)
    prefix = os.path.join(log_dir, "condition-%d" % index)
    camera = subprocess.Popen([os.path.join(args.bin, "zephrin-camsim"), "--address", address, "--profile", "ptz-dome",
                               "--auth", "none", "--packet-times", prefix + ".sent"] + options,
                              stdout=subprocess.PIPE, stderr=open(prefix + ".camsim.err", "w"), text=True)
    host = ffmpeg = None
    try:
        if not camera.stdout.readline().startswith("ready"):
            raise RuntimeError("zephrin-camsim did not start on %s (see %s.camsim.err)" % (address, prefix))
        host_out = open(prefix + ".host.out", "w+")
        host = subprocess.Popen([args.host, "--first", address, "--devices", "1", "--port", "80", "--record", prefix,
                                 "--library", os.path.join(args.bin, "libZephrin.so")],
                                stdin=subprocess.PIPE, stdout=host_out, stderr=open(prefix + ".host.err", "w"))
        ffmpeg_err = open(prefix + ".ffmpeg.err", "w+")
        ffmpeg = subprocess.Popen(["ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", "udp", "-i",
                                   "rtsp://%s:554/h264_2" % address, "-f", "null", "-progress", prefix + ".progress", "-"],
                                  stdout=subprocess.DEVNULL, stderr=ffmpeg_err)
        time.sleep(seconds)
        stop = time.monotonic_ns()
        host.stdin.write(b"stop\n")
        host.stdin.flush()
        ffmpeg.send_signal(signal.SIGINT)
        host.wait(30)
        ffmpeg.wait(30)
        host_out.seek(0)
        driver = re.search(r"^device \S+ frames (\d+)", host_out.read(), re.M)
        ffmpeg_err.seek(0)
        progress = re.findall(r"^frame=(\d+)", open(prefix + ".progress").read(), re.M)
        check = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "h264", "-i", prefix + ".frames", "-f", "null",
                                "-"], capture_output=True, text=True)
        sent = {"h264": [], "h264_2": []}  # when each frame's last packet left, by stream path
        with open(prefix + ".sent") as times:
            for line in times:
                path, _, at = line.partition(" ")
                if path in sent and int(at) <= stop:
                    sent[path].append(int(at))
        left = sent["h264"]
        latencies = []
        arrivals = [int(line) for line in open(prefix + ".times")]
        for arrived in arrivals:
            at = bisect.bisect_right(left, arrived)
            if at:
                latencies.append((arrived - left[at - 1]) / 1e6)
        gap = max((b - a for a, b in zip(arrivals, arrivals[1:] + [stop])), default=seconds * 10**9) / 1e9
        return (len(sent["h264"]), int(driver.group(1)) if driver else 0, decode_errors(check.stderr), len(sent["h264_2"]),
                int(progress[-1]) if progress else 0, decode_errors(ffmpeg_err.read()), latencies, gap)
    finally:
        for process in (host, ffmpeg, camera):
            if process is not None and process.poll() is None:
                process.kill()
                process.wait()


def print_conditions(seconds, args, log_dir):
    print("condition (%d s) | driver: frames/sent, decode errors | ffmpeg: frames/sent, decode errors | "
          "driver's longest gap" % seconds)
    for index, (name, options) in enumerate(CONDITIONS):
        sent, frames, errors, ffmpeg_sent, ffmpeg_frames, ffmpeg_errors, latencies, gap = run_condition(
            index, options, seconds, args, log_dir)
        print("%-50s | %5d/%5d (%5.1f %%), %3d | %5d/%5d (%5.1f %%), %3d | %5.2f s" % (
            name, frames, sent, 100.0 * frames / max(1, sent), errors, ffmpeg_frames, ffmpeg_sent,
            100.0 * ffmpeg_frames / max(1, ffmpeg_sent), ffmpeg_errors, gap), flush=True)
        if not options:
            print("  latency, last packet sent -> OnFrame: median %.2f ms, 99th percentile %.2f ms (%d frames)" % (
                percentile(latencies, 0.5), percentile(latencies, 0.99), len(latencies)), flush=True)


def load_text(load):
    return "load %.1f/%.1f/%.1f -> %.1f/%.1f/%.1f" % (load[0] + load[1])


def wake_cost(bin_dir):
    """CPU microseconds one wake-up of a sleeping thread costs on this machine (tests/bench/wake_cost.cpp):
    each time a frame wakes a thread on its way from the socket to the host, this is added to the
    driver's CPU figure."""
    line = subprocess.run([os.path.join(bin_dir, "wake_cost"), "--seconds", "5", "--fps", "25"],
                          capture_output=True, text=True, check=True).stdout
    fields = dict(field.split("=", 1) for field in line.split()[1:])
    print("one wake-up of a sleeping thread costs %s us of CPU here: %s s/stream-min for each wake-up per frame "
          "at 25 frames/s" % (fields["us_per_wakeup"], fields["s_per_stream_min_per_wakeup_per_frame"]))
    return {key: float(fields[key]) for key in ("us_per_wakeup", "s_per_stream_min_per_wakeup_per_frame")}


def print_small(result, wake=None):
    r = result
    minutes = r["count"] * r["seconds"] / 60.0
    steady_minutes = r["count"] * r["steady_seconds"] / 60.0
    streams = r["count"] * (2 if r["sent_ffmpeg"] else 1)
    print("%7d | %6.3f | %6.3f | %5.2f | %6.3f | %6.3f | %5.2f | %7d/%-7d | %7d/%-7d | %6.3f  | %s" % (
        r["count"], r["steady_driver_cpu"] / steady_minutes, r["steady_ffmpeg_cpu"] / steady_minutes,
        r["steady_driver_cpu"] / r["steady_ffmpeg_cpu"] if r["steady_ffmpeg_cpu"] else float("nan"),
        r["driver_cpu"] / minutes, r["ffmpeg_cpu"] / minutes,
        r["driver_cpu"] / r["ffmpeg_cpu"] if r["ffmpeg_cpu"] else float("nan"),
        r["driver_frames"], r["sent_driver"], r["ffmpeg_frames"], r["sent_ffmpeg"],
        r["sender_cpu"] / (streams * r["seconds"] / 60.0), load_text(r["load"])), flush=True)
    if wake and r["steady_frames"]:
        # Sleeps (voluntary switches) per frame: the wake-ups the driver's threads pay for; every
        # stream's frames wake its threads, so the count is per frame of one stream (ffmpeg's streams
        # carry the same frames at the same pace).
        frames = float(r["steady_frames"])
        driver, ffmpeg = r["steady_driver_switches"], r["steady_ffmpeg_switches"]
        print("        steady, per frame: driver %.1f sleeps (+%.1f preemptions), ffmpeg %.1f (+%.1f); the driver's "
              "sleeps at %.0f us each: %.3f s/stream-min" % (
                  driver[0] / frames, driver[1] / frames, ffmpeg[0] / frames, ffmpeg[1] / frames,
                  wake["us_per_wakeup"], driver[0] / frames * wake["s_per_stream_min_per_wakeup_per_frame"]),
              flush=True)


def print_big(result):
    r, s = result, result["summary"]
    n = r["count"]
    minutes = n * r["seconds"] / 60.0
    rss_per_stream = (float(s.get("rss_kb", 0)) - float(s.get("rss_before_kb", 0))) / n / 1024.0
    print("%d cameras, one host process, %.0f s: frames %d of %d sent, lost %d (%d cameras with loss); "
          "%d cameras got under 95 %% of their frames after the first %.0f s" % (
              n, r["seconds"], r["driver_frames"], r["sent_driver"], r["lost"], r["lost_cameras"], r["short_cameras"],
              r["seconds"] - r["steady_seconds"]))
    print("  driver CPU %.3f s/stream-min (process total %.1f s; streaming window %.1f s = %.3f s/stream-min)" % (
        r["driver_cpu"] / minutes, r["driver_cpu"], float(s.get("cpu_window_s", 0)),
        float(s.get("cpu_window_s", 0)) / (n * float(s.get("window_s", 1)) / 60.0)))
    print("  RSS %.1f MB per stream (%.0f MB with %d streams, %.0f MB before the drivers), threads %s (%.1f per device)" % (
        rss_per_stream, float(s.get("rss_kb", 0)) / 1024.0, n, float(s.get("rss_before_kb", 0)) / 1024.0,
        s.get("threads", "?"), (float(s.get("threads", 0)) - float(s.get("threads_before", 0))) / n))
    print("  start %.2f s; stop of all streams %.2f s + close of all drivers %.2f s = %.2f s" % (
        float(s.get("start_s", 0)), float(s.get("stop_s", 0)), float(s.get("close_s", 0)),
        float(s.get("stop_s", 0)) + float(s.get("close_s", 0))))
    print("  driver log: %s errors, %s warnings (first lines in %s)" % (
        s.get("log_errors", "?"), s.get("log_warnings", "?"), r["host_errors"]))
    print("  sender: %.1f CPU s in %.0f s (%.1f%% of one core), %d late pacing resets; %s" % (
        r["sender_cpu"], r["seconds"], 100.0 * r["sender_cpu"] / r["seconds"], r["late"], load_text(r["load"])),
        flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("counts", nargs="*", type=int, default=[1, 8, 32], help="numbers of cameras of table 1 (default 1 8 32; 0: no table 1)")
    parser.add_argument("--seconds", type=int, default=30, help="recording time of each run of table 1 (default 30; at least 10 for a steady figure)")
    parser.add_argument("--kbits", type=int, default=3000, help="bit rate of each camera's stream (default 3000)")
    parser.add_argument("--big", type=int, default=128, help="cameras of the one-process run (default 128; 0: none)")
    parser.add_argument("--big-seconds", type=int, default=60, help="recording time of that run (default 60)")
    parser.add_argument("--search", action="store_true", help="then search the largest count without loss (long)")
    parser.add_argument("--search-from", type=int, default=128, help="first count of the search (default 128)")
    parser.add_argument("--search-step", type=int, default=64, help="step while no count has failed (default 64)")
    parser.add_argument("--perf", type=int, default=0, help="then profile the host with perf record at this many "
                        "cameras (host alone, --seconds long; 0: no profile)")
    parser.add_argument("--perf-top", type=int, default=30, help="symbols shown from the profile (default 30)")
    parser.add_argument("--conditions", type=int, default=20, help="seconds of each network-condition run of "
                        "table 0 (default 20; 0: no table 0)")
    parser.add_argument("--first", default="127.0.1.1", help="address of the first camera (default 127.0.1.1)")
    parser.add_argument("--bin", default=os.path.join(SOURCE_DIR, "build", "default", "bin"))
    args = parser.parse_args()
    args.counts = [count for count in args.counts if count > 0]
    args.host = os.path.join(args.bin, "multi_device_host")
    args.replayer = os.path.join(args.bin, "rtsp_replayer")
    if os.geteuid() != 0:
        print("multi_camera: needs root (each camera listens on ports 554 and 80 of its own address)", file=sys.stderr)
        return 1
    files = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (files[1], files[1]))
    work = tempfile.mkdtemp(prefix="zephrin-bench-")
    try:
        clip, rate = make_clip(work, args.kbits)
        params = camera_parameters(args.bin, work)
        print("clip: H.264 1280x720, 25 frames/s, %.0f kbit/s; %d s per run; 2 cores (%s); logs in %s" % (
            rate, args.seconds, load_text((os.getloadavg(), os.getloadavg())).split(" -> ")[0], work))
        if args.conditions:
            print_conditions(args.conditions, args, work)
        if args.counts:
            wake = wake_cost(args.bin)
            print("CPU s/stream-min: 'steady' from %.0f s (at most a third of the run) after the start to the end of sending; 'whole' over the "
                  "processes' lives (opening, ffmpeg's probing, stop and close included)" % SETTLE_SECONDS)
            print("cameras | steady: driver | ffmpeg | ratio | whole: driver | ffmpeg | ratio | frames driver/sent | "
                  "ffmpeg/sent | sender CPU s/stream-min | machine load before -> after")
        for count in args.counts:
            print_small(run(count, args.seconds, args, clip, params, work, True), wake)
        if args.big:
            print_big(run(args.big, args.big_seconds, args, clip, params, work, False))
        if args.perf:
            perf_data = os.path.join(work, "perf-%d.data" % args.perf)
            result = run(args.perf, args.seconds, args, clip, params, work, False, perf_data)
            print("perf record of the host process, %d cameras, %.0f s of steady streaming: %d of %d frames, "
                  "%.3f CPU s/stream-min over the run" % (
                      args.perf, result["steady_seconds"], result["driver_frames"], result["sent_driver"],
                      result["driver_cpu"] / (args.perf * result["seconds"] / 60.0)))
            for sort, limit in (("dso", 8), ("dso,symbol", args.perf_top)):
                report = subprocess.run(["perf", "report", "-i", perf_data, "--stdio", "--no-children", "-g", "none", "--sort", sort,
                                         "--percent-limit", "0.3"], capture_output=True, text=True).stdout
                rows = [line for line in report.splitlines() if line.strip() and not line.startswith("#")]
                print("  by %s:" % sort)
                for line in rows[:limit]:
                    print("    " + " ".join(line.split()).rstrip(" -"))
            print("  (kernel stacks and the whole profile: perf report -i %s; kept with ZEPHRIN_BENCH_KEEP=1)" % perf_data)
            sys.stdout.flush()
        if args.search:
            good, bad, count = 0, None, args.search_from
            while True:
                result = run(count, SEARCH_SECONDS, args, clip, params, work, False, settle=SEARCH_SECONDS / 2.0)
                # A count passes when no frame was lost and every camera got at least 95 % of its frames
                # (25 per second) in the second half of the run: a camera that came up late or never, or
                # a sender that could not keep the pace, fails it too.
                expected = 25 * result["steady_seconds"]
                late = result["fewest_steady"] < 0.95 * expected
                lost = result["lost"] > 0 or late
                print("  search: %d cameras: %d lost of %d sent; second half: fewest frames sent to one camera %d of "
                      "%.0f, %d cameras under 95 %%%s; driver %.3f CPU s/stream-min, sender %.0f%% of a core, "
                      "%d pacing resets, %s" % (
                          count, result["lost"], result["sent_driver"], result["fewest_steady"], expected,
                          result["short_cameras"], " (late camera or sender)" if late else "",
                          result["driver_cpu"] / (count * result["seconds"] / 60.0),
                          100.0 * result["sender_cpu"] / result["seconds"], result["late"], load_text(result["load"])),
                      flush=True)
                if lost:
                    bad = count if bad is None else min(bad, count)
                else:
                    good = max(good, count)
                if bad is None:
                    following = min(count + args.search_step, MAX_DEVICES)
                elif bad - good <= SEARCH_RESOLUTION:
                    break
                else:
                    following = (good + bad) // 2
                if following == count:
                    break
                count = following
            print("largest count without loss: %d%s" % (
                good, " (none found)" if not good else " (the most the driver's port range allows)"
                if good == MAX_DEVICES else ""), flush=True)
    finally:
        if not os.environ.get("ZEPHRIN_BENCH_KEEP"):
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
