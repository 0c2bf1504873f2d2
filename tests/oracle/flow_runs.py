#!/usr/bin/env python3
"""Run-time .if/.while/.repeat programs and INVOKE, assembled by qrn_asm and run.

Usage: flow_runs.py path/to/qrn_asm [seed]

Generated functions evaluate random conditions (comparisons of registers,
immediates, mini-strings and stack memory, signed and unsigned, joined by
&& and || with and without parentheses), .elseif chains, nested blocks,
bounded loops and flag tests after `sub`. Each is assembled into a flat
blob (with and without -size) that a C program maps and calls over a table
of argument values; the results must equal the conditions as written
(evaluated here). 64-bit code runs natively, 32-bit code through gcc -m32
(qemu-i386 where the machine runs no i386 code).

The INVOKE part calls C callees of every convention (cdecl, stdcall, SysV,
ms_abi for win64 and win64_push, variadic) through code-less PROCs of the
blob whose slots the C host patches with a jump to the callee; the callees
record their arguments and whether RSP was 16-byte aligned at the call.

Exit 0 when every check passes, 1 otherwise, 77 when no C compiler runs;
the last line is "N passed, N failed".
"""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

M32 = 0xFFFFFFFF
VALUES = [0, 1, 2, 7, 0x61, 0x6162, 100, 0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFE, 0xFFFFFFFF]
OPS = ["==", "!=", "<", ">", "<=", ">="]


def signed32(v):
    v &= M32
    return v - (1 << 32) if v & 0x80000000 else v


def compare(op, a, b, is_signed):
    if is_signed:
        a, b = signed32(a), signed32(b)
    return {"==": a == b, "!=": a != b, "<": a < b, ">": a > b, "<=": a <= b, ">=": a >= b}[op]


class Frame:
    """Where the four 32-bit arguments a, b, c, d live inside a function."""

    def __init__(self, bits):
        self.bits = bits
        if bits == 32:
            self.prologue = ["mov eax,[esp+4]", "mov ecx,[esp+8]", "mov edx,[esp+12]"]
            self.names = ["eax", "ecx", "edx", "dword [esp+16]"]
        else:
            self.prologue = ["mov [rsp-8],ecx"]
            self.names = ["edi", "esi", "edx", "dword [rsp-8]"]


def operand_pair(rng, frame):
    x = rng.randrange(4)
    kind = rng.random()
    if kind < 0.45:
        v = rng.choice(VALUES)
        if v in (0x61, 0x6162) and rng.random() < 0.5:
            text = "'a'" if v == 0x61 else "'ab'"
        else:
            text = "0%Xh" % v
        return frame.names[x], text, (lambda args, x=x: args[x]), (lambda args, v=v: v)
    y = rng.randrange(4)
    if x == 3 and y == 3:
        y = 0  # memory only against a register
    return frame.names[x], frame.names[y], (lambda args, x=x: args[x]), (lambda args, y=y: args[y])


def leaf(rng, frame):
    op = rng.choice(OPS)
    is_signed = rng.random() < 0.4
    xt, yt, xf, yf = operand_pair(rng, frame)
    text = ("signed " if is_signed else "") + "%s %s %s" % (xt, op, yt)
    return text, lambda args: compare(op, xf(args), yf(args), is_signed)


def condition(rng, frame, depth=0):
    """A chain term (op term)* grouped from the right, terms maybe in ( )."""
    terms = []
    for _ in range(rng.randint(1, 3 if depth < 2 else 1)):
        if depth < 2 and rng.random() < 0.3:
            t, f = condition(rng, frame, depth + 1)
            terms.append(("( %s )" % t, f))
        else:
            terms.append(leaf(rng, frame))
    ops = [rng.choice(["&&", "||", ".and.", ".or."]) for _ in terms[1:]]

    def evaluate(args, i=0):
        if i == len(terms) - 1:
            return terms[i][1](args)
        first = terms[i][1](args)
        if ops[i] in ("&&", ".and."):
            return first and evaluate(args, i + 1)
        return first or evaluate(args, i + 1)

    text = terms[0][0]
    for o, t in zip(ops, terms[1:]):
        text += " %s %s" % (o, t[0])
    return text, evaluate


