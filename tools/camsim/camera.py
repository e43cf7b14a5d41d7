"""The simulated camera's state: parameter list, digital I/O and pan-tilt-zoom.

Every method is thread-safe (HTTP handler threads, the RTSP main loop and signal handlers share one
camera). Nothing here does I/O.
"""

import threading
import time

# Resolution names the camera understands in a resolution set, with their PAL and NTSC sizes.
RESOLUTIONS = {
    "5m": ((2592, 1944), (2592, 1944)),
    "3m": ((2048, 1536), (2048, 1536)),
    "1080p": ((1920, 1080), (1920, 1080)),
    "sxga": ((1280, 1024), (1280, 1024)),
    "quadvga": ((1280, 960), (1280, 960)),
    "720p": ((1280, 720), (1280, 720)),
    "xga": ((1024, 768), (1024, 768)),
    "svga": ((800, 600), (800, 600)),
    "d1": ((720, 576), (720, 480)),
    "vga": ((640, 480), (640, 480)),
    "vga15": ((640, 480), (640, 480)),
    "qvga": ((320, 240), (320, 240)),
    "cif": ((352, 288), (352, 240)),
    "qcif": ((176, 144), (176, 120)),
}

# RTSP stream path -> (codec, parameter group).
STREAMS = {
    "h264": ("h264", "H264"),
    "h264_2": ("h264", "H264_2"),
    "h264_3": ("h264", "H264_3"),
    "jpeg": ("jpeg", "Mjpeg"),
    "mpeg4": ("mpeg4", "Mpeg4"),
}
# Codec names of "Properties.Image.Format" -> the codec of the clips.
FORMATS = {"h264": "h264", "mjpeg": "jpeg", "mpeg4": "mpeg4"}
# Frame-skip option by the position stored in "Frameskip.<group>", unless the profile names its own.
FRAMESKIP_OPTIONS = (0, 5, 10, 15, 2, 3, 4)

PAN_RANGE = (-180.0, 180.0)
TILT_RANGE = (-90.0, 90.0)
ZOOM_RANGE = (1.0, 9999.0)
FOCUS_RANGE = (1.0, 9999.0)
PRESET_SLOTS = 256
# Degrees per second at continuous speed 100; zoom and focus units per second at speed 100.
PAN_TILT_RATE = 90.0
ZOOM_RATE = 2000.0


class CgiError(Exception):
    """A request the camera refuses; status and body go back to the client."""

    def __init__(self, status, body):
        super().__init__(body)
        self.status = status
        self.body = body


def resolution_entry(path, count):
    """The entry of a resolution set of count entries that configures the stream path: entry 0 is
    JPEG, entry 1 MPEG-4 and the first H.264 stream, entry 2 the second H.264 stream; four-entry
    sets keep H.264 in entry 2, five-entry sets the three H.264 streams in entries 1 to 3."""
    if path == "jpeg":
        return 0
    if path == "mpeg4":
        return 1
    if count == 4:
        return 2
    if path == "h264" or count == 2:
        return 1
    if path == "h264_3" and count == 5:
        return 3
    return 2


def _clamp(value, bounds):
    return max(bounds[0], min(bounds[1], value))


def _is_int(text):
    body = text[1:] if text[:1] in "+-" else text
    return body.isdigit()


