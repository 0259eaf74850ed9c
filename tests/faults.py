#!/usr/bin/env python3
"""Fault cases of the built vorn binary, provoked on the real platform.

    faults.py BINARY

One table: reads that fail or end early (strace's fault injection, aimed at
the input file alone), opens that fail, writes that fail, inputs that never
end or never break a line, counts at their edges, and a file that changes
while it is read. A case whose tool (strace, setpriv, /usr/bin/time) is
missing is skipped and says so; a count that only strace can make is left
out, with a note, when strace is missing. Every case also checks that
nothing was written to standard error.
"""

import errno
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

FAILED = 255  # the status -1 as a POSIX parent sees it
KILLED_BY_SIGPIPE = -signal.SIGPIPE
READ_SIZE = 511
NOBODY = 65534
MIB = 1024 * 1024
# A run that takes longer than this has hung; none of the cases comes near it.
HANG_SECONDS = 120


def numbered(first, last):
    return b"".join(b"line %d\n" % number for number in range(first, last + 1))


def message(posix_errno, before=b""):
    """What the tool writes for a failure: what came before, the system's text, a newline."""
    return before + os.strerror(posix_errno).encode() + b"\n"


TWELVE = numbered(1, 12)
# Two thousand short lines: several chunks pass while the first hundreds are skipped.
MANY = numbered(1, 2000)
# Big enough that a full output pipe holds the tool far from the file's end.
BIG = numbered(1, 100000)
LONG_FIRST = b"a" * 600 + b"\nb\n"

FIXTURES = {
    "twelve": TWELVE,
    "many": MANY,
    "big": BIG,
    "long-first": LONG_FIRST,
}


class Below:
    """A measured number under a limit."""

    def __init__(self, limit):
        self.limit = limit

    def __call__(self, measured):
        return measured is not None and measured < self.limit

    def __repr__(self):
        return "below %d" % self.limit


class PrefixOf:
    """Output that is a leading part of `full`, starting with at least `at_least`."""

    def __init__(self, full, at_least=b""):
        self.full = full
        self.at_least = at_least

    def __call__(self, output):
        return (output is not None and self.full.startswith(output) and
                output.startswith(self.at_least))

    def __repr__(self):
        return "a prefix of %d bytes starting with %r" % (len(self.full), self.at_least[:40])


class Setting:
    """The folder of fixtures and the tools at hand, shared by the cases."""

    def __init__(self, binary, folder):
        self.binary = os.path.abspath(binary)
        self.folder = folder
        self.strace = shutil.which("strace")
        self.setpriv = shutil.which("setpriv")
        self.time = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None

    def path(self, name):
        return os.path.join(self.folder, name)

    def resolve(self, arguments):
        """A fixture's name, or any name after '@', becomes a path in the folder."""
        resolved = []
        for argument in arguments:
            if argument in FIXTURES:
                resolved.append(self.path(argument))
            elif argument.startswith("@"):
                resolved.append(self.path(argument[1:]))
            else:
                resolved.append(argument)
        return resolved


class Missing(Exception):
    """A case's tool is not installed here."""


def strace_environment():
    # LeakSanitizer stops the world with ptrace, which fails under strace: a
    # sanitized build runs its strace cases with leak checking off, and keeps
    # it on for every other run.
    environment = dict(os.environ)
    options = environment.get("ASAN_OPTIONS", "")
    environment["ASAN_OPTIONS"] = (options + ":" if options else "") + "detect_leaks=0"
    return environment


def run(command, stdout=subprocess.PIPE, preexec=None, environment=None, timeout=HANG_SECONDS):
    """Runs to the end; the status is None when it did not end in time."""
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=stdout,
                              stderr=subprocess.PIPE, preexec_fn=preexec, env=environment,
                              timeout=timeout)
    except subprocess.TimeoutExpired as hung:
        return {"output": hung.stdout, "status": None, "stderr": hung.stderr or b""}
    return {"output": done.stdout, "status": done.returncode, "stderr": done.stderr}


