#!/usr/bin/env python3
"""Run-time blocks against GNU as: random .if/.elseif/.else, .while and
.repeat conditions assembled by qrn_asm, and the explicit cmp/jcc.d32/jmp.d32
sequence of the same condition assembled by GNU as; objdump must decode both
to the same instructions, jump targets named by instruction index.

The reference is the textbook short-circuit scheme: `x && y` runs x with its
false exit to F and y after it; `x || y` runs x with its true exit to T; the
last comparison of a condition jumps on the outcome that does not fall through.
Conditions group from the right, as the language reads them.

Usage: flow_gas.py path/to/qrn_asm [seed]; the last line is "N passed, N failed".
"""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

TRUE_JCC = {"==": ("je", "je"), "!=": ("jne", "jne"), "<": ("jb", "jl"), ">=": ("jae", "jge"),
            "<=": ("jbe", "jle"), ">": ("ja", "jg"), "zero?": ("je", "je"), "!zero?": ("jne", "jne"),
            "carry?": ("jb", "jb"), "!carry?": ("jae", "jae"), "sign?": ("js", "js"), "!sign?": ("jns", "jns"),
            "overflow?": ("jo", "jo"), "!overflow?": ("jno", "jno"), "parity?": ("jp", "jp"),
            "!parity?": ("jnp", "jnp")}
OPPOSITE = {"je": "jne", "jne": "je", "jb": "jae", "jae": "jb", "jl": "jge", "jge": "jl", "jbe": "ja", "ja": "jbe",
            "jle": "jg", "jg": "jle", "js": "jns", "jns": "js", "jo": "jno", "jno": "jo", "jp": "jnp", "jnp": "jp"}


class Leaf:
    def __init__(self, rng, bits):
        regs = ["eax", "ebx", "ecx", "esi"] + (["r8d", "rdx"] if bits == 64 else ["dx"])
        mem = "dword [esp+12]" if bits == 32 else "dword [rsp-8]"
        self.signed = rng.random() < 0.4
        if rng.random() < 0.2:
            self.op = rng.choice([k for k in TRUE_JCC if k.endswith("?")])
            self.ours = self.op
            self.cmp = None
            return
        self.op = rng.choice(["==", "!=", "<", ">", "<=", ">="])
        x = rng.choice(regs + [mem])
        size = 16 if x == "dx" else 64 if x == "rdx" else 32
        r = rng.random()
        if r < 0.4 or x == mem:
            v = rng.choice([0, 1, 7, 0x7F, 0x80, 0x7FFF, 0x12345678 if size > 16 else 0x1234])
            y_ours, y_gas = "0%Xh" % v, "0x%x" % v
            if r < 0.1 and size == 32:
                y_ours, y_gas = "'ab'", "0x6162"
        else:
            y = rng.choice([g for g in regs if g != x and (16 if g == "dx" else 64 if g == "rdx" else 32) == size]
                           or [x])
            y_ours = y_gas = y
        self.ours = ("signed " if self.signed else "") + "%s %s %s" % (x, self.op, y_ours)
        self.cmp = "cmp %s, %s" % (x.replace("dword [", "DWORD PTR ["), y_gas)

    def text(self):
        return self.ours

    def gen(self, out, t, f, fall_true):
        if self.cmp:
            out.append(self.cmp)
        j = TRUE_JCC[self.op][1 if self.signed else 0]
        if fall_true:
            out.append("%s.d32 %s" % (OPPOSITE[j], f))
        else:
            out.append("%s.d32 %s" % (j, t))


class Chain:
    """term (op term)*, grouped from the right."""

    def __init__(self, rng, bits, depth=0):
        self.terms, self.parens = [], []
        for _ in range(rng.randint(1, 3 if depth < 2 else 1)):
            if depth < 2 and rng.random() < 0.3:
                self.terms.append(Chain(rng, bits, depth + 1))
                self.parens.append(rng.randint(1, 2))
            else:
                self.terms.append(Leaf(rng, bits))
                self.parens.append(1 if rng.random() < 0.1 else 0)
        self.ops = [rng.choice(["&&", "||"]) for _ in self.terms[1:]]

    def text(self):
        parts = []
        for i, (term, p) in enumerate(zip(self.terms, self.parens)):
            if i:
                parts.append(self.ops[i - 1])
            parts.append("( " * p + term.text() + " )" * p)
        return " ".join(parts)

    def gen(self, out, t, f, fall_true, i=0):
        if i == len(self.terms) - 1:
            self.terms[i].gen(out, t, f, fall_true)
            return
        nxt = new_label()
        if self.ops[i] == "&&":
            self.terms[i].gen(out, nxt, f, True)
        else:
            self.terms[i].gen(out, t, nxt, False)
        out.append(nxt + ":")
        self.gen(out, t, f, fall_true, i + 1)


LABELS = [0]


def new_label():
    LABELS[0] += 1
    return ".L%d" % LABELS[0]


