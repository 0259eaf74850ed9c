#!/usr/bin/env python3
"""End-to-end tests of the built vorn binary on real files, FIFOs and devices.

    end_to_end.py [--wine [--pipe-server EXE] [--last-error-probe EXE]]
                  [--launcher PREFIX] BINARY

Every case of the table runs twice, with standard output on a pipe and
redirected to a regular file; both must give the same bytes and status. With
--wine, BINARY is the Windows build and runs under wine: each newline the tool
writes is then CR LF, and the system's message texts are Wine's own, so a
message case checks for a non-empty text, the newline added after it and the
status, not the words. The pipe server feeds the binary through a Windows
named pipe; the probe writes the message for any error code through the
tool's own Win32 error report.

With --launcher, every run of BINARY goes through PREFIX (split as a shell
would split it), for instance "valgrind --error-exitcode=99 ...". When the
prefix is valgrind, each run writes its own log, and a run fails when its
log reports an error or a descriptor left open at exit other than 0, 1 and 2
(valgrind's own log aside). A run ended by a signal never got to close its
file, so its descriptors are not looked at.
"""

import errno
import os
import re
import select
import shlex
import subprocess
import sys
import tempfile
import threading
import time

USAGE = (b"vorn 1.0 created by Tarvelin\n"
         b"Usage: vorn [options] file\n"
         b"Options:\n"
         b"  -n x  : Displays the last x lines of the file\n")
FAILED = 255  # the status -1 as a POSIX parent sees it
# The first line of each kind of error memcheck reports, leaks aside.
MEMORY_ERROR = re.compile(r"^==\d+== (Invalid |Conditional jump |Use of uninitialised |"
                          r"Syscall param |Mismatched free|Source and destination overlap|"
                          r"Argument '|Uninitialised )", re.MULTILINE)


class Message:
    """The system's own text for an error, then the newline the tool adds."""

    def __init__(self, posix_errno, before=b""):
        self.posix_errno = posix_errno
        self.before = before  # what the tool wrote before the message


def numbered(count):
    return b"".join(b"line %d\n" % number for number in range(1, count + 1))


EIGHT = b"one\ntwo\nthree\nfour\nfive\nsix\nseven\neight\n"

# Files the cases name; each is made afresh in a temporary folder.
FIXTURES = {
    "twelve": numbered(12),
    "eight": EIGHT,
    "pqr": b"p\nq\nr\n",
    "pqr-open": b"p\nq\nr",
    "empty": b"",
    "no-line-feed": b"abc def",
    "crlf": b"a\r\nb\r\n",
    "zero-byte": b"ab\0cd\nef\n",
    "percent": b"100% %s %d %n %%\n%\n",
    "empty-lines": b"\n\nx\n",
    "skip-hand-over": b"x\npqr\ns\n",
    # The first read ends at byte 511, inside "pqr" and after the zero byte.
    "skip-hand-over-across-reads": b"x" * 508 + b"\npq" + b"r\ns\n",
    "zero-byte-across-reads": b"ab\0" + b"c" * 508 + b"ef\n",
    "5": b"five\n",
    "line-510": b"a" * 510 + b"\nnext\n",
    "line-511": b"b" * 511 + b"\nnext\n",
    "line-512": b"c" * 512 + b"\nnext\n",
    "line-1200": b"d" * 1200 + b"\nnext\n",
    "long-no-line-feed": bytes(range(1, 10)) * 300,
}