# How each case is provoked: a function of the setting that runs the tool and
# returns what was measured ("output", "status", "stderr" and more).


def plain(*arguments):
    def provoke(setting):
        return run([setting.binary] + setting.resolve(arguments))
    return provoke


def strace_prefix(setting, path, expression, log="/dev/null"):
    if setting.strace is None:
        raise Missing("strace (Debian: strace)")
    # -P limits the injection and the trace to calls on the input file: the
    # loader's own reads of shared libraries are left alone.
    return [setting.strace, "-f", "-qq", "-o", log, "-e", expression, "-P", path]


def injected(injection, *arguments):
    """strace makes the tool's reads of the file (its last argument) misbehave."""
    def provoke(setting):
        resolved = setting.resolve(arguments)
        prefix = strace_prefix(setting, resolved[-1], "inject=read:" + injection)
        return run(prefix + [setting.binary] + resolved, environment=strace_environment())
    return provoke


def counting_reads(*arguments, preexec=None, stdout=subprocess.PIPE):
    """Also counts the reads of the file (the last argument) that were made.

    Without strace the run is made all the same and the count is left out."""
    def provoke(setting):
        resolved = setting.resolve(arguments)
        if setting.strace is None:
            outcome = run([setting.binary] + resolved, stdout=stdout, preexec=preexec)
            outcome["not measured"] = {"reads": "strace (Debian: strace) is not installed"}
            return outcome
        log = setting.path("reads.log")
        prefix = strace_prefix(setting, resolved[-1], "trace=read", log)
        outcome = run(prefix + [setting.binary] + resolved, stdout=stdout, preexec=preexec,
                      environment=strace_environment())
        with open(log) as trace:
            # With -f each line starts with the process id.
            outcome["reads"] = sum(1 for line in trace if re.match(r"(\d+ +)?read\(", line))
        return outcome
    return provoke


def to_full_device(*arguments):
    def provoke(setting):
        if not os.path.exists("/dev/full"):
            raise Missing("/dev/full")
        with open("/dev/full", "wb") as full:
            return run([setting.binary] + setting.resolve(arguments), stdout=full)
    return provoke


def closed_output(*arguments):
    def provoke(setting):
        return run([setting.binary] + setting.resolve(arguments), stdout=None,
                   preexec=lambda: os.close(1))
    return provoke


def gone_reader(sigpipe):
    """A pipe whose reader has closed before the first write."""
    def preexec():
        signal.signal(signal.SIGPIPE, sigpipe)

    def provoke(setting):
        arguments = ["-n", "-1", "big"]
        reader, writer = os.pipe()
        os.close(reader)
        try:
            # Whether it stops at once is told by the reads it makes.
            return counting_reads(*arguments, preexec=preexec, stdout=writer)(setting)
        finally:
            os.close(writer)
    return provoke


def size_limited(limit, *arguments):
    """Standard output is a file that may not grow past `limit` bytes, SIGXFSZ ignored."""
    def preexec():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    def provoke(setting):
        with tempfile.TemporaryFile(dir=setting.folder) as output:
            outcome = run([setting.binary] + setting.resolve(arguments), stdout=output,
                          preexec=preexec)
            output.seek(0)
            outcome["output"] = output.read()
        return outcome
    return provoke


def make_public_folder(setting):
    """A folder that user nobody can reach, with a copy of the binary and files of each kind."""
    public = tempfile.mkdtemp(prefix="vorn-faults-public-")
    os.chmod(public, 0o755)
    shutil.copy(setting.binary, os.path.join(public, "vorn"))
    os.chmod(os.path.join(public, "vorn"), 0o755)
    for name, mode in (("readable", 0o644), ("private", 0o600)):
        with open(os.path.join(public, name), "wb") as fixture:
            fixture.write(b"secret\n")
        os.chmod(os.path.join(public, name), mode)
    os.mkdir(os.path.join(public, "closed"), 0o700)
    os.chmod(os.path.join(public, "closed"), 0o700)
    with open(os.path.join(public, "closed", "inside"), "wb") as fixture:
        fixture.write(b"secret\n")
    return public


