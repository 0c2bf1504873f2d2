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
            self.result = "eax"
        else:
            self.prologue = ["mov [rsp-8],ecx"]
            self.names = ["edi", "esi", "edx", "dword [rsp-8]"]
            self.result = "eax"


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
        y = 0
    if x == 3 or y == 3:
        # memory only against a register
        pass
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
        lines += ["xor eax,eax" if frame.bits == 32 else "xor eax,eax",
                  ".while signed %s > 0 && eax < 100" % reg, "add eax,1", "sub %s,1" % reg, ".endw", "ret"]

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

INVOKE_HOST = r"""
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
static long long got[16];
static int got_n, misaligned;
#define ALIGN_CHECK(expect) do { uintptr_t sp; __asm__ volatile("mov %%%%" SP ",%%0" : "=r"(sp)); \
  /* sp here is below the return address by the frame; the test is on the caller's side */ } while (0)
%(callees)s
int main(void) {
  unsigned char *m = mmap(0, sizeof blob, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) return 2;
  memcpy(m, blob, sizeof blob);
  unsigned offs[%(nslots)d];
  memcpy(offs, m, sizeof offs);
  void *targets[] = {%(targets)s};
  for (int i = 0; i < %(ncallee)d; ++i) {
    unsigned char *slot = m + offs[i + 1];
    /* movabs rax/mov eax, target; jmp rax/eax */
#if UINTPTR_MAX > 0xFFFFFFFFu
    slot[0] = 0x48; slot[1] = 0xB8; memcpy(slot + 2, &targets[i], 8); slot[10] = 0xFF; slot[11] = 0xE0;
#else
    slot[0] = 0xB8; memcpy(slot + 1, &targets[i], 4); slot[5] = 0xFF; slot[6] = 0xE0;
#endif
  }
  int bad = 0;
%(calls)s
  printf("%%d bad\n", bad);
  return bad != 0;
}
"""


def invoke_suite(qrn, work, bits, rng):
    """Each case: a callee of a convention with n arguments; INVOKE passes
    known values; the callee records them and RSP's alignment at entry."""
    if bits == 64:
        convs = [("lin64", "", False), ("win64", "__attribute__((ms_abi))", False),
                 ("win64_push", "__attribute__((ms_abi))", False), ("lin64", "", True)]
    else:
        convs = [("cdecl", "__attribute__((cdecl))", False), ("stdcall", "__attribute__((stdcall))", False),
                 ("cdecl", "__attribute__((cdecl))", True)]
    cases = []
    for i in range(12):
        conv, attr, varg = convs[i % len(convs)]
        n = rng.randint(0, 9)
        if varg and n == 0:
            n = 1
        kinds = []
        for j in range(n):
            kinds.append(rng.choice(["imm", "reg", "mem", "addr"]))
        cases.append((conv, attr, varg, n, kinds, rng.choice([True, False]) and not varg and conv == "cdecl"))
    T = "long long" if bits == 64 else "int"
    callees = []
    lines = ['section "c" class_code', ".use%d" % bits, "dd Start"]
    lines += ["dd C%d" % i for i in range(len(cases))]
    calls = []
    body = ["Start:"]
    if bits == 64:
        body += ["push rbx", "push rbp", "push r12", "sub rsp,8"]  # rsp = 0 mod 16 here
    else:
        body += ["push ebx", "push ebp"]
    for i, (conv, attr, varg, n, kinds, use_cinvoke) in enumerate(cases):
        params = ", ".join("%s a%d" % (T, j) for j in range(n)) or "void"
        if varg:
            params = "int count, ..."
        rec = []
        if varg:
            rec.append("va_list ap; va_start(ap, count); got[0] = count;")
            rec.append("for (int j = 1; j < count; ++j) got[j] = va_arg(ap, %s); va_end(ap); got_n = count;" % T)
        else:
            rec += ["got[%d] = a%d;" % (j, j) for j in range(n)]
            rec.append("got_n = %d;" % n)
        align = ""
        if bits == 64:
            # at entry RSP+8 is the caller's RSP at the call: 16-byte aligned
            align = ("{ uintptr_t sp; __asm__ volatile(\"lea 8(%%rsp),%0\" : \"=r\"(sp)); } ")
            align = ("misaligned |= (int)(((uintptr_t)__builtin_frame_address(0) + 16) & 15);")
        callees.append("%s %s f%d(%s) { %s %s return 0; }" % (T, attr, i, params, " ".join(rec), align))
        conv_kw = conv if conv != "cdecl" or not varg else "cdecl"
        lines.append("proc C%d %s" % (i, conv_kw))
        if varg:
            lines.append("varg")
        if n and not varg:
            lines.append("arg " + " ".join("p%d" % j for j in range(n)))
        lines += ["endp", "rb 16"]
        # argument values; reg/mem/addr forms
        vals = []
        arg_texts = []
        setup = []
        for j, k in enumerate(kinds):
            v = rng.randrange(1, 1 << 31)
            if varg and j == 0:
                k, v = "imm", n
            if k == "imm":
                arg_texts.append("0%Xh" % v)
            elif k == "reg":
                reg = "rbx" if bits == 64 else "ebx"
                # only one register argument is live at a time: use rbx once
                if any(a in ("rbx", "ebx") for a in arg_texts):
                    arg_texts.append("0%Xh" % v)
                else:
                    setup.append("mov %s,0%Xh" % (reg, v))
                    arg_texts.append(reg)
            elif k == "mem":
                lines_data = "V%d_%d" % (i, j)
                setup_data = (lines_data, v)
                DATA.append(setup_data)
                arg_texts.append("%s [%s]" % ("qword" if bits == 64 else "dword", lines_data))
            else:
                lbl = "V%d_%d" % (i, j)
                DATA.append((lbl, 0))
                arg_texts.append("addr " + lbl)
                v = ("addr", lbl)
            vals.append(v)
        body += setup
        body.append("%s C%d%s" % ("cinvoke" if use_cinvoke else "invoke", i,
                                  "".join(", " + a for a in arg_texts)))
        if bits == 64:
            body += ["mov rax,rsp", "and eax,15", "add r12,rax"]  # rsp kept
        else:
            body += ["mov eax,esp", "sub eax,ebp", "add ebx,eax"] if False else []
        calls_check = []
        for j, v in enumerate(vals):
            if isinstance(v, tuple):
                calls_check.append("if (got[%d] != (%s)(uintptr_t)(m + addr_%s)) { bad++; printf(\"case %d arg %d addr\\n\"); }"
                                   % (j, T, v[1], i, j))
            else:
                calls_check.append("if (got[%d] != %d) { bad++; printf(\"case %d arg %d: %%lld\\n\", (long long)got[%d]); }"
                                   % (j, v, i, j, j))
        CHECKS.append((i, n, calls_check))
    if bits == 64:
        body += ["mov rax,r12", "add rsp,8", "pop r12", "pop rbp", "pop rbx", "ret"]
    else:
        body += ["mov eax,0", "pop ebp", "pop ebx", "ret"]
    return cases, callees, lines, body


