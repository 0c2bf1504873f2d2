#!/usr/bin/env python3
"""Runs the qrn_asm program as a process: exit codes, console streams and
output files as a user sees them. Usage: cli_test.py path/to/qrn_asm"""
import os
import resource
import signal
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


def run(args, cwd, file_limit=None):
    def limit():  # writes past file_limit bytes fail (EFBIG) instead of ending the process
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))
    p = subprocess.run([QRN] + args, cwd=cwd, capture_output=True, preexec_fn=limit if file_limit else None)
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
    check("directory input message", err == b"\r\n**Error** File is not a regular file: adir", err)
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

    # Failed writes: reported, exit 1, no partial file; an old output survives whole.
    write_msg = b"\r\n**Error** Output: can not write file\r\n"
    big = b'section "c" class_code\r\nrb 100000\r\nnop\r\n'
    write("big.asm", big)
    if os.path.exists("/dev/full"):
        for name in ("p.asm", "big.asm"):  # the small one fails only when the file is closed
            code, out, err = run(["-q", "-binary", name, "/dev/full"], d)
            check("full device %s" % name, code == 1 and err == write_msg, (code, err))
    write("old.bin", b"old output")
    code, out, err = run(["-q", "-binary", "big.asm", "old.bin"], d, file_limit=4096)
    check("cut write exit", code == 1 and err == write_msg, (code, err))
    with open(os.path.join(d, "old.bin"), "rb") as f:
        check("cut write keeps the old output", f.read() == b"old output")
    check("cut write leaves no part file", not os.path.exists(os.path.join(d, "old.bin.part")), os.listdir(d))
    code, out, err = run(["-q", "-binary", "big.asm", "old.bin"], d)
    check("complete write replaces it", code == 0 and os.path.getsize(os.path.join(d, "old.bin")) == 100001
          and not os.path.exists(os.path.join(d, "old.bin.part")))
    # A run without any section leaves no older output of the same name.
    write("nosec.asm", b"x equ 1\r\n")
    code, out, err = run(["-q", "-binary", "nosec.asm", "old.bin"], d)
    check("no section removes the old output", code == 0 and not os.path.exists(os.path.join(d, "old.bin")),
          (code, err))

    # Help alone succeeds; a command-line error fails.
    code, out, err = run(["-h"], d)
    check("help exit", code == 0)
    code, out, err = run(["-H", "a", "b"], d)
    check("bad option exit", code == 1)
    check("bad option stderr", err == b"CMD line: Unknown option: -H", err)

print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
