"""What an installation of Zephrin gives its users, and what zephrin-host writes for them.

    python3 test_package.py BUILD_DIR SOURCE_DIR [unittest arguments, e.g. InstallLayout]

InstallLayout installs the build into a staging directory and checks where everything lands;
SdkHost builds a small host out of tree with find_package(Zephrin) against that staging directory
and runs the capability query through the installed driver against zephrin-camsim; DebianPackages
builds the packages with cpack and reads their contents and dependencies; Passwords runs
zephrin-host with the password from each of its sources; DeviceOptions checks that its four commands
read the camera's options by one rule; Recordings (as root: the camera's RTSP
port is 554) records MP4 and Matroska files and checks them with ffprobe.
"""
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

BUILD = SOURCE = ""
SKIP = 77  # ctest's SKIP_RETURN_CODE for this program


def run(args, env=None, timeout=120, check=True):
    result = subprocess.run(args, capture_output=True, text=True, env=env, timeout=timeout)
    if check and result.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s\n%s" % (" ".join(args), result.returncode, result.stdout,
                                                          result.stderr))
    return result


def stage_install(prefix):
    run(["cmake", "--install", BUILD, "--prefix", prefix])


class CamSim:
    """zephrin-camsim on a loopback address; its HTTP port is picked free unless given."""

    def __init__(self, address, profile, password="admin", rtsp=False):
        args = [os.path.join(BUILD, "bin", "zephrin-camsim"), "--address", address, "--profile", profile,
                "--password", password, "--http-port", "0"]
        if not rtsp:
            args.append("--no-rtsp")
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], 30)
        line = self.proc.stdout.readline() if ready else ""
        match = re.match(r"ready http=([\d.]+):(\d+)", line)
        if not match:
            self.stop()
            raise AssertionError("zephrin-camsim did not start: %r %s" % (line, self.proc.stderr.read()))
        self.address, self.port = match.group(1), int(match.group(2))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()


class InstallLayout(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stage = tempfile.mkdtemp(prefix="zephrin-stage-")
        stage_install(cls.stage)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.stage, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.stage, *parts)

    def libdir(self):
        # GNUInstallDirs: lib, lib64 or lib/<multiarch>, by where the build was configured to install.
        for candidate in ("lib", "lib64", os.path.join("lib", "x86_64-linux-gnu")):
            if os.path.exists(self.path(candidate, "libZephrin.so")):
                return candidate
        self.fail("no libZephrin.so under %s" % self.stage)

    def test_libraries_carry_their_soname_and_version_and_the_link_name_points_at_them(self):
        lib = self.libdir()
        for name in ("Zephrin", "Wendrick"):
            real = self.path(lib, "lib%s.so.1.0.0" % name)
            self.assertTrue(os.path.isfile(real) and not os.path.islink(real), real)
            self.assertEqual(os.readlink(self.path(lib, "lib%s.so.1" % name)), "lib%s.so.1.0.0" % name)
            self.assertEqual(os.path.realpath(self.path(lib, "lib%s.so" % name)), os.path.realpath(real))
            dynamic = run(["readelf", "-d", real]).stdout
            self.assertIn("Library soname: [lib%s.so.1]" % name, dynamic)

    def test_data_tools_manual_pages_and_sdk_are_in_place(self):
        for part in (("share", "zephrin", "Zephrin.dat"), ("bin", "zephrin-host"), ("bin", "zephrin-camsim"),
                     ("share", "zephrin", "camsim", "camsim.py"), ("include", "zephrin", "HostInterfaces.h"),
                     (self.libdir(), "cmake", "Zephrin", "ZephrinConfig.cmake"),
                     (self.libdir(), "cmake", "Zephrin", "ZephrinConfigVersion.cmake"),
                     (self.libdir(), "pkgconfig", "zephrin.pc")):
            self.assertTrue(os.path.isfile(self.path(*part)), os.path.join(*part))
        for tool in ("zephrin-host", "zephrin-camsim"):
            self.assertTrue(os.access(self.path("bin", tool), os.X_OK), tool)
            page = run(["sh", "-c", "gzip -dc '%s'" % self.path("share", "man", "man1", tool + ".1.gz")]).stdout
            self.assertIn(".TH " + tool.upper(), page)
        # The host's page holds every command's options, the password sources among them.
        page = run(["sh", "-c", "gzip -dc '%s'" % self.path("share", "man", "man1", "zephrin-host.1.gz")]).stdout
        for text in ("record", "probe", "ptz", "io", "--password-file F", "ZEPHRIN_PASSWORD"):
            self.assertIn(text, page)
        self.assertFalse(os.path.exists(self.path("share", "zephrin", "camsim", "test_camsim.py")))

    def test_pkg_config_answers_for_the_place_it_was_installed_to(self):
        env = dict(os.environ, PKG_CONFIG_PATH=self.path(self.libdir(), "pkgconfig"))
        cflags = run(["pkg-config", "--cflags", "zephrin"], env=env).stdout.split()
        libs = run(["pkg-config", "--libs", "zephrin"], env=env).stdout.split()
        self.assertEqual(len(cflags), 1)
        self.assertEqual(os.path.realpath(cflags[0][2:]), os.path.realpath(self.path("include")))
        self.assertIn("-lZephrin", libs)
        self.assertEqual(run(["pkg-config", "--modversion", "zephrin"], env=env).stdout.strip(), "1.0.0")

    def test_installed_host_loads_the_installed_driver(self):
        # Nothing listens on port 9 of 127.0.0.1: the query fails, but only after the driver loaded.
        result = run([self.path("bin", "zephrin-host"), "probe", "--address", "127.0.0.1", "--port", "9",
                      "--timeout", "20"], check=False, env=dict(os.environ, ZEPHRIN_PASSWORD="x"))
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertNotIn("cannot load", result.stderr)


