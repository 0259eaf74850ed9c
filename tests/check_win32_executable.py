#!/usr/bin/env python3
"""Checks that the Windows build is a standalone 32-bit x86 console program.

    check_win32_executable.py VORN_EXE

It must be PE32 for i386 in the console subsystem, and import only DLLs that
every Windows installation has: no C++ runtime, libgcc or winpthread DLL.
"""

import shutil
import struct
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll"}
I386 = 0x14C
PE32_MAGIC = 0x10B
CONSOLE_SUBSYSTEM = 3


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    executable = sys.argv[1]
    with open(executable, "rb") as image:
        data = image.read()
    failures = []
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[header:header + 4] != b"PE\0\0":
        sys.exit("FAIL: %s is not a PE image" % executable)
    machine = struct.unpack_from("<H", data, header + 4)[0]
    optional = header + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    if machine != I386:
        failures.append("machine 0x%x, not i386" % machine)
    if magic != PE32_MAGIC:
        failures.append("optional header magic 0x%x, not PE32" % magic)
    if subsystem != CONSOLE_SUBSYSTEM:
        failures.append("subsystem %d, not the console" % subsystem)

    objdump = shutil.which("i686-w64-mingw32-objdump")
    if objdump is None:
        sys.exit("FAIL: i686-w64-mingw32-objdump is missing, the imports cannot be listed")
    listing = subprocess.run([objdump, "-p", executable], stdout=subprocess.PIPE,
                             check=True, text=True).stdout
    imports = {line.split(":", 1)[1].strip().lower()
               for line in listing.splitlines() if "DLL Name:" in line}
    if not imports:
        failures.append("no imports listed at all")
    for dll in sorted(imports - SYSTEM_DLLS):
        failures.append("imports %s, which Windows does not ship" % dll)

    for failure in failures:
        print("FAIL: " + failure)
    print("imports: %s" % ", ".join(sorted(imports)))
    if not failures:
        print("a standalone PE32 i386 console program")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
