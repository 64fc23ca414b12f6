#!/usr/bin/env python3
"""bench/map_sizes.py on a link map excerpt with each kind of line ld writes: an input section on
one line and on two, alignment fill, archive members, an import library's thunk and tables, the
embedded payload, and sections that take no room in the file (.bss, debugging data)."""
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import map_sizes  # noqa: E402

MAP = """\
Archive member included to satisfy reference by file (symbol)

/usr/lib/libstdc++.a(eh_throw.o)  src/libbrevlo_core.a(launch.cpp.obj) (__cxa_throw)
 .text          0x0000000140001000      0x999 not counted: before the memory map

Linker script and memory map

                0x0000000140000000                __image_base__ = 0x140000000
LOAD /usr/lib/gcc/x86_64-w64-mingw32/12-win32/libstdc++.a
.text           0x0000000140001000    0x35000
 *(.text)
 .text          0x0000000140001000      0x510 /usr/x86_64-w64-mingw32/lib/crt2.o
                0x00000001400014b0                mainCRTStartup
 .text          0x0000000140001510      0x100 src/CMakeFiles/brevlo.dir/main/main.cpp.obj
 .text$_ZNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEE12_M_constructIPKcEEvT_S8_St20forward
                0x0000000140001610       0x40 src/libbrevlo_core.a(config.cpp.obj)
 *fill*         0x0000000140001650       0x10 
 .text          0x0000000140001660      0x200 /usr/lib/gcc/x86_64-w64-mingw32/12-win32/libstdc++.a(eh_throw.o)
 .text          0x0000000140001860        0x8 /usr/x86_64-w64-mingw32/lib/libkernel32.a(libkernel32s01583.o)
.rdata          0x0000000140037000    0x33000
 .rdata         0x0000000140037000     0x1000 src/CMakeFiles/brevlo.dir/__/generated/brevlo_installer.S.obj
 .rdata         0x0000000140038000      0x3e0 src/libbrevlo_core.a(embedded_config.S.obj)
 .rdata         0x00000001400383e0       0x20 /usr/lib/gcc/x86_64-w64-mingw32/12-win32/libgcc_eh.a(unwind-seh.o)
.bss            0x0000000140072000     0x1240
 .bss           0x0000000140072000      0x800 src/libbrevlo_core.a(output.cpp.obj)
 COMMON         0x0000000140072800       0x10 /usr/x86_64-w64-mingw32/lib/libmingwex.a(misc.o)
.idata          0x0000000140074000     0x2000
 .idata$5       0x0000000140074000        0x8 /usr/x86_64-w64-mingw32/lib/libkernel32.a(libkernel32s01583.o)
.rsrc           0x0000000140078000    0x11000
 .rsrc          0x0000000140078000    0x10ac8 src/CMakeFiles/brevlo.dir/main/brevlo.rc.res
.debug_info     0x0000000140100000      0x500
 .debug_info    0x0000000140100000      0x500 src/libbrevlo_core.a(config.cpp.obj)
"""


def main():
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "test.map")
        with open(path, "w") as f:
            f.write(MAP)
        got = map_sizes.stub_rows(path, file_size=0x20000, payload_size=0x1000 + 0x3e0)
    want = [
        (map_sizes.RESOURCES, 0x10ac8),
        (map_sizes.CRT, 0x510),
        (map_sizes.LIBSTDCXX, 0x200),
        (map_sizes.OURS, 0x140),
        (map_sizes.LIBGCC, 0x20),
        (map_sizes.FILL, 0x10),
        (map_sizes.IMPORTS, 0x10),
        # The file less the payload less the rows above.
        (map_sizes.REST, 0x20000 - 0x13e0 - (0x10ac8 + 0x510 + 0x200 + 0x140 + 0x20 + 0x10 + 0x10)),
    ]
    if got != want:
        print(f"got  {got}\nwant {want}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