def flag_test(rng):
    names = ["zero?", "carry?", "sign?", "overflow?", "parity?"]
    n = rng.choice(names)
    neg = rng.random() < 0.4

    def holds(a, b):
        r = (a - b) & M32
        v = {"zero?": r == 0, "carry?": a < b, "sign?": bool(r & 0x80000000),
             "overflow?": signed32(a) - signed32(b) != signed32(r),
             "parity?": bin(r & 0xFF).count("1") % 2 == 0}[n]
        return not v if neg else v
    return ("!" if neg else "") + n, holds


# Groupings that a resolver taking only the parenthesis just closed gets wrong.
FIXED = [
    ("( {a} > 0 && ( {b} == 1 || {b} == 2 ) ) && {c} != 0",
     lambda a, b, c, d: (a > 0 and (b == 1 or b == 2)) and c != 0),
    ("( ( {a} == 1 || {b} == 1 ) ) && {c} == 1", lambda a, b, c, d: (a == 1 or b == 1) and c == 1),
    ("( ( {a} == 1 && {b} == 1 ) ) || {c} == 1", lambda a, b, c, d: (a == 1 and b == 1) or c == 1),
    ("( {a} == 1 || {b} == 1 ) || {c} == 1 && {d} == 1", lambda a, b, c, d: a == 1 or b == 1 or (c == 1 and d == 1)),
    ("( ( ( {a} < 7 ) ) ) || ( ( {b} == 1 ) && {c} == 2 )", lambda a, b, c, d: a < 7 or (b == 1 and c == 2)),
    ("{a} == 1 && {b} == 1 || {c} == 1", lambda a, b, c, d: a == 1 and (b == 1 or c == 1)),
]


def fixed_functions(frame):
    out = []
    names = dict(zip("abcd", frame.names))
    for text, f in FIXED:
        lines = list(frame.prologue) + [".if " + text.format(**names), "mov eax,1", ".else", "mov eax,0", ".endif",
                                        "ret"]
        out.append((lines, lambda args, f=f: 1 if f(*args) else 0))
    return out


def make_function(rng, frame, kind):
    """(lines, evaluate(args) -> result)"""
    lines = list(frame.prologue)
    if kind == "if":
        t, f = condition(rng, frame)
        lines += [".if " + t, "mov eax,1", ".else", "mov eax,0", ".endif", "ret"]
        return lines, lambda args: 1 if f(args) else 0
    if kind == "elseif":
        conds = [condition(rng, frame) for _ in range(rng.randint(2, 4))]
        lines += [".if " + conds[0][0], "mov eax,1"]
        for i, (t, _) in enumerate(conds[1:], 2):
            lines += [".elseif " + t, "mov eax,%d" % i]
        lines += [".else", "mov eax,99", ".endif", "ret"]

        def ev(args):
            for i, (_, f) in enumerate(conds, 1):
                if f(args):
                    return i
            return 99
        return lines, ev
    if kind == "nested":
        (t1, f1), (t2, f2), (t3, f3) = (condition(rng, frame) for _ in range(3))
        lines += [".if " + t1, ".if " + t2, "mov eax,1", ".else", "mov eax,2", ".endif",
                  ".elseif " + t3, ".if " + t2, "mov eax,3", ".endif", ".if " + t1, "mov eax,4", ".else",
                  "mov eax,5", ".endif", ".else", "mov eax,6", ".endif", "ret"]

        def ev(args):
            if f1(args):
                return 1 if f2(args) else 2
            if f3(args):
                return 5
            return 6
        if "eax" in t1 + t2:
            return None  # the inner blocks read eax after it changed
        return lines, ev
    if kind == "flags":
        t, f = flag_test(rng)
        src = "eax" if frame.bits == 32 else "edi"
        other = "ecx" if frame.bits == 32 else "esi"
        lines += ["sub %s,%s" % (src, other), ".if " + t, "mov eax,1", ".else", "mov eax,0", ".endif", "ret"]
        return lines, lambda args: 1 if f(args[0], args[1]) else 0
    if kind == "while":
        reg = "ecx" if frame.bits == 32 else "esi"
        lines += ["xor eax,eax", ".while signed %s > 0 && eax < 100" % reg, "add eax,1", "sub %s,1" % reg, ".endw", "ret"]

        def ev(args):
            c, n = args[1], 0
            while signed32(c) > 0 and n < 100:
                n += 1
                c = (c - 1) & M32
            return n
        return lines, ev
    if kind == "repeat":
        reg = "ecx" if frame.bits == 32 else "esi"
        lines += ["xor eax,eax", ".repeat", "add eax,1", "sub %s,1" % reg,
                  ".until %s == 0 || eax >= 100" % reg, "ret"]

        def ev(args):
            c, n = args[1], 0
            while True:
                n += 1
                c = (c - 1) & M32
                if c == 0 or n >= 100:
                    return n
        return lines, ev
    raise ValueError(kind)


