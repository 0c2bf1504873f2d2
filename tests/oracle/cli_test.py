#!/usr/bin/env python3
"""Runs the qrn_asm program as a process: exit codes, console streams and
output files as a user sees them. Usage: cli_test.py path/to/qrn_asm"""
import os
import subprocess
import sys
import tempfile

QRN = os.path.abspath(sys.argv[1])
passed = failed = 0


def check(name, condition, detail=""):
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print(f"FAIL {name} {detail}")


def run(args, cwd):
    p = subprocess.run([QRN] + args, cwd=cwd, capture_output=True)
    return p.returncode, p.stdout, p.stderr


with tempfile.TemporaryDirectory() as d:
    def write(name, text):
        path = os.path.join(d, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(text)

    # A missing input file: reported on stdout, exit 1, no output file.
    code, out, err = run(["-q", "-binary", "nope.asm", "nope.bin"], d)
    check("missing input exit", code == 1, code)
    check("missing input message", out == b"\r\n**Error** Can not open file: nope.asm", out)
    check("missing input no output", not os.path.exists(os.path.join(d, "nope.bin")))

    # A directory given as the input file is refused, not crashed on.
    os.makedirs(os.path.join(d, "adir"), exist_ok=True)
    code, out, err = run(["-q", "-binary", "adir", "adir.bin"], d)
    check("directory input exit", code == 1, (code, out, err))
    check("directory input no output", not os.path.exists(os.path.join(d, "adir.bin")))

    # An empty file assembles to nothing, without error.
    write("empty.asm", b"")
    code, out, err = run(["-q", "-binary", "empty.asm", "empty.bin"], d)
    check("empty file", code == 0 and err == b"", (code, err))

    # Backslashes in the input path are directory separators.
    write("dir/sub/a.asm", b'section "c" class_code\r\nnop\r\n')
    code, out, err = run(["-q", "-binary", "dir\\sub\\a.asm", "a.bin"], d)
    check("backslash path", code == 0, (code, out, err))

    # Two runs give equal outputs, and a -list run gives the same output file.
    src = b'section "c" class_code\r\nstart: nop\r\nrep stosb\r\nsection "d" class_data\r\nnop\r\n'
    write("p.asm", src)
    outputs = []
    for extra in ([], [], ["-list"]):
        code, out, err = run(["-q", "-binary"] + extra + ["p.asm", "p.bin"], d)
        check("run %s" % extra, code == 0, (code, err))
        with open(os.path.join(d, "p.bin"), "rb") as f:
            outputs.append(f.read())
    check("runs are equal", outputs[0] == outputs[1])
    check("-list output equal", outputs[0] == outputs[2])

    # The output file is not written after a failed pass.
    write("bad.asm", b'section "c" class_code\r\nnop\r\nfoo bar\r\n')
    code, out, err = run(["-q", "-binary", "bad.asm", "bad.bin"], d)
    check("failed run exit", code == 1)
    check("failed run no output", not os.path.exists(os.path.join(d, "bad.bin")))

    # A writer that cannot create its file fails the run.
    code, out, err = run(["-q", "-binary", "p.asm", "no/such/dir/p.bin"], d)
    check("writer failure exit", code == 1, code)
    check("writer failure message", err == b"\r\n**Error** Output: can not create file\r\n", err)

    # Help alone succeeds; a command-line error fails.
    code, out, err = run(["-h"], d)
    check("help exit", code == 0)
    code, out, err = run(["-H", "a", "b"], d)
    check("bad option exit", code == 1)
    check("bad option stderr", err == b"CMD line: Unknown option: -H", err)

print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
