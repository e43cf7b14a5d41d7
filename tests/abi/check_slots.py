#!/usr/bin/env python3
"""Checks the slot numbers of the host boundary against the vtables two Windows compilers build.

Every virtual function of the host-boundary header carries a "// slot N" comment: its index in the
vtable a host built with Microsoft's compiler uses. clang lays the header out twice -- as that compiler
does (x86_64-pc-windows-msvc) and as a MinGW build of the driver does (x86_64-w64-windows-gnu) -- and
dumps both vtables; every comment must name the function's index in both, and slot 0 must be one
destructor entry. Calls that the two layouts would pass differently fail as well: a class returned or
passed by value, an overloaded virtual function (Microsoft's compiler groups overloads in its vtable),
and `long` (32 bits on Windows, 64 on Linux).

Usage: check_slots.py [--clang CLANG] HEADER
"""
import argparse
import json
import pathlib
import re
import subprocess
import sys
import tempfile

TARGETS = {"msvc": "x86_64-pc-windows-msvc", "mingw": "x86_64-w64-windows-gnu"}
SLOT = re.compile(r"//\s*slot (\d+)\b")
# The header needs only the fixed-width integers; they come from the compiler itself, so the check needs
# no Windows headers.
CSTDINT = """#pragma once
typedef __INT8_TYPE__ int8_t;
typedef __INT16_TYPE__ int16_t;
typedef __INT32_TYPE__ int32_t;
typedef __INT64_TYPE__ int64_t;
typedef __UINT8_TYPE__ uint8_t;
typedef __UINT16_TYPE__ uint16_t;
typedef __UINT32_TYPE__ uint32_t;
typedef __UINT64_TYPE__ uint64_t;
"""
SLOT0_ENTRY = "ScalarDeletingDestructor"


class Method:
    def __init__(self, name, first, last, qual_type, params, access, virtual):
        self.name, self.first, self.last = name, first, last
        self.qual_type, self.params, self.access, self.virtual = qual_type, params, access, virtual

    def is_destructor(self):
        return self.name.startswith("~") or self.name == SLOT0_ENTRY


class Record:
    def __init__(self, qualified, first, last):
        self.qualified, self.first, self.last = qualified, first, last
        self.methods = []


class _Locations:
    """clang's JSON dump leaves out a location's file and line when they repeat the previous ones."""

    def __init__(self):
        self.file, self.line = None, None

    def bare(self, loc):
        if "file" in loc:
            self.file = loc["file"]
        if "line" in loc:
            self.line = loc["line"]
        return self.file, self.line

    def place(self, loc):
        """The (file, line) where a declaration is written; for a macro, the line that uses it."""
        if not loc:
            return None, None
        if "spellingLoc" in loc:
            self.bare(loc["spellingLoc"])
            return self.bare(loc["expansionLoc"])
        return self.bare(loc)


def _walk_ast(node, header, locations, scope, records, typedefs, access=None):
    kind = node.get("kind")
    _, line = locations.place(node.get("loc"))
    begin = locations.place(node.get("range", {}).get("begin"))
    end = locations.place(node.get("range", {}).get("end"))
    in_header = begin[0] is not None and pathlib.Path(begin[0]).resolve() == header
    if kind in ("TypedefDecl", "TypeAliasDecl"):
        typedefs[node["name"]] = node["type"].get("desugaredQualType", node["type"]["qualType"])
    record = None
    if kind == "CXXRecordDecl" and node.get("completeDefinition") and not node.get("isImplicit") and in_header:
        record = Record("::".join(scope + [node["name"]]), begin[1], end[1])
        records.append(record)
        access = "public" if node.get("tagUsed") == "struct" else "private"
    elif kind in ("CXXMethodDecl", "CXXDestructorDecl") and not node.get("isImplicit") and scope and records:
        params = [p["type"].get("desugaredQualType", p["type"]["qualType"])
                  for p in node.get("inner", []) if p.get("kind") == "ParmVarDecl"]
        owner = records[-1] if records[-1].qualified == "::".join(scope) else None
        if owner:
            owner.methods.append(Method(node["name"], begin[1], end[1], node["type"]["qualType"], params, access,
                                        bool(node.get("virtual"))))
    inner_scope = scope
    if kind == "NamespaceDecl":
        inner_scope = scope + [node.get("name", "")]
    elif record:
        inner_scope = scope + [node["name"]]
    for child in node.get("inner", []):
        if record and child.get("kind") == "AccessSpecDecl":
            access = child["access"]
        _walk_ast(child, header, locations, inner_scope, records, typedefs, access)
    return records


