"""Operands for generated instruction forms: registers by mode and size,
memory shapes by address width, immediates by size, each with its qrn_asm
and its GNU as spelling."""
from oracle_lib import LABEL, LABEL_ADDRESS

GPR = {
    8: ["al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"],
    16: ["ax", "cx", "dx", "bx", "sp", "bp", "si", "di"],
    32: ["eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"],
    64: ["rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi"],
}
# Registers that exist in 64-bit code only (spl..dil need a bare REX).
GPR_X = {
    8: ["spl", "bpl", "sil", "dil"] + ["r%dl" % n for n in range(8, 16)],
    16: ["r%dw" % n for n in range(8, 16)],
    32: ["r%dd" % n for n in range(8, 16)],
    64: ["r%d" % n for n in range(8, 16)],
}
HIGH_BYTE = {"ah", "ch", "dh", "bh"}
ACCUMULATOR = {"al", "ax", "eax", "rax"}
# qrn_asm names that GNU as spells otherwise.
ALIASES = {"r%d" % n: ["rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi"][n] for n in range(8)}
ALIASES.update({x + "2": "r%d" % (8 + i) for i, x in enumerate(GPR[64])})
GAS_REG = {"r%dl" % n: "r%db" % n for n in range(8, 16)}
GAS_REG.update(ALIASES)

SIZE_WORD = {8: "byte", 16: "word", 32: "dword", 64: "qword"}
GAS_PTR = {8: "BYTE PTR", 16: "WORD PTR", 32: "DWORD PTR", 64: "QWORD PTR"}
MODE_SIZES = {16: (8, 16, 32), 32: (8, 16, 32), 64: (8, 16, 32, 64)}
ADDRESS_WIDTHS = {16: (16, 32), 32: (32, 16), 64: (64, 32)}


def gas_reg(name):
    return GAS_REG.get(name, name)


def needs_rex(name):
    return name in GPR_X[8] or name in GPR_X[16] or name in GPR_X[32] or name in GPR_X[64] \
        or name in GPR[64] or name in ALIASES


def registers(mode, size):
    """General registers of a size usable in a mode."""
    if mode != 64:
        return list(GPR[size]) if size != 64 else []
    return list(GPR[size]) + list(GPR_X[size])


def compatible(*names):
    """False when a high-byte register meets a register that needs REX."""
    return not (any(n in HIGH_BYTE for n in names) and any(needs_rex(n) for n in names if n))


def imm_text(v):
    """An immediate in qrn_asm's syntax: decimal when small, else NNNNh."""
    if -256 < v < 256:
        return str(v)
    return ("-" if v < 0 else "") + "0%Xh" % abs(v)


def gas_imm(v):
    return str(v) if -256 < v < 256 else ("-" if v < 0 else "") + "0x%x" % abs(v)


def quoted(text):
    """A quoted mini string and the value it packs to (first character in
    the highest used byte)."""
    value = 0
    for ch in text:
        value = value * 256 + ord(ch)
    return "'%s'" % text, value


# Immediates for the reg,imm and mem,imm forms: values around the 8-bit
# boundary, wide values, and the negative ones.
IMM_SIGNED = {
    8: [0, 1, 5, 127, -128, -1, 255, 0x5A],
    16: [0, 1, 127, -128, 128, -129, -1, 0x1234, -0x1234, 0x7FFF, -0x8000],
    32: [0, 1, 127, -128, 128, -129, -1, 0x1234, 0x12345678, -0x12345678, 0x7FFFFFFF, -0x80000000],
}
IMM_SIGNED[64] = IMM_SIGNED[32]
# Values that fit without sign (MOV stores check 8- and 16-bit ranges, and
# 64-bit MOV refuses values whose high half is not zero).
IMM_UNSIGNED = {
    8: [0, 1, 127, 128, 255, 0x5A],
    16: [0, 1, 127, 128, 0x1234, 0x8000, 0xFFFF],
    32: [0, 1, 127, 128, 0x1234, 0x12345678, 0x80000000, 0xFFFFFFFF],
    64: [0, 1, 127, 128, 0x1234, 0x12345678, 0x7FFFFFFF],
}

DISPS = {16: [0, 127, -128, 128, -129, 0x1234, -0x1234],
         32: [0, 127, -128, 128, -129, 0x12345678, -0x12345678]}
DISPS[64] = DISPS[32]


