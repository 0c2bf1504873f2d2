#!/usr/bin/env python3
"""Macros, REPT, FOR, #if, #ifdef and #ifndef against GNU as: random programs written twice,
once with macro/marg/exitm/@ labels, rept, for ... in: ... do and #if, once
with .macro, .rept, .irp, .if, .ifdef and .ifc, assembled by both and compared byte for
byte (the instructions used encode the same way in both).

Usage: macro_gas.py path/to/qrn_asm [seed] [count]
The last line is "N passed, N failed"."""
import os
import random
import subprocess
import sys
import tempfile

REGS = ["eax", "ebx", "ecx", "edx", "esi", "edi"]
OPS = ["==", "!=", "<", ">", "<=", ">="]


class Gen:
    def __init__(self, rng):
        self.rng = rng
        self.names = 0
        self.macros = []   # (name, param count, vararg)
        self.values = []   # exitm macros: (name, value)
        self.ours, self.gas = [], []

    def fresh(self, stem):
        self.names += 1
        return "%s%d" % (stem, self.names)

    def data(self, atoms, out_ours, out_gas):
        """A data or code line; atoms are (ours, gas) pairs for numbers 0..99."""
        r = self.rng
        kind = r.choice(["db", "dw", "dd", "mov", "add", "inc"])
        picked = [r.choice(atoms) for _ in range(r.randint(1, 3))]
        if kind in ("db", "dw", "dd"):
            gas_kw = {"db": ".byte", "dw": ".word", "dd": ".long"}[kind]
            out_ours.append("%s %s" % (kind, ", ".join(p[0] for p in picked)))
            out_gas.append("%s %s" % (gas_kw, ", ".join(p[1] for p in picked)))
        elif kind == "inc":
            reg = r.choice(REGS)
            out_ours.append("inc " + reg)
            out_gas.append("inc " + reg)
        else:
            reg = r.choice(REGS)
            out_ours.append("%s %s, %s" % (kind, reg, picked[0][0]))
            out_gas.append("%s %s, %s" % (kind, reg, picked[0][1]))

    def block(self, depth, atoms, ours, gas, in_macro=False):
        r = self.rng
        for _ in range(r.randint(1, 3)):
            choice = r.random()
            if depth >= 3 or choice < 0.35:
                self.data(atoms, ours, gas)
            elif choice < 0.5:
                n = r.randint(0, 3)
                ours.append("rept %d" % n)
                gas.append(".rept %d" % n)
                self.block(depth + 1, atoms, ours, gas, in_macro)
                ours.append("endm")
                gas.append(".endr")
            elif choice < 0.65 and not in_macro:
                cursor = self.fresh("c")
                regs = r.random() < 0.4
                items = [r.choice(REGS) if regs else str(r.randint(0, 99)) for _ in range(r.randint(1, 4))]
                rev = r.random() < 0.3
                ours.append("for %s in: %s%s do" % (cursor, ", ".join(items), " rev" if rev else ""))
                gas.append(".irp %s, %s" % (cursor, ", ".join(reversed(items) if rev else items)))
                if regs:
                    line = r.choice(["mov &%s, %d", "add %s, %d"])
                    v = r.randint(0, 99)
                    ours.append(line % (cursor, v))
                    gas.append(line.replace("&", "").replace("%s", "\\%s") % (cursor, v))
                    self.block(depth + 1, atoms, ours, gas, in_macro)
                else:
                    inner = atoms + [(cursor, "\\" + cursor), ("&" + cursor, "\\" + cursor)]
                    self.block(depth + 1, inner, ours, gas, in_macro)
                ours.append("endm")
                gas.append(".endr")
            elif choice < 0.8:
                a, b = r.randint(0, 2 ** 31 - 1), r.randint(0, 2 ** 31 - 1)
                if r.random() < 0.5:
                    b = a
                op = r.choice(OPS)
                test = r.random()
                if test < 0.6:
                    ours.append("#if %d %s %d" % (a, op, b))
                    gas.append(".if %d %s %d" % (a, op, b))
                elif test < 0.8:
                    name = r.choice(["K1", "K2", "nodef"])
                    neg = r.random() < 0.5
                    ours.append("#if%sdef %s" % ("n" if neg else "", name))
                    gas.append(".if%sdef %s" % ("n" if neg else "", name))
                else:
                    x, y = r.choice(["abc", "abd"]), r.choice(["abc", "abd"])
                    neg = r.random() < 0.5
                    ours.append("#if %s %s %s" % (x, "!=" if neg else "==", y))
                    gas.append(".if%s %s, %s" % ("nc" if neg else "c", x, y))
                self.block(depth + 1, atoms, ours, gas, in_macro)
                if r.random() < 0.5:
                    ours.append("#else")
                    gas.append(".else")
                    self.block(depth + 1, atoms, ours, gas, in_macro)
                ours.append("#endif")
                gas.append(".endif")
            elif choice < 0.9 and self.macros and not in_macro:
                name, count, vararg = r.choice(self.macros)
                args = [str(r.randint(0, 99)) for _ in range(count + (r.randint(0, 3) if vararg else 0))]
                ours.append("%s %s" % (name, ", ".join(args)))
                gas.append("%s %s" % (name, ", ".join(args)))
            elif self.values and not in_macro:
                name, value = r.choice(self.values)
                reg = r.choice(REGS)
                ours.append("mov %s, %s" % (reg, name))
                gas.append("mov %s, %d" % (reg, value))
            else:
                self.data(atoms, ours, gas)

    def define_macro(self):
        r = self.rng
        name = self.fresh("m")
        count = r.randint(1, 3)
        params = ["p%d" % i for i in range(count)]
        vararg = r.random() < 0.3
        ours = ["macro " + name, "marg " + ", ".join(params[:-1] + [params[-1] + (":vararg" if vararg else "")])]
        gas = [".macro %s %s" % (name, ", ".join(params[:-1] + [params[-1] + (":vararg" if vararg else "")]))]
        atoms = [(str(r.randint(0, 99)), None) for _ in range(2)]
        atoms = [(a, a) for a, _ in atoms]
        plain = params[:-1] if vararg else params
        atoms += [(p, "\\" + p) for p in plain] + [("&" + p, "\\" + p) for p in plain]
        body_ours, body_gas = [], []
        if r.random() < 0.4:
            label = self.fresh("@l")
            body_ours.append("%s: dd %s" % (label, label))
            glabel = ".L%s\\@" % label[1:]
            body_gas.append("%s: .long %s - base" % (glabel, glabel))
        self.block(1, atoms, body_ours, body_gas, in_macro=True)
        if vararg:
            body_ours.append("db %s" % params[-1])
            body_gas.append(".byte \\%s" % params[-1])
        self.ours += ours + body_ours + ["endm"]
        self.gas += gas + body_gas + [".endm"]
        # A vararg macro needs at least one argument in the run.
        self.macros.append((name, count, vararg))

    def define_value(self):
        name = self.fresh("v")
        value = self.rng.randint(0, 2 ** 31 - 1)
        self.ours += ["macro " + name, "exitm %d" % value, "endm"]
        self.values.append((name, value))

    def program(self):
        r = self.rng
        for _ in range(r.randint(0, 3)):
            self.define_macro()
        for _ in range(r.randint(0, 2)):
            self.define_value()
        body_ours, body_gas = [], []
        atoms = [(str(r.randint(0, 99)),) * 2 for _ in range(3)]
        self.block(0, atoms, body_ours, body_gas)
        self.block(0, atoms, body_ours, body_gas)
        ours = ['section "c" class_code', ".use32", "K1 equ 1", "K2 equ 2"] + self.ours + body_ours
        gas = [".intel_syntax noprefix", ".text", "base:", "K1 = 1", "K2 = 2"] + self.gas + body_gas
        return "\r\n".join(ours) + "\r\n", "\n".join(gas) + "\n"


