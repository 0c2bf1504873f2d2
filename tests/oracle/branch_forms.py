"""CALL and JMP forms for encode_forms.py (registers, every memory shape, far
memory and far direct operands), and the branch-target programs of CALL, JMP
and the 28 conditional jumps, compared whole with GNU as's."""
from oracle_lib import LABEL, Case, Result
from operand_pools import GPR, GPR_X, SIZE_WORD, gas_reg, imm_text, memory_shapes, registers


def disp8(mem):
    return "{disp8} " if mem.explicit_zero else ""


# CALL and JMP: FF /2 /3 /4 /5 and the far direct forms 9A / EA

DEFAULT_WIDTH = {16: 16, 32: 32, 64: 64}


def extended(name):
    """A register 8-15 (REX.B or REX.X)."""
    return name in GPR_X[32] or name in GPR_X[64] or (name.endswith("2") and name[:-1] in GPR[64])


def branch_register(fam, mode):
    for size in ((16, 32) if mode != 64 else (64,)):
        for reg in registers(mode, size):
            m = fam.next()
            yield Case(mode, "%s %s" % (m, reg), "%s %s" % (m, gas_reg(reg)), "reg", m)


def branch_width_word(mode, turn):
    """(qrn_asm keyword, GNU as prefix and size) of a near memory operand:
    the mode's own width now and then written, the other width in turn."""
    own = DEFAULT_WIDTH[mode]
    other = 32 if mode == 16 else 16
    k = turn % 4
    if k == 1:
        return own, "", own
    if k == 3:
        # 16-bit code: GNU as reads `call dword ptr` as a far call
        return other, ("data32 " if mode == 16 else ""), (16 if mode == 16 else other)
    return None, "", own


def branch_memory(fam, mode):
    for i, mem in enumerate(memory_shapes(mode)):
        m = fam.next()
        kw, prefix, size = branch_width_word(mode, i)
        # 64-bit near complex forms with register 8-15 carry REX.W (no W with 66h)
        if mode == 64 and mem.kind == "complex" and any(extended(r) for r in mem.regs()) and size == 64:
            prefix += "rex.W "
        yield Case(mode, "%s %s" % (m, mem.qrn(kw)), "%s%s%s %s" % (disp8(mem), prefix, m, mem.gas(size)),
                   "[%s]" % mem.kind, m, defsyms=mem.defsyms())


def branch_far_memory(fam, mode):
    for i, mem in enumerate(memory_shapes(mode)):
        if i % 2:
            continue
        m = fam.next()
        ptr = "DWORD PTR" if mode == 16 else "FWORD PTR"
        yield Case(mode, "%s far %s" % (m, mem.qrn()), "%s%s %s %s" % (disp8(mem), m, ptr, mem.gas()),
                   "far [%s]" % mem.kind, m, defsyms=mem.defsyms())


def branch_far_direct(fam, mode):
    if mode == 64:
        return
    offsets = (0x1234, 0xFFFF, LABEL) if mode == 16 else (0x1234, 0x12345678, LABEL)
    for sel in (8, 0x1B, 0xFFFF):
        for off in offsets:
            m = fam.next()
            qoff = off if isinstance(off, str) else imm_text(off)
            goff = off if isinstance(off, str) else "0x%x" % off
            yield Case(mode, "%s far %s %s" % (m, imm_text(sel), qoff), "%s 0x%x:%s" % (m, sel, goff),
                       "far sel:offset", m)


# ---------------------------------------------------------------------------
# Branch targets: programs of labels and CALL, JMP and the 28 conditional
# jumps, forward and backward over 0-300 filler bytes, compared whole with
# GNU as's. Without -size every jump is near ({disp16}/{disp32} for GNU as);
# with -size GNU as relaxes, checked on layouts where no jump's choice
# depends on another's: all short (forward fillers below 124, where a jump
# measured on its near length of the pass before still reaches) and all
# near.

