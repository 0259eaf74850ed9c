#!/usr/bin/env python3
"""Checks what a user of a vorn release gets: the installed tree, the release
archives and the manual page.

    check_release.py install CMAKE BUILD_DIR VERSION
    check_release.py tarball CPACK BUILD_DIR VERSION SYSTEM_NAME
    check_release.py zip CPACK WIN32_BUILD_DIR VERSION SOURCE_DIR
    check_release.py manual groff|mandoc PAGE

install: `cmake --install --strip` into a fresh prefix gives exactly bin/vorn,
the manual page and the README and licence as documentation, and the installed
program works and shows VERSION. tarball: cpack makes vorn-VERSION-SYSTEM.tar.gz
holding the same tree with no folder around it, and the program unpacked from
it works. zip: cpack on the Windows build makes vorn-VERSION-win32.zip holding
a stripped, standalone PE32 vorn.exe that works under wine, and the README and
the licence as CR LF .txt files. manual: the page renders without a single
warning; exits 77 (a skip) when the renderer is not installed.
"""

import os
import shutil
import stat
import struct
import subprocess
import sys
import tarfile
import tempfile
import zipfile

SKIPPED = 77
SAMPLE = b"first\nsecond\nthird\n"
FAILED = 255  # the status -1 as a POSIX parent sees it
HERE = os.path.dirname(os.path.abspath(__file__))


def banner_line(version):
    return b"vorn %s created by Tarvelin\n" % version.encode()


class Checks:
    """Collects failures so that one run reports all of them."""

    def __init__(self):
        self.failures = []

    def expect(self, condition, message):
        if not condition:
            self.failures.append(message)
        return condition

    def finish(self, what):
        for failure in self.failures:
            print("FAIL: " + failure)
        if self.failures:
            sys.exit(1)
        print("ok: " + what)


def run(command, **options):
    print("+ " + " ".join(command), flush=True)
    return subprocess.run(command, stdout=subprocess.PIPE, timeout=300, **options)


def read_bytes(path):
    with open(path, "rb") as opened:
        return opened.read()


def elf_section_names(path):
    """The section names of a 64- or 32-bit little-endian ELF file."""
    data = read_bytes(path)
    if data[:4] != b"\x7fELF":
        return None
    if data[4] == 2:  # ELFCLASS64
        section_offset, = struct.unpack_from("<Q", data, 0x28)
        entry_size, count, names_index = struct.unpack_from("<HHH", data, 0x3A)
        offset_at, offset_format = 0x18, "<Q"
    else:
        section_offset, = struct.unpack_from("<I", data, 0x20)
        entry_size, count, names_index = struct.unpack_from("<HHH", data, 0x2E)
        offset_at, offset_format = 0x10, "<I"
    names_header = section_offset + names_index * entry_size
    names_offset, = struct.unpack_from(offset_format, data, names_header + offset_at)
    names = []
    for index in range(count):
        header = section_offset + index * entry_size
        name_offset, = struct.unpack_from("<I", data, header)
        start = names_offset + name_offset
        names.append(data[start:data.index(b"\0", start)].decode())
    return names


def pe_symbol_count(path):
    """The number of COFF symbols a PE image still carries; 0 once stripped."""
    data = read_bytes(path)
    header, = struct.unpack_from("<I", data, 0x3C)
    symbol_count, = struct.unpack_from("<I", data, header + 4 + 12)
    return symbol_count


def listed_files(root):
    return sorted(os.path.relpath(os.path.join(folder, name), root)
                  for folder, _, names in os.walk(root) for name in names)