def run(cmd):
    return subprocess.run(cmd, capture_output=True, text=True)


def main():
    qrn = sys.argv[1]
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 300
    for tool in ("as", "objcopy"):
        if run(["which", tool]).returncode != 0:
            print("skipped: %s is missing" % tool)
            sys.exit(77)
    rng = random.Random(seed)
    passed = failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for n in range(count):
            ours, gas = Gen(rng).program()
            src, out = os.path.join(tmp, "t.asm"), os.path.join(tmp, "t.bin")
            gsrc, gobj, gbin = (os.path.join(tmp, x) for x in ("g.s", "g.o", "g.bin"))
            with open(src, "w", newline="") as f:
                f.write(ours)
            with open(gsrc, "w") as f:
                f.write(gas)
            if os.path.exists(out):
                os.remove(out)
            q = run([qrn, "-binary", "-q", src, out])
            g = run(["as", "--32", "-o", gobj, gsrc])
            problem = None
            if g.returncode != 0:
                problem = "GNU as failed: " + g.stderr
            elif q.returncode != 0:
                problem = "qrn_asm failed: " + q.stdout + q.stderr
            else:
                run(["objcopy", "-O", "binary", "-j", ".text", gobj, gbin])
                mine = open(out, "rb").read() if os.path.exists(out) else b""
                theirs = open(gbin, "rb").read() if os.path.exists(gbin) else b""
                if mine != theirs:
                    problem = "bytes differ:\n  ours %s\n  gas  %s" % (mine.hex(), theirs.hex())
            if problem:
                failed += 1
                if failed <= 5:
                    print("FAIL program %d: %s\n--- ours\n%s--- gas\n%s" % (n, problem, ours.replace("\r", ""), gas))
            else:
                passed += 1
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(0 if failed == 0 and passed > 0 else 1)


if __name__ == "__main__":
    main()