class DebianPackages(unittest.TestCase):
    """cpack builds the three packages with their files and dependencies."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="zephrin-deb-")
        run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", cls.work],
            timeout=600)
        cls.debs = {}
        for name in os.listdir(cls.work):
            if name.endswith(".deb"):
                cls.debs[run(["dpkg-deb", "-f", os.path.join(cls.work, name), "Package"]).stdout.strip()] = \
                    os.path.join(cls.work, name)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def contents(self, package):
        listing = run(["dpkg-deb", "-c", self.debs[package]]).stdout
        return [line.split()[5].lstrip(".") for line in listing.splitlines()]

    def depends(self, package):
        return run(["dpkg-deb", "-f", self.debs[package], "Depends"]).stdout

    def test_each_package_holds_its_part_of_the_installation(self):
        self.assertEqual(sorted(self.debs), ["zephrin", "zephrin-dev", "zephrin-tools"])
        driver, tools, sdk = self.contents("zephrin"), self.contents("zephrin-tools"), self.contents("zephrin-dev")
        self.assertIn("/usr/share/zephrin/Zephrin.dat", driver)
        self.assertTrue(any(re.search(r"/libZephrin\.so\.1\.0\.0$", f) for f in driver), driver)
        self.assertTrue(any(re.search(r"/libWendrick\.so\.1$", f) for f in driver), driver)
        self.assertFalse(any(re.search(r"\.so$", f) for f in driver), "link names belong to the SDK")
        for path in ("/usr/bin/zephrin-host", "/usr/bin/zephrin-camsim", "/usr/share/man/man1/zephrin-host.1.gz",
                     "/usr/share/man/man1/zephrin-camsim.1.gz", "/usr/share/zephrin/camsim/camsim.py"):
            self.assertIn(path, tools)
        self.assertIn("/usr/include/zephrin/HostInterfaces.h", sdk)
        self.assertTrue(any(f.endswith("/cmake/Zephrin/ZephrinConfig.cmake") for f in sdk), sdk)
        self.assertTrue(any(re.search(r"/libZephrin\.so$", f) for f in sdk), sdk)

    def test_dependencies_are_declared(self):
        self.assertIn("libcurl4", self.depends("zephrin"))
        self.assertIn("libpugixml", self.depends("zephrin"))
        tools = self.depends("zephrin-tools")
        for package in ("zephrin (= ", "python3-gi", "gir1.2-gst-rtsp-server-1.0", "gstreamer1.0-plugins-ugly",
                        "libavformat"):
            self.assertIn(package, tools)
        self.assertIn("zephrin (= ", self.depends("zephrin-dev"))


class SdkHost(unittest.TestCase):
    def test_out_of_tree_host_finds_the_sdk_and_queries_a_camera_through_the_installed_driver(self):
        work = tempfile.mkdtemp(prefix="zephrin-sdk-")
        camera = None
        try:
            stage = os.path.join(work, "stage")
            stage_install(stage)
            build = os.path.join(work, "build")
            run(["cmake", "-S", os.path.join(SOURCE, "tests", "package", "sdk_host"), "-B", build,
                 "-DCMAKE_PREFIX_PATH=" + stage])
            run(["cmake", "--build", build])
            camera = CamSim("127.0.3.1", "planet", password="sdk-secret")
            result = run([os.path.join(build, "sdk_host"), camera.address, str(camera.port), "admin", "sdk-secret"])
            driver = re.search(r"^driver: (.*)$", result.stdout, re.M).group(1)
            self.assertTrue(os.path.realpath(driver).startswith(os.path.realpath(stage) + os.sep), driver)
            self.assertIn("query: succeeded", result.stdout)
            self.assertIn("model: Planet ICA-HM131", result.stdout)
            self.assertIn("resolution: 1920x1080 1920x1080", result.stdout)
            failed = run([os.path.join(build, "sdk_host"), camera.address, str(camera.port), "admin", "wrong"],
                         check=False)
            self.assertEqual(failed.returncode, 1, failed.stdout)
            self.assertIn("query: failed", failed.stdout)
        finally:
            if camera:
                camera.stop()
            shutil.rmtree(work, ignore_errors=True)


class Passwords(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.camera = CamSim("127.0.3.2", "planet", password="s3cret")
        cls.work = tempfile.mkdtemp(prefix="zephrin-password-")

    @classmethod
    def tearDownClass(cls):
        cls.camera.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def probe(self, *args, env_password=None):
        env = dict(os.environ)
        env.pop("ZEPHRIN_PASSWORD", None)
        if env_password is not None:
            env["ZEPHRIN_PASSWORD"] = env_password
        return run([os.path.join(BUILD, "bin", "zephrin-host"), "probe", "--address", self.camera.address, "--port",
                    str(self.camera.port), "--json"] + list(args), env=env, check=False)

    def file_with(self, text):
        path = os.path.join(self.work, "password-%d" % len(os.listdir(self.work)))
        with open(path, "w") as out:
            out.write(text)
        return path

    def test_file_and_environment_give_the_password_without_a_warning(self):
        for result in (self.probe("--password-file", self.file_with("s3cret\n")),
                       self.probe("--password-file", self.file_with("s3cret\r\nignored\n")),
                       self.probe(env_password="s3cret")):
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(json.loads(result.stdout)["outcome"], "succeeded")
            self.assertNotIn("warning", result.stderr)

    def test_command_line_password_works_and_is_warned_about_once(self):
        result = self.probe("--password", "wrong", "--password", "s3cret")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr.count("warning: --password"), 1, result.stderr)

    def test_options_win_over_the_environment_and_a_missing_file_is_an_error(self):
        self.assertEqual(self.probe("--password-file", self.file_with("s3cret"), env_password="wrong").returncode, 0)
        self.assertEqual(self.probe(env_password="wrong").returncode, 1)
        missing = self.probe("--password-file", os.path.join(self.work, "none"), env_password="s3cret")
        self.assertEqual(missing.returncode, 2)
        self.assertIn("cannot read the password file", missing.stderr)


class DeviceOptions(unittest.TestCase):
    """Every command reads the camera's options by one rule and says what is wrong in the same words."""

    COMMANDS = {"probe": [], "record": [], "ptz": ["stop"], "io": []}

    def host(self, command, *options):
        env = dict(os.environ, ZEPHRIN_PASSWORD="admin")
        return run([os.path.join(BUILD, "bin", "zephrin-host"), command] + list(options) + self.COMMANDS[command],
                   env=env, check=False, timeout=30)

    def test_each_command_refuses_the_same_device_options_with_the_same_words(self):
        refused = {("--address", "cam", "--port", "0"): "--port needs a number from 1 to 65535, not '0'",
                   ("--address", "cam", "--port", "65536"): "--port needs a number from 1 to 65535, not '65536'",
                   ("--address", "cam", "--port", "-5"): "--port needs a number from 1 to 65535, not '-5'",
                   ("--address", "cam", "--port", "80x"): "--port needs a number from 1 to 65535, not '80x'",
                   ("--port", "80"): "--address is required"}
        for command in self.COMMANDS:
            for options, words in refused.items():
                result = self.host(command, *options)
                self.assertEqual(result.returncode, 2, (command, options, result.stderr))
                self.assertIn("zephrin-host %s: %s\n" % (command, words), result.stderr)

    def test_each_command_takes_both_ends_of_the_port_range_and_goes_on_to_load_the_driver(self):
        missing = os.path.join(BUILD, "no-such-driver.so")
        for command in self.COMMANDS:
            for port in ("1", "65535"):
                result = self.host(command, "--address", "cam", "--port", port, "--library", missing)
                self.assertNotEqual(result.returncode, 2, (command, port, result.stderr))
                self.assertIn("zephrin-host %s: cannot load %s" % (command, missing), result.stderr)