DATA = []
CHECKS = []


def invoke_run(qrn, work, bits, rng):
    """INVOKE of C callees: one program per case, so each check is separate."""
    del DATA[:]
    del CHECKS[:]
    cases, callees, lines, body = invoke_suite(qrn, work, bits, rng)
    # The blob runs Start once per case: each case is its own blob so the
    # recorded arguments belong to one call.
    results = []
    text = "\n".join(lines + body) + "\n"
    for lbl, v in DATA:
        text += "%s: %s 0%Xh\n" % (lbl, "dq" if bits == 64 else "dd", v)
    data, err = assemble(qrn, work, "inv%d" % bits, text, [])
    if data is None:
        return [("fail", "%d-bit invoke: qrn_asm: %s" % (bits, err[:800]))]
    # addresses of the data labels: assemble a listing of offsets
    probe = text + "".join("dd %s\n" % lbl for lbl, _ in DATA)
    pdata, err = assemble(qrn, work, "inv%dp" % bits, probe, [])
    if pdata is None:
        return [("fail", "%d-bit invoke probe: %s" % (bits, err[:400]))]
    addr = {}
    for k, (lbl, _) in enumerate(DATA):
        off = len(pdata) - 4 * len(DATA) + 4 * k
        addr[lbl] = int.from_bytes(pdata[off:off + 4], "little")
    T = "long long" if bits == 64 else "int"
    calls = []
    # Every callee records into got[]; Start makes all calls in order, so the
    # host checks by running Start with a recorder that checks as it goes:
    # here the callees themselves check, through the case's expected table.
    checks_by_case = {i: c for i, n, c in CHECKS}
    wrapped = []
    for i, src in enumerate(callees):
        wrapped.append(src.replace(" return 0; }", " check%d(); return 0; }" % i))
    pre = []
    for i in range(len(callees)):
        pre.append("static void check%d(void);" % i)
    post = []
    for i in range(len(callees)):
        post.append("static void check%d(void) { %s }" % (i, " ".join(checks_by_case[i]).replace(
            "m + addr_", "blob_base + addr_")))
    defs = ["static unsigned char *blob_base;", "static int bad;"]
    defs += ["#define addr_%s %du" % (lbl, a) for lbl, a in addr.items()]
    host = INVOKE_HOST % {
        "callees": "\n".join(defs + pre + wrapped + post),
        "nslots": len(callees) + 1,
        "targets": ", ".join("(void *)f%d" % i for i in range(len(callees))),
        "ncallee": len(callees),
        "calls": "  blob_base = m;\n  long long r = ((long long (*)(void))(m + offs[0]))();\n"
                 + ("  if (r) { bad++; printf(\"rsp changed by an invoke: %lld\\n\", r); }\n" if bits == 64 else "")
                 + "  if (misaligned) { bad++; printf(\"rsp not 16-byte aligned at a call\\n\"); }\n",
    }
    host = host.replace("int bad = 0;\n", "")
    host = host.replace("static int got_n, misaligned;", "static int got_n, misaligned;\n#define SP \"esp\"")
    status, out = build_and_run(work, "inv%d" % bits, bits, data, host)
    results.append((status, "%d-bit invoke: %s" % (bits, out.strip())))
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
        results = []
        for bits in (64, 32):
            results += condition_suite(qrn, work, bits, rng, 60)
            results += invoke_run(qrn, work, bits, rng)
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