JCC = ["jo", "jno", "jc", "jnc", "jb", "jnb", "jnae", "jae", "jz", "jnz", "je", "jne", "jbe", "jnbe",
       "jna", "ja", "js", "jns", "jpe", "jpo", "jl", "jnl", "jnge", "jge", "jle", "jnle", "jng", "jg"]
BRANCHES = ["call", "jmp"] + JCC
TARGET_LAYOUTS = [
    # (name, -size, forward fillers, backward fillers, fillers per mnemonic)
    ("near", False, (0, 1, 60, 123, 124, 126, 127, 128, 129, 300), (0, 1, 125, 126, 127, 128, 129, 300), 4),
    ("-size short", True, (0, 1, 2, 60, 100, 120, 123), (0, 1, 2, 60, 124, 125, 126), 7),
    ("-size near", True, (128, 129, 130, 200, 300), (127, 128, 129, 200, 300), 5),
]


def branch_target_program(mode, forward, backward, per, short):
    """(qrn_asm lines, GNU as lines, the branch descriptions in order)."""
    near = "" if short else ("{disp16} " if mode == 16 else "{disp32} ")
    q, g, what = [], [], []

    def fill(n):
        if n:
            q.append("rb %d" % n)
            g.append(".fill %d,1,0x90" % n)

    def label(name):
        q.append(name + ":")
        g.append(name + ":")

    def branch(m, target, text):
        q.append("%s %s" % (m, target))
        g.append("%s%s %s" % (near, m, target))
        what.append(text)

    if not short:  # long distances across the whole program, both ways
        label("top")
        for m in ("call", "jmp", "jne"):
            branch(m, "bottom", "%s forward across the program" % m)
    k = 0
    for turn, m in enumerate(BRANCHES):
        for i in range(per):
            f = forward[(turn + i) % len(forward)]
            branch(m, "f%d" % k, "%s forward over %d" % (m, f))
            fill(f)
            label("f%d" % k)
            b = backward[(turn * 3 + i) % len(backward)]
            label("b%d" % k)
            fill(b)
            branch(m, "b%d" % k, "%s backward over %d" % (m, b))
            k += 1
    if not short:
        for m in ("call", "jmp", "jl"):
            branch(m, "top", "%s backward across the program" % m)
        label("bottom")
    return q, g, what


def check_branch_targets(tools, report):
    results = []
    for mode in (16, 32, 64):
        for name, short, forward, backward, per in TARGET_LAYOUTS:
            q, g, what = branch_target_program(mode, forward, backward, per, short)
            form = "targets, " + name

            def fail_all(reason):
                for text in what:
                    results.append(Result(Case(mode, text, "", form, text.split()[0]), False, reason))
            gimage, errors = tools.gas_run(mode, g)
            if gimage is None:
                fail_all("GNU as refuses the program: %s" % errors)
                continue
            image, per_line, other = tools.qrn_run(mode, q, options=("-size",) if short else ())
            if image is None:
                msgs = ["%s: %s" % (q[i], msg) for i, msg in sorted(per_line.items())]
                fail_all("qrn_asm refuses the program: %s" % "; ".join(msgs + other))
                continue
            if image == gimage:
                results.extend(Result(Case(mode, text, "", form, text.split()[0]), True) for text in what)
                continue
            qi = [x for x in tools.decode(mode, image) if x.data != b"\x90"]
            gi = [x for x in tools.decode(mode, gimage) if x.data != b"\x90"]
            if len(qi) != len(what) or len(gi) != len(what):
                fail_all("images differ: %d and %d branches decoded, %d written" % (len(qi), len(gi), len(what)))
                continue
            for text, a, b in zip(what, qi, gi):
                ok = a.data == b.data and a.addr == b.addr
                results.append(Result(Case(mode, text, "", form, text.split()[0]), ok,
                                      "" if ok else "at %x: %r, GNU as at %x: %r" % (a.addr, a, b.addr, b)))
    report.section("branch targets", results)
