#!/usr/bin/python3
"""Packs the stub with brevlo-pack, natively and under Wine, and checks the launchers with pefile.

Usage: pack_form_test.py STUB HOST_PACK WINDOWS_PACK WINE_RUN CONFIG INSTALLER SCRATCH

SCRATCH is emptied and owned by this test. Checked: the packed launcher keeps the stub's form and
gets the payload sections, resources, relocations and headers of its new size; a certificate table
after the stub is dropped; branding puts a multi-image icon, CJK version strings and a splash in; the Linux
and Windows tools give the same bytes for the same command run in a folder named "Été 2026", and
repacking a launcher gives it back unchanged; the Windows tool's refusals reach standard error
whole; an installer over 2 GiB and crafted files (a resource directory or an icon whose 65,535
entries all name the same 1 MiB) are refused by both tools with one line, and the Linux tool packs
and inspects a 256 MiB installer, and refuses the crafted files, within 64 MiB of resident memory.
The exit status is 1 when any check fails.
"""

import filecmp
import os
import shutil
import struct
import subprocess
import sys
import zlib

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_form_test import Checks, resources  # noqa: E402

PAYLOAD_CHARACTERISTICS = 0x40000040
TAIL = [".brvcfg", ".brvimg", ".brvopt", ".brvspl", ".rsrc", ".reloc"]
FOLDER = "Été 2026"
PRODUCT = "奥斯特万 Ostrevan 🎮"
DESCRIPTION = "Été 2026 — 启动器"
VERSION = "2.5.0.7"
# The limit of each program run (a hang, not a slow machine) grows with the tests' one knob, which
# CTest sets from the build's configuration.
TIME_SCALE = int(os.environ.get("BREVLO_TEST_TIME_SCALE") or "1")
RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16

# Header fields a packed launcher keeps from its stub.
FILE_HEADER_KEPT = ["Machine", "TimeDateStamp", "SizeOfOptionalHeader", "Characteristics"]
OPTIONAL_HEADER_KEPT = [
    "Magic", "MajorLinkerVersion", "MinorLinkerVersion", "SizeOfCode", "SizeOfUninitializedData",
    "AddressOfEntryPoint", "BaseOfCode", "ImageBase", "SectionAlignment", "FileAlignment",
    "MajorOperatingSystemVersion", "MinorOperatingSystemVersion", "MajorImageVersion",
    "MinorImageVersion", "MajorSubsystemVersion", "MinorSubsystemVersion", "Reserved1",
    "SizeOfHeaders", "Subsystem", "DllCharacteristics", "SizeOfStackReserve",
    "SizeOfStackCommit", "SizeOfHeapReserve", "SizeOfHeapCommit", "LoaderFlags",
    "NumberOfRvaAndSizes",
]


