"""Camera model profiles: the parameter list, PTZ abilities and stream layout of one simulated model.

A profile is a JSON file in profiles/ (or any path given to --profile):
    description  text shown by --list-profiles
    series       the camera series the driver is expected to derive (documentation and status only)
    ptz          null for a camera without PTZ, else {"pan", "tilt", "zoom", "focus", "presets": bool}
    frameskip_options  optional: the frame-skip option at each position of "Frameskip.<group>"
                 (default 0, 5, 10, 15, 2, 3, 4; 0 = full rate, 100 = 1 frame/s, n = full rate / n)
    params       ordered object of parameter names (without "root.") and values; "{address}" in a
                 value is replaced by the simulator's address
"""

import json
import os

PROFILE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "profiles")

PTZ_KEYS = ("pan", "tilt", "zoom", "focus", "presets")


class ProfileError(Exception):
    pass


def list_profiles():
    """Returns [(name, description)] of the bundled profiles, sorted by name."""
    result = []
    for entry in sorted(os.listdir(PROFILE_DIR)):
        if entry.endswith(".json"):
            name = entry[:-5]
            try:
                result.append((name, load_profile(name).description))
            except ProfileError as error:
                result.append((name, "(broken: %s)" % error))
    return result


class Profile:
    def __init__(self, name, data, address="127.0.0.2"):
        if not isinstance(data, dict):
            raise ProfileError("%s: the profile must be a JSON object" % name)
        params = data.get("params")
        if not isinstance(params, dict) or not params:
            raise ProfileError("%s: 'params' must be a non-empty object" % name)
        self.name = name
        self.description = str(data.get("description", ""))
        self.series = data.get("series")
        self.params = []
        for key, value in params.items():
            if not isinstance(key, str) or not key or key.startswith("root.") or "=" in key:
                raise ProfileError("%s: bad parameter name %r (names are given without 'root.')" % (name, key))
            self.params.append((key, str(value).replace("{address}", address)))
        options = data.get("frameskip_options")
        if options is not None and (not isinstance(options, list) or not all(isinstance(o, int) for o in options)):
            raise ProfileError("%s: 'frameskip_options' must be a list of integers" % name)
        self.frameskip_options = options
        ptz = data.get("ptz")
        if ptz is None:
            self.ptz = None
        elif isinstance(ptz, dict):
            unknown = set(ptz) - set(PTZ_KEYS)
            if unknown:
                raise ProfileError("%s: unknown PTZ abilities %s" % (name, ", ".join(sorted(unknown))))
            self.ptz = {key: bool(ptz.get(key, False)) for key in PTZ_KEYS}
        else:
            raise ProfileError("%s: 'ptz' must be null or an object" % name)


def load_profile(name_or_path, address="127.0.0.2"):
    """Loads a bundled profile by name, or a profile file by path."""
    if os.sep in name_or_path or name_or_path.endswith(".json"):
        path = name_or_path
        name = os.path.splitext(os.path.basename(path))[0]
    else:
        path = os.path.join(PROFILE_DIR, name_or_path + ".json")
        name = name_or_path
    try:
        with open(path, encoding="utf-8") as handle:
            data = json.load(handle)
    except FileNotFoundError:
        raise ProfileError("no profile %r (see --list-profiles)" % name_or_path) from None
    except (OSError, ValueError) as error:
        raise ProfileError("%s: %s" % (path, error)) from None
    return Profile(name, data, address)
