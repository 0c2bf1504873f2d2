#!/usr/bin/env python3
"""Sources that would run without end: each run must end with its message,
exit 1 and leave no output. The timeout only catches a hang; no run is timed.
A 1 GiB incbin must assemble with one buffer of its size.

Usage: runaway_test.py path/to/qrn_asm
"""
import os
import resource
import subprocess
import sys
import tempfile

QRN = os.path.abspath(sys.argv[1])
HANG = 300  # seconds


def include_fan_out(d):
    # 25 files, each including the next twice: 2^24 opens unless capped
    for i in range(24):
        put(d, "f%d.inc" % i, "include f%d.inc\r\ninclude f%d.inc\r\n" % (i + 1, i + 1))
    put(d, "f24.inc", "nop\r\n")
    return 'section "c" class_code\r\ninclude f0.inc\r\n'


def text_equate_doubling(d):
    lines = ["define A%d <A%d A%d>" % (i, i + 1, i + 1) for i in range(30)]
    return 'section "c" class_code\r\n' + "\r\n".join(lines) + "\r\ndefine A30 1\r\ndb A0\r\n"


def macro_doubling(d):
    lines = []
    for i in range(30, 0, -1):
        body = "nop" if i == 30 else "m%d\r\nm%d" % (i, i)
        lines.append("macro m%d\r\n%s\r\nendm" % (i - 1, body))
    return 'section "c" class_code\r\n' + "\r\n".join(lines) + "\r\nm0\r\n"


def rept_nest(d):
    return 'section "c" class_code\r\n' + "rept 1000\r\n" * 6 + "nop\r\n" + "endm\r\n" * 6


def for_nest(d):
    return 'section "c" class_code\r\n' + "for x in: a,b,c,d,e,f,g,h do\r\n" * 10 + "nop\r\n" + "endm\r\n" * 10


def fifo(statement):
    def make(d):
        os.mkfifo(os.path.join(d, "pipe"))  # no writer: an open that waits never returns
        return 'section "c" class_code\r\n%s\r\n' % statement
    return make


RUNAWAYS = [  # name, source maker, message the run ends with (stderr)
    ("include fan-out", include_fan_out, "Expansion too big: f"),
    ("text equates doubling 30 deep", text_equate_doubling, "Expansion too big: A"),
    ("macros doubling 30 deep", macro_doubling, "Expansion too big: m"),
    ("rept 1000 nested 6 deep", rept_nest, "Expansion too big: rept"),
    ("for of 8 items nested 10 deep", for_nest, "Expansion too big: for"),
    ("include of a pipe", fifo('include "pipe"'), "File is not a regular file: pipe"),
    ("incbin of a pipe", fifo('incbin "pipe"'), "File is not a regular file: pipe"),
    ("incfrom of a pipe", fifo("incfrom 0, ?, pipe"), "File is not a regular file: pipe"),
]

passed = failed = 0


def check(name, ok, detail):
    global passed, failed
    print("%s %s%s" % ("ok  " if ok else "FAIL", name, "" if ok else ": " + detail))
    passed += ok
    failed += not ok


def put(d, name, text):
    with open(os.path.join(d, name), "w", newline="") as f:
        f.write(text)


def run(d, source, output):
    try:
        return subprocess.run([QRN, "-q", "-binary", source, output], cwd=d, capture_output=True, timeout=HANG)
    except subprocess.TimeoutExpired:
        return None


def main():
    for name, maker, message in RUNAWAYS:
        with tempfile.TemporaryDirectory() as d:
            put(d, "t.asm", maker(d))
            p = run(d, "t.asm", "t.bin")
            if p is None:
                check(name, False, "no end after %d s" % HANG)
                continue
            err = p.stderr.decode("latin-1")
            ok = p.returncode == 1 and message in err and not os.path.exists(os.path.join(d, "t.bin"))
            check(name, ok, "exit %d, %r" % (p.returncode, err[-300:]))
    with tempfile.TemporaryDirectory() as d:
        os.mkfifo(os.path.join(d, "pipe"))
        p = run(d, "pipe", "t.bin")
        check("a pipe as the source", p is not None and p.returncode == 1 and
              b"File is not a regular file: pipe" in p.stderr, "no end" if p is None else repr(p.stderr[-200:]))
    # A file of nearly 1 GiB (sparse) fits a section: read straight into it,
    # and the data after it takes no second buffer: the peak stays near one.
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "big.bin"), "wb") as f:
            f.truncate((1 << 30) - 8192)
        put(d, "t.asm", 'section "d" class_data\r\nincbin "big.bin"\r\ndb "abcd"\r\n')
        p = run(d, "t.asm", "/dev/null")
        peak_mib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024
        check("incbin of 1 GiB - 8 KiB", p is not None and p.returncode == 0 and peak_mib < 1536,
              "exit %s, peak %d MiB, %r" % (p and p.returncode, peak_mib, p and p.stderr[-200:]))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