def _clang(clang, target, work, source, action):
    command = [clang, "-std=c++20", "--target=" + target, "-nostdinc", "-isystem", str(work / "include"),
               *action, str(source)]
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed:\n{result.stderr}")
    return result.stdout


def _entries(lines):
    """The function entries of one dumped vtable, in order: (declaring class, name)."""
    found = []
    for text in lines:
        match = re.match(r"\s*\d+ \| (.*)$", text)
        if not match:
            continue
        entry = match.group(1)
        if entry.endswith(" RTTI") or re.match(r"(offset_to_top|vbase_offset|vcall_offset) ", entry):
            continue
        head = entry[:entry.index("(")] if "(" in entry else entry
        qualified = re.split(r"[\s*&]+", head.strip())[-1]
        owner, _, name = qualified.rpartition("::")
        found.append((owner, name))
    return found


def parse_layouts(dump):
    """{class: [(declaring class, function name) per slot]} from clang's vtable dump; a class laid out
    only as the primary base of another gets that class's entries (its own come first)."""
    layouts, shared = {}, {}
    blocks = re.split(r"\n(?=\S)", dump)
    for block in blocks:
        lines = block.splitlines()
        if not lines:
            continue
        header = re.match(r"(VFTable|Vtable) for (.*) \(\d+ entr", lines[0])
        if not header:
            continue
        names = re.findall(r"'([^']+)'", header.group(2))
        owner = names[-1]
        if header.group(1) == "VFTable":
            layouts[owner] = _entries(lines[1:])
            continue
        # Itanium: the primary vtable runs up to the second offset_to_top.
        primary, seen = [], 0
        for text in lines[1:]:
            if "offset_to_top" in text:
                seen += 1
                if seen > 1:
                    break
            primary.append(text)
            base = re.match(r"\s*-- \((.*), 0\) vtable address --", text)
            if base and seen == 1:
                shared.setdefault(base.group(1), owner)
        layouts[owner] = _entries(primary)
    for base, owner in shared.items():
        layouts.setdefault(base, layouts[owner])
    return layouts


def _expand(type_text, typedefs):
    for _ in range(8):
        expanded = re.sub(r"\b[A-Za-z_]\w*\b", lambda m: typedefs.get(m.group(0), m.group(0)), type_text)
        if expanded == type_text:
            break
        type_text = expanded
    return type_text


def _by_value_record(type_text, record_names):
    if "*" in type_text or "&" in type_text:
        return False
    bare = re.sub(r"\b(const|volatile|struct|class|union)\b", "", type_text).strip()
    return bare.rpartition("::")[2] in record_names


def _return_type(qual_type):
    depth = 0
    for index, char in enumerate(qual_type):
        if char == "(" and depth == 0:
            return qual_type[:index].strip()
        depth += char == "<"
        depth -= char == ">"
    return qual_type


def problems(header, clang="clang++"):
    """[(line, text)] of every slot comment the layouts contradict and every call that would cross
    differently; [] when the header holds on both layouts."""
    header = pathlib.Path(header).resolve()
    comments = {}
    for number, line in enumerate(header.read_text(encoding="utf-8").splitlines(), 1):
        match = SLOT.search(line)
        if match:
            comments[number] = (int(match.group(1)), line.split("//")[0].strip())
    found = []
    with tempfile.TemporaryDirectory() as directory:
        work = pathlib.Path(directory)
        (work / "include").mkdir()
        (work / "include" / "cstdint").write_text(CSTDINT)
        source = work / "boundary.cpp"
        for flavour, target in TARGETS.items():
            source.write_text(f'#include "{header}"\n')
            ast = json.loads(_clang(clang, target, work, source, ["-fsyntax-only", "-Xclang", "-ast-dump=json"]))
            typedefs = {}
            records = _walk_ast(ast, header, _Locations(), [], [], typedefs)
            # A pointer to one public function of each class has clang lay out its vtable.
            touches = []
            for index, record in enumerate(records):
                named = [m for m in record.methods if m.virtual and m.access == "public" and
                         not m.name.startswith("~")]
                if not named:
                    continue
                # An overloaded name needs the function's type to pick one.
                chosen = min(named, key=lambda m: sum(n.name == m.name for n in named))
                touches.append(f"using zephrin_slot_type_{index} = {chosen.qual_type};\n"
                               f"zephrin_slot_type_{index} {record.qualified}::*zephrin_slot_touch_{index} = "
                               f"&{record.qualified}::{chosen.name};")
            source.write_text(f'#include "{header}"\n' + "\n".join(touches) + "\n")
            dump = _clang(clang, target, work, source,
                          ["-S", "-emit-llvm", "-o", "-", "-Xclang", "-fdump-vtable-layouts"])
            layouts = parse_layouts(dump)
            found += _layout_problems(flavour, records, layouts, comments)
            if flavour == "msvc":
                found += _signature_problems(records, layouts, typedefs)
    return sorted(set(found))


