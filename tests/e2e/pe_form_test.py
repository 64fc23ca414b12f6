#!/usr/bin/python3
"""Checks the launcher's executable form and resources.

Usage: pe_form_test.py brevlo.exe [brevlo.map [brevlo-stub.exe]]

The linker's map file, when given, names the entry routine (the executable itself is stripped).
The stub, when given, must fit in STUB_LIMIT bytes.
Every item is checked and reported; the exit status is 1 when any item fails. Items that cannot
be decided from the file are reported as skipped with the reason.
"""

import os
import re
import struct
import sys

import pefile

LANG_EN_US = 1033

# Every DLL the launcher may import: parts of the system itself.
SYSTEM_DLLS = {
    "kernel32.dll",
    "ntdll.dll",
    "advapi32.dll",
    "msvcrt.dll",
    "user32.dll",
    "ucrtbase.dll",
}
SYSTEM_DLL_PREFIXES = ("api-ms-win-",)

ICON_SIZE = 67624
# The most the stub (the launcher without its game.json and installer) may weigh: 256 KiB.
STUB_LIMIT = 256 * 1024


class Checks:
    def __init__(self):
        self.failures = 0
        self.count = 0

    def equal(self, what, actual, expected):
        self.count += 1
        if actual == expected:
            print(f"ok   {what}: {actual!r}")
        else:
            self.failures += 1
            print(f"FAIL {what}: {actual!r}, expected {expected!r}")

    def true(self, what, condition, detail=""):
        self.count += 1
        if condition:
            print(f"ok   {what}")
        else:
            self.failures += 1
            print(f"FAIL {what}{': ' + detail if detail else ''}")

    @staticmethod
    def skip(what, reason):
        print(f"skip {what}: {reason}")