# (arguments, expected standard output, expected status). A fixture's name in
# the arguments is replaced by its path; "missing" (also as a folder) is a name
# that does not exist and "folder/" a directory.
CASES = [
    # The command line.
    ([], USAGE, FAILED),
    (["twelve"], numbered(10), 0),
    (["pqr"], b"p\nq\nr\n", 0),
    (["-n", "5"], USAGE, FAILED),
    (["twelve", "pqr"], USAGE, FAILED),
    (["-x", "5", "twelve"], USAGE, FAILED),
    (["-x", "5"], b"five\n", 0),
    (["-n5", "twelve"], numbered(10), 0),
    (["-n", "abc", "pqr"], b"", 0),
    (["-n", "abc", "missing"], Message(errno.ENOENT), FAILED),
    (["-n", "-1", "twelve"], numbered(12), 0),
    (["-s", "-1", "twelve"], b"", 0),
    (["twelve", "-n", "1", "-n", "2"], numbered(2), 0),
    ([""], Message(errno.ENOENT), FAILED),
    (["twelve", "-n"], USAGE, FAILED),
    (["twelve", "-s"], USAGE, FAILED),
    (["-n", "twelve"], USAGE, FAILED),
    (["-n", "-s", "3", "twelve"], USAGE, FAILED),
    (["-n", "-s", "twelve"], b"", 0),
    (["/n", "2", "twelve"], USAGE, FAILED),
    (["-", "--", "-x", "-N", "twelve"], numbered(10), 0),
    (["-s", "10", "twelve", "-n", "+1"], b"line 11\n", 0),
    (["-n", " 3x", "twelve"], numbered(3), 0),
    (["-n", "4294967297", "twelve"], numbered(1), 0),
    (["-n", "18446744073709551617", "twelve"], numbered(1), 0),
    (["-n", "4294967296", "twelve"], b"", 0),
    (["-s", "4294967298", "-n", "1", "twelve"], b"line 3\n", 0),
    # The range.
    (["empty"], b"", 0),
    (["-n", "2", "pqr"], b"p\nq\n", 0),
    (["pqr-open"], b"p\nq\nr", 0),
    (["-n", "0", "pqr"], b"", 0),
    (["-n", "0", "missing"], Message(errno.ENOENT), FAILED),
    (["-s", "2", "-n", "3", "eight"], b"three\nfour\nfive\n", 0),
    (["-s", "8", "eight"], b"", 0),
    (["-s", "9", "eight"], b"", 0),
    (["-s", "3", "pqr-open"], b"", 0),
    (["-s", "2", "pqr-open"], b"r", 0),
    (["-s", "4294967295", "eight"], b"", 0),
    (["no-line-feed"], b"abc def", 0),
    (["-s", "1", "no-line-feed"], b"", 0),
    (["long-no-line-feed"], FIXTURES["long-no-line-feed"], 0),
    (["-n", "4294967295", "pqr-open"], b"p\nq\nr", 0),
    (["crlf"], b"a\r\nb\r\n", 0),
    (["zero-byte"], b"ab\nef\n", 0),
    (["percent"], b"100% %s %d %n %%\n%\n", 0),
    (["-n", "2", "empty-lines"], b"\n\n", 0),
    (["-s", "1", "-n", "1", "skip-hand-over"], b"pqr\n", 0),
    (["-s", "1", "-n", "1", "skip-hand-over-across-reads"], b"pqr\n", 0),
    (["zero-byte-across-reads"], b"abef\n", 0),
    (["-n", "1", "line-510"], b"a" * 510 + b"\n", 0),
    (["-n", "1", "line-511"], b"b" * 511 + b"\n", 0),
    (["-n", "1", "line-512"], b"c" * 512 + b"\n", 0),
    (["line-1200"], FIXTURES["line-1200"], 0),
    (["-s", "1", "line-1200"], b"next\n", 0),
    # Failures of the file.
    (["missing"], Message(errno.ENOENT), FAILED),
    (["missing/name"], Message(errno.ENOENT), FAILED),
    (["folder/"], Message(errno.EISDIR), FAILED),
]

# Cases only Windows has. The start-up expands no wildcard, so '*' and '?'
# reach the open as they are ('?' would otherwise match the file named 5);
# a reserved device name is the device, in any folder and with any extension.
WINDOWS_CASES = [
    (["*"], Message(None), FAILED),
    (["?"], Message(None), FAILED),
    (["nul"], b"", 0),
    (["NUL.txt"], b"", 0),
    (["folder/nul"], b"", 0),
]


def windows_text(data):
    """What text-mode standard output makes of the tool's newlines on Windows."""
    return data.replace(b"\n", b"\r\n")


