#!/usr/bin/env python3
"""Fails when a file under src/ includes a header of a folder its layer may not use.

The folders stand in one order, each on the ones below it:
    host <- platform <- runtime <- streaming/camera <- discovery/videosettings/ptz <- channels <- driver
discovery also describes streams with videosettings and ptz; the Wendrick library (legacy) stands on
runtime, platform, host and discovery. tests/ and tools/ may include anything. Outside platform/, no
file includes <cxxabi.h> or names the unwinder: thread termination goes through platform/Guard.h.

Usage: check_includes.py [SOURCE_ROOT]   (the folder holding src/; default: this file's project)
"""
import pathlib
import re
import sys

BELOW = {
    "host": set(),
    "platform": {"host"},
    "runtime": {"platform", "host"},
    "streaming": {"runtime", "platform", "host"},
    "camera": {"runtime", "platform", "host"},
    "videosettings": {"camera", "streaming", "runtime", "platform", "host"},
    "ptz": {"camera", "streaming", "runtime", "platform", "host"},
    "discovery": {"videosettings", "ptz", "camera", "streaming", "runtime", "platform", "host"},
    "channels": {"discovery", "videosettings", "ptz", "camera", "streaming", "runtime", "platform", "host"},
    "driver": {"channels", "discovery", "videosettings", "ptz", "camera", "streaming", "runtime", "platform",
               "host"},
    "legacy": {"discovery", "runtime", "platform", "host"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
# Thread termination is the platform seam's detail (platform/Guard.h).
UNWINDER = re.compile(r'^\s*#\s*include\s*<cxxabi\.h>|__forced_unwind')
SOURCE_SUFFIXES = {".h", ".hpp", ".cpp", ".cc", ".inc"}


def violations(root):
    """Yields (file, line number, text) of every include that points the wrong way."""
    src = root / "src"
    for path in sorted(src.rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in BELOW:
            yield path, 0, f"folder {folder}/ has no place in the layer order"
            continue
        allowed = BELOW[folder] | {folder}
        for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            if folder != "platform" and UNWINDER.search(line):
                yield path, number, "names the unwinder; use platform/Guard.h"
                continue
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if "/" not in target:
                if (path.parent / target).exists():
                    continue  # a header beside the file
                yield path, number, f'"{target}" is not beside it; name its folder'
                continue
            first = target.split("/", 1)[0]
            if first == "..":
                yield path, number, f'"{target}" climbs out of its folder; name the folder instead'
            elif first not in allowed:
                yield path, number, f'{folder}/ may not include "{target}" ({first}/ is not below it)'


def main(argv):
    root = pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).resolve().parents[2]
    found = list(violations(root))
    for path, number, text in found:
        print(f"{path.relative_to(root)}:{number}: {text}")
    if found:
        print(f"{len(found)} line(s) break the layer order", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