def align(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def name_of(section):
    return section.Name.rstrip(b"\0").decode()


def dib(width, fill):
    """A 32-bit icon bitmap: BITMAPINFOHEADER (height doubled for the mask), pixels, mask."""
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * width, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + bytes([fill]) * (width * width * 4) + bytes(((width + 31) // 32 * 4) * width)


def png(width):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = b"".join(b"\0" + bytes([x % 256, 0x80, 255 - x % 256, 255]) * width
                    for x in range(width))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, width, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


ICON_IMAGES = [(16, dib(16, 0x40)), (256, png(256)), (48, dib(48, 0xC0))]


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, data in images:
        out += struct.pack("<BBBBHHII", width % 256, width % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def pefile_text(text):
    """A version string as pefile gives it: each UTF-16 unit read as one character."""
    units = struct.unpack(f"<{len(text.encode('utf-16-le')) // 2}H", text.encode("utf-16-le"))
    return "".join(map(chr, units)).encode("utf-8", "backslashreplace").decode()


def run(command, cwd):
    done = subprocess.run(command, cwd=cwd, capture_output=True, timeout=300 * TIME_SCALE)
    return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")


def peak_memory(command, cwd):
    """The exit status, standard error and maximum resident set size (KiB) of one run."""
    report = os.path.join(cwd, "time.txt")
    done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + command, cwd=cwd,
                          capture_output=True, timeout=300 * TIME_SCALE)
    with open(report) as f:
        peak = int(f.read().split()[-1])
    os.unlink(report)
    return done.returncode, done.stderr.decode("utf-8", "replace"), peak


def shared_data_resources(rva, languages, size):
    """A resource tree with one type and name whose `languages` language entries each have a data
    entry of their own, all naming the same `size` bytes at the tree's end."""
    entries_at = 64 + 8 * languages
    data_at = entries_at + 16 * languages
    out = struct.pack("<IIHHHHII", 0, 0, 0, 0, 0, 1, 10, 0x80000000 | 24)
    out += struct.pack("<IIHHHHII", 0, 0, 0, 0, 0, 1, 1, 0x80000000 | 48)
    out += struct.pack("<IIHHHH", 0, 0, 0, 0, 0, languages)
    out += b"".join(struct.pack("<II", i, entries_at + 16 * i) for i in range(languages))
    out += struct.pack("<IIII", rva + data_at, size, 0, 0) * languages
    return out + bytes([0x5A]) * size


def with_shared_resource_data(image):
    """The image (whose last two sections are .rsrc and .reloc) with .reloc dropped and .rsrc made
    a tree of 65,535 resources sharing 1 MiB."""
    pe = pefile.PE(data=image)
    rsrc, reloc = pe.sections[-2:]
    assert (name_of(rsrc), name_of(reloc)) == (".rsrc", ".reloc")
    oh = pe.OPTIONAL_HEADER
    tree = shared_data_resources(rsrc.VirtualAddress, 65535, 1 << 20)
    pe.FILE_HEADER.NumberOfSections -= 1
    rsrc.Misc_VirtualSize = len(tree)
    rsrc.SizeOfRawData = align(len(tree), oh.FileAlignment)
    oh.DATA_DIRECTORY[2].Size = len(tree)
    oh.DATA_DIRECTORY[5].VirtualAddress = oh.DATA_DIRECTORY[5].Size = 0
    oh.SizeOfImage = align(rsrc.VirtualAddress + len(tree), oh.SectionAlignment)
    head = pe.write()[:rsrc.PointerToRawData]
    return head + tree + bytes(rsrc.SizeOfRawData - len(tree))


def ico_with_shared_image():
    """An icon file whose 65,535 directory entries all name the same 1 MiB bitmap."""
    image = struct.pack("<IiiHH", 40, 256, 512, 1, 32) + bytes((1 << 20) - 16)
    entry = struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(image), 6 + 16 * 65535)
    return struct.pack("<HHH", 0, 1, 65535) + entry * 65535 + image


def sparse_installer(path, size, header):
    """An installer of `size` bytes, its headers written and the rest a hole."""
    with open(path, "wb") as f:
        f.write(header)
        f.truncate(size)


def checksum(data, field):
    """The PE checksum: 16-bit words added with the carry folded back in, plus the file's length.

    (pefile's generate_checksum sums its own re-serialisation of the image, which re-encodes
    version strings with characters outside the BMP.)
    """
    words = bytearray(data)
    words[field:field + 4] = bytes(4)
    if len(words) % 2:
        words.append(0)
    total = 0
    for (word,) in struct.iter_unpack("<H", words):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def imports(pe):
    return [(e.dll, [i.name or i.ordinal for i in e.imports])
            for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]


def check_form(c, what, stub_path, out_path, config, installer, splash):
    """The packed launcher keeps the stub's form and lays out its tail for its new size; the
    splash section is there when splash is true."""
    stub = pefile.PE(stub_path)
    out = pefile.PE(out_path)
    data = open(out_path, "rb").read()
    c.equal(f"{what}: pefile warnings", out.get_warnings(), [])
    c.true(f"{what}: DOS header and stub kept", data[:stub.DOS_HEADER.e_lfanew] ==
           open(stub_path, "rb").read()[:stub.DOS_HEADER.e_lfanew])
    for header, fields in ((("FILE_HEADER"), FILE_HEADER_KEPT), ("OPTIONAL_HEADER", OPTIONAL_HEADER_KEPT)):
        c.equal(f"{what}: {header} fields kept",
                [getattr(getattr(out, header), f) for f in fields],
                [getattr(getattr(stub, header), f) for f in fields])
    c.equal(f"{what}: imports", imports(out), imports(stub))

    kept = [s for s in stub.sections if name_of(s) not in TAIL]
    c.equal(f"{what}: section names", [name_of(s) for s in out.sections],
            [name_of(s) for s in kept] + [n for n in TAIL if splash or n != ".brvspl"])
    c.equal(f"{what}: kept section headers", [s.__pack__().hex() for s in out.sections[:len(kept)]],
            [s.__pack__().hex() for s in kept])
    c.true(f"{what}: kept sections' data", [s.get_data() for s in out.sections[:len(kept)]] ==
           [s.get_data() for s in kept])
    oh = out.OPTIONAL_HEADER
    tail = out.sections[len(kept):]
    expected_rva = align(kept[-1].VirtualAddress + kept[-1].Misc_VirtualSize, oh.SectionAlignment)
    expected_file = align(max(s.PointerToRawData + s.SizeOfRawData for s in kept), oh.FileAlignment)
    for section in tail:
        c.equal(f"{what}: {name_of(section)} address, file offset and file size",
                (section.VirtualAddress, section.PointerToRawData, section.SizeOfRawData),
                (expected_rva, expected_file, align(section.Misc_VirtualSize, oh.FileAlignment)))
        expected_rva = align(section.VirtualAddress + section.Misc_VirtualSize, oh.SectionAlignment)
        expected_file += section.SizeOfRawData
    for section, payload in zip(tail, (config, installer)):
        c.equal(f"{what}: {name_of(section)} characteristics", hex(section.Characteristics),
                hex(PAYLOAD_CHARACTERISTICS))
        c.true(f"{what}: {name_of(section)} holds the payload exactly, zero padded",
               section.Misc_VirtualSize == len(payload) and
               section.get_data() == payload + bytes(section.SizeOfRawData - len(payload)))
    by_name = {name_of(s): s for s in tail}
    stub_reloc = [s for s in stub.sections if name_of(s) == ".reloc"][0]
    c.true(f"{what}: .reloc copied", by_name[".reloc"].get_data()[:stub_reloc.Misc_VirtualSize] ==
           stub_reloc.get_data()[:stub_reloc.Misc_VirtualSize])

    dirs = [(d.VirtualAddress, d.Size) for d in oh.DATA_DIRECTORY]
    want = [(d.VirtualAddress, d.Size) for d in stub.OPTIONAL_HEADER.DATA_DIRECTORY]
    want[2] = (by_name[".rsrc"].VirtualAddress, by_name[".rsrc"].Misc_VirtualSize)
    want[4] = (0, 0)
    want[5] = (by_name[".reloc"].VirtualAddress + want[5][0] - stub_reloc.VirtualAddress, want[5][1])
    c.equal(f"{what}: data directories", dirs, want)
    c.equal(f"{what}: size of image", oh.SizeOfImage, expected_rva)
    c.equal(f"{what}: size of initialised data", oh.SizeOfInitializedData,
            sum(s.SizeOfRawData for s in out.sections if s.Characteristics & 0x40))
    c.equal(f"{what}: checksum", oh.CheckSum, checksum(data, oh.get_file_offset() + 64))
    c.equal(f"{what}: file ends with the last section", len(data), expected_file)
    return out


def check_branding(c, what, pe):
    found = resources(pe)
    group = struct.pack("<HHH", 0, 1, len(ICON_IMAGES))
    for index, (width, image) in enumerate(ICON_IMAGES, 1):
        c.true(f"{what}: icon {index} is image {index} of the .ico in language 1033",
               found.get((RT_ICON, index)) == [(1033, image)])
        group += struct.pack("<BBBBHHIH", width % 256, width % 256, 0, 0, 1, 32, len(image), index)
    c.equal(f"{what}: group icon 1", [(lang, data.hex()) for lang, data in found.get((RT_GROUP_ICON, 1), [])],
            [(1033, group.hex())])
    c.equal(f"{what}: resources", sorted(found), sorted(
        [(RT_ICON, i) for i in range(1, len(ICON_IMAGES) + 1)] + [(RT_GROUP_ICON, 1), (RT_VERSION, 1)]))
    fixed = pe.VS_FIXEDFILEINFO[0]
    c.equal(f"{what}: fixed file and product versions",
            (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS, fixed.ProductVersionLS),
            (0x00020005, 0x00000007, 0x00020005, 0x00000007))
    tables, translations = [], []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            tables += [(t.LangID, {k.decode(): v.decode() for k, v in t.entries.items()})
                       for t in info.StringTable]
        elif info.Key == b"VarFileInfo":
            translations += [var.entry for var in info.Var]
    c.equal(f"{what}: string tables", tables, [(b"000004b0", {
        "FileDescription": pefile_text(DESCRIPTION),
        "ProductName": pefile_text(PRODUCT),
        "ProductVersion": VERSION,
        "FileVersion": VERSION,
    })])
    c.equal(f"{what}: translation", translations, [{b"Translation": "0x0000 0x04b0"}])


def main(argv):
    if len(argv) != 8:
        sys.stderr.write(__doc__)
        return 2
    stub_path, host_pack, windows_pack, wine_run, config_path, installer_path, scratch = argv[1:]
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(os.path.join(scratch, FOLDER))
    config = open(config_path, "rb").read()
    installer = open(installer_path, "rb").read()
    for name, data in (("stub.exe", open(stub_path, "rb").read()), ("game.json", config),
                       ("setup.exe", installer), ("game.ico", ico(ICON_IMAGES)),
                       ("splash.png", png(64))):
        with open(os.path.join(scratch, name), "wb") as f:
            f.write(data)
    host = [os.path.abspath(host_pack)]
    windows = [os.path.abspath(wine_run), os.path.abspath(windows_pack)]
    inputs = ["--config", "game.json", "--installer", "setup.exe"]
    branding = ["--icon", "game.ico", "--product-name", PRODUCT, "--file-description", DESCRIPTION,
                "--version", VERSION, "--splash", "splash.png"]
    c = Checks()

    def pack(tool, stub, out, extra=()):
        result = run(tool + ["--stub", stub] + inputs + ["--out", out] + list(extra), scratch)
        c.equal(f"{out}: exit status and output", result, (0, "", ""))
        path = os.path.join(scratch, out)
        return open(path, "rb").read() if os.path.exists(path) else b""

    plain = pack(host, "stub.exe", "plain.exe")
    check_form(c, "plain", os.path.join(scratch, "stub.exe"), os.path.join(scratch, "plain.exe"),
               config, installer, False)
    c.true("plain: resources are the stub's",
           resources(pefile.PE(os.path.join(scratch, "plain.exe"))) ==
           resources(pefile.PE(os.path.join(scratch, "stub.exe"))))

    # A certificate table after the stub, as a signing tool leaves it, is dropped.
    signed = pefile.PE(os.path.join(scratch, "stub.exe"))
    certificate = struct.pack("<IHH", 24, 0x0200, 0x0002) + b"not a real PKCS#7"[:16]
    signed.OPTIONAL_HEADER.DATA_DIRECTORY[4].VirtualAddress = len(signed.__data__)
    signed.OPTIONAL_HEADER.DATA_DIRECTORY[4].Size = len(certificate)
    with open(os.path.join(scratch, "signed-stub.exe"), "wb") as f:
        f.write(signed.write() + certificate)
    c.true("a signed stub packs to the same bytes, unsigned",
           pack(host, "signed-stub.exe", "from-signed.exe") == plain)

    out_linux = f"{FOLDER}/branded-linux.exe"
    out_windows = f"{FOLDER}/branded-windows.exe"
    branded = pack(host, "stub.exe", out_linux, branding)
    c.true("the Windows tool under Wine gives the same bytes",
           pack(windows, "stub.exe", out_windows, branding) == branded and branded != b"")
    pe = check_form(c, "branded", os.path.join(scratch, "stub.exe"),
                    os.path.join(scratch, out_linux), config, installer, True)
    check_branding(c, "branded", pe)
    c.true("repacking the branded launcher with only its splash gives it back",
           pack(windows, out_windows, f"{FOLDER}/repacked.exe", ["--splash", "splash.png"]) == branded)

    refusals = [
        (["--version", "1.2.3.4.5"], 1,
         "brevlo-pack: --version 1.2.3.4.5 is not 1 to 4 numbers from 0 to 65535 separated by dots\n"),
        (["--config", "bad.json"], 1,
         '无法解析 game.json: Error("missing field `mainBinaryName`", line: 1, column: 2)\n'),
        (["--splash", "bad.json"], 1,
         "brevlo-pack: bad.json is not a usable splash image: it is not a PNG file (no PNG signature)\n"),
    ]
    with open(os.path.join(scratch, "bad.json"), "wb") as f:
        f.write(b"{}")
    for extra, status, line in refusals:
        command = windows + ["--stub", "stub.exe", "--installer", "setup.exe", "--out", "refused.exe"]
        command += extra if "--config" in extra else ["--config", "game.json"] + extra
        c.equal(f"Windows tool refuses {' '.join(extra)}", run(command, scratch), (status, "", line))
        c.true(f"no output after refusing {' '.join(extra)}",
               not os.path.exists(os.path.join(scratch, "refused.exe")))
    c.equal("nothing else left in the output folder", sorted(os.listdir(os.path.join(scratch, FOLDER))),
            ["branded-linux.exe", "branded-windows.exe", "repacked.exe"])

    # Large and crafted inputs: refused with one line by both tools, in bounded memory here.
    limit_kib = 64 * 1024
    sparse_installer(os.path.join(scratch, "large.exe"), 256 << 20, installer[:4096])
    sparse_installer(os.path.join(scratch, "over.exe"), (2 << 30) + 1, installer[:4096])
    with open(os.path.join(scratch, "crafted-stub.exe"), "wb") as f:
        crafted_stub = with_shared_resource_data(open(os.path.join(scratch, "stub.exe"), "rb").read())
        f.write(crafted_stub)
    with open(os.path.join(scratch, "crafted-launcher.exe"), "wb") as f:
        crafted_launcher = with_shared_resource_data(plain)
        f.write(crafted_launcher)
    with open(os.path.join(scratch, "crafted.ico"), "wb") as f:
        f.write(ico_with_shared_image())
    shared = "68718428160 bytes of resource data, more than the file's"
    rows = [
        ("an installer over 2 GiB", ["--stub", "stub.exe", "--config", "game.json", "--installer",
                                     "over.exe", "--out", "big.exe"],
         "brevlo-pack: over.exe is too large: 2147483649 bytes, more than the 2147483648 (2 GiB) "
         "an installer may have\n"),
        ("a stub whose resources share their data",
         ["--stub", "crafted-stub.exe", "--config", "game.json", "--installer", "setup.exe", "--out",
          "big.exe"],
         f"brevlo-pack: crafted-stub.exe cannot be packed: its resource directory names {shared} "
         f"{len(crafted_stub)}\n"),
        ("an icon whose images share their data",
         ["--stub", "stub.exe", "--config", "game.json", "--installer", "setup.exe", "--out",
          "big.exe", "--icon", "crafted.ico"],
         "brevlo-pack: crafted.ico is not a valid .ico: its 65535 images total 68718428160 bytes, "
         f"more than the file's {6 + 16 * 65535 + (1 << 20)}\n"),
        ("a launcher whose resources share their data", ["inspect", "crafted-launcher.exe"],
         "brevlo-pack: crafted-launcher.exe: its resources are malformed: its resource directory "
         f"names {shared} {len(crafted_launcher)}\n"),
    ]
    for what, args, line in rows:
        status, err, peak = peak_memory(host + args, scratch)
        c.equal(f"Linux tool refuses {what}", (status, err), (1, line))
        c.true(f"Linux tool refuses {what} within 64 MiB ({peak} KiB)", peak <= limit_kib)
        c.equal(f"Windows tool refuses {what}", run(windows + args, scratch), (1, "", line))
    c.true("no output after the refusals", not os.path.exists(os.path.join(scratch, "big.exe")))
    large = ["--stub", "stub.exe", "--config", "game.json", "--installer", "large.exe"]
    for what, args in (("packs a 256 MiB installer", large + ["--out", "large-linux.exe"]),
                       ("inspects its launcher", ["inspect", "large-linux.exe"])):
        status, err, peak = peak_memory(host + args, scratch)
        c.equal(f"Linux tool {what}", (status, err), (0, ""))
        c.true(f"Linux tool {what} within 64 MiB ({peak} KiB)", peak <= limit_kib)
    c.equal("Windows tool packs the 256 MiB installer", run(windows + large + ["--out", "large-windows.exe"],
                                                            scratch), (0, "", ""))
    c.true("both tools give the same bytes for the 256 MiB installer",
           filecmp.cmp(os.path.join(scratch, "large-linux.exe"),
                       os.path.join(scratch, "large-windows.exe"), shallow=False))
    for name in ("large.exe", "over.exe", "large-linux.exe", "large-windows.exe"):
        os.unlink(os.path.join(scratch, name))

    print(f"{c.count - c.failures} of {c.count} checks passed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
