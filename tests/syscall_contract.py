#!/usr/bin/env python3
"""The I/O contract of the built vorn binary, seen in its system calls.

    syscall_contract.py BINARY

Runs the binary under strace on real files and checks that every read of the
file asks for 511 bytes, that nothing is read once the range has been
written, and that standard output gets exactly one write for each line and
for each piece of a line that is not empty. Exits with 77 (a skip) when
strace is missing or cannot trace here.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77
READ_SIZE = 511

TRACED_CALL = re.compile(r"^(?:\d+ +)?(openat|read|write)\((.*)\) += (-?\d+)")
OPENED_PATH = re.compile(r'^[A-Z_]+, "((?:[^"\\]|\\.)*)"')
BUFFER_CALL = re.compile(r"^(\d+), .*, (\d+)$")


def varied_lines():
    """Lines of 0 to 1,499 bytes, some with a zero byte, some with CR LF."""
    lines = []
    state = 12345
    for number in range(400):
        state = (state * 16807) % 2147483647
        size = state % 1500
        text = bytearray(b"%d " % number + b"v" * size)
        if number % 7 == 3:
            text[len(text) // 2] = 0
        if number % 5 == 1:
            text += b"\r"
        lines.append(bytes(text) + b"\n")
    return b"".join(lines) + b"unended last line"


def contract(content, line_count, skip_count):
    """The reads and the sizes of the writes that the range asks for, when
    every read delivers 511 bytes or what is left of the file."""
    reads = 0
    writes = []
    lines_written = 0
    lines_skipped = 0
    offset = 0
    while lines_written < line_count:
        chunk = content[offset:offset + READ_SIZE]
        offset += len(chunk)
        reads += 1
        if not chunk:
            break
        start = 0
        while lines_written < line_count:
            line_feed = chunk.find(b"\n", start)
            if line_feed < 0:
                break
            if skip_count:
                lines_skipped += 1
                if lines_skipped >= skip_count:
                    skip_count = 0
            else:
                writes.append(len(chunk[start:line_feed].split(b"\0")[0]) + 1)
                lines_written += 1
            start = line_feed + 1
        if skip_count or lines_written >= line_count:
            continue
        piece = chunk[start:].split(b"\0")[0]
        if piece:
            writes.append(len(piece))
    return reads, writes


LONG_THEN_SHORT = b"d" * 1200 + b"\nnext\n"
CHUNK_SIZED_LINES = (b"e" * 510 + b"\n") * 3
NUMBERED = b"".join(b"line %d\n" % number for number in range(1, 200001))

# (fixture, arguments, reads of the file, sizes of the writes to standard
# output). Reads that reach the end of the file include the read that
# returns 0.
CASES = [
    # 1,200 bytes are pieces of 511 and 511, then 178 bytes and the newline.
    (LONG_THEN_SHORT, [], 4, [511, 511, 179, 5]),
    (LONG_THEN_SHORT, ["-n", "1"], 3, [511, 511, 179]),
    (LONG_THEN_SHORT, ["-s", "1"], 4, [5]),
    # Every chunk ends with a line feed: the empty piece after it is no write.
    (CHUNK_SIZED_LINES, ["-n", "-1"], 4, [511, 511, 511]),
    (CHUNK_SIZED_LINES, ["-n", "2"], 2, [511, 511]),
    # A zero byte that opens a chunk leaves an empty piece; the 90 bytes of the
    # line in the next chunk and the newline are one write.
    (b"\0" + b"z" * 600 + b"\n", [], 3, [91]),
    (b"ab\0cd\nx\n", [], 2, [3, 2]),
    # The first line of a large file takes one read.
    (NUMBERED, ["-n", "1"], 1, [7]),
    (NUMBERED, ["-s", "2", "-n", "3"], 1, [7, 7, 7]),
    (NUMBERED, ["-n", "0"], 0, []),
    (b"p\nq\nr", [], 2, [2, 2, 1]),
    (b"", [], 1, []),
]

VARIED = varied_lines()
MODELLED = [["-n", "-1"], ["-s", "150", "-n", "60"], ["-s", "390"], ["-s", "-1"]]


def untraced_leak_check():
    """The environment for a traced run. LeakSanitizer stops the world with
    ptrace, which strace already holds: a sanitized build runs here with leak
    checking off; its other tests keep it on."""
    environment = dict(os.environ)
    options = environment.get("ASAN_OPTIONS", "")
    environment["ASAN_OPTIONS"] = (options + ":" if options else "") + "detect_leaks=0"
    return environment


class Tracer:
    def __init__(self, binary, folder):
        self.binary = os.path.abspath(binary)
        self.folder = folder
        self.failed = 0
        self.passed = 0

    def check(self, name, condition, detail):
        if condition:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL: %s\n  %s" % (name, detail))

    def trace(self, content, arguments):
        """Runs the binary on a file of the content: (read sizes asked, read
        results, write sizes, output, status)."""
        fixture = os.path.join(self.folder, "fixture")
        with open(fixture, "wb") as stream:
            stream.write(content)
        trace_path = os.path.join(self.folder, "trace")
        with tempfile.TemporaryFile(dir=self.folder) as output:
            status = subprocess.call(
                ["strace", "-f", "-qq", "-s", "0", "-e", "trace=openat,read,write",
                 "-o", trace_path, self.binary] + arguments + [fixture],
                stdout=output, env=untraced_leak_check(), timeout=120)
            output.seek(0)
            written = output.read()
        asked, delivered, writes = [], [], []
        file_descriptor = None
        with open(trace_path) as trace:
            for line in trace:
                call = TRACED_CALL.match(line)
                if not call:
                    continue
                name, arguments_text, result = call.group(1), call.group(2), int(call.group(3))
                if name == "openat":
                    opened = OPENED_PATH.match(arguments_text)
                    if opened and opened.group(1) == fixture and result >= 0:
                        file_descriptor = result
                    continue
                buffer_call = BUFFER_CALL.match(arguments_text)
                if not buffer_call:
                    continue
                descriptor, size = int(buffer_call.group(1)), int(buffer_call.group(2))
                if name == "read" and descriptor == file_descriptor:
                    asked.append(size)
                    delivered.append(result)
                elif name == "write" and descriptor == 1:
                    writes.append(result)
        return asked, delivered, writes, written, status

    def run_case(self, content, arguments, expected_reads, expected_writes):
        name = "vorn %s on %d bytes" % (" ".join(arguments) or "(no options)", len(content))
        asked, delivered, writes, written, status = self.trace(content, arguments)
        self.check(name + ": status", status == 0, "status %d" % status)
        self.check(name + ": every read asks for 511 bytes",
                   all(size == READ_SIZE for size in asked), "asked %r" % asked)
        self.check(name + ": reads", len(asked) == expected_reads,
                   "expected %d reads, got %d" % (expected_reads, len(asked)))
        self.check(name + ": one write per line and non-empty piece", writes == expected_writes,
                   "expected writes of %r, got %r" % (expected_writes[:20], writes[:20]))
        self.check(name + ": the writes are the output", sum(writes) == len(written),
                   "writes total %d, output %d bytes" % (sum(writes), len(written)))


def count_argument(arguments, option, default):
    value = default
    for index, argument in enumerate(arguments[:-1]):
        if argument == option:
            value = int(arguments[index + 1]) % 2**32
    return value


def strace_usable(folder):
    if shutil.which("strace") is None:
        return "strace is not installed (Debian: strace)"
    probe = subprocess.run(["strace", "-qq", "-o", os.path.join(folder, "probe"), "true"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
    if probe.returncode != 0:
        return "strace cannot trace here: %s" % probe.stderr.decode(errors="replace").strip()
    return None


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory(prefix="vorn-syscalls-") as folder:
        reason = strace_usable(folder)
        if reason:
            print("SKIP: %s" % reason)
            sys.exit(SKIPPED)
        tracer = Tracer(sys.argv[1], folder)
        for content, arguments, reads, writes in CASES:
            tracer.run_case(content, arguments, reads, writes)
        # Lines of every length from none to three chunks, some cut by a
        # zero byte, the range starting and ending anywhere.
        for arguments in MODELLED:
            reads, writes = contract(VARIED, count_argument(arguments, "-n", 10),
                                     count_argument(arguments, "-s", 0))
            tracer.run_case(VARIED, arguments, reads, writes)
    print("%d passed, %d failed" % (tracer.passed, tracer.failed))
    sys.exit(1 if tracer.failed else 0)


if __name__ == "__main__":
    main()
