#!/usr/bin/env python3
"""Builds and runs every example the way its top comment says, and compares
what it prints with the text file beside it.

Usage: examples_test.py <qrn_asm>

The commands are the indented lines of the example's first comment block,
run in a fresh folder where `examples/` is the source folder and
`build/qrn_asm` the assembler under test. The last command runs the
program: `./prog` and `wine prog.exe` through the program runner (ELF32
through qemu-i386 where the kernel runs no i386 code, PE under wine), a
boot sector under qemu-system-i386. Programs that go through wine print CR
LF where the text file has LF.

Exit 0 when every example passes, 1 otherwise, 77 when none could run here;
the last line is "N passed, N failed".
"""
import os
import re
import select
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import run_program  # noqa: E402

EXAMPLES = os.path.normpath(os.path.join(HERE, "..", "..", "examples"))

TABLE = [  # example, the text it prints
    ("hello64.asm", "hello64.txt"),
    ("elf64_text.asm", "elf64_text.txt"),
    ("elf32_stats.asm", "elf32_stats.txt"),
    ("win64_console.asm", "win64_console.txt"),
    ("win64_dll.asm", "win64_dll_caller.txt"),
    ("win64_dll_caller.asm", "win64_dll_caller.txt"),
    ("win32_console.asm", "win32_console.txt"),
    ("boot.asm", "boot.txt"),
]

BOOTED = "Booting from Hard Disk...\r\n"
ESCAPES = re.compile(rb"\x1b(\[[0-9;?]*[A-Za-z]|[A-Za-z])")


def commands(source):
    """The indented command lines of the first comment block."""
    out = []
    with open(source) as f:
        for line in f:
            if not line.startswith(";"):
                break
            m = re.match(r";   (\S.*)$", line.rstrip("\n"))
            if m:
                out.append(shlex.split(m.group(1)))
    return out


def boot(argv, work, want):
    """Runs the boot sector until it has printed as much as want (or 60 s
    pass); what the screen showed after the BIOS started it."""
    p = subprocess.Popen(argv, cwd=work, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT)
    got, deadline = b"", time.monotonic() + 60
    try:
        while time.monotonic() < deadline:
            ready, _, _ = select.select([p.stdout], [], [], 0.5)
            if ready:
                chunk = os.read(p.stdout.fileno(), 4096)
                if not chunk:
                    break
                got += chunk
            text = ESCAPES.sub(b"", got)
            if BOOTED.encode() in text and len(text.split(BOOTED.encode(), 1)[1]) >= len(want):
                break
    finally:
        p.kill()
        p.wait()
    text = ESCAPES.sub(b"", got)
    return text.split(BOOTED.encode(), 1)[1] if BOOTED.encode() in text else text


def run_example(qrn, name, expected):
    """None when it passes, "skip: ..." or the failure."""
    steps = commands(os.path.join(EXAMPLES, name))
    if len(steps) < 2:
        return "the top comment holds no build and run commands"
    with open(os.path.join(EXAMPLES, expected), "rb") as f:
        want = f.read()
    work = tempfile.mkdtemp(prefix="qrn_example_")
    try:
        os.symlink(EXAMPLES, os.path.join(work, "examples"))
        os.mkdir(os.path.join(work, "build"))
        os.symlink(os.path.abspath(qrn), os.path.join(work, "build", "qrn_asm"))
        for argv in steps[:-1]:
            p = subprocess.run(argv, cwd=work, capture_output=True, text=True, errors="replace")
            if p.returncode != 0 or p.stdout.strip() or p.stderr.strip():
                return "%s: exit %d %s" % (" ".join(argv), p.returncode, (p.stdout + p.stderr).strip()[:600])
        run = steps[-1]
        if run[0] == "qemu-system-i386":
            if not shutil.which(run[0]):
                return "skip: qemu-system-i386 is missing (apt-get install qemu-system-x86)"
            want = want.replace(b"\n", b"\r\n")
            got, code = boot(run, work, want), 0
        else:
            if run[0] == "wine":
                run = run[1:]
                want = want.replace(b"\n", b"\r\n")
            try:
                r = run_program.run(os.path.join(work, run[0]), run[1:], cwd=work)
            except run_program.Skipped as e:
                return "skip: %s" % e
            got, code = r.stdout, r.returncode
        if code != 0 or got != want:
            return "exit %s, printed %r, expected %r" % (code, got[-600:], want)
        return None
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    qrn = sys.argv[1]
    passed = failed = 0
    for name, expected in TABLE:
        problem = run_example(qrn, name, expected)
        if problem is None:
            passed += 1
        elif problem.startswith("skip: "):
            print("skipped: %s: %s" % (name, problem[6:]))
        else:
            print("FAIL %s: %s" % (name, problem))
            failed += 1
    print("%d passed, %d failed" % (passed, failed))
    if failed:
        return 1
    return 0 if passed else run_program.SKIP_CODE


if __name__ == "__main__":
    sys.exit(main())
