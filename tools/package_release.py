#!/usr/bin/python3
"""Packs the release bundles: the packaging step of scripts/release.sh.

Usage: package_release.py --version V --epoch SECONDS --out DIR
           --native-build build/release-native --windows-build build/release-windows

The programs and their linker maps come from the two release builds (presets release-native and
release-windows): brevlo-stub.exe and brevlo-pack.exe from the Windows one, brevlo-pack and
brevlo-check-config from the native one, each with generated/<program>.map.

Writes to DIR:
  brevlo-V-windows-x64.zip      brevlo-stub.exe, brevlo-pack.exe and the documents
  brevlo-V-linux-x86_64.tar.gz  brevlo-pack, brevlo-check-config, brevlo-stub.exe and the documents
  SHA256SUMS                    both, in the form `sha256sum -c` reads
The documents are the publisher guide (docs/publisher-guide.md, as README.md) with its picture
of the failure dialog and the splash, LICENSE and THIRD-PARTY-NOTICES.md. Each bundle holds one folder named like the archive.

The archives are the same bytes for the same inputs and epoch: entries in name order, every time
stamp the epoch, owner 0/0, modes 0755 for programs and 0644 for the rest, no gzip name or time.
Python's own tarfile, gzip and zipfile write them, because the libarchive writer behind CMake's
packagers (CPack, `cmake -E tar`) puts the current time into the gzip header and the zip entries,
and takes owners and order from the file system.

Each map is a GNU ld map of a shipped program: every library and start-up object it took from
outside the build tree (import stubs of system DLLs aside) must be named in
THIRD-PARTY-NOTICES.md, or nothing is written. A program or map that is missing stops the run,
naming it.
"""

import argparse
import gzip
import hashlib
import io
import os
import re
import sys
import tarfile
import time
import zipfile

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NOTICES = "THIRD-PARTY-NOTICES.md"
# name in the bundle -> file in the repository
DOCUMENTS = {
    "README.md": "docs/publisher-guide.md",
    "LICENSE": "LICENSE",
    NOTICES: NOTICES,
    "failure-dialog.png": "docs/failure-dialog.png",
    "splash.png": "docs/splash.png",
}


def fail(message):
    print(f"package_release: {message}", file=sys.stderr)
    sys.exit(1)


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as e:
        fail(f"cannot read {path}: {e.strerror}")


def linked_inputs(map_text):
    """Base names of the archives and objects from outside the build tree that a GNU ld map shows
    as linked, without the import stubs of DLLs."""
    names = set()
    # Lines of the "Archive member included" part start with the archive's path; only the build
    # tree's own are relative.
    for archive, member in re.findall(r"^(/\S+\.a)\((.+?)\)", map_text, re.M):
        stem = os.path.basename(archive)[:-2]
        # dlltool's import members: <lib>s00042.o, <lib>h.o, <lib>t.o (msvcrt: <lib>_defs...).
        if not re.fullmatch(re.escape(stem) + r"(_def)?(s\d+|h|t)\.o", member):
            names.add(os.path.basename(archive))
    names.update(os.path.basename(o) for o in re.findall(r"^LOAD (/\S+\.o)$", map_text, re.M))
    return names


def check_notices(maps):
    notices = read(os.path.join(SOURCE_DIR, NOTICES)).decode()
    for path in maps:
        missing = sorted(n for n in linked_inputs(read(path).decode(errors="replace"))
                         if f"`{n}`" not in notices)
        if missing:
            fail(f"{path} links {', '.join(missing)}, not named in {NOTICES}")


def bundle_files(programs):
    """[(name, bytes, mode)] in name order: the programs and the documents."""
    files = [(name, read(path), 0o755) for name, path in programs.items()]
    files += [(name, read(os.path.join(SOURCE_DIR, src)), 0o644) for name, src in DOCUMENTS.items()]
    return sorted(files)


def write_zip(folder, files, epoch):
    # Zip times are local times of day with 2-second steps, from 1980 on.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        entry = zipfile.ZipInfo(folder + "/", stamp)
        entry.create_system = 3
        entry.external_attr = (0o40755 << 16) | 0x10
        archive.writestr(entry, b"")
        for name, data, mode in files:
            entry = zipfile.ZipInfo(f"{folder}/{name}", stamp)
            entry.create_system = 3
            entry.external_attr = (0o100000 | mode) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data, compresslevel=9)
    return buffer.getvalue()


def write_tar_gz(folder, files, epoch):
    def info(name, mode, kind=tarfile.REGTYPE, size=0):
        entry = tarfile.TarInfo(name)
        entry.type, entry.mode, entry.size, entry.mtime = kind, mode, size, epoch
        entry.uid = entry.gid = 0
        entry.uname = entry.gname = ""
        return entry

    tar_bytes = io.BytesIO()
    with tarfile.open(fileobj=tar_bytes, mode="w", format=tarfile.GNU_FORMAT) as archive:
        archive.addfile(info(folder, 0o755, tarfile.DIRTYPE))
        for name, data, mode in files:
            archive.addfile(info(f"{folder}/{name}", mode, size=len(data)), io.BytesIO(data))
    gz_bytes = io.BytesIO()
    with gzip.GzipFile(filename="", mode="wb", fileobj=gz_bytes, compresslevel=9, mtime=0) as gz:
        gz.write(tar_bytes.getvalue())
    return gz_bytes.getvalue()


def put(out_dir, name, data):
    """Writes the file under a temporary name and renames it when complete."""
    temporary = os.path.join(out_dir, f".{name}.part")
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, os.path.join(out_dir, name))


# program in a bundle -> (which build, file in it)
PROGRAMS = {
    "brevlo-stub.exe": ("windows", "brevlo-stub.exe"),
    "brevlo-pack.exe": ("windows", "brevlo-pack.exe"),
    "brevlo-pack": ("native", "brevlo-pack"),
    "brevlo-check-config": ("native", "brevlo-check-config"),
}


def main():
    parser = argparse.ArgumentParser(description="Packs the release bundles.")
    parser.add_argument("--version", required=True)
    parser.add_argument("--epoch", required=True, type=int)
    parser.add_argument("--out", required=True)
    parser.add_argument("--native-build", required=True)
    parser.add_argument("--windows-build", required=True)
    args = parser.parse_args()

    builds = {"native": args.native_build, "windows": args.windows_build}
    programs, maps = {}, []
    for name, (build, file) in PROGRAMS.items():
        programs[name] = os.path.join(builds[build], file)
        stem = file[:-4] if file.endswith(".exe") else file
        maps.append(os.path.join(builds[build], "generated", stem + ".map"))
    for path in list(programs.values()) + maps:
        if not os.path.isfile(path):
            fail(f"{path} is missing: build the release presets first (bash scripts/release.sh)")

    check_notices(maps)
    windows = f"brevlo-{args.version}-windows-x64"
    linux = f"brevlo-{args.version}-linux-x86_64"
    archives = {
        windows + ".zip": write_zip(
            windows,
            bundle_files({n: programs[n] for n in ("brevlo-stub.exe", "brevlo-pack.exe")}),
            args.epoch),
        linux + ".tar.gz": write_tar_gz(
            linux,
            bundle_files({n: programs[n]
                          for n in ("brevlo-pack", "brevlo-check-config", "brevlo-stub.exe")}),
            args.epoch),
    }
    os.makedirs(args.out, exist_ok=True)
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n"
                   for name, data in sorted(archives.items()))
    for name, data in archives.items():
        put(args.out, name, data)
    put(args.out, "SHA256SUMS", sums.encode())
    for name in sorted(archives):
        print(os.path.join(args.out, name))


if __name__ == "__main__":
    main()