class PtzState:
    """Position, continuous motion and presets of the pan-tilt-zoom head."""

    def __init__(self, abilities):
        self.abilities = abilities
        self.pan = 0.0
        self.tilt = 0.0
        self.zoom = 1.0
        self.focus = 5000.0
        self.autofocus = "on"
        self.speed = {"pan": 0, "tilt": 0, "zoom": 0, "focus": 0}
        self.presets = {}
        self.commands = 0
        self.last_command = ""
        self._stamp = time.monotonic()

    def advance(self):
        now = time.monotonic()
        elapsed = now - self._stamp
        self._stamp = now
        if elapsed <= 0:
            return
        self.pan = _clamp(self.pan + self.speed["pan"] / 100.0 * PAN_TILT_RATE * elapsed, PAN_RANGE)
        self.tilt = _clamp(self.tilt + self.speed["tilt"] / 100.0 * PAN_TILT_RATE * elapsed, TILT_RANGE)
        self.zoom = _clamp(self.zoom + self.speed["zoom"] / 100.0 * ZOOM_RATE * elapsed, ZOOM_RANGE)
        self.focus = _clamp(self.focus + self.speed["focus"] / 100.0 * ZOOM_RATE * elapsed, FOCUS_RANGE)

    def snapshot(self):
        self.advance()
        return {
            "pan": round(self.pan, 2),
            "tilt": round(self.tilt, 2),
            "zoom": round(self.zoom, 1),
            "focus": round(self.focus, 1),
            "autofocus": self.autofocus,
            "moving": dict(self.speed),
            "presets": {str(slot): dict(value) for slot, value in sorted(self.presets.items())},
            "commands": self.commands,
            "last_command": self.last_command,
        }

    def info_text(self):
        """The answer to "ptz.cgi?info=1": every supported command with its value range.

        The list names each command as "key=[range]"; the value-range block repeats the position and
        preset commands as "key[range]", so a reader may take either "=" or "[" as the separator.
        """
        a = self.abilities
        commands = ["Available commands:", "{camera=[n]}"]
        ranges = []
        if a["pan"]:
            commands.append("pan=[-180...180]")
            ranges.append("pan[-180...180]")
        if a["tilt"]:
            commands.append("tilt=[-90...90]")
            ranges.append("tilt[-90...90]")
        if a["zoom"]:
            commands.append("zoom=[1...9999]")
            ranges.append("zoom[1...9999]")
        if a["pan"] or a["tilt"]:
            commands.append("continuouspantiltmove=[-100...100],[-100...100]")
        if a["zoom"]:
            commands.append("continuouszoommove=[-100...100]")
        if a["focus"]:
            commands.append("continuousfocusmove=[-100...100]")
            commands.append("autofocus=[on|off]")
        if a["presets"]:
            commands.append("gotoserverpresetno=[1...%d]" % PRESET_SLOTS)
            ranges.append("gotoserverpresetno[1...%d]" % PRESET_SLOTS)
        lines = commands + ["", "Value ranges:"] + ranges
        return "\r\n".join(lines) + "\r\n"

    # --- commands -------------------------------------------------------------------------------

    def _need(self, *abilities):
        for ability in abilities:
            if not self.abilities.get(ability):
                raise CgiError(400, "Error: %s is not supported by this camera\r\n" % ability)

    @staticmethod
    def _speed(text):
        if not _is_int(text):
            raise CgiError(400, "Error: invalid speed value '%s'\r\n" % text)
        value = int(text)
        if value < -100 or value > 100:
            raise CgiError(400, "Error: speed value %d out of range\r\n" % value)
        return value

    def _preset_slot(self, text):
        self._need("presets")
        if not text.isdigit() or not 1 <= int(text) <= PRESET_SLOTS:
            raise CgiError(400, "Error: invalid preset number '%s'\r\n" % text)
        return int(text)

    def command(self, key, value):
        """Executes one "key=value" term of ptz.cgi or ptzconfig.cgi."""
        self.advance()
        if key == "camera":
            return
        if key == "continuouspantiltmove":
            self._need("pan")
            parts = value.split(",")
            if len(parts) != 2:
                raise CgiError(400, "Error: continuouspantiltmove needs pan,tilt\r\n")
            pan, tilt = self._speed(parts[0]), self._speed(parts[1])
            if tilt:
                self._need("tilt")
            self.speed["pan"], self.speed["tilt"] = pan, tilt
        elif key == "continuouszoommove":
            self._need("zoom")
            self.speed["zoom"] = self._speed(value)
        elif key == "continuousfocusmove":
            self._need("focus")
            self.speed["focus"] = self._speed(value)
        elif key == "autofocus":
            self._need("focus")
            if value not in ("on", "off"):
                raise CgiError(400, "Error: autofocus must be on or off\r\n")
            self.autofocus = value
            if value == "on":
                self.speed["focus"] = 0
        elif key == "zoom":
            self._need("zoom")
            if not _is_int(value):
                raise CgiError(400, "Error: invalid zoom value '%s'\r\n" % value)
            self.speed["zoom"] = 0
            self.zoom = _clamp(float(value), ZOOM_RANGE)
        elif key in ("pan", "tilt"):
            self._need(key)
            try:
                position = float(value)
            except ValueError:
                raise CgiError(400, "Error: invalid %s value '%s'\r\n" % (key, value)) from None
            self.speed[key] = 0
            setattr(self, key, _clamp(position, PAN_RANGE if key == "pan" else TILT_RANGE))
        elif key == "gotoserverpresetno":
            slot = self._preset_slot(value)
            preset = self.presets.get(slot)
            if preset is None:
                raise CgiError(400, "Error: preset %d is not set\r\n" % slot)
            for axis in ("pan", "tilt", "zoom"):
                self.speed[axis] = 0
            self.pan, self.tilt, self.zoom = preset["pan"], preset["tilt"], preset["zoom"]
        else:
            raise CgiError(400, "Error: unknown command '%s'\r\n" % key)

    def config(self, key, value):
        """Executes one "key=value" term of ptzconfig.cgi."""
        self.advance()
        if key == "camera":
            return
        if key == "setserverpresetno":
            slot = self._preset_slot(value)
            self.presets[slot] = {"pan": round(self.pan, 2), "tilt": round(self.tilt, 2), "zoom": round(self.zoom, 1)}
        elif key == "removeserverpresetno":
            slot = self._preset_slot(value)
            if self.presets.pop(slot, None) is None:
                raise CgiError(400, "Error: preset %d is not set\r\n" % slot)
        else:
            raise CgiError(400, "Error: unknown command '%s'\r\n" % key)


