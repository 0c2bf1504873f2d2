#!/usr/bin/env python3
"""PROCs assembled by qrn_asm into a flat blob and called from C.

Usage: proc_runs.py path/to/qrn_asm

32-bit: gcc -m32 calls a cdecl and a stdcall PROC a million times each and
checks the sum and that esp is where it was (a stdcall PROC removes its
arguments). 64-bit: a lin64 PROC with one USES register and one LOCAL calls
printf with a double, which needs rsp on 16 bytes at the call. The blob
starts with the offsets of its PROCs; the C program copies it into an
executable mapping. 32-bit programs run under qemu-i386 where the machine
does not run i386 code.

Exit 0 when every check passes, 1 otherwise, 77 when no C compiler for
either width is there; the last line is "N passed, N failed".
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
import run_program  # noqa: E402

BLOB32 = r"""section "c" class_code
.use32
dd Sum
dd Diff
proc Sum cdecl
arg a b
mov eax,[a]
add eax,[b]
ret
endp
proc Diff stdcall
uses ebx esi
arg a b
local t
mov ebx,[a]
sub ebx,[b]
mov [t],ebx
mov esi,[t]
mov eax,esi
ret
endp
"""

BLOB64 = r"""section "c" class_code
.use64
dd Show
proc Show lin64
uses rbx
local cell
mov rbx,rdi
mov rax,400921F9F01B866Eh
mov [cell],rax
movq xmm0,[cell]
lea rdi,[format]
mov eax,1
call rbx
mov eax,7
ret
endp
format: db "pi=%.5f",10,0
"""

MAIN32 = r"""
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
typedef int (__attribute__((cdecl)) *sum_fn)(int, int);
typedef int (__attribute__((stdcall)) *diff_fn)(int, int);
int main(void) {
  unsigned char *m = mmap(0, sizeof blob, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) return 2;
  memcpy(m, blob, sizeof blob);
  unsigned offs[2];
  memcpy(offs, m, sizeof offs);
  sum_fn sum = (sum_fn)(m + offs[0]);
  diff_fn diff = (diff_fn)(m + offs[1]);
  unsigned before, after;
  long long acc = 0;
  __asm__ volatile("mov %%esp,%0" : "=r"(before));
  for (int i = 0; i < 1000000; ++i) {
    acc += sum(i, 3);
    acc += diff(i, 1);
  }
  __asm__ volatile("mov %%esp,%0" : "=r"(after));
  printf("acc=%lld esp=%d\n", acc, (int)(after - before));
  return acc == 1000001000000LL && before == after ? 0 : 1;
}
"""

MAIN64 = r"""
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
typedef int (*show_fn)(void *);
int main(void) {
  unsigned char *m = mmap(0, sizeof blob, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) return 2;
  memcpy(m, blob, sizeof blob);
  unsigned off;
  memcpy(&off, m, sizeof off);
  int r = ((show_fn)(m + off))((void *)printf);
  fflush(stdout);
  return r == 7 ? 0 : 1;
}
"""


def c_array(data):
    return "static const unsigned char blob[] = {%s};\n" % ",".join(str(b) for b in data)


def run(exe, bits):
    """Runs the program (i386 natively or under qemu-i386, as the test
    command found); None when it cannot start."""
    try:
        r = run_program.run(exe, timeout=120)
    except (OSError, RuntimeError):
        return None
    return subprocess.CompletedProcess([exe], -1 if r.returncode is None else r.returncode,
                                       r.stdout.decode("latin-1"), r.stderr.decode("latin-1"))


def main():
    if len(sys.argv) != 2:
        print("usage: proc_runs.py path/to/qrn_asm")
        return 2
    qrn = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="qrn_proc_runs_")
    passed = failed = ran = 0
    try:
        for bits, blob, main_c, expect in ((32, BLOB32, MAIN32, "acc=1000001000000 esp=0\n"),
                                           (64, BLOB64, MAIN64, "pi=3.14159\n")):
            src, out = os.path.join(work, "b%d.asm" % bits), os.path.join(work, "b%d.bin" % bits)
            with open(src, "w", newline="\r\n") as f:
                f.write(blob)
            p = subprocess.run([qrn, "-binary", "-q", src, out], capture_output=True, text=True)
            if p.returncode != 0:
                failed += 1
                print("FAIL %d-bit blob: qrn_asm: %s" % (bits, (p.stdout + p.stderr).strip()))
                continue
            with open(out, "rb") as f:
                data = f.read()
            c = os.path.join(work, "m%d.c" % bits)
            exe = os.path.join(work, "m%d" % bits)
            with open(c, "w") as f:
                f.write(c_array(data) + main_c)
            flags = ["-m32"] if bits == 32 else []
            p = subprocess.run(["gcc", "-O2"] + flags + [c, "-o", exe], capture_output=True, text=True)
            if p.returncode != 0:
                print("skipped: %d-bit C program does not build (%s)" % (bits, p.stderr.strip()[:200]))
                continue
            probe = run(exe, bits)
            if probe is None:
                print("skipped: this machine does not run %d-bit programs" % bits)
                continue
            ran += 1
            if probe.returncode == 0 and probe.stdout == expect:
                passed += 1
            else:
                failed += 1
                print("FAIL %d-bit: exit %d, output %r (expected %r)" % (bits, probe.returncode, probe.stdout, expect))
    except OSError as e:
        failed += 1
        print("FAIL %s" % e)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    if failed:
        return 1
    return 0 if ran else 77


if __name__ == "__main__":
    sys.exit(main())
