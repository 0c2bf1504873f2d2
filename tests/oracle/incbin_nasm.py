#!/usr/bin/env python3
"""incbin and incfrom against nasm: random files and random slices, in one
program each, compared byte for byte with nasm's incbin "file", start, count.

Usage: incbin_nasm.py path/to/qrn_asm [seed]
The last line is "N passed, N failed"."""
import os
import random
import subprocess
import sys
import tempfile


def main():
    qrn = sys.argv[1]
    rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 106)
    if subprocess.run(["which", "nasm"], capture_output=True).returncode != 0:
        print("skipped: nasm is missing")
        sys.exit(77)
    passed = failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for program in range(20):
            ours = ['section "d" class_data']
            theirs = []
            for f in range(3):
                size = rng.choice([0, 1, rng.randint(2, 64), rng.randint(65, 5000)])
                name = "f%d.bin" % f
                with open(os.path.join(tmp, name), "wb") as out:
                    out.write(bytes(rng.randrange(256) for _ in range(size)))
                ours.append('incbin "%s"' % name)
                theirs.append('incbin "%s"' % name)
                for _ in range(10):
                    start = rng.randint(0, size)
                    if rng.random() < 0.3:
                        ours.append("incfrom %d, ?, %s" % (start, name))
                        theirs.append('incbin "%s", %d' % (name, start))
                    else:
                        count = rng.randint(0, size - start)
                        ours.append("incfrom %d, %d, %s" % (start, count, name))
                        theirs.append('incbin "%s", %d, %d' % (name, start, count))
                    ours.append("db 0A5h")
                    theirs.append("db 0A5h")
            with open(os.path.join(tmp, "t.asm"), "w", newline="") as out:
                out.write("\r\n".join(ours) + "\r\n")
            with open(os.path.join(tmp, "n.asm"), "w") as out:
                out.write("\n".join(theirs) + "\n")
            q = subprocess.run([qrn, "-binary", "-q", "t.asm", "t.bin"], cwd=tmp, capture_output=True, text=True)
            n = subprocess.run(["nasm", "-f", "bin", "-o", "n.bin", "n.asm"], cwd=tmp, capture_output=True, text=True)
            mine = open(os.path.join(tmp, "t.bin"), "rb").read() if q.returncode == 0 else None
            ref = open(os.path.join(tmp, "n.bin"), "rb").read() if n.returncode == 0 else None
            if mine is not None and mine == ref:
                passed += 1
            else:
                failed += 1
                print("FAIL program %d: qrn %d %s, nasm %d %s" % (program, q.returncode, q.stderr, n.returncode,
                                                                 n.stderr))
            for name in ("t.bin", "n.bin"):
                if os.path.exists(os.path.join(tmp, name)):
                    os.remove(os.path.join(tmp, name))
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(0 if failed == 0 and passed > 0 else 1)


if __name__ == "__main__":
    main()