class Runner:
    def __init__(self, binary, wine, launcher, log_folder):
        self.binary = os.path.abspath(binary)
        self.wine = wine
        self.launcher = launcher
        self.log_folder = None
        if launcher and os.path.basename(launcher[0]).startswith("valgrind"):
            self.log_folder = log_folder
        self.passed = 0
        self.failed = 0
        self.skipped = 0

    def command(self, arguments):
        prefix = list(self.launcher)
        if self.log_folder:
            prefix.append("--log-file=" + os.path.join(self.log_folder, "valgrind.%p.log"))
        if self.wine:
            prefix.append("wine")
        return prefix + [self.binary] + arguments

    def audit(self, name, status):
        """Under valgrind: the logs of the runs since the last audit show no fault."""
        if self.log_folder is None:
            return
        for log_name in sorted(os.listdir(self.log_folder)):
            log_path = os.path.join(self.log_folder, log_name)
            with open(log_path, errors="replace") as log:
                report = log.read()
            os.unlink(log_path)
            problems = []
            if status is None or status < 0:
                # Ended by a signal: what it held was left to the process's
                # end, so only errors other than leaks count.
                if MEMORY_ERROR.search(report):
                    problems.append("memory errors reported")
            else:
                errors = re.search(r"ERROR SUMMARY: (\d+) errors", report)
                if errors is None or errors.group(1) != "0":
                    problems.append("errors reported")
                for descriptor, what in re.findall(
                        r"Open (?:file descriptor|\S+ socket) (\d+):? ?(.*)", report):
                    if int(descriptor) > 2 and not what.endswith(log_name):
                        problems.append("descriptor %s left open: %s" % (descriptor, what))
            self.check(name + " (valgrind)", not problems,
                       "; ".join(problems) + "\n" + report)

    def check(self, name, condition, detail=""):
        if condition:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL: %s%s" % (name, ("\n  " + detail) if detail else ""))

    def skip(self, name, reason):
        self.skipped += 1
        print("SKIP: %s: %s" % (name, reason))

    def expected_bytes(self, expected):
        return windows_text(expected) if self.wine else expected

    def message_matches(self, output, message):
        """The message follows exactly what was written before it."""
        before = self.expected_bytes(message.before)
        if not output.startswith(before):
            return False
        text = output[len(before):]
        if self.wine:
            # One line of Wine's text, its own line break, then the tool's
            # newline as CR LF.
            words = text[:-2].rstrip(b"\r\n")
            return text.endswith(b"\r\n") and words.strip() != b"" and b"\n" not in words
        return text == os.strerror(message.posix_errno).encode() + b"\n"

    def outcome_matches(self, output, status, expected, expected_status):
        if status != expected_status:
            return False
        if isinstance(expected, Message):
            return self.message_matches(output, expected)
        return output == self.expected_bytes(expected)


def resolve(arguments, folder):
    resolved = []
    for argument in arguments:
        if argument in FIXTURES or argument.split("/")[0] == "missing":
            resolved.append(os.path.join(folder, argument))
        elif argument.startswith("folder/"):
            resolved.append(os.path.join(folder, "sub", argument[len("folder/"):]))
        else:
            resolved.append(argument)
    return resolved


def run_table(runner, folder):
    os.mkdir(os.path.join(folder, "sub"))
    for name, content in FIXTURES.items():
        with open(os.path.join(folder, name), "wb") as fixture:
            fixture.write(content)
    # The "-x 5" case opens a file named 5 in the current folder.
    for arguments, expected, expected_status in CASES + (WINDOWS_CASES if runner.wine else []):
        name = "vorn %s" % " ".join(repr(a) for a in arguments)
        command = runner.command(resolve(arguments, folder))
        piped = subprocess.run(command, cwd=folder, stdout=subprocess.PIPE, timeout=60)
        runner.audit(name, piped.returncode)
        with tempfile.TemporaryFile(dir=folder) as redirected:
            status = subprocess.call(command, cwd=folder, stdout=redirected, timeout=60)
            runner.audit(name + " (redirected to a file)", status)
            redirected.seek(0)
            redirected_output = redirected.read()
        runner.check(name, runner.outcome_matches(piped.stdout, piped.returncode, expected,
                                                  expected_status),
                     "expected %r status %d, got %r status %d" % (
                         vars(expected) if isinstance(expected, Message) else expected,
                         expected_status, piped.stdout[:300], piped.returncode))
        runner.check(name + " (redirected to a file)",
                     redirected_output == piped.stdout and status == piped.returncode,
                     "pipe gave %r status %d, file gave %r status %d" % (
                         piped.stdout[:300], piped.returncode, redirected_output[:300], status))