def block(rng, bits):
    """(our lines, GNU as lines)"""
    kind = rng.choice(["if", "if", "elseif", "while", "repeat"])
    if kind == "if" or kind == "elseif":
        conds = [Chain(rng, bits) for _ in range(1 if kind == "if" else rng.randint(2, 3))]
        has_else = rng.random() < 0.5
        ours, gas, end = [], [], new_label()
        for i, c in enumerate(conds):
            body, nxt = new_label(), new_label()
            ours.append((".if " if i == 0 else ".elseif ") + c.text())
            c.gen(gas, body, nxt, True)
            gas.append(body + ":")
            ours.append("inc edi")
            gas.append("inc edi")
            last = i == len(conds) - 1
            if not last or has_else:
                gas.append("jmp.d32 " + end)
            gas.append(nxt + ":")
        if has_else:
            ours += [".else", "dec edi"]
            gas.append("dec edi")
        ours.append(".endif")
        gas.append(end + ":")
        return ours, gas
    c = Chain(rng, bits)
    head, body, done = new_label(), new_label(), new_label()
    if kind == "while":
        gas = [head + ":"]
        c.gen(gas, body, done, True)
        gas += [body + ":", "inc edi", "jmp.d32 " + head, done + ":"]
        return [".while " + c.text(), "inc edi", ".endw"], gas
    gas = [head + ":", "inc edi"]
    c.gen(gas, done, head, True)
    gas.append(done + ":")
    return [".repeat", "inc edi", ".until " + c.text()], gas


def decode(path, bits, raw):
    arch = ["-b", "binary", "-m", "i386:x86-64" if bits == 64 else "i386"] if raw else []
    if raw and bits == 32:
        arch = ["-b", "binary", "-m", "i386"]
    p = subprocess.run(["objdump", "-D" if raw else "-d", "-M", "intel", "-w"] + arch + [path], capture_output=True, text=True)
    insns = []
    for line in p.stdout.splitlines():
        m = re.match(r"\s*([0-9a-f]+):\t([0-9a-f ]+)\t(.*)$", line)
        if m:
            insns.append((int(m.group(1), 16), m.group(3).split("#")[0].strip()))
    index = {a: i for i, (a, _) in enumerate(insns)}
    out = []
    for a, text in insns:
        text = re.sub(r"\s+", " ", text)
        m = re.match(r"(j\w+|call) (?:0x)?([0-9a-f]+)( <.*>)?$", text)
        if m:
            text = "%s ->%s" % (m.group(1), index.get(int(m.group(2), 16), "?"))
        out.append(text)
    return out


def main():
    if len(sys.argv) < 2:
        print("usage: flow_gas.py path/to/qrn_asm [seed]")
        return 2
    if not shutil.which("as") or not shutil.which("objdump"):
        print("skipped: GNU as or objdump missing")
        print("0 passed, 0 failed")
        return 77
    qrn = os.path.abspath(sys.argv[1])
    rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 1723)
    work = tempfile.mkdtemp(prefix="qrn_flow_gas_")
    passed = failed = 0
    try:
        for bits in (32, 64):
            for prog in range(6):
                ours, gas = ['section "c" class_code', ".use%d" % bits], [".intel_syntax noprefix",
                                                                          ".code%d" % bits, ".text"]
                for _ in range(25):
                    o, g = block(rng, bits)
                    ours += o
                    gas += g
                src, out = os.path.join(work, "q.asm"), os.path.join(work, "q.bin")
                with open(src, "w", newline="\r\n") as f:
                    f.write("\n".join(ours) + "\n")
                p = subprocess.run([qrn, "-binary", "-q", src, out], capture_output=True, text=True)
                if p.returncode != 0:
                    failed += 1
                    print("FAIL %d-bit program %d: qrn_asm: %s" % (bits, prog, (p.stdout + p.stderr).strip()[:500]))
                    continue
                gsrc, gobj = os.path.join(work, "g.s"), os.path.join(work, "g.o")
                with open(gsrc, "w") as f:
                    f.write("\n".join(gas) + "\n")
                p = subprocess.run(["as", "--32" if bits == 32 else "--64", gsrc, "-o", gobj],
                                   capture_output=True, text=True)
                if p.returncode != 0:
                    failed += 1
                    print("FAIL %d-bit program %d: as: %s" % (bits, prog, p.stderr.strip()[:500]))
                    continue
                a, b = decode(out, bits, True), decode(gobj, bits, False)
                if a == b:
                    passed += 1
                    continue
                failed += 1
                for i, (x, y) in enumerate(zip(a + ["<end>"] * len(b), b + ["<end>"] * len(a))):
                    if x != y:
                        print("FAIL %d-bit program %d at instruction %d: ours %r, GNU as %r" % (bits, prog, i, x, y))
                        print("  source: " + " | ".join(ours[2:])[:600])
                        break
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
