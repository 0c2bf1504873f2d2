"""x87 forms for encode_forms.py: every one-operand x87 keyword with its
stack-register form and each memory size of its table, in every addressing
shape of the three code modes."""
from oracle_lib import Case
from operand_pools import memory_shapes

KEYWORD = {16: "word", 32: "dword", 64: "qword", 80: "tbyte"}
GAS_SIZE = {16: "WORD PTR", 32: "DWORD PTR", 64: "QWORD PTR", 80: "TBYTE PTR"}

# mnemonic: (how GNU as writes the ST(i) form, or None; memory sizes)
X87 = {
    "fld": ("fld st({i})", (32, 64, 80)), "fild": (None, (16, 32, 64)),
    "fst": ("fst st({i})", (32, 64)), "fstp": ("fstp st({i})", (32, 64, 80)),
    "fistp": (None, (16, 32, 64)), "fisttp": (None, (16, 32, 64)),
    "fadd": ("fadd st, st({i})", (32, 64)), "faddp": ("faddp st({i}), st", ()),
    "fiadd": (None, (16, 32)), "fsub": ("fsub st, st({i})", (32, 64)), "fsubp": ("fsubp st({i}), st", ()),
    "fisub": (None, (16, 32)), "fmul": ("fmul st, st({i})", (32, 64)), "fmulp": ("fmulp st({i}), st", ()),
    "fimul": (None, (16, 32)), "fdiv": ("fdiv st, st({i})", (32, 64)), "fdivp": ("fdivp st({i}), st", ()),
    "fidiv": (None, (16, 32)), "fcom": ("fcom st({i})", (32, 64)), "fcomp": ("fcomp st({i})", (32, 64)),
    "fucom": ("fucom st({i})", ()), "fucomp": ("fucomp st({i})", ()), "ffree": ("ffree st({i})", ()),
    "fnstcw": (None, (16,)), "fldcw": (None, (16,)),
}
for cc in ("b", "e", "be", "u", "nb", "ne", "nbe", "nu"):
    X87["fcmov" + cc] = ("fcmov%s st, st({i})" % cc, ())


def x87_st(fam, mode):
    for m in fam.live:
        gas = X87[m][0]
        if gas:
            for i in range(8):
                yield Case(mode, "%s st%d" % (m, i), gas.format(i=i), "st(i)", m)


def x87_mem(fam, mode):
    shapes = memory_shapes(mode)
    turn = 0
    for m in fam.live:
        sizes = X87[m][1]
        # each mnemonic meets a slice of the shapes with each of its sizes
        for k in range(0, len(shapes), 7):
            mem = shapes[(k + turn) % len(shapes)]
            size = sizes[turn % len(sizes)] if sizes else None
            turn += 1
            if size is None:
                continue
            zero = "{disp8} " if mem.explicit_zero else ""
            yield Case(mode, "%s %s %s" % (m, KEYWORD[size], mem.qrn()),
                       "%s%s %s %s" % (zero, m, GAS_SIZE[size], mem.gas()), "[%s]" % mem.kind, m,
                       defsyms=mem.defsyms())


def check_llvm_mc(tools, fam):
    """The same forms through llvm-mc: every mode's batch (without label
    terms, which need the GNU as image's layout) must come out byte for byte
    as qrn_asm writes it. Returns (label, ok, reason) triples."""
    import os
    import re
    import subprocess
    from oracle_lib import LABEL, PAD
    out = []
    for mode in (16, 32, 64):
        # llvm-mc keeps no zero displacement ({disp8}) in 16-bit addressing
        cases = [c for c in fam.cases() if c.mode == mode and LABEL not in c.qrn and not c.defsyms
                 and c.mnemonic in fam.live
                 and not (c.gas.startswith("{disp8}") and re.search(r"\b(bx|bp|si|di)\b", c.gas))]
        image, per_line, other = tools.qrn_run(mode, [c.qrn for c in cases])
        if image is None:
            out.append(("llvm-mc %d-bit" % mode, False, "qrn_asm refuses the batch: %s" % (per_line or other)))
            continue
        src, obj, raw = tools.path("mc.s"), tools.path("mc.o"), tools.path("mc.bin")
        with open(src, "w") as f:
            f.write(".intel_syntax noprefix\n.code%d\n%s\n" % (mode, "\n".join(c.gas for c in cases)))
        triple = "x86_64-linux-gnu" if mode == 64 else "i386-linux-gnu"
        p = subprocess.run(["llvm-mc", "-triple", triple, "-filetype=obj", src, "-o", obj],
                           capture_output=True, text=True)
        if p.returncode == 0:
            p = subprocess.run(["objcopy", "-O", "binary", "-j", ".text", obj, raw], capture_output=True, text=True)
        if p.returncode:
            out.append(("llvm-mc %d-bit" % mode, False, p.stderr.strip()[:300]))
            continue
        with open(raw, "rb") as f:
            theirs = f.read()
        os.remove(raw)
        ours = image[PAD:]
        ok = ours == theirs
        reason = ""
        if not ok:
            at = next((i for i in range(min(len(ours), len(theirs))) if ours[i] != theirs[i]), min(len(ours), len(theirs)))
            reason = "first difference at byte %d: ours %s, llvm-mc %s" % (at, ours[at:at + 8].hex(" "),
                                                                            theirs[at:at + 8].hex(" "))
        out.append(("llvm-mc %d-bit, %d forms" % (mode, len(cases)), ok, reason))
    return out