def run_write_failures(runner, folder):
    twelve = os.path.join(folder, "twelve")
    if os.path.exists("/dev/full"):
        with open("/dev/full", "wb") as full:
            status = subprocess.call(runner.command([twelve]), stdout=full, timeout=60)
        runner.audit("a full device is a failed write", status)
        runner.check("a full device is a failed write", status == FAILED, "status %d" % status)
        with open("/dev/full", "wb") as full:
            status = subprocess.call(runner.command(["-n", "0", twelve]), stdout=full, timeout=60)
        runner.audit("nothing to write to a full device", status)
        runner.check("nothing to write to a full device", status == 0, "status %d" % status)
    else:
        runner.skip("a full device is a failed write", "no /dev/full")


def windows_path(path):
    """The name wine gives a POSIX path: its Z: drive maps the root."""
    return "Z:" + path.replace("/", "\\")


def run_shared_open(runner, folder):
    """A file another process holds open for writing can still be read.

    cmd opens the redirected file for appending before it starts vorn, and
    holds it while vorn reads the same file: the open succeeds only if vorn
    lets others write. vorn's output lands in that file.
    """
    held = os.path.join(folder, "held.txt")
    with open(held, "wb") as fixture:
        fixture.write(b"one\ntwo\nthree\n")
    command = "%s -n 2 held.txt >> held.txt" % windows_path(runner.binary)
    status = subprocess.call(["wine", "cmd", "/c", command], cwd=folder, timeout=60)
    with open(held, "rb") as fixture:
        content = fixture.read()
    runner.check("a file held open for writing is read", status == 0
                 and content == b"one\ntwo\nthree\none\r\ntwo\r\n",
                 "status %d, file now %r" % (status, content))


def read_until(stream_fd, expected_size, seconds):
    """What arrives on a pipe within the time, stopping at expected_size bytes."""
    received = b""
    deadline = time.monotonic() + seconds
    while len(received) < expected_size:
        left = deadline - time.monotonic()
        if left <= 0:
            break
        ready, _, _ = select.select([stream_fd], [], [], left)
        if not ready:
            break
        block = os.read(stream_fd, expected_size - len(received))
        if not block:
            break
        received += block
    return received


def open_writer(path, result):
    result.append(open(path, "wb", buffering=0))


def run_streaming(runner, folder):
    fifo = os.path.join(folder, "feed")
    if not hasattr(os, "mkfifo"):
        runner.skip("streaming", "no FIFOs here")
        return

    # Every piece reaches the output before the next one is written.
    os.mkfifo(fifo)
    tool = subprocess.Popen(runner.command([fifo]), stdout=subprocess.PIPE)
    writer = open(fifo, "wb", buffering=0)
    seen = []
    for piece in (b"pq", b"r\ns", b"t\n"):
        writer.write(piece)
        expected = runner.expected_bytes(piece)
        seen.append(read_until(tool.stdout.fileno(), len(expected), 10))
        runner.check("piece %r is on the output before the next is written" % piece,
                     seen[-1] == expected, "got %r" % seen[-1])
    writer.close()
    rest = tool.stdout.read()
    status = tool.wait(timeout=30)
    runner.audit("a fed FIFO", status)
    runner.check("a fed FIFO ends with the writer", rest == b"" and status == 0,
                 "rest %r status %d" % (rest, status))
    os.unlink(fifo)

    # The tool ends after its range while the writer still holds the FIFO.
    os.mkfifo(fifo)
    tool = subprocess.Popen(runner.command(["-n", "1", fifo]), stdout=subprocess.PIPE)
    writer = open(fifo, "wb", buffering=0)
    writer.write(b"first\nsecond")
    try:
        output, _ = tool.communicate(timeout=20)
        runner.audit("-n 1 on a FIFO", tool.returncode)
        runner.check("-n 1 ends while the FIFO's writer is still there",
                     output == runner.expected_bytes(b"first\n") and tool.returncode == 0,
                     "got %r status %d" % (output, tool.returncode))
    except subprocess.TimeoutExpired:
        tool.kill()
        tool.communicate()
        runner.check("-n 1 ends while the FIFO's writer is still there", False, "it hung")
    writer.close()
    os.unlink(fifo)

    # The first of two names is never opened: opening a FIFO that has no
    # writer would block.
    os.mkfifo(fifo)
    try:
        done = subprocess.run(runner.command([fifo, os.path.join(folder, "pqr")]),
                              stdout=subprocess.PIPE, timeout=20)
        runner.audit("the first of two names", done.returncode)
        runner.check("the first of two names is not opened",
                     done.stdout == runner.expected_bytes(USAGE) and done.returncode == FAILED,
                     "got %r status %d" % (done.stdout, done.returncode))
    except subprocess.TimeoutExpired:
        # Let the blocked open through so that the tool can end.
        unblock = []
        threading.Thread(target=open_writer, args=(fifo, unblock), daemon=True).start()
        runner.check("the first of two names is not opened", False, "it blocked in the open")
    os.unlink(fifo)


