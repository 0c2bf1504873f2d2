#!/usr/bin/env python3
"""Costs that grow with the source: each growth path (labels, reserves, data
lines) is assembled at full size and at an eighth of it, from sources made
here at run time. A run that takes more than 5 times its linear share of the
small run's time fails: doubling copies, fixed growth steps or chains that
lengthen with the table show as quadratic time long before that.

Usage: growth_test.py path/to/qrn_asm
"""
import os
import subprocess
import sys
import tempfile
import time

QRN = os.path.abspath(sys.argv[1])
FACTOR = 8        # the full size against the small one
SLACK = 5.0       # allowed multiple of the linear time
FLOOR = 0.05      # seconds: the small run's time is never taken as less


def labels(n):
    return ['section "c" class_code'] + ["l%d: nop" % i for i in range(n)] + ["dd l0, l%d" % (n - 1)]


def reserves(n):
    return ['section "d" class_data'] + ["rb 10000\r\ndb %d" % (i & 255) for i in range(n)]


def bss_reserves(n):
    """200 MB of reserves that no byte follows: they take no memory and no time."""
    return ['section "c" class_code', "nop", 'section "b" class_bss'] + ["rb 100000"] * n


def data_lines(megabytes):
    line = "db " + ",".join(str(i * 37 & 255) for i in range(64))
    return ['section "d" class_data'] + [line] * (megabytes * 1000000 // 64)


PATHS = [  # name, source maker, full size, expected output bytes of the full size
    ("1M labels", labels, 1000000, 1000000 + 8),
    ("2000 reserves", reserves, 2000, 2000 * 10001),
    ("2000 bss reserves", bss_reserves, 2000, 1),
    ("10 MB of data lines", data_lines, 10, 10 * 1000000 // 64 * 64),
]


def timed(directory, lines):
    src = os.path.join(directory, "g.asm")
    out = os.path.join(directory, "g.bin")
    with open(src, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")
    best = None
    for _ in range(2):  # the better of two runs: the machine may be busy
        start = time.perf_counter()
        p = subprocess.run([QRN, "-q", "-binary", src, out], capture_output=True)
        t = time.perf_counter() - start
        if p.returncode != 0:
            return None, p.stderr.decode("latin-1")[:300]
        best = t if best is None else min(best, t)
    return best, os.path.getsize(out)


def main():
    passed = failed = 0
    with tempfile.TemporaryDirectory() as d:
        for name, maker, full, size in PATHS:
            small_t, _ = timed(d, maker(full // FACTOR))
            full_t, got = timed(d, maker(full))
            if small_t is None or full_t is None:
                print("FAIL %s: qrn_asm refused the source: %s" % (name, got))
                failed += 1
                continue
            bound = SLACK * FACTOR * max(small_t, FLOOR)
            ok = full_t <= bound and got == size
            print("%s %-20s 1/%d: %.3f s, full: %.3f s (bound %.2f s), %d bytes" %
                  ("ok  " if ok else "FAIL", name, FACTOR, small_t, full_t, bound, got))
            passed += ok
            failed += not ok
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