def _layout_problems(flavour, records, layouts, comments):
    found = []
    for record in records:
        layout = layouts.get(record.qualified)
        if layout is None:
            if any(record.first <= line <= record.last for line in comments):
                found.append((record.first, f"{flavour}: no vtable of {record.qualified} was dumped"))
            continue
        destructors = [index for index, (_, name) in enumerate(layout) if name.startswith("~") or
                       name == SLOT0_ENTRY]
        if destructors != [0]:
            found.append((record.first, f"{flavour}: {record.qualified} has its destructor in slots "
                                        f"{destructors}, not in slot 0 alone"))
        claimed = set()
        for method in record.methods:
            # An override written without "virtual" is virtual all the same.
            method.virtual = method.virtual or any(name == method.name for _, name in layout)
            lines = [line for line in comments if method.first <= line <= method.last]
            if not lines:
                if method.virtual and not method.is_destructor():
                    found.append((method.first, f"{record.qualified}::{method.name} has no slot comment"))
                continue
            slot = comments[lines[0]][0]
            claimed.add(lines[0])
            if method.is_destructor():
                index = destructors[0] if destructors else None
            else:
                index = next((i for i, (_, name) in enumerate(layout) if name == method.name), None)
            if index != slot:
                where = "is not virtual" if index is None else f"is slot {index}"
                found.append((lines[0], f"{flavour}: {record.qualified}::{method.name} {where}, "
                                        f"its comment says slot {slot}"))
        # A comment on no declaration ("slot 0: the destructor of the base") speaks of the destructor.
        for line in comments:
            if record.first <= line <= record.last and line not in claimed:
                if not any(m.first <= line <= m.last for m in record.methods) and not any(
                        r is not record and r.first <= line <= r.last for r in records):
                    slot = comments[line][0]
                    if not destructors or destructors[0] != slot:
                        found.append((line, f"{flavour}: {record.qualified} has no destructor in slot {slot}"))
    return found


def _signature_problems(records, layouts, typedefs):
    found = []
    record_names = {record.qualified.rpartition("::")[2] for record in records}
    for record in records:
        layout = layouts.get(record.qualified, [])
        names = [name for _, name in layout if not name.startswith("~") and name != SLOT0_ENTRY]
        for name in sorted({n for n in names if names.count(n) > 1}):
            found.append((record.first, f"{record.qualified}: virtual function {name} is overloaded"))
        for method in record.methods:
            if not (method.virtual or method.name in names) or method.is_destructor():
                continue
            returned = _expand(_return_type(method.qual_type), typedefs)
            params = [_expand(p, typedefs) for p in method.params]
            if _by_value_record(returned, record_names):
                found.append((method.first, f"{record.qualified}::{method.name} returns {returned} by value"))
            for param in params:
                if _by_value_record(param, record_names):
                    found.append((method.first, f"{record.qualified}::{method.name} takes {param} by value"))
            if any(re.search(r"\blong\b", t) for t in [returned] + params):
                found.append((method.first, f"{record.qualified}::{method.name} passes a long"))
    return found


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--clang", default="clang++")
    parser.add_argument("header")
    args = parser.parse_args(argv[1:])
    try:
        found = problems(args.header, args.clang)
    except (OSError, RuntimeError) as error:
        print(error, file=sys.stderr)
        return 2
    for line, text in found:
        print(f"{args.header}:{line}: {text}")
    if found:
        print(f"{len(found)} problem(s)")
        return 1
    print("slot comments match the Microsoft and MinGW layouts")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
