#!/usr/bin/env python3
"""Bytes of an executable by where they come from, read from ld's link map (-Map).

Sums the input sections the link kept in the sections that occupy the file (everything but .bss
and debugging data) by their origin: our code, each runtime library, the icon and resources, the
import tables, and the alignment fill inside sections. The embedded image and document are left
out, and what the map does not account for (headers, the padding of each section to the file
alignment, the base relocations ld makes itself) is the rest of the file.

Usage: map_sizes.py MAP EXE [PAYLOAD_FILE...]
prints the table for EXE less the embedded payload files (the installer image, game.json).
"""
import os
import re
import sys
from collections import defaultdict

# Sections that take no room in the file or are dropped by stripping.
NOT_IN_FILE = (".bss", ".debug", ".zdebug", ".stab", "/DISCARD/")

OURS = "our code (with RapidJSON and the Unicode tables)"
IMAGE = "installer image"
DOCUMENT = "configuration document"
RESOURCES = "icon and version resource"
LIBSTDCXX = "libstdc++"
LIBGCC = "libgcc, libgcc_eh"
MINGWEX = "mingwex (C runtime extras)"
CRT = "mingw32 start-up and msvcrt glue"
PTHREAD = "winpthreads"
IMPORTS = "import tables"
FILL = "alignment fill inside sections"
REST = "headers, section padding to 4 KiB, base relocations"

_INPUT = re.compile(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
_NAME_ONLY = re.compile(r"^ (\S+)\s*$")
_CONTINUED = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
_FILL = re.compile(r"^ \*fill\*\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)")
_OUTPUT = re.compile(r"^(\.\S+|/DISCARD/)")


def group(section, origin):
    """The row an input section of origin (a path, or "archive.a(member.o)") is counted in."""
    if section.startswith(".idata") or origin in ("dll stuff", "linker stubs"):
        return IMPORTS
    archive = re.sub(r"\(.*\)$", "", origin).split("/")[-1]
    file = re.sub(r"^.*\((.*)\)$", r"\1", origin).split("/")[-1]  # the member, or the object
    if file.endswith("_installer.S.obj"):
        return IMAGE
    if file.endswith("_config.S.obj") or file == "embedded_config.S.obj":
        return DOCUMENT
    if archive.endswith(".res"):
        return RESOURCES
    if archive == "libstdc++.a":
        return LIBSTDCXX
    if archive in ("libgcc.a", "libgcc_eh.a"):
        return LIBGCC
    if archive == "libmingwex.a":
        return MINGWEX
    if archive in ("libpthread.a", "libwinpthread.a"):
        return PTHREAD
    if archive in ("crt2.o", "crtbegin.o", "crtend.o", "libmingw32.a", "libmsvcrt.a",
                   "libmoldname.a"):
        return CRT
    if not origin.startswith("/") or archive.startswith("libbrevlo_"):
        return OURS  # objects of this build tree (relative paths) and our static libraries
    if re.fullmatch(r"lib(\w+)s\d+\.o", file):
        return IMPORTS  # a system DLL's import library: the jump to an imported function
    return archive


def inputs(mapfile):
    """(output section, input section, origin, bytes) for every input section in the file."""
    out = []
    current = None
    pending = None
    in_map = False
    with open(mapfile, errors="replace") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if not in_map:
                in_map = line.startswith("Linker script and memory map")
                continue
            m = _OUTPUT.match(line)
            if m:
                current = m.group(1)
                pending = None
                continue
            if current is None or current.startswith(NOT_IN_FILE):
                continue
            m = _FILL.match(line)
            if m:
                out.append((current, "*fill*", "*fill*", int(m.group(2), 16)))
                pending = None
                continue
            if pending is not None:
                m = _CONTINUED.match(line)
                if m:
                    out.append((current, pending, m.group(3), int(m.group(2), 16)))
                pending = None
                continue
            m = _INPUT.match(line)
            if m:
                out.append((current, m.group(1), m.group(4), int(m.group(3), 16)))
                continue
            m = _NAME_ONLY.match(line)
            if m and not m.group(1).startswith("*"):
                pending = m.group(1)
    return out


def stub_rows(mapfile, file_size, payload_size=0):
    """Bytes by row of everything but the payload (the embedded image and document, payload_size
    bytes as files), summing to file_size - payload_size: the last row takes what the map does
    not account for, including the alignment of the payload itself."""
    sizes = defaultdict(int)
    for _, section, origin, size in inputs(mapfile):
        sizes[FILL if origin == "*fill*" else group(section, origin)] += size
    sizes.pop(IMAGE, None)
    sizes.pop(DOCUMENT, None)
    rows = sorted(((name, size) for name, size in sizes.items() if size), key=lambda kv: (-kv[1], kv[0]))
    rows.append((REST, file_size - payload_size - sum(sizes.values())))
    return rows


def by_input(mapfile):
    """Bytes by input file or archive member."""
    sizes = defaultdict(int)
    for _, _, origin, size in inputs(mapfile):
        if origin != "*fill*":
            sizes[origin.split("/")[-1]] += size
    return dict(sizes)


def main():
    mapfile, exe, *payload = sys.argv[1:]
    payload_size = sum(os.path.getsize(p) for p in payload)
    rows = stub_rows(mapfile, os.path.getsize(exe), payload_size)
    for name, size in rows:
        print(f"{size:>10,}  {name}")
    total = sum(size for _, size in rows)
    print(f"{total:>10,}  in all ({total / 1024:.1f} KiB){' beside the payload' if payload else ''}")


if __name__ == "__main__":
    main()
