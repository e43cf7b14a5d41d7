#!/usr/bin/env python3
"""Fails unless a DLL's export table names exactly the given functions (no more, none missing).

Usage: check_exports.py OBJDUMP DLL NAME...
"""
import re
import subprocess
import sys


def exported_names(objdump_text):
    """The names of the export table's [Ordinal/Name Pointer] section of `objdump -p`."""
    names, inside = [], False
    for line in objdump_text.splitlines():
        if line.startswith("[Ordinal/Name Pointer] Table"):
            inside = True
            continue
        if inside:
            match = re.match(r"\s*\[\s*\d+\]\s+(\S+)\s*$", line)
            if not match:
                break
            names.append(match.group(1))
    return sorted(names)


def main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    objdump, dll, expected = argv[1], argv[2], sorted(argv[3:])
    run = subprocess.run([objdump, "-p", dll], capture_output=True, text=True)
    if run.returncode != 0:
        print(f"{objdump} -p {dll} failed: {run.stderr}")
        return 1
    names = exported_names(run.stdout)
    missing = sorted(set(expected) - set(names))
    extra = sorted(set(names) - set(expected))
    for name in missing:
        print(f"{dll}: {name} is not exported")
    for name in extra:
        print(f"{dll}: {name} is exported but is no documented entry point")
    if missing or extra:
        return 1
    print(f"{dll} exports exactly its {len(names)} entry points")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