def unprivileged(name):
    """Run as a user other than the files' owner, with no capability over them."""
    def provoke(setting):
        if os.geteuid() == 0:
            if setting.setpriv is None:
                raise Missing("setpriv (Debian: util-linux)")
            prefix = [setting.setpriv, "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                      "--clear-groups"]
        else:
            prefix = []
        public = make_public_folder(setting)
        try:
            return run(prefix + [os.path.join(public, "vorn"), os.path.join(public, name)])
        finally:
            shutil.rmtree(public)
    return provoke


def endless_fifo(setting):
    """A FIFO whose writer never stops on its own; it stops when the tool has gone."""
    fifo = setting.path("endless")
    os.mkfifo(fifo)

    def feed():
        try:
            with open(fifo, "wb") as writer:
                number = 0
                while True:
                    number += 1
                    writer.write(b"line %d\n" % number)
        except BrokenPipeError:
            pass

    writer_thread = threading.Thread(target=feed, daemon=True)
    writer_thread.start()
    outcome = run([setting.binary, "-n", "3", fifo], timeout=60)
    if outcome["status"] is None:
        # The tool hung; open the FIFO for reading so that the writer can end.
        os.close(os.open(fifo, os.O_RDONLY | os.O_NONBLOCK))
    writer_thread.join(timeout=30)
    outcome["writer ended"] = not writer_thread.is_alive()
    return outcome


def peak_kib(setting, path, output_path):
    """The tool's peak resident size in KiB, as /usr/bin/time sees it."""
    log = setting.path("time.log")
    with open(output_path, "wb") as output:
        outcome = run([setting.time, "-f", "%M", "-o", log, setting.binary, "-n", "-1", path],
                      stdout=output)
    with open(log) as report:
        outcome["peak"] = int(report.read().split()[-1])
    return outcome


def files_equal(first, second):
    with open(first, "rb") as one, open(second, "rb") as other:
        while True:
            block = one.read(MIB)
            if block != other.read(MIB):
                return False
            if not block:
                return True


def constant_memory(content_byte, line_feed):
    """64 MiB of one line comes out byte for byte, with no more memory than a small file."""
    def provoke(setting):
        if setting.time is None:
            raise Missing("/usr/bin/time (Debian: time)")
        path = setting.path("huge")
        with open(path, "wb") as huge:
            block = content_byte * MIB
            for _ in range(64):
                huge.write(block)
            if line_feed:
                huge.write(b"\n")
        small = peak_kib(setting, setting.path("twelve"), setting.path("small.out"))
        outcome = peak_kib(setting, path, setting.path("huge.out"))
        outcome["output matches the file"] = files_equal(path, setting.path("huge.out"))
        peak = outcome.pop("peak")
        outcome["growth in KiB"] = peak - small["peak"] if small["status"] == 0 else None
        outcome["output"] = None
        for name in ("huge", "huge.out", "small.out"):
            os.unlink(setting.path(name))
        return outcome
    return provoke


def sparse_file(setting):
    """5 GiB whose first lines are real and the rest a hole: -n 2 reads one chunk."""
    path = setting.path("sparse")
    with open(path, "wb") as sparse:
        sparse.write(b"first\nsecond\nthird\n")
    os.truncate(path, 5 * 1024 * MIB)
    try:
        return counting_reads("-n", "2", "@sparse")(setting)
    finally:
        os.unlink(path)


def changing_file(change):
    """The file changes while the tool is held on a full output pipe.

    The tool writes every piece as soon as it is read, so while its output
    pipe is full and only the first line has been taken from it, it cannot
    have read more than a pipe's worth and a chunk of the file. Every change
    below is made well beyond that point (or deletes the file outright)."""
    def provoke(setting):
        path = setting.path("changing")
        with open(path, "wb") as fixture:
            fixture.write(BIG)
        # Unbuffered, so that taking the first line leaves the rest in the pipe.
        tool = subprocess.Popen([setting.binary, "-n", "-1", path], bufsize=0,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        first = tool.stdout.readline()
        change(path)
        try:
            rest, errors = tool.communicate(timeout=HANG_SECONDS)
            status = tool.returncode
        except subprocess.TimeoutExpired:
            tool.kill()
            rest, errors = tool.communicate()
            status = None
        if os.path.exists(path):
            os.unlink(path)
        return {"output": first + rest, "status": status, "stderr": errors}
    return provoke


APPENDED = b"appended 1\nappended 2\n"
CUT = 500001  # inside a line, far past what the held tool can have read


def append(path):
    with open(path, "ab") as grown:
        grown.write(APPENDED)


def truncate_at_cut(path):
    os.truncate(path, CUT)


def truncate_to_nothing(path):
    os.truncate(path, 0)


# (name, how it is provoked, what must be measured). "output" and "status" are
# compared exactly unless given as a check (Below, PrefixOf); every case also
# expects nothing on standard error.
CASES = [
    # Reads that fail, and a read that ends the file early.
    ("read 1 fails", injected("error=EIO:when=1", "twelve"),
     {"output": message(errno.EIO), "status": FAILED}),
    ("read 2 fails after a piece: the message goes on from it",
     injected("error=EIO:when=2", "long-first"),
     {"output": message(errno.EIO, before=b"a" * READ_SIZE), "status": FAILED}),
    ("read 2 fails while lines are still being skipped",
     injected("error=EIO:when=2", "-s", "500", "many"),
     {"output": message(errno.EIO), "status": FAILED}),
    ("read 2 would fail, but the range ended in read 1 and it is never made",
     injected("error=EIO:when=2", "-n", "2", "many"),
     {"output": numbered(1, 2), "status": 0}),
    ("read 2 returns 0: the file has ended after what read 1 delivered",
     injected("retval=0:when=2", "-n", "-1", "many"),
     {"output": MANY[:READ_SIZE], "status": 0}),
    # Opens that fail: the system's text and nothing else.
    ("missing file", plain("@missing"), {"output": message(errno.ENOENT), "status": FAILED}),
    ("missing folder in the path", plain("@missing/name"),
     {"output": message(errno.ENOENT), "status": FAILED}),
    ("empty name", plain(""), {"output": message(errno.ENOENT), "status": FAILED}),
    ("a directory fails at its first read", plain("@folder"),
     {"output": message(errno.EISDIR), "status": FAILED}),
    ("a directory with -n 0 is opened and closed, never read", plain("-n", "0", "@folder"),
     {"output": b"", "status": 0}),
    ("a name part longer than the system allows", plain("@" + "n" * 300),
     {"output": message(errno.ENAMETOOLONG), "status": FAILED}),
    ("a path longer than the system allows", plain("/".join(["n" * 200] * 25)),
     {"output": message(errno.ENAMETOOLONG), "status": FAILED}),
    ("a symbolic link loop", plain("@loop-a"), {"output": message(errno.ELOOP), "status": FAILED}),
    ("readable by the unprivileged user (the set-up works)", unprivileged("readable"),
     {"output": b"secret\n", "status": 0}),
    ("permission denied on the file", unprivileged("private"),
     {"output": message(errno.EACCES), "status": FAILED}),
    ("permission denied on a folder in the path", unprivileged("closed/inside"),
     {"output": message(errno.EACCES), "status": FAILED}),
    # Writes that fail: status -1, and nothing written past what the output took.
    ("a full device", to_full_device("twelve"), {"status": FAILED}),
    ("-n 0 on a full device writes nothing, so nothing fails", to_full_device("-n", "0", "twelve"),
     {"status": 0}),
    ("a closed standard output", closed_output("twelve"), {"status": FAILED}),
    ("-n 0 with a closed standard output", closed_output("-n", "0", "twelve"), {"status": 0}),
    ("a missing file with a closed standard output", closed_output("@missing"),
     {"status": FAILED}),
    ("a reader that has gone, SIGPIPE at its default", gone_reader(signal.SIG_DFL),
     {"status": KILLED_BY_SIGPIPE, "reads": 1}),
    ("a reader that has gone, SIGPIPE ignored: one read, then the end",
     gone_reader(signal.SIG_IGN), {"status": FAILED, "reads": 1}),
    ("a write cut short inside a line", size_limited(1000, "-n", "-1", "many"),
     {"output": MANY[:1000], "status": FAILED}),
    ("a write cut short at a line's end", size_limited(len(numbered(1, 9)), "twelve"),
     {"output": numbered(1, 9), "status": FAILED}),
    ("a write cut short inside a piece of a long line", size_limited(300, "long-first"),
     {"output": b"a" * 300, "status": FAILED}),
    # Inputs that never end or never break a line.
    ("an endless FIFO with -n 3", endless_fifo,
     {"output": numbered(1, 3), "status": 0, "writer ended": True}),
    ("a 64 MiB line in constant memory", constant_memory(b"x", line_feed=True),
     {"status": 0, "output matches the file": True, "growth in KiB": Below(1024)}),
    ("64 MiB without a line feed in constant memory", constant_memory(b"y", line_feed=False),
     {"status": 0, "output matches the file": True, "growth in KiB": Below(1024)}),
    ("a 5 GiB sparse file with -n 2", sparse_file,
     {"output": b"first\nsecond\n", "status": 0, "reads": 1}),
    # Counts at their edges.
    ("-s 4294967295 -n 2 on a short file", plain("-s", "4294967295", "-n", "2", "twelve"),
     {"output": b"", "status": 0}),
    ("-s 1 -n 4294967295 on a short file", plain("-s", "1", "-n", "4294967295", "twelve"),
     {"output": numbered(2, 12), "status": 0}),
    ("-s 4294967294 -n 4294967295 on a short file",
     plain("-s", "4294967294", "-n", "4294967295", "twelve"), {"output": b"", "status": 0}),
    # A file that changes while it is read: what the reads deliver is printed.
    ("appended to mid-run", changing_file(append), {"output": BIG + APPENDED, "status": 0}),
    ("truncated mid-run", changing_file(truncate_at_cut), {"output": BIG[:CUT], "status": 0}),
    ("truncated to nothing mid-run", changing_file(truncate_to_nothing),
     {"output": PrefixOf(BIG, at_least=b"line 1\n"), "status": 0}),
    ("deleted mid-run", changing_file(os.unlink), {"output": BIG, "status": 0}),
]


def make_fixtures(folder):
    for name, content in FIXTURES.items():
        with open(os.path.join(folder, name), "wb") as fixture:
            fixture.write(content)
    os.mkdir(os.path.join(folder, "folder"))
    os.symlink("loop-b", os.path.join(folder, "loop-a"))
    os.symlink("loop-a", os.path.join(folder, "loop-b"))


def shown(value):
    return repr(value[:200]) + ("... (%d bytes)" % len(value) if len(value) > 200 else "") \
        if isinstance(value, bytes) else repr(value)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    passed = failed = skipped = 0
    with tempfile.TemporaryDirectory(prefix="vorn-faults-") as folder:
        make_fixtures(folder)
        setting = Setting(sys.argv[1], folder)
        for name, provoke, expected in CASES:
            try:
                measured = provoke(setting)
            except Missing as missing:
                skipped += 1
                print("SKIP: %s: %s is not installed" % (name, missing))
                continue
            expected = dict(expected, stderr=b"")
            for key, reason in measured.get("not measured", {}).items():
                print("NOTE: %s: %s not checked: %s" % (name, key, reason))
                del expected[key]
            wrong = []
            for key, want in expected.items():
                got = measured.get(key)
                if not (want(got) if callable(want) else got == want):
                    wrong.append("%s: expected %s, got %s" % (key, shown(want), shown(got)))
            if wrong:
                failed += 1
                print("FAIL: %s\n  %s" % (name, "\n  ".join(wrong)))
            else:
                passed += 1
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