def check_program(checks, command, version, newline, cwd):
    """The program in `command` writes a sample file's first line and, with no
    argument, the banner with `version`."""
    with open(os.path.join(cwd, "sample.txt"), "wb") as sample:
        sample.write(SAMPLE)
    result = run(command + ["-n", "1", "sample.txt"], cwd=cwd)
    checks.expect((result.stdout, result.returncode) == (b"first" + newline, 0),
                  "-n 1 sample.txt gave %r, status %d" % (result.stdout, result.returncode))
    result = run(command + ["-s", "1", "-n", "1", "sample.txt"], cwd=cwd)
    checks.expect((result.stdout, result.returncode) == (b"second" + newline, 0),
                  "-s 1 -n 1 sample.txt gave %r, status %d" % (result.stdout, result.returncode))
    result = run(command, cwd=cwd)
    first_line = result.stdout.split(newline, 1)[0] + newline
    expected = banner_line(version).replace(b"\n", newline)
    checks.expect(first_line == expected,
                  "the banner is %r, not %r" % (first_line, expected))
    checks.expect(result.returncode == FAILED,
                  "no argument gave status %d, not %d" % (result.returncode, FAILED))
    return result.stdout


def check_posix_tree(checks, root, version, source_dir):
    """An installed or unpacked POSIX release under `root`."""
    expected = ["bin/vorn", "share/doc/vorn/LICENSE", "share/doc/vorn/README.md",
                "share/man/man1/vorn.1"]
    files = listed_files(root)
    checks.expect(files == expected, "the tree holds %s, not %s" % (files, expected))
    program = os.path.join(root, "bin", "vorn")
    if not checks.expect(os.path.isfile(program), "bin/vorn is missing"):
        return
    checks.expect(os.stat(program).st_mode & stat.S_IXOTH, "bin/vorn is not executable by all")
    sections = elf_section_names(program)
    checks.expect(sections is not None, "bin/vorn is not an ELF file")
    checks.expect(sections is None or ".symtab" not in sections,
                  "bin/vorn is not stripped: it has a .symtab section")
    usage = check_program(checks, [program], version, b"\n", root)

    for name in ("README.md", "LICENSE"):
        installed = os.path.join(root, "share", "doc", "vorn", name)
        if os.path.isfile(installed):
            checks.expect(read_bytes(installed) == read_bytes(os.path.join(source_dir, name)),
                          "share/doc/vorn/%s differs from the source's" % name)
    page = os.path.join(root, "share", "man", "man1", "vorn.1")
    if os.path.isfile(page):
        text = read_bytes(page)
        title = next((line for line in text.splitlines() if line.startswith(b".TH ")), b"")
        checks.expect(b'"vorn %s"' % version.encode() in title,
                      "the page's title line %r does not name vorn %s" % (title, version))
        # The page quotes the usage text; as roff source, its dashes are \-.
        quoted = usage.replace(b"-", b"\\-")
        checks.expect(quoted in text, "the page does not quote the program's usage text %r"
                      % usage)


def check_install(cmake, build_dir, version):
    checks = Checks()
    source_dir = os.path.dirname(HERE)
    with tempfile.TemporaryDirectory() as prefix:
        result = run([cmake, "--install", build_dir, "--prefix", prefix, "--strip"])
        if checks.expect(result.returncode == 0, "cmake --install failed"):
            check_posix_tree(checks, prefix, version, source_dir)
    checks.finish("cmake --install gives bin/vorn, its manual page and documentation")


def make_package(checks, cpack, build_dir, folder, name):
    result = run([cpack, "--config", os.path.join(build_dir, "CPackConfig.cmake"),
                  "-B", folder])
    if not checks.expect(result.returncode == 0, "cpack failed"):
        return None
    made = sorted(entry for entry in os.listdir(folder)
                  if os.path.isfile(os.path.join(folder, entry)))
    checks.expect(made == [name], "cpack made %s, not %s" % (made, name))
    path = os.path.join(folder, name)
    return path if os.path.isfile(path) else None