class Camera:
    """One simulated camera built from a profile."""

    def __init__(self, profile):
        self.profile = profile
        self.lock = threading.RLock()
        self.params = {}
        self.order = []
        for key, value in profile.params:
            self._set(key, value)
        self.ptz = PtzState(profile.ptz) if profile.ptz else None
        self.inputs = [0] * self._count("Input.NbrOfInputs")
        self.outputs = [0] * self._count("Output.NbrOfOutputs")

    # --- parameters -----------------------------------------------------------------------------

    def _set(self, key, value):
        if key not in self.params:
            self.order.append(key)
        self.params[key] = value

    def _count(self, key):
        value = self.params.get(key, "0")
        return int(value) if value.isdigit() else 0

    def get(self, key, default=""):
        with self.lock:
            return self.params.get(key, default)

    def is_ntsc(self):
        return self.get("ImageSource.I0.Video.DetectedType").lower() == "ntsc"

    def list_params(self, groups):
        """Returns [(key, value)] of the groups (all parameters when groups is empty) and the unknown
        groups. A group names a parameter or a prefix of whole name components."""
        with self.lock:
            if not groups:
                return [(key, self.params[key]) for key in self.order], []
            seen = set()
            entries = []
            unknown = []
            for group in groups:
                name = group[5:] if group.startswith("root.") else group
                matched = [key for key in self.order if key == name or key.startswith(name + ".")]
                if not name or not matched:
                    unknown.append(group)
                for key in matched:
                    if key not in seen:
                        seen.add(key)
                        entries.append((key, self.params[key]))
            return entries, unknown

    def _check_value(self, key, value):
        if key.endswith("Appearance.Resolution"):
            entries = value.split(",")
            if not 2 <= len(entries) <= 5:
                return False
            return all(entry == "disable" or entry in RESOLUTIONS for entry in entries)
        last = key.rsplit(".", 1)[-1]
        numeric = ("Qfactor", "Bitrate", "KeyFrameInterval")
        if key.startswith(("Framerate.", "Frameskip.")) or last.endswith(numeric):
            return value.isdigit()
        return True

    def update(self, terms):
        """Applies "action=update" terms [(key, value)] all or nothing. Returns the answer body."""
        with self.lock:
            for raw_key, value in terms:
                key = raw_key[5:] if raw_key.startswith("root.") else raw_key
                if key not in self.params or not self._check_value(key, value):
                    return "# Error: Error setting 'root.%s' to '%s'!\r\n" % (key, value)
            for raw_key, value in terms:
                key = raw_key[5:] if raw_key.startswith("root.") else raw_key
                self.params[key] = value
            return "OK\r\n"

    def force_params(self, terms):
        """Control path: sets (or adds) parameters without checks; value None removes one."""
        with self.lock:
            for key, value in terms:
                if value is None:
                    if key in self.params:
                        del self.params[key]
                        self.order.remove(key)
                else:
                    self._set(key, value)

    def stream_codecs(self):
        """The clip codecs of the formats in "Properties.Image.Format"."""
        formats = self.get("Properties.Image.Format").split(",")
        return {FORMATS[item] for item in formats if item in FORMATS}

    def stream_setting(self, path):
        """(resolution name or "", (width, height) or None, frame rate) that the stored parameters
        give the stream path."""
        with self.lock:
            _, group = STREAMS[path]
            entries = self.params.get("Image.I0.Appearance.Resolution", "").split(",")
            index = resolution_entry(path, len(entries))
            name = entries[index] if index < len(entries) else ""
            sizes = RESOLUTIONS.get(name)
            size = sizes[1 if self.is_ntsc() else 0] if sizes else None
            full = 30 if self.is_ntsc() else 25
            rate = full
            framerate = self.params.get("Framerate." + group, "")
            frameskip = self.params.get("Frameskip." + group, "")
            if framerate.isdigit() and int(framerate) > 0:
                rate = min(int(framerate), 30)
            elif frameskip.isdigit():
                options = self.profile.frameskip_options or FRAMESKIP_OPTIONS
                position = int(frameskip)
                option = options[position] if position < len(options) else 0
                if option == 100:
                    rate = 1
                elif option > 1:
                    rate = max(1, full // option)
            return name, size, rate

    # --- digital I/O ----------------------------------------------------------------------------

    def input_answer(self, spec):
        """Answer to "input.cgi?check=<n>[,<n>...]" (1-based ports)."""
        with self.lock:
            lines = []
            for item in spec.split(","):
                if not item.isdigit() or not 1 <= int(item) <= len(self.inputs):
                    raise CgiError(400, "Error: invalid input '%s'\r\n" % item)
                lines.append("Input%d=%d" % (int(item), self.inputs[int(item) - 1]))
            return "\r\n".join(lines) + "\r\n"

    def output_answer(self, spec):
        """Answer to "output.cgi?check=<n>[,<n>...]"."""
        with self.lock:
            lines = []
            for item in spec.split(","):
                if not item.isdigit() or not 1 <= int(item) <= len(self.outputs):
                    raise CgiError(400, "Error: invalid output '%s'\r\n" % item)
                lines.append("Output%d=%d" % (int(item), self.outputs[int(item) - 1]))
            return "\r\n".join(lines) + "\r\n"

    def output_action(self, spec):
        """"output.cgi?action=<n>:<sequence>": "/" activates, "\\" deactivates; pulse durations
        (digits between the characters) are accepted and ignored, the last state stays."""
        port_text, sep, sequence = spec.partition(":")
        if not sep or not port_text.isdigit() or not sequence:
            raise CgiError(400, "Error: invalid action '%s'\r\n" % spec)
        port = int(port_text)
        state = None
        for char in sequence:
            if char == "/":
                state = 1
            elif char == "\\":
                state = 0
            elif not char.isdigit():
                raise CgiError(400, "Error: invalid action '%s'\r\n" % spec)
        if state is None:
            raise CgiError(400, "Error: invalid action '%s'\r\n" % spec)
        with self.lock:
            if not 1 <= port <= len(self.outputs):
                raise CgiError(400, "Error: invalid output %d\r\n" % port)
            self.outputs[port - 1] = state
        return "OK\r\n"

    def set_input(self, port, state=None):
        """Sets a 1-based input (state None toggles it); returns the new state."""
        with self.lock:
            if not 1 <= port <= len(self.inputs):
                raise CgiError(400, "no input %d (the camera has %d)\n" % (port, len(self.inputs)))
            self.inputs[port - 1] = (1 - self.inputs[port - 1]) if state is None else (1 if state else 0)
            return self.inputs[port - 1]

    # --- pan-tilt-zoom --------------------------------------------------------------------------

    def ptz_command(self, terms, config):
        with self.lock:
            if self.ptz is None:
                raise CgiError(404, "Not Found\r\n")
            if not terms:
                raise CgiError(400, "Error: no command\r\n")
            for key, value in terms:
                if key == "info" and not config:
                    return self.ptz.info_text()
                (self.ptz.config if config else self.ptz.command)(key, value)
                self.ptz.commands += 1
                self.ptz.last_command = "%s=%s" % (key, value)
            return "OK\r\n"

    def status(self):
        with self.lock:
            return {
                "profile": self.profile.name,
                "series": self.profile.series,
                "model": self.params.get("Brand.ProdShortName", ""),
                "params": {key: self.params[key] for key in self.order},
                "inputs": list(self.inputs),
                "outputs": list(self.outputs),
                "ptz": self.ptz.snapshot() if self.ptz else None,
            }