def resources(pe):
    """{(type id, name id): [(language, bytes)]} of the resource tree."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in rtype.directory.entries:
            for lang in name.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                type_key = rtype.id if rtype.id is not None else str(rtype.name)
                name_key = name.id if name.id is not None else str(name.name)
                found.setdefault((type_key, name_key), []).append((lang.id, data))
    return found


def check_headers(pe, c):
    fh = pe.FILE_HEADER
    oh = pe.OPTIONAL_HEADER
    c.equal("machine", fh.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"])
    c.equal("optional header magic (PE32+)", oh.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS)
    c.equal("subsystem", oh.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
    c.equal("stack reserve", oh.SizeOfStackReserve, 0x100000)
    c.equal("stack commit", oh.SizeOfStackCommit, 0x1000)
    flags = pefile.DLL_CHARACTERISTICS
    wanted = (
        flags["IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA"]
        | flags["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"]
        | flags["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"]
        | flags["IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE"]
    )
    c.equal("DLL characteristics", hex(oh.DllCharacteristics), hex(wanted))
    c.equal(
        "operating system version",
        (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion),
        (6, 0),
    )
    c.equal(
        "subsystem version", (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion), (6, 0)
    )
    c.true("relocations present (dynamic base)", oh.DATA_DIRECTORY[5].Size > 0)


def map_symbols(map_path):
    """{address: [names]} of the symbols a GNU ld map file lists."""
    symbols = {}
    pattern = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+([A-Za-z_.$@?][^\s]*)\s*$")
    with open(map_path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            m = pattern.match(line)
            if m:
                symbols.setdefault(int(m.group(1), 16), []).append(m.group(2))
    return symbols


def check_entry(pe, map_path, c):
    """The entry is the runtime's start-up for main(argc, argv) with the console application type.

    The linker's map names the routine at the entry address. Independently of it, the mingw-w64
    start-up routines are told apart by their first store: mainCRTStartup sets the runtime's
    application type to 0 (console), WinMainCRTStartup to 1 (windowed), right before calling the
    common start-up:
        sub rsp, 28h; mov rax, [rip+x]; mov dword [rax], <type>; call ...
    """
    entry = pe.OPTIONAL_HEADER.AddressOfEntryPoint
    if map_path and not os.path.exists(map_path):
        c.true("entry point named by the linker map", False, f"no linker map at {map_path}")
    elif map_path:
        names = map_symbols(map_path).get(pe.OPTIONAL_HEADER.ImageBase + entry, [])
        c.true("entry point is mainCRTStartup (linker map)", "mainCRTStartup" in names,
               f"symbols at the entry: {names}")
        c.true("entry point is not WinMainCRTStartup (linker map)",
               "WinMainCRTStartup" not in names, f"symbols at the entry: {names}")
        # The benchmark's probe variant wraps the import of CreateProcessW; the stub must not.
        wrapped = sorted(n for names in map_symbols(map_path).values() for n in names
                         if n.startswith("__wrap_"))
        c.equal("no wrapped imports (the benchmark probe's link)", wrapped, [])
    else:
        Checks.skip("entry point named by the linker map",
                    "no map file given; the stripped executable carries no symbols")

    what = "application type stored by the entry (0 console, 1 windowed)"
    code = pe.get_data(entry, 24)
    head_ok = code[0:4] == bytes.fromhex("4883ec28") and code[4:7] == bytes.fromhex("488b05")
    store_ok = code[11:13] == bytes.fromhex("c700") and code[14:17] == bytes(3) and code[17] == 0xE8
    if not (head_ok and store_ok):
        Checks.skip(what, "the entry code is not the recognised start-up sequence: " +
                    code.hex(" "))
        return
    c.equal(what, code[13], 0)


def check_imports(pe, c):
    dlls = []
    if hasattr(pe, "DIRECTORY_ENTRY_IMPORT"):
        dlls += [e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT]
    if hasattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT"):
        dlls += [e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_DELAY_IMPORT]
    c.true("imports some DLL", bool(dlls))
    for dll in dlls:
        allowed = dll in SYSTEM_DLLS or dll.startswith(SYSTEM_DLL_PREFIXES)
        c.true(f"import {dll} is a system DLL", allowed, "not in the allowed set " +
               ", ".join(sorted(SYSTEM_DLLS)))
    # user32 and version are loaded only when the failure dialog is shown; advapi32's calls come
    # from kernelbase. None of them may cost every start a load.
    for dll in ("user32.dll", "version.dll", "advapi32.dll"):
        c.true(f"{dll} is not imported", dll not in dlls)


def check_icons(found, c):
    icons = found.get((pefile.RESOURCE_TYPE["RT_ICON"], 1), [])
    c.equal("icon 1 languages", [lang for lang, _ in icons], [LANG_EN_US])
    if icons:
        data = icons[0][1]
        c.equal("icon 1 size", len(data), ICON_SIZE)
        (size, width, height, planes, bpp, compression) = struct.unpack_from("<IiiHHI", data)
        c.equal(
            "icon 1 DIB header (size, width, height, planes, bpp, compression)",
            (size, width, height, planes, bpp, compression),
            (40, 128, 256, 1, 32, 0),
        )
    c.equal(
        "icon resources",
        sorted(k[1] for k in found if k[0] == pefile.RESOURCE_TYPE["RT_ICON"]),
        [1],
    )

    groups = found.get((pefile.RESOURCE_TYPE["RT_GROUP_ICON"], 1), [])
    c.equal("group icon 1 languages", [lang for lang, _ in groups], [LANG_EN_US])
    if groups:
        data = groups[0][1]
        reserved, kind, count = struct.unpack_from("<HHH", data)
        c.equal("group icon header (reserved, type, count)", (reserved, kind, count), (0, 1, 1))
        c.equal("group icon size", len(data), 6 + 14 * count)
        if count >= 1:
            entry = struct.unpack_from("<BBBBHHIH", data, 6)
            c.equal(
                "group icon entry (width, height, colours, reserved, planes, bpp, bytes, id)",
                entry,
                (128, 128, 0, 0, 1, 32, ICON_SIZE, 1),
            )
    c.equal(
        "group icon resources",
        sorted(k[1] for k in found if k[0] == pefile.RESOURCE_TYPE["RT_GROUP_ICON"]),
        [1],
    )


def check_version(pe, found, c):
    versions = found.get((pefile.RESOURCE_TYPE["RT_VERSION"], 1), [])
    c.equal("version 1 languages", [lang for lang, _ in versions], [LANG_EN_US])
    c.equal(
        "version resources",
        sorted(k[1] for k in found if k[0] == pefile.RESOURCE_TYPE["RT_VERSION"]),
        [1],
    )
    if not hasattr(pe, "VS_FIXEDFILEINFO"):
        c.true("version resource parsed", False)
        return
    fixed = pe.VS_FIXEDFILEINFO[0]
    c.equal(
        "fixed part (file version MS/LS, product version MS/LS)",
        (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS),
        (0x00010000, 0, 0x00010000, 0),
    )
    c.equal(
        "fixed part (flags mask, flags, OS, type, subtype)",
        (fixed.FileFlagsMask, fixed.FileFlags, fixed.FileOS, fixed.FileType, fixed.FileSubtype),
        (0x3F, 0, 0x40004, 1, 0),
    )
    tables = []
    translations = []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                tables.append(
                    (table.LangID, {k.decode(): v.decode() for k, v in table.entries.items()})
                )
        elif info.Key == b"VarFileInfo":
            for var in info.Var:
                translations.append(var.entry)
    c.equal(
        "string tables",
        tables,
        [
            (
                b"000004b0",
                {
                    "FileDescription": "brevlo",
                    "ProductName": "brevlo",
                    "ProductVersion": "1.0.0",
                    "FileVersion": "1.0.0",
                },
            )
        ],
    )
    c.equal("translation", translations, [{b"Translation": "0x0000 0x04b0"}])


def check_other_resources(found, c):
    kinds = sorted({k[0] for k in found}, key=str)
    c.true(
        "no manifest resource",
        pefile.RESOURCE_TYPE["RT_MANIFEST"] not in kinds,
        "a manifest is embedded",
    )
    c.equal(
        "resource types",
        kinds,
        sorted(
            [
                pefile.RESOURCE_TYPE["RT_ICON"],
                pefile.RESOURCE_TYPE["RT_GROUP_ICON"],
                pefile.RESOURCE_TYPE["RT_VERSION"],
            ],
            key=str,
        ),
    )


def main(argv):
    if len(argv) not in (2, 3, 4):
        sys.stderr.write("usage: pe_form_test.py brevlo.exe [brevlo.map [brevlo-stub.exe]]\n")
        return 2
    pe = pefile.PE(argv[1])
    c = Checks()
    found = resources(pe)
    check_headers(pe, c)
    check_entry(pe, argv[2] if len(argv) == 3 else None, c)
    check_imports(pe, c)
    check_icons(found, c)
    check_version(pe, found, c)
    check_other_resources(found, c)
    if len(argv) == 4:
        size = os.path.getsize(argv[3])
        c.true(f"the stub's {size:,} bytes are at most {STUB_LIMIT:,}", size <= STUB_LIMIT)
    print(f"{c.count - c.failures} of {c.count} checks passed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