class Mem:
    """A memory operand: [base+index*scale+disp] with an optional label
    term, or a direct address (label or number)."""

    def __init__(self, mode, aw, base=None, index=None, scale=None, disp=None, label=False, direct=None,
                 spelling=None):
        self.mode, self.aw = mode, aw
        self.base, self.index, self.scale, self.disp, self.label = base, index, scale, disp, label
        self.direct = direct  # None, or the number of a direct address
        self.spelling = spelling  # qrn_asm's text between the brackets, when written in another order

    @property
    def kind(self):
        if self.base is None and self.index is None:
            return "direct"
        if self.index is None and self.disp is None and not self.label:
            return "register"
        return "complex"

    @property
    def needs_size(self):
        """Direct addresses and label terms bring a size of their own, so the
        lines give the operand size as a keyword."""
        return self.kind == "direct" or self.label

    def regs(self):
        return [r for r in (self.base, self.index) if r]

    def _terms(self, gas):
        terms = []
        if self.base:
            terms.append(gas_reg(self.base) if gas else self.base)
        if self.index:
            name = gas_reg(self.index) if gas else self.index
            terms.append(name if self.scale is None else "%s*%d" % (name, self.scale))
        text = "+".join(terms)
        if self.label:
            text += ("+" if text else "") + LABEL
        if self.disp is not None:
            d = self.disp
            body = (gas_imm(abs(d)) if gas else imm_text(abs(d)))
            text += ("-" if d < 0 else "+") + body if text else ("-" if d < 0 else "") + body
        return text

    def qrn(self, size=None):
        if self.spelling:
            text = "[%s]" % self.spelling
        elif self.direct is not None:
            text = "[%s]" % imm_text(self.direct)
        else:
            text = "[%s]" % self._terms(False)
        return ("%s %s" % (SIZE_WORD[size], text)) if size else text

    def gas(self, size=None):
        """GNU as spelling; in 64-bit code a direct address is RIP-relative
        (a number through an absolute symbol from defsyms())."""
        if self.direct is not None:
            if self.mode == 64:
                body = "[rip+%s]" % self.abs_symbol()
            else:
                body = "[0x%x]" % self.direct
        elif self.kind == "direct" and self.mode == 64:
            body = "[rip+%s]" % self._terms(True)
        else:
            body = "[%s]" % self._terms(True)
        return ("%s %s" % (GAS_PTR[size], body)) if size else body

    def gas_absolute(self, size=None):
        """A direct address as an absolute 64-bit address (moffs forms)."""
        body = "[0x%x]" % self.direct if self.direct is not None else "[%s]" % self._terms(True)
        return ("%s %s" % (GAS_PTR[size], body)) if size else body

    def abs_symbol(self):
        return "abs_%x" % self.direct

    def defsyms(self):
        if self.direct is not None and self.mode == 64:
            return [(self.abs_symbol(), self.direct)]
        return []

    @property
    def explicit_zero(self):
        """A written displacement of 0 is kept as a byte; GNU as needs {disp8}
        to do the same. (Without a base the displacement is 32 bits anyway.)"""
        return self.disp == 0 and self.base is not None and not self.label

    def address_value(self):
        if self.direct is not None:
            return self.direct
        return LABEL_ADDRESS + (self.disp or 0)


def memory_shapes(mode):
    """Memory operands for a code mode: every address width the mode can use
    (67h for the other one), then the direct addresses."""
    shapes = []
    for aw in ADDRESS_WIDTHS[mode]:
        shapes += _shapes_of_width(mode, aw)
    shapes.append(Mem(mode, None, label=True))
    shapes.append(Mem(mode, None, label=True, disp=8))
    shapes.append(Mem(mode, None, label=True, disp=-4))
    shapes.append(Mem(mode, None, direct=0x1234))
    shapes.append(Mem(mode, None, direct=0xABCD if mode == 16 else 0x12345678))
    return shapes


def _shapes_of_width(mode, aw):
    out = []
    if aw == 16:
        for b in ("bx", "si", "di"):
            out.append(Mem(mode, aw, base=b))
        for i, b in enumerate(("bx", "bp", "si", "di")):
            for d in DISPS[16]:
                out.append(Mem(mode, aw, base=b, disp=d))
        pairs = [("bx", "si"), ("bx", "di"), ("bp", "si"), ("bp", "di"), ("si", "bx"), ("di", "bp")]
        for i, (b, x) in enumerate(pairs):
            out.append(Mem(mode, aw, base=b, index=x))
            for d in (DISPS[16][i % 7], DISPS[16][(i + 3) % 7]):
                out.append(Mem(mode, aw, base=b, index=x, disp=d))
        out.append(Mem(mode, aw, base="bx", label=True))
        out.append(Mem(mode, aw, base="bp", index="si", label=True))
        return out
    regs = list(GPR[aw]) if aw == 32 else list(GPR[64])
    if mode == 64:
        regs += GPR_X[aw]
    index_regs = [r for r in regs if r not in ("esp", "rsp")]
    scales = [None, 1, 2, 4, 8]
    disps = DISPS[aw]
    # [base]
    for b in regs:
        out.append(Mem(mode, aw, base=b))
    # [base+disp]: every displacement class for every base
    for i, b in enumerate(regs):
        for d in disps:
            out.append(Mem(mode, aw, base=b, disp=d))
    # [base+index*scale] and [base+index*scale+disp]
    for i, b in enumerate(regs):
        for k in range(2):
            x = index_regs[(i * 3 + k * 5 + 1) % len(index_regs)]
            s = scales[(i + k * 2) % len(scales)]
            out.append(Mem(mode, aw, base=b, index=x, scale=s))
            out.append(Mem(mode, aw, base=b, index=x, scale=s, disp=disps[(i + k * 4) % len(disps)]))
    # [index*scale+disp]
    for i, x in enumerate(index_regs):
        s = [1, 2, 4, 8][i % 4]
        out.append(Mem(mode, aw, index=x, scale=s, disp=disps[(i * 2 + 1) % len(disps)]))
        out.append(Mem(mode, aw, index=x, scale=[8, 4, 2, 1][i % 4], disp=0))
    # label terms
    b, x = regs[3], index_regs[6]
    out.append(Mem(mode, aw, base=b, label=True))
    out.append(Mem(mode, aw, base=regs[4], index=x, scale=2, label=True))
    out.append(Mem(mode, aw, index=x, scale=4, label=True))
    if mode == 64:
        out.append(Mem(mode, aw, base=regs[13], index=regs[12], scale=8, label=True))
    # the same addresses written in other orders
    b, x = regs[1], index_regs[5]
    out.append(Mem(mode, aw, base=b, index=x, scale=4, spelling="%s*4+%s" % (x, b)))
    out.append(Mem(mode, aw, base=b, index=x, scale=2, disp=16, spelling="2*%s+%s+16" % (x, b)))
    out.append(Mem(mode, aw, base=b, index=x, scale=1, spelling="%s*1+%s" % (x, b)))
    out.append(Mem(mode, aw, base=b, label=True, spelling="%s+%s" % (LABEL, b)))
    out.append(Mem(mode, aw, base=b, disp=8, spelling="%s+4*2" % b))
    return out