class Recordings(unittest.TestCase):
    """zephrin-host record into containers; ffprobe reads codec, size, frames and duration back."""

    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0:
            raise unittest.SkipTest("the simulated camera's RTSP port 554 needs root")
        cls.work = tempfile.mkdtemp(prefix="zephrin-record-")
        cls.stage = os.path.join(cls.work, "stage")
        stage_install(cls.stage)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def record(self, address, profile, codec, name, size="640x480", host_dir=None):
        camera = CamSim(address, profile, rtsp=True)
        try:
            host = os.path.join(host_dir or os.path.join(BUILD, "bin"), "zephrin-host")
            params = os.path.join(self.work, profile + ".params")
            common = ["--address", camera.address, "--port", str(camera.port)]
            env = dict(os.environ, ZEPHRIN_PASSWORD="admin")
            run([host, "probe"] + common + ["--save", params], env=env)
            out = os.path.join(self.work, name)
            result = run([host, "record"] + common + ["--params", params, "--codec", codec, "--size", size,
                                                       "--duration", "5", "--progress", "0", "--out", out],
                         env=env, timeout=60)
        finally:
            camera.stop()
        summary = re.search(r"(\d+) frames in .* lasting ([\d.]+) s", result.stdout)
        self.assertIsNotNone(summary, result.stdout)
        picture = re.search(r"^  (\d+)x(\d+): \d+ frames$", result.stdout, re.M)
        probe = json.loads(run(["ffprobe", "-v", "error", "-count_frames", "-show_entries",
                                "stream=codec_name,width,height,nb_read_frames:format=duration,format_name",
                                "-of", "json", out]).stdout)
        self.last_log = result.stderr
        return int(summary.group(1)), float(summary.group(2)), (int(picture.group(1)), int(picture.group(2))), probe

    def check(self, recorded, codec, container):
        frames, seconds, size, probe = recorded
        stream = probe["streams"][0]
        self.assertIn(container, probe["format"]["format_name"])
        self.assertEqual(stream["codec_name"], codec)
        self.assertEqual((stream["width"], stream["height"]), size)
        self.assertGreater(frames, 3)
        self.assertEqual(int(stream["nb_read_frames"]), frames)
        # The file lasts as long as the driver's frame times say, to within one frame interval.
        interval = seconds / frames
        self.assertAlmostEqual(float(probe["format"]["duration"]), seconds, delta=interval)
        self.assertLess(seconds, 5 + interval)

    def test_h264_into_mp4_by_the_installed_host_and_driver(self):
        # A multi-stream camera makes the driver read its resolution database: the installed one.
        self.check(self.record("127.0.3.3", "multistream8", "h264", "h264.mp4", size="1280x720",
                               host_dir=os.path.join(self.stage, "bin")), "h264", "mp4")
        database = re.search(r"resolution database (\S+) \(in the installed data directory\)", self.last_log)
        self.assertIsNotNone(database, self.last_log)
        self.assertTrue(os.path.realpath(database.group(1)).startswith(os.path.realpath(self.stage) + os.sep))

    def test_h264_and_jpeg_into_matroska(self):
        self.check(self.record("127.0.3.4", "ptz-dome", "h264", "h264.mkv"), "h264", "matroska")
        self.check(self.record("127.0.3.4", "ptz-dome", "jpeg", "jpeg.mkv"), "mjpeg", "matroska")

    def test_mpeg4_into_matroska_and_mp4(self):
        self.check(self.record("127.0.3.5", "box-mpeg4", "mpeg4", "mpeg4.mkv"), "mpeg4", "matroska")
        self.check(self.record("127.0.3.5", "box-mpeg4", "mpeg4", "mpeg4.mp4"), "mpeg4", "mp4")


if __name__ == "__main__":
    BUILD, SOURCE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    program = unittest.main(argv=[sys.argv[0]] + sys.argv[3:], exit=False)
    result = program.result
    if result.skipped and not result.failures and not result.errors and result.testsRun == len(result.skipped):
        print("skipped: " + "; ".join(reason for _, reason in result.skipped))
        sys.exit(SKIP)
    sys.exit(0 if result.wasSuccessful() else 1)