ARG_SETS = []


def pick_args(rng, count):
    out = []
    for _ in range(count):
        out.append([rng.choice(VALUES) for _ in range(4)])
    # equal pairs, so == and <= are exercised
    for _ in range(count // 4):
        v = rng.choice(VALUES)
        out.append([v, v, rng.choice(VALUES), v])
    return out


HOST = r"""
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
typedef unsigned (%(cc)s *fn)(unsigned, unsigned, unsigned, unsigned);
int main(void) {
  unsigned char *m = mmap(0, sizeof blob, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) return 2;
  memcpy(m, blob, sizeof blob);
  int bad = 0;
  for (unsigned i = 0; i < sizeof checks / sizeof checks[0]; ++i) {
    unsigned off;
    memcpy(&off, m + 4 * checks[i][0], 4);
    unsigned r = ((fn)(m + off))(checks[i][1], checks[i][2], checks[i][3], checks[i][4]);
    if (r != checks[i][5]) {
      if (bad < 10) printf("function %%u (%%x,%%x,%%x,%%x): got %%u, expected %%u\n", checks[i][0], checks[i][1],
                           checks[i][2], checks[i][3], checks[i][4], r, checks[i][5]);
      ++bad;
    }
  }
  printf("%%d bad\n", bad);
  return bad != 0;
}
"""


def run(exe, bits):
    try:
        p = subprocess.run([exe], capture_output=True, text=True, timeout=120)
        if p.returncode >= 0 or bits == 64:
            return p
    except OSError:
        pass
    if bits == 32 and shutil.which("qemu-i386"):
        return subprocess.run(["qemu-i386", exe], capture_output=True, text=True, timeout=300)
    return None


def assemble(qrn, work, name, text, extra):
    src = os.path.join(work, name + ".asm")
    out = os.path.join(work, name + ".bin")
    with open(src, "w", newline="\r\n") as f:
        f.write(text)
    p = subprocess.run([qrn, "-binary", "-q"] + extra + [src, out], capture_output=True, text=True)
    if p.returncode != 0:
        return None, (p.stdout + p.stderr).strip()
    with open(out, "rb") as f:
        return f.read(), None


def build_and_run(work, name, bits, data, host):
    c = os.path.join(work, name + ".c")
    exe = os.path.join(work, name)
    with open(c, "w") as f:
        f.write("static const unsigned char blob[] = {%s};\n" % ",".join(str(b) for b in data))
        f.write(host)
    flags = ["-m32"] if bits == 32 else []
    p = subprocess.run(["gcc", "-O1"] + flags + [c, "-o", exe], capture_output=True, text=True)
    if p.returncode != 0:
        return "skip", "C program does not build: " + p.stderr.strip()[:200]
    r = run(exe, bits)
    if r is None:
        return "skip", "this machine does not run %d-bit programs" % bits
    return ("ok" if r.returncode == 0 else "fail"), r.stdout[-2000:]


def condition_suite(qrn, work, bits, rng, count):
    frame = Frame(bits)
    global ARG_SETS
    ARG_SETS = pick_args(rng, 24)
    ARG_SETS += [[a, b, c, d] for a in (0, 1, 2) for b in (0, 1, 2) for c in (0, 1, 2) for d in (0, 1)]
    funcs = fixed_functions(frame)
    kinds = ["if"] * 6 + ["elseif"] * 2 + ["nested", "flags", "flags", "while", "repeat"]
    while len(funcs) < count:
        made = make_function(rng, frame, rng.choice(kinds))
        if made:
            funcs.append(made)
    text = ['section "c" class_code', ".use%d" % bits]
    text += ["dd F%d" % i for i in range(len(funcs))]
    for i, (lines, _) in enumerate(funcs):
        text.append("F%d:" % i)
        text += lines
    text = "\n".join(text) + "\n"
    checks = []
    for i, (_, ev) in enumerate(funcs):
        for args in ARG_SETS:
            want = ev(args)
            if want is not None:
                checks.append("{%d,%uu,%uu,%uu,%uu,%uu}" % ((i,) + tuple(args) + (want,)))
    results = []
    for extra in ([], ["-size"]):
        tag = "cond%d%s" % (bits, extra[0] if extra else "")
        data, err = assemble(qrn, work, tag, text, extra)
        if data is None:
            results.append(("fail", "%d-bit %s: qrn_asm: %s" % (bits, extra, err[:600])))
            continue
        host = "static const unsigned checks[][6] = {%s};\n" % ",".join(checks)
        host += HOST % {"cc": "__attribute__((cdecl))" if bits == 32 else ""}
        status, out = build_and_run(work, tag, bits, data, host)
        results.append((status, "%d-bit conditions %s: %s" % (bits, " ".join(extra), out.strip())))
    return results


# ---- INVOKE ------------------------------------------------------------------------------

# Each callee slot is a code-less PROC of the convention followed by 16 bytes
# that the host overwrites with a jump to a C stub; the stub records RSP and
# jumps to the C callee, which checks its arguments against the table.
SLOT64 = "slot[0] = 0x49; slot[1] = 0xBB; memcpy(slot + 2, &t, 8); slot[10] = 0x41; slot[11] = 0xFF; slot[12] = 0xE3;"
SLOT32 = "slot[0] = 0xB8; memcpy(slot + 1, &t, 4); slot[5] = 0xFF; slot[6] = 0xE0;"

INVOKE_HOST = r"""
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
typedef %(T)s T;
unsigned char *blob_base;
uintptr_t entry_sp;
int bad, misaligned;
static void check(int c, const T *got, int n) {
  if (n != counts[c]) { ++bad; printf("case %%d: %%d arguments, expected %%d\n", c, n, counts[c]); return; }
  for (int j = 0; j < n; ++j) {
    T want = offsets[c][j] >= 0 ? (T)(uintptr_t)(blob_base + offsets[c][j]) : values[c][j];
    if (got[j] != want) { ++bad; printf("case %%d argument %%d: %%llx, expected %%llx\n", c, j + 1,
                                        (unsigned long long)got[j], (unsigned long long)want); }
  }
  if (%(align)s) { ++misaligned; printf("case %%d: sp %%lx at entry\n", c, (unsigned long)entry_sp); }
}
%(callees)s
int main(void) {
  /* 32-bit code holds absolute addresses: the blob is assembled for BASE */
  unsigned char *m = mmap((void *)BASE, sizeof blob, PROT_READ | PROT_WRITE | PROT_EXEC,
                          MAP_PRIVATE | MAP_ANONYMOUS | (BASE ? MAP_FIXED : 0), -1, 0);
  if (m == MAP_FAILED) return 2;
  memcpy(m, blob, sizeof blob);
  blob_base = m;
  unsigned offs[1 + %(ncase)d];
  memcpy(offs, m, sizeof offs);
  for (int i = 0; i <= %(ncase)d; ++i) offs[i] -= BASE;
  void *stubs[] = {%(stubs)s};
  for (int i = 0; i < %(ncase)d; ++i) {
    unsigned char *slot = m + offs[i + 1];
    void *t = stubs[i];
    %(slot)s
  }
  long long moved = ((long long (*)(void))(m + offs[0]))();
  if (moved) { ++bad; printf("the stack pointer moved across an invoke: %%lld\n", moved); }
  printf("%%d bad, %%d misaligned\n", bad, misaligned);
  return bad || misaligned;
}
"""


def invoke_program(bits, rng, count):
    if bits == 64:
        convs = [("lin64", "", False, False), ("win64", "__attribute__((ms_abi))", False, False),
                 ("win64_push", "__attribute__((ms_abi))", False, False), ("lin64", "", True, False),
                 ("win64", "__attribute__((ms_abi))", False, True), ("lin64", "", False, True)]
        T, reg, size, data = "long long", "rbx", "qword", "dq"
    else:
        convs = [("cdecl", "__attribute__((cdecl))", False, False), ("stdcall", "__attribute__((stdcall))", False, False),
                 ("cdecl", "__attribute__((cdecl))", True, False), ("cdecl", "__attribute__((cdecl))", False, True)]
        T, reg, size, data = "int", "ebx", "dword", "dd"
    cases = []
    for i in range(count):
        conv, attr, varg, cinvoke = convs[i % len(convs)]
        cases.append((conv, attr, varg, cinvoke, rng.randint(1 if varg else 0, 9)))
    labels = []          # (label, value)
    code = ["Start:"]
    if bits == 64:
        code += ["push rbx", "push rbp", "push r12", "push r13", "sub rsp,8", "mov rbp,rsp", "xor r13,r13"]
    else:
        code += ["push ebx", "push esi", "push edi", "push ebp", "mov ebp,esp", "xor edi,edi"]
    procs, c_parts, values, offsets, counts = [], [], [], [], []
    for i, (conv, attr, varg, cinvoke, n) in enumerate(cases):
        procs += ["proc C%d %s" % (i, conv)] + (["varg"] if varg else [])
        if n and not varg:
            procs.append("arg " + " ".join("p%d" % j for j in range(n)))
        procs += ["endp", "rb 16"]
        texts, vals, offs, reg_used = [], [], [], False
        for j in range(n):
            v = rng.randrange(1, 1 << 31)
            kind = "imm" if varg and j == 0 else rng.choice(["imm", "reg", "mem", "addr"])
            if kind == "mem" and conv == "win64" and j >= 4:
                kind = "imm"  # `mov rax,[label]` takes the absolute moffs form: not in a mapped blob
            if varg and j == 0:
                v = n
            elif j == 1 and i % 3 == 1:
                kind = "quoted"  # a quoted argument is pushed or moved as its value
            if kind == "quoted":
                word = "".join(rng.choice("Oab ~") for _ in range(1 + i // 3 % 3))
                texts.append("'%s'" % word)
                v = int.from_bytes(word.encode(), "big")
            elif kind == "reg" and not reg_used:
                reg_used = True
                code.append("mov %s,0%Xh" % (reg, v))
                texts.append(reg)
            elif kind == "mem":
                labels.append(("V%d_%d" % (i, j), v))
                texts.append("%s [V%d_%d]" % (size, i, j))
            elif kind == "addr":
                labels.append(("V%d_%d" % (i, j), 0))
                texts.append("addr V%d_%d" % (i, j))
                v = ("label", len(labels) - 1)
            else:
                texts.append("0%Xh" % v)
            vals.append(v)
        values.append(vals)
        counts.append(n)
        offsets.append(vals)
        if conv == "win64_push":
            code.append("sub rsp,8")   # the entry state this convention assumes
        # every fourth call goes through a macro that passes its arguments on
        how = ("cinvoke" if cinvoke else "invoke") + ("_on" if i % 4 == 1 else "")
        code.append("%s C%d%s" % (how, i, "".join(", " + t for t in texts)))
        if conv == "win64_push":
            code.append("add rsp,8")
        code += ["mov rax,rsp", "sub rax,rbp", "or r13,rax"] if bits == 64 else \
                ["mov eax,esp", "sub eax,ebp", "or edi,eax"]
        params = ", ".join("T a%d" % j for j in range(n)) or "void"
        if varg:
            body = ("T got[16]; va_list ap; va_start(ap, a0); got[0] = a0; "
                    "for (int j = 1; j < a0 && j < 16; ++j) got[j] = va_arg(ap, T); va_end(ap); check(%d, got, a0);" % i)
            params = "T a0, ..."
        else:
            body = "T got[16] = {%s}; check(%d, got, %d);" % (", ".join("a%d" % j for j in range(n)) or "0", i, n)
        c_parts.append("T %s f%d(%s) { %s return 0; }" % (attr, i, params, body))
        if bits == 64:
            c_parts.append('__asm__(".globl stub%d\\nstub%d: mov %%rsp, entry_sp(%%rip)\\n jmp f%d\\n");' % (i, i, i))
            c_parts.append("void stub%d(void);" % i)
    if bits == 64:
        code += ["mov rax,r13", "add rsp,8", "pop r13", "pop r12", "pop rbp", "pop rbx", "ret"]
    else:
        code += ["mov eax,edi", "cdq", "pop ebp", "pop edi", "pop esi", "pop ebx", "ret"]
    head = (["base 10000000h"] if bits == 32 else []) + ['section "c" class_code', ".use%d" % bits, "dd Start"] + ["dd C%d" % i for i in range(len(cases))]
    head += ["dd %s" % lbl for lbl, _ in labels]
    macros = []
    for k in ("invoke", "cinvoke"):
        macros += ["macro %s_on" % k, "marg target, rest:vararg", "%s target, rest" % k, "endm"]
    text = "\n".join(macros + head + code + procs + ["%s: %s 0%Xh" % (lbl, data, v) for lbl, v in labels]) + "\n"
    # the tables: a label argument is found through the blob's own offset table
    base = 1 + len(cases)
    vrows, orows = [], []
    for vals in values:
        vrow, orow = [], []
        for v in vals:
            if isinstance(v, tuple):
                vrow.append("0")
                orow.append("(int)((const unsigned *)blob)[%d]" % (base + v[1]))
            else:
                vrow.append(str(v))
                orow.append("-1")
        vrows.append("{%s}" % ",".join(vrow or ["0"]))
        orows.append("{%s}" % ",".join(orow or ["-1"]))
    tables = ("static const unsigned char blob[];\n"
              "static const T values[][16] = {%s};\nstatic int offsets[][16] = {%s};\n"
              "static const int counts[] = {%s};\n") % (",".join(vrows), ",".join(orows),
                                                         ",".join(str(c) for c in counts))
    return text, tables, c_parts, len(cases)


def invoke_suite(qrn, work, bits, rng):
    text, tables, c_parts, ncase = invoke_program(bits, rng, 16)
    data, err = assemble(qrn, work, "inv%d" % bits, text, [])
    if data is None:
        return [("fail", "%d-bit invoke: qrn_asm: %s" % (bits, err[:800]))]
    T = "long long" if bits == 64 else "int"
    # offsets[][] holds expressions over blob: resolve them now in Python
    words = [int.from_bytes(data[k:k + 4], "little") for k in range(0, len(data) - 3, 4)]
    import re
    base = 0x10000000 if bits == 32 else 0
    tables = re.sub(r"\(int\)\(\(const unsigned \*\)blob\)\[(\d+)\]", lambda m: str(words[int(m.group(1))] - base),
                    tables)
    tables = "#define BASE %#xu\n" % base + tables
    tables = tables.replace("static const unsigned char blob[];\n", "")
    host = (INVOKE_HOST % {
        "T": T, "callees": "\n".join(c_parts), "ncase": ncase,
        "stubs": ", ".join(("(void *)stub%d" if bits == 64 else "(void *)f%d") % i for i in range(ncase)),
        "slot": SLOT64 if bits == 64 else SLOT32,
        "align": "(entry_sp & 15) != 8" if bits == 64 else "0",
    }).replace("typedef %s T;\n" % T, "typedef %s T;\n%s" % (T, tables))
    status, out = build_and_run(work, "inv%d" % bits, bits, data, host)
    return [(status, "%d-bit invoke: %s" % (bits, out.strip()))]


def limit_checks(qrn, work):
    """Limits: the last size accepted, the first refused (its message)."""
    arg = "0" * 90 + "1h"  # 62 of these make far more INVOKE text than 4 KiB
    rows = [
        (lambda n: (".if eax == 0\n") * n + (".endif\n") * n, 64, ".IF nesting limit reached. "),
        (lambda n: (".while eax == 0\n") * n + (".endw\n") * n, 128, ".WHILE, too many nesting levels "),
        (lambda n: (".repeat\n") * n + (".until eax == 0\n") * n, 128, ".REPEAT, too many nesting levels "),
        (lambda n: ".if eax == 1" + " || eax == 1" * n + "\n.endif\n", 32, ".IF, too many conditions. "),
        (lambda n: ".while eax == 1" + " && eax == 1" * (n - 1) + "\n.endw\n", 48, ".WHILE, too many conditions. "),
        (lambda n: "f:\ninvoke f" + (", " + arg) * n + "\n", 62, "Invoke token count limit "),
    ]
    results = []
    for make, limit, message in rows:
        for n in (limit, limit + 1):
            data, err = assemble(qrn, work, "limit", 'section "c" class_code\n.use32\n' + make(n), [])
            ok = data is not None if n == limit else (data is None and message.strip() in err)
            results.append(("ok" if ok else "fail", "%r at %d: %s" % (make(1)[:30], n, err or "accepted")))
    text = 'section "c" class_code\n.if eax == 0\n' + "".join(".elseif eax == %d\nnop\n" % i for i in range(1, 700))
    data, err = assemble(qrn, work, "limit", text + ".endif\n", [])
    # the exit list grows: the first .elseif's exit JMP lands on the end
    ok = data is not None and data[9:14] == b"\xe9" + (len(data) - 14).to_bytes(4, "little")
    results.append(("ok" if ok else "fail", "700 .elseif: %s" % (err or "exit jump")))
    return results


PRINTF64 = r"""section "text" class_code
.use64
extern printf lin64 varg
export main
main:
sub rsp,8
invoke printf, addr fmt, 1, 2, 3, 4, 5, 6, 7
add rsp,8
xor eax,eax
ret
section "data" class_data
fmt db "%d %d %d %d %d %d %d",10,0
"""

PRINTF32 = r"""section "text" class_code
.use32
extern printf cdecl varg
export main
main:
push ebx
mov ebx,esp
invoke printf, addr fmt, 1, 2, 3
sub ebx,esp
mov eax,ebx
pop ebx
ret
section "data" class_data
fmt db "%d %d %d",10,0
"""

TABLE32 = """section "text" class_code
.use32
.if dword [tbl+ebx*4] == 0
nop
.endif
section "data" class_data
tbl dd 0
"""


def assemble_object(qrn, work, name, text, fmt):
    src, obj = os.path.join(work, name + ".asm"), os.path.join(work, name + ".o")
    with open(src, "w", newline="\r\n") as f:
        f.write(text)
    p = subprocess.run([qrn, fmt, "-q", src, obj], capture_output=True, text=True)
    return obj, p.returncode, (p.stdout + p.stderr).strip()


def object_checks(qrn, work):
    """INVOKE of an extern variadic function in an ELF64 object linked by gcc,
    and the relocation of a memory condition in an ELF32 object."""
    results = []
    obj, rc, err = assemble_object(qrn, work, "printf64", PRINTF64, "-elf64")
    if rc != 0 and "not implemented" in err:
        results.append(("skip", "ELF64 objects are not written yet"))
    elif rc != 0:
        results.append(("fail", "printf object: " + err[:400]))
    else:
        exe = os.path.join(work, "printf64")
        p = subprocess.run(["gcc", "-no-pie", obj, "-o", exe], capture_output=True, text=True)
        r = subprocess.run([exe], capture_output=True, text=True, timeout=60) if p.returncode == 0 else None
        ok = r is not None and r.returncode == 0 and r.stdout == "1 2 3 4 5 6 7\n"
        results.append(("ok" if ok else "fail", "printf object: %s" % (p.stderr[:300] if r is None else r.stdout)))
    obj, rc, err = assemble_object(qrn, work, "printf32", PRINTF32, "-elf32")
    if rc != 0:
        results.append(("skip" if "not implemented" in err else "fail", "printf32 object: " + err[:400]))
    else:
        exe = os.path.join(work, "printf32")
        p = subprocess.run(["gcc", "-m32", "-no-pie", obj, "-o", exe], capture_output=True, text=True)
        r = run(exe, 32) if p.returncode == 0 else None
        if r is None:
            results.append(("skip", "no 32-bit link or run: " + p.stderr[:200]))
        else:
            # the exit code is ESP's change across the call: 0 after the cdecl cleanup
            ok = r.returncode == 0 and r.stdout == "1 2 3\n"
            results.append(("ok" if ok else "fail", "cdecl import: exit %d, %r" % (r.returncode, r.stdout)))
    obj, rc, err = assemble_object(qrn, work, "table32", TABLE32, "-elf32")
    if rc != 0 and "not implemented" in err:
        results.append(("skip", "ELF32 objects are not written yet"))
    elif rc != 0:
        results.append(("fail", "memory condition object: " + err[:400]))
    else:
        p = subprocess.run(["readelf", "-rW", obj], capture_output=True, text=True)
        ok = re.search(r"^0*3\s+\S+\s+R_386_32\b", p.stdout, re.M) is not None
        results.append(("ok" if ok else "fail", "memory condition relocation: " + p.stdout[-400:]))
    return results


def main():
    if len(sys.argv) < 2:
        print("usage: flow_runs.py path/to/qrn_asm [seed]")
        return 2
    qrn = os.path.abspath(sys.argv[1])
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 2323
    rng = random.Random(seed)
    work = tempfile.mkdtemp(prefix="qrn_flow_runs_")
    passed = failed = 0
    ran = False
    try:
        results = limit_checks(qrn, work) + object_checks(qrn, work)
        for bits in (64, 32):
            results += condition_suite(qrn, work, bits, rng, 60)
            results += invoke_suite(qrn, work, bits, rng)
        for status, text in results:
            if status == "skip":
                print("skipped: " + text)
                continue
            ran = True
            if status == "ok":
                passed += 1
            else:
                failed += 1
                print("FAIL " + text)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    if failed:
        return 1
    return 0 if ran else 77


if __name__ == "__main__":
    sys.exit(main())