def check_tarball(cpack, build_dir, version, system_name):
    checks = Checks()
    source_dir = os.path.dirname(HERE)
    name = "vorn-%s-%s.tar.gz" % (version, system_name)
    with tempfile.TemporaryDirectory() as folder:
        archive = make_package(checks, cpack, build_dir, folder, name)
        if archive is not None:
            with tarfile.open(archive) as tarball:
                members = tarball.getmembers()
                for member in members:
                    inside = not os.path.isabs(member.name) and ".." not in member.name.split("/")
                    checks.expect(inside, "the entry %s lands outside the prefix" % member.name)
                    checks.expect(member.isfile() or member.isdir(),
                                  "the entry %s is neither a file nor a folder" % member.name)
                print("entries: " + ", ".join(m.name for m in members if m.isfile()))
                prefix = os.path.join(folder, "prefix")
                if hasattr(tarfile, "data_filter"):
                    tarball.extractall(prefix, filter="data")
                else:
                    tarball.extractall(prefix)
            check_posix_tree(checks, prefix, version, source_dir)
    checks.finish(name + " unpacks into a prefix as bin/vorn, its manual page and documentation")


def check_zip(cpack, build_dir, version, source_dir):
    checks = Checks()
    name = "vorn-%s-win32.zip" % version
    with tempfile.TemporaryDirectory() as folder:
        archive = make_package(checks, cpack, build_dir, folder, name)
        if archive is not None:
            with zipfile.ZipFile(archive) as packed:
                entries = sorted(packed.namelist())
                print("entries: " + ", ".join(entries))
                expected = ["LICENSE.txt", "README.txt", "vorn.exe"]
                checks.expect(entries == expected,
                              "the zip holds %s, not %s" % (entries, expected))
                unpacked = os.path.join(folder, "unpacked")
                packed.extractall(unpacked)
            for text_name, source_name in (("README.txt", "README.md"),
                                           ("LICENSE.txt", "LICENSE")):
                path = os.path.join(unpacked, text_name)
                if os.path.isfile(path):
                    original = read_bytes(os.path.join(source_dir, source_name))
                    checks.expect(read_bytes(path) == original.replace(b"\n", b"\r\n"),
                                  "%s is not %s with CR LF line ends" % (text_name, source_name))
            program = os.path.join(unpacked, "vorn.exe")
            if os.path.isfile(program):
                result = run([sys.executable, os.path.join(HERE, "check_win32_executable.py"),
                              program])
                checks.expect(result.returncode == 0,
                              "vorn.exe is not a standalone PE32 console program: %s"
                              % result.stdout.decode(errors="replace"))
                checks.expect(pe_symbol_count(program) == 0, "vorn.exe is not stripped")
                check_program(checks, ["wine", program], version, b"\r\n", unpacked)
    checks.finish(name + " holds a working, stripped vorn.exe, README.txt and LICENSE.txt")


def check_manual(renderer, page):
    tool = shutil.which(renderer)
    if tool is None:
        package = {"groff": "groff-base", "mandoc": "mandoc"}[renderer]
        print("SKIPPED: %s is not installed (Debian: apt-get install %s); the manual page "
              "was not rendered" % (renderer, package))
        sys.exit(SKIPPED)
    if renderer == "groff":
        command = [tool, "-man", "-ww", "-z", page]
    else:
        command = [tool, "-T", "lint", page]
    result = run(command, stderr=subprocess.STDOUT)
    report = result.stdout.decode(errors="replace")
    sys.stdout.write(report)
    if result.returncode != 0 or report.strip():
        print("FAIL: %s reports on the manual page (status %d)" % (renderer, result.returncode))
        sys.exit(1)
    print("ok: %s renders the manual page without a warning" % renderer)


def main():
    arguments = sys.argv[1:]
    shapes = {"install": 4, "tarball": 5, "zip": 5, "manual": 3}
    if not arguments or shapes.get(arguments[0]) != len(arguments):
        sys.exit(__doc__)
    if arguments[0] == "install":
        check_install(*arguments[1:])
    elif arguments[0] == "tarball":
        check_tarball(*arguments[1:])
    elif arguments[0] == "zip":
        check_zip(*arguments[1:])
    else:
        check_manual(*arguments[1:])


if __name__ == "__main__":
    main()