def run_closed_reader(runner, folder):
    """A reader that goes away ends the tool, quietly, as it ends other filters."""
    big = os.path.join(folder, "big")
    with open(big, "wb") as fixture:
        fixture.write(numbered(200000))
    tool = subprocess.Popen(runner.command(["-n", "-1", big]), stdout=subprocess.PIPE)
    first = tool.stdout.readline()
    tool.stdout.close()
    status = tool.wait(timeout=60)
    runner.audit("a reader that goes away", status)
    expected_status = FAILED if runner.wine else -13  # SIGPIPE
    runner.check("a reader that goes away ends the tool",
                 first == runner.expected_bytes(b"line 1\n") and status == expected_status,
                 "first line %r status %d" % (first, status))


def run_named_pipe(runner, pipe_server):
    """A named pipe whose writer has gone has ended, as a file ends."""
    done = subprocess.run(["wine", pipe_server, runner.binary, "-n", "-1"],
                          stdout=subprocess.PIPE, timeout=60)
    runner.check("a named pipe's end is the end of the input",
                 done.stdout == b"a\r\nb\r\n" and done.returncode == 0,
                 "got %r status %d" % (done.stdout, done.returncode))


def run_last_error_probe(runner, probe):
    """The message for a code is the system's text as it stands, or the code.

    The system's text keeps its own line break (CR LF, which text mode makes
    CR CR LF) and the tool's newline follows as an empty line. Inserts such
    as %1 are left as they stand, and a code with no text gives its number.
    """
    cases = [
        ("2", lambda text: text.endswith(b"\r\r\n\r\n") and len(text) > 5),
        ("193", lambda text: b"%1" in text and text.endswith(b"\r\r\n\r\n")),
        ("3758101044", lambda text: text == b"3758101044\r\n"),
    ]
    for code, matches in cases:
        done = subprocess.run(["wine", probe, code], stdout=subprocess.PIPE, timeout=60)
        runner.check("the message for error %s" % code,
                     done.returncode == 0 and matches(done.stdout),
                     "got %r status %d" % (done.stdout, done.returncode))


def main():
    arguments = sys.argv[1:]
    wine = "--wine" in arguments
    arguments = [a for a in arguments if a != "--wine"]
    launcher = []
    if "--launcher" in arguments:
        at = arguments.index("--launcher")
        if at + 1 >= len(arguments):
            sys.exit(__doc__)
        launcher = shlex.split(arguments[at + 1])
        del arguments[at:at + 2]
    pipe_server = None
    if "--pipe-server" in arguments:
        at = arguments.index("--pipe-server")
        pipe_server = arguments[at + 1]
        del arguments[at:at + 2]
    probe = None
    if "--last-error-probe" in arguments:
        at = arguments.index("--last-error-probe")
        probe = arguments[at + 1]
        del arguments[at:at + 2]
    if len(arguments) != 1 or ((pipe_server or probe) and not wine):
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory(prefix="vorn-e2e-") as folder:
        log_folder = os.path.join(folder, "logs")
        os.mkdir(log_folder)
        runner = Runner(arguments[0], wine, launcher, log_folder)
        run_table(runner, folder)
        run_write_failures(runner, folder)
        run_streaming(runner, folder)
        run_closed_reader(runner, folder)
        if wine:
            run_shared_open(runner, folder)
        if pipe_server:
            run_named_pipe(runner, pipe_server)
        if probe:
            run_last_error_probe(runner, probe)
    print("%d passed, %d failed, %d skipped" % (runner.passed, runner.failed, runner.skipped))
    sys.exit(1 if runner.failed else 0)


if __name__ == "__main__":
    main()
