#!/usr/bin/env python3
"""The program runner on the four kinds of program: one small C program
built by gcc, gcc -m32 and both mingw compilers, run with arguments; its
output, exit code and the kind read from its headers are checked.

Usage: run_program_test.py [kind...]   (default: every kind; exit 0 when
all pass, the last line is "N passed, N failed"; when a PE32 cannot run
here, one "skipped:" line, and exit 77 if nothing else ran)
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_program  # noqa: E402

SOURCE = r"""
#include <stdio.h>
int main(int argc, char **argv) {
  printf("%d bits:", (int)(sizeof(void *) * 8));
  for (int i = 1; i < argc; i++) printf(" [%s]", argv[i]);
  printf("\n");
  return 40 + argc;
}
"""

BUILDS = [  # kind, compiler command
    ("elf64", ["gcc", "-O1"]),
    ("elf32", ["gcc", "-O1", "-m32"]),
    ("pe32+", ["x86_64-w64-mingw32-gcc", "-O1", "-static"]),
    ("pe32", ["i686-w64-mingw32-gcc", "-O1", "-static"]),
]


def main():
    kinds = sys.argv[1:] or [k for k, _ in BUILDS]
    passed = failed = skipped = 0
    work = tempfile.mkdtemp(prefix="qrn_run_program_")
    try:
        src = os.path.join(work, "args.c")
        with open(src, "w") as f:
            f.write(SOURCE)
        for k, cc in BUILDS:
            if k not in kinds:
                continue
            exe = os.path.join(work, k.replace("+", "p") + (".exe" if k.startswith("pe") else ""))
            if not shutil.which(cc[0]):
                print("FAIL %s: compiler %s is missing" % (k, cc[0]))
                failed += 1
                continue
            p = subprocess.run(cc + [src, "-o", exe], capture_output=True, text=True)
            if p.returncode:
                print("FAIL %s: %s does not build the program: %s" % (k, cc[0], p.stderr.strip()[:500]))
                failed += 1
                continue
            problems = []
            if run_program.kind(exe) != k:
                problems.append("read as %s" % run_program.kind(exe))
            try:
                r = run_program.run(exe, ["one", "two words"])
            except run_program.Skipped as e:
                print("skipped: %s" % e)
                skipped += 1
                continue
            bits = "64" if k in ("elf64", "pe32+") else "32"
            want = "%s bits: [one] [two words]" % bits
            out = r.stdout.decode("latin-1").replace("\r\n", "\n").strip()
            if out != want:
                problems.append("output %r, expected %r (stderr %r)" % (out, want, r.stderr[-300:]))
            if r.returncode != 43:
                problems.append("exit code %s, expected 43" % r.returncode)
            if problems:
                print("FAIL %s: %s" % (k, "; ".join(problems)))
                failed += 1
            else:
                passed += 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    if failed:
        return 1
    return run_program.SKIP_CODE if skipped and not passed else 0


if __name__ == "__main__":
    sys.exit(main())
