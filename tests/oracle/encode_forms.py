#!/usr/bin/env python3
"""Generated instruction forms of qrn_asm checked against GNU as and objdump.

Usage: encode_forms.py path/to/qrn_asm

Every family below generates its forms (register, immediate and memory
operands x operand sizes x the three code modes x addressing shapes) in
qrn_asm's syntax and in GNU as's, assembles each code mode's batch with one
run of each assembler and compares instruction by instruction (see
oracle_lib). Where qrn_asm chooses another encoding than GNU as on purpose,
the case asks for the same meaning and for qrn_asm's opcode instead of equal
bytes; where GNU as can be told to choose the same encoding ({load},
{disp8}, movabs, data16/data32, addr32), the case asks for equal bytes.

A family whose keyword still reports "<name>: not implemented" is shown as
pending and counts neither as passed nor as failed, so that it is checked as
soon as its encoder lands. A new family is one entry of FAMILIES: its
mnemonics, a probe line and its form generators.

Exit 0 when every check passes, 1 otherwise; the last line is
"N passed, N failed".
"""
import os
import re
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from oracle_lib import (Case, Report, Result, Tools, MODES, PAD, require_tools,  # noqa: E402
                        run_cases)
from operand_pools import (ACCUMULATOR, GAS_PTR, IMM_SIGNED, IMM_UNSIGNED, LABEL, MODE_SIZES,  # noqa: E402
                           Mem, SIZE_WORD, compatible, gas_imm, gas_reg, imm_text, memory_shapes,
                           quoted, registers)
from struc_forms import struc_members  # noqa: E402
from x87_forms import X87, check_llvm_mc, x87_mem, x87_st  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
KEYWORD_LIST = os.path.join(HERE, "..", "..", "src", "core", "keyword_list.cpp")


def s32(v):
    v &= 0xFFFFFFFF
    return v - (1 << 32) if v & 0x80000000 else v


def short_imm(v):
    """qrn_asm's short-immediate test: the low 32 bits are -128..127."""
    return -128 <= s32(v) <= 127


def gas_short_imm(v, size):
    """GNU as's: the value taken at the operand size is -128..127."""
    x = v & ((1 << size) - 1)
    if x >> (size - 1):
        x -= 1 << size
    return -128 <= x <= 127


class Family:
    """One instruction family: its mnemonics, a probe line ({m} stands for
    each mnemonic) whose "not implemented" marks the family pending, and its
    form generators. A generator takes (family, mode) and yields Cases; one
    with a needs attribute waits for those keywords too."""

    def __init__(self, name, mnemonics, probe, forms):
        self.name, self.mnemonics, self.probe, self.forms = name, mnemonics, probe, forms
        self.turn = 0
        self.live = list(mnemonics)

    def next(self, allowed=None):
        """The mnemonics take turns, so that each meets every form."""
        pool = [m for m in self.live if allowed is None or m in allowed]
        m = pool[self.turn % len(pool)]
        self.turn += 1
        return m

    def needs(self):
        """Keywords besides the mnemonics that some forms need (such as proc)."""
        return sorted({k for form in self.forms for k in getattr(form, "needs", ())})

    def cases(self, pending=()):
        """The cases of every form whose keywords are all implemented."""
        self.turn = 0
        out = []
        for mode in (16, 32, 64):
            for form in self.forms:
                if not set(getattr(form, "needs", ())) & set(pending):
                    out.extend(form(self, mode))
        return out


def disp8(mem):
    return "{disp8} " if mem.explicit_zero else ""


def mem_keyword(mem, size, turn):
    """The size keyword of a memory operand: needed with a label or a direct
    address, given now and then otherwise."""
    return size if (mem.needs_size or turn % 3 == 0) else None


def sized_shapes(mode):
    """(turn, memory shape, operand size): each shape with two sizes in turn."""
    sizes = MODE_SIZES[mode]
    for i, mem in enumerate(memory_shapes(mode)):
        # direct addresses are few: they meet every size
        chosen = sizes if mem.kind == "direct" else (sizes[i % len(sizes)], sizes[(i + 1) % len(sizes)])
        for size in chosen:
            yield i, mem, size


def partner(regs, i, mem):
    """A register of the list for the i-th shape that can go with it."""
    for k in range(len(regs)):
        r = regs[(i * 3 + k) % len(regs)]
        if compatible(r, *mem.regs()):
            return r
    return None


# ---------------------------------------------------------------------------
# Operand-less instructions: the table bytes in every mode, and the names
# that objdump reads from them (16-bit|32-bit|64-bit when they differ; ';'
# between the instructions of a sequence that objdump splits).

OPERANDLESS = [
    ("reti", "C3", "ret"), ("retf", "CB", "retf"), ("int3", "CC", "int3"), ("int1", "F1", "int1"),
    ("into", "CE", "into|into|(bad)"), ("iret", "CF", "iret"), ("iretd", "CF", "iret"),
    ("hlt", "F4", "hlt"), ("leave", "C9", "leave"),
    ("pushad", "60", "pusha|pusha|(bad)"), ("pusha", "60", "pusha|pusha|(bad)"),
    ("pushfd", "9C", "pushf"), ("pushf", "9C", "pushf"),
    ("popad", "61", "popa|popa|(bad)"), ("popa", "61", "popa|popa|(bad)"),
    ("popfd", "9D", "popf"), ("popf", "9D", "popf"),
    ("rep", "F3", "repz"), ("repz", "F3", "repz"), ("repnz", "F2", "repnz"),
    ("movsb", "A4", "movs"), ("stosb", "AA", "stos"), ("lodsb", "AC", "lods"), ("scasb", "AE", "scas"),
    ("scasd", "AF", "scas"), ("nop", "90", "nop"), ("clc", "F8", "clc"), ("stc", "F9", "stc"),
    ("daa", "27", "daa|daa|(bad)"), ("das", "2F", "das|das|(bad)"),
    ("cbw", "98", "cbw|cwde|cwde"), ("cwde", "98", "cbw|cwde|cwde"),
    ("cdq", "99", "cwd|cdq|cdq"), ("cwd", "99", "cwd|cdq|cdq"),
    ("cld", "FC", "cld"), ("std", "FD", "std"), ("cmc", "F5", "cmc"),
    ("aaa", "37", "aaa|aaa|(bad)"), ("aas", "3F", "aas|aas|(bad)"),
    ("lahf", "9F", "lahf"), ("lock", "F0", "lock"), ("sahf", "9E", "sahf"),
    ("outsb", "6E", "outs"), ("outsd", "6F", "outs"), ("insb", "6C", "ins"), ("insd", "6D", "ins"),
    ("fwait", "9B", "fwait"), ("cli", "FA", "cli"), ("sti", "FB", "sti"), ("xlat", "D7", "xlat"),
    ("aad", "D5 0A", "aad|aad|(bad);.byte"), ("aam", "D4 0A", "aam|aam|(bad);.byte"),
    ("cpuid", "0F A2", "cpuid"), ("wrmsr", "0F 30", "wrmsr"), ("rdtsc", "0F 31", "rdtsc"),
    ("rdmsr", "0F 32", "rdmsr"), ("rdpmc", "0F 33", "rdpmc"), ("fdivrp", "DE F1", "fdivrp"),
    ("fxch", "D9 C9", "fxch"), ("fcompp", "DE D9", "fcompp"), ("fucompp", "DA E9", "fucompp"),
    ("fnstsw", "DF E0", "fnstsw"), ("fnclex", "DB E2", "fnclex"), ("fnop", "D9 D0", "fnop"),
    ("fchs", "D9 E0", "fchs"), ("fabs", "D9 E1", "fabs"), ("ftst", "D9 E4", "ftst"),
    ("fxam", "D9 E5", "fxam"), ("fld1", "D9 E8", "fld1"), ("fldl2t", "D9 E9", "fldl2t"),
    ("fldl2e", "D9 EA", "fldl2e"), ("fldpi", "D9 EB", "fldpi"), ("fldlg2", "D9 EC", "fldlg2"),
    ("fldln2", "D9 ED", "fldln2"), ("fldz", "D9 EE", "fldz"), ("f2xm1", "D9 F0", "f2xm1"),
    ("fyl2x", "D9 F1", "fyl2x"), ("fptan", "D9 F2", "fptan"), ("fpatan", "D9 F3", "fpatan"),
    ("fxtract", "D9 F4", "fxtract"), ("fprem1", "D9 F5", "fprem1"), ("fdecstp", "D9 F6", "fdecstp"),
    ("fincstp", "D9 F7", "fincstp"), ("fprem", "D9 F8", "fprem"), ("fyl2xp1", "D9 F9", "fyl2xp1"),
    ("fsqrt", "D9 FA", "fsqrt"), ("fsincos", "D9 FB", "fsincos"), ("frndint", "D9 FC", "frndint"),
    ("fscale", "D9 FD", "fscale"), ("fsin", "D9 FE", "fsin"), ("fcos", "D9 FF", "fcos"),
    ("syscall", "0F 05", "syscall"), ("sysret", "0F 07", "sysret|sysret|sysretd"),
    ("sysenter", "0F 34", "sysenter"), ("sysexit", "0F 35", "sysexit|sysexit|sysexitd"),
    ("emms", "0F 77", "emms"), ("clts", "0F 06", "clts"), ("invd", "0F 08", "invd"),
    ("wbinvd", "0F 09", "wbinvd"), ("pause", "F3 90", "pause"), ("rsm", "0F AA", "rsm"),
    ("ud2", "0F 0B", "ud2"),
    ("fstsw", "9B DF E0", "fstsw"), ("fclex", "9B DB E2", "fclex"), ("sfence", "0F AE F8", "sfence"),
    ("sysexit64", "48 0F 35", "dec;sysexit|dec;sysexit|sysexitq"), ("swapgs", "0F 01 F8", "swapgs"),
    ("mfence", "0F AE F0", "mfence"), ("vmcall", "0F 01 C1", "vmcall"), ("vmlaunch", "0F 01 C2", "vmlaunch"),
    ("vmresume", "0F 01 C3", "vmresume"), ("vmxoff", "0F 01 C4", "vmxoff"), ("monitor", "0F 01 C8", "monitor"),
    ("mwait", "0F 01 C9", "mwait"), ("vzeroall", "C5 FC 77", "vzeroall"), ("vzeroupper", "C5 F8 77", "vzeroupper"),
]
# How GNU as spells the mnemonics whose name or width it reads otherwise
# (None: GNU as has no spelling with these bytes), and the mode to try them in.
GAS_OPERANDLESS = {"reti": "ret", "cbw": "cwde", "cwd": "cdq", "sysexit64": ("sysexitq", 64), "swapgs": ("swapgs", 64)}


def keyword_list_rows():
    rows = {}
    with open(KEYWORD_LIST, encoding="utf-8") as f:
        for line in f:
            m = re.match(r'^\s*\{"([^"]+)",\s*Kw_\w+,\s*Kh::Opcode([123]),\s*\{([^}]*)\}\},', line)
            if m:
                vals = [int(x.strip(), 0) for x in m.group(3).split(",")]
                rows[m.group(1)] = bytes(vals[:int(m.group(2))])
    return rows


def check_operandless(tools, report):
    results = []
    table = {name: bytes.fromhex(hexbytes) for name, hexbytes, _ in OPERANDLESS}

    def record(label, ok, reason=""):
        results.append(Result(Case(32, label, "", "table", "operand-less"), ok, reason))

    # The keyword table holds exactly these mnemonics with these bytes.
    rows = keyword_list_rows()
    record("116 keywords", len(rows) == 116 and set(rows) == set(table),
           "keyword list: %d rows; missing here %s; not in the list %s"
           % (len(rows), sorted(set(rows) - set(table)), sorted(set(table) - set(rows))))
    for name in sorted(set(rows) & set(table)):
        if rows[name] != table[name]:
            record(name, False, "keyword list bytes %s, expected %s" % (rows[name].hex(), table[name].hex()))

    # The expected bytes agree with GNU as wherever it has the mnemonic.
    for mode in (32, 64):
        names = []
        for name, _, _ in OPERANDLESS:
            spelling = GAS_OPERANDLESS.get(name, name)
            want_mode = 32
            if isinstance(spelling, tuple):
                spelling, want_mode = spelling
            if want_mode == mode:
                names.append((name, spelling))
        image, errors = tools.gas_run(mode, [s for _, s in names])
        if image is None:
            record("GNU as %d-bit" % mode, False, "GNU as refuses: %s" % errors)
            continue
        offset = PAD
        for name, spelling in names:
            want = table[name]
            got = image[offset:offset + len(want)]
            offset += len(want)
            if got != want:
                record(name, False, "GNU as writes %s for %s, the table %s" % (got.hex(), spelling, want.hex()))
                break
        else:
            offset = len(image)
        if offset != len(image) and not results[-1].reason.startswith("GNU as writes"):
            record("GNU as %d-bit" % mode, False, "GNU as image length %d, expected %d" % (len(image), offset))

    for mode in (16, 32, 64):
        lines = [name for name, _, _ in OPERANDLESS]
        image, per_line, other = tools.qrn_run(mode, lines)
        expected = b"".join(table[n] for n in lines)
        pieces = {}
        if image is not None and image[PAD:] == expected:
            offset = PAD
            for n in lines:
                pieces[n] = image[offset:offset + len(table[n])]
                offset += len(table[n])
        else:
            for n in lines:
                one, msgs, other = tools.qrn_run(mode, [n])
                pieces[n] = one[PAD:] if one is not None else None
                if one is None:
                    pieces[n] = "error: %s" % (msgs.get(0) or "; ".join(other))
        # objdump reads every line's bytes on its own (a prefix would join the next line).
        names = decode_each(tools, mode, {n: p for n, p in pieces.items() if isinstance(p, bytes)})
        col = {16: 0, 32: 1, 64: 2}[mode]
        for name, _, reads in OPERANDLESS:
            got = pieces[name]
            case = Case(mode, name, "", "operand-less", name)
            if not isinstance(got, bytes):
                results.append(Result(case, False, got))
                continue
            if got != table[name]:
                results.append(Result(case, False, "bytes %s, expected %s" % (got.hex(" "), table[name].hex(" "))))
                continue
            alternatives = reads.split("|")
            want = alternatives[col if len(alternatives) == 3 else 0].split(";")
            ok = names.get(name) == want
            results.append(Result(case, ok, "" if ok else "objdump reads %s, expected %s" % (names.get(name), want)))
    report.section("operand-less", results)


def decode_each(tools, mode, pieces):
    """The first words of objdump's instructions for each byte string, read
    one string at a time (one objdump run for all)."""
    files = {}
    for name, data in pieces.items():
        path = tools.path("op_%s.bin" % name)
        with open(path, "wb") as f:
            f.write(data)
        files[path] = name
    if not files:
        return {}
    p = subprocess.run(["objdump", "-D", "-b", "binary", "-m", MODES[mode]["objdump"], "-M", "intel",
                        "--insn-width=16"] + list(files), capture_output=True, text=True)
    out, current = {}, None
    for line in p.stdout.splitlines():
        m = re.match(r"^(\S+):\s+file format", line)
        if m:
            current = files.get(m.group(1))
            out[current] = []
            continue
        m = re.match(r"^\s*[0-9a-f]+:\t[0-9a-f ]+\t(\S+)", line)
        if m and current:
            out[current].append(m.group(1))
    return out


# ---------------------------------------------------------------------------
# ALU: add or adc sbb and sub xor cmp

ALU_ACC = {"add": 0x05, "or": 0x0D, "adc": 0x15, "sbb": 0x1D, "and": 0x25, "sub": 0x2D, "xor": 0x35, "cmp": 0x3D}
QUOTED_ALU = ("add", "or", "and", "sub", "xor", "cmp")  # adc and sbb take no quoted operand


def reg_pairs(mode, size):
    regs = registers(mode, size)
    n = len(regs)
    for i, r1 in enumerate(regs):
        for r2 in (regs[(i + 3) % n], regs[(i * 5 + 1) % n]):
            if compatible(r1, r2):
                yield r1, r2
    if mode == 64 and size == 64:
        yield "r3", "rax2"
        yield "rdi2", "r0"


def alu_reg_reg(fam, mode):
    for size in MODE_SIZES[mode]:
        for r1, r2 in reg_pairs(mode, size):
            m = fam.next()
            # qrn_asm writes the reg,r/m opcode (add eax,ebx is 03 C3); {load} asks GNU as for it.
            yield Case(mode, "%s %s,%s" % (m, r1, r2), "{load} %s %s, %s" % (m, gas_reg(r1), gas_reg(r2)),
                       "reg,reg", m)


def alu_imm_opcode(mode, m, reg, size, value, relocatable=False):
    """The opcode qrn_asm chooses for reg,imm: the accumulator forms only in
    16- and 32-bit code (eax with a short value: 83h in 32-bit code), and the
    short form for values -128..127 of the low 32 bits."""
    short = short_imm(value) and not relocatable
    acc = ALU_ACC[m]
    if size == 8:
        return acc & 0xFE if (reg in ACCUMULATOR and mode != 64) else 0x80
    if reg in ACCUMULATOR and mode == 16:
        return acc
    if reg in ACCUMULATOR and mode == 32:
        return 0x83 if (short and size == 32) else acc
    return 0x83 if short else 0x81


def gas_imm_opcode(m, reg, size, value, relocatable=False):
    acc = ALU_ACC[m]
    if size == 8:
        return acc & 0xFE if reg in ACCUMULATOR else 0x80
    if gas_short_imm(value, size) and not relocatable:
        return 0x83
    return acc if reg in ACCUMULATOR else 0x81


def alu_imm_case(fam, mode, m, reg, size, qrn_value, value, relocatable=False, form="reg,imm"):
    want = alu_imm_opcode(mode, m, reg, size, value, relocatable)
    gas_value = ("offset " + LABEL) if relocatable else gas_imm(value)
    same = want == gas_imm_opcode(m, reg, size, value, relocatable)
    return Case(mode, "%s %s,%s" % (m, reg, qrn_value), "%s %s, %s" % (m, gas_reg(reg), gas_value), form, m,
                policy="bytes" if same else "meaning", opcode=None if same else want)


def alu_reg_imm(fam, mode):
    for size in MODE_SIZES[mode]:
        imms = IMM_SIGNED[size]
        for i, reg in enumerate(registers(mode, size)):
            values = imms if reg in ACCUMULATOR else [imms[(i * 3 + k) % len(imms)] for k in range(3)]
            for v in values:
                yield alu_imm_case(fam, mode, fam.next(), reg, size, imm_text(v), v)
        if size == 16:  # above 7Fh as a word but not as 32 bits: qrn_asm writes 81h
            for reg in ("ax", "bx"):
                yield alu_imm_case(fam, mode, fam.next(), reg, size, "0FF80h", 0xFF80)
        if size >= 16:  # a label's address is a full-size immediate
            for reg in ("bx", "ax") if size == 16 else ("ebx", "eax") if size == 32 else ("rbx", "rax"):
                yield alu_imm_case(fam, mode, fam.next(), reg, size, LABEL, 200, relocatable=True)


def alu_reg_mem(fam, mode):
    for i, mem, size in sized_shapes(mode):
        reg = partner(registers(mode, size), i, mem)
        if reg is None:
            continue
        m = fam.next()
        yield Case(mode, "%s %s,%s" % (m, reg, mem.qrn(mem_keyword(mem, size, i))),
                   "%s%s %s, %s" % (disp8(mem), m, gas_reg(reg), mem.gas(size)),
                   "reg,[%s]" % mem.kind, m, defsyms=mem.defsyms())


def alu_mem_reg(fam, mode):
    for i, mem, size in sized_shapes(mode):
        reg = partner(registers(mode, size), i + 1, mem)
        if reg is None:
            continue
        m = fam.next()
        prefix = disp8(mem)
        if mode == 16 and mem.kind == "direct" and size == 32:
            prefix += "addr32 "  # the [direct],reg form takes a 32-bit address with a 32-bit register
        yield Case(mode, "%s %s,%s" % (m, mem.qrn(mem_keyword(mem, size, i)), reg),
                   "%s%s %s, %s" % (prefix, m, mem.gas(size), gas_reg(reg)),
                   "[%s],reg" % mem.kind, m, defsyms=mem.defsyms())


def alu_mem_imm(fam, mode):
    for i, mem, size in sized_shapes(mode):
        imms = IMM_SIGNED[size]
        v = imms[(i * 5) % len(imms)]
        m = fam.next()
        # [register],imm always takes the full immediate (81h); the other shapes 83h for -128..127
        if size == 8:
            want = 0x80
        elif mem.kind == "register":
            want = 0x81
        else:
            want = 0x83 if short_imm(v) else 0x81
        gas_want = 0x80 if size == 8 else 0x83 if gas_short_imm(v, size) else 0x81
        same = want == gas_want
        yield Case(mode, "%s %s,%s" % (m, mem.qrn(size), imm_text(v)),
                   "%s%s %s, %s" % (disp8(mem), m, mem.gas(size), gas_imm(v)),
                   "[%s],imm" % mem.kind, m, policy="bytes" if same else "meaning",
                   opcode=None if same else want, defsyms=mem.defsyms())


def alu_quoted(fam, mode):
    mem = {16: Mem(mode, 16, base="bx", disp=4), 32: Mem(mode, 32, base="ebx", disp=4),
           64: Mem(mode, 64, base="r9", disp=4)}[mode]
    for text, reg, size in (("ab", "eax", 32), ("a", "al", 8), ("ab", "bx", 16), ("abcd", "esi", 32)):
        q, v = quoted(text)
        yield alu_imm_case(fam, mode, fam.next(QUOTED_ALU), reg, size, q, v, form="quoted")
    for text, size in (("abcd", 32), ("ab", 16)):
        q, v = quoted(text)
        m = fam.next(QUOTED_ALU)
        yield Case(mode, "%s %s,%s" % (m, mem.qrn(size), q), "%s %s, %s" % (m, mem.gas(size), gas_imm(v)),
                   "quoted", m)


def frame_setup(mode):
    """A PROC without frame code whose ARGs and LOCALs reach past the 8-bit
    displacement: (lines before, lines after, variables). A variable is
    (name, signed offset from the frame base, size in bits)."""
    s = {16: 2, 32: 4, 64: 8}[mode]
    n_args = (128 - 2 * s) // s + 2        # the last two at 128 and 128 + s
    n_locals = 128 // s                    # the last at -128
    args = ["a%d" % k for k in range(1, n_args + 1)]
    local_names = ["v%d" % k for k in range(1, n_locals + 1)]
    pre = ["proc oracle_frame noframe"]
    for k in range(0, len(args), 8):
        pre.append("arg " + " ".join(args[k:k + 8]))
    for k in range(0, len(local_names), 8):
        pre.append("local " + " ".join(local_names[k:k + 8]))
    variables = [(a, 2 * s + s * k, 8 * s) for k, a in enumerate(args)]
    variables += [(v, -s * (k + 1), 8 * s) for k, v in enumerate(local_names)]
    if mode != 16:
        pre.append("local big[100]")
        variables.append(("big", -(128 + 100 * s), 8 * s))
    picked = [v for v in variables if v[0] in ("a1", args[-3], args[-2], args[-1], "v1",
                                               local_names[-2], local_names[-1], "big")]
    return pre, ["endp"], picked


def frame_operand(mode, offset, size=None):
    base = {16: "bp", 32: "ebp", 64: "rbp"}[mode]
    text = "[%s%+d]" % (base, offset)
    return "%s %s" % (GAS_PTR[size], text) if size else text


def frame_long(mode, offset):
    """A frame variable 127 or more bytes from the frame base takes the long
    displacement, where GNU as still fits -128 into a byte: the extra bytes."""
    if offset == -128:
        return 1 if mode == 16 else 3
    return 0


def frame_cases(fam, mode, body):
    """The cases that body(name, offset, var_size, size, turn) makes (qrn
    line, GNU as line, form, mnemonic; or None) for every picked frame
    variable and operand size, with the PROC around them."""
    pre, post, variables = frame_setup(mode)
    turn = 0
    for name, offset, var_size in variables:
        for size in MODE_SIZES[mode]:
            turn += 1
            made = body(name, offset, var_size, size, turn)
            if made is None:
                continue
            qrn, gas, form, m = made
            yield qrn, gas, form, m, offset, (pre, post)


def frame_case(mode, made):
    qrn, gas, form, m, offset, setup = made
    extra = frame_long(mode, offset)
    return Case(mode, qrn, gas, form, m, policy="meaning" if extra else "bytes",
                longer=extra or None, setup=setup)


def alu_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        m = fam.next()
        reg = registers(mode, size)[(turn * 3) % len(registers(mode, size))]
        if not compatible(reg):
            reg = registers(mode, size)[0]
        kw = "%s " % SIZE_WORD[size] if (size != var_size or turn % 2) else ""
        kind = turn % 3
        if kind == 0:
            return ("%s %s,%s[%s]" % (m, reg, kw, name), "%s %s, %s" % (m, gas_reg(reg), frame_operand(mode, offset, size)),
                    "reg,frame", m)
        if kind == 1:
            return ("%s %s[%s],%s" % (m, kw, name, reg), "%s %s, %s" % (m, frame_operand(mode, offset, size), gas_reg(reg)),
                    "frame,reg", m)
        if mode == 64 and size != var_size:
            return None  # a 64-bit variable always takes REX.W here
        v = IMM_SIGNED[size][turn % len(IMM_SIGNED[size])]
        return ("%s %s[%s],%s" % (m, kw, name, imm_text(v)), "%s %s, %s" % (m, frame_operand(mode, offset, size), gas_imm(v)),
                "frame,imm", m)
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


alu_frame.needs = ("proc", "arg", "local", "endp")


# ---------------------------------------------------------------------------
# MOV

def mov_reg_reg(fam, mode):
    for size in MODE_SIZES[mode]:
        for r1, r2 in reg_pairs(mode, size):
            # 8Ah/8Bh with the destination in the reg field (mov eax,ebx is 8B C3).
            yield Case(mode, "mov %s,%s" % (r1, r2), "{load} mov %s, %s" % (gas_reg(r1), gas_reg(r2)),
                       "reg,reg", "mov")


def mov_reg_imm(fam, mode):
    for size in MODE_SIZES[mode]:
        imms = IMM_SIGNED[size]
        if size == 64:
            imms = imms + [0x123456789ABCDEF0, 0x100000000, -0x100000000]
        for i, reg in enumerate(registers(mode, size)):
            for k in range(3):
                v = imms[(i * 3 + k) % len(imms)]
                # a 64-bit register always takes the 10-byte B8h+r form: GNU as's movabs
                op = "movabs" if size == 64 else "mov"
                yield Case(mode, "mov %s,%s" % (reg, imm_text(v)), "%s %s, %s" % (op, gas_reg(reg), gas_imm(v)),
                           "reg,imm", "mov")
        if size >= 16:
            reg = {16: "si", 32: "edi", 64: "r11"}[size]
            op = "movabs" if size == 64 else "mov"
            yield Case(mode, "mov %s,%s" % (reg, LABEL), "%s %s, offset %s" % (op, gas_reg(reg), LABEL),
                       "reg,imm", "mov")


def mov_moffs(mode, mem, reg, size):
    """64-bit code: the accumulator takes A0h-A3h with an 8-byte address when
    qword is written (here: with rax and its keyword)."""
    return mode == 64 and mem.kind == "direct" and reg in ACCUMULATOR and size == 64


def mov_reg_mem(fam, mode):
    for i, mem, size in sized_shapes(mode):
        reg = partner(registers(mode, size), i, mem)
        if reg is None:
            continue
        if mem.kind == "direct" and i % 2 == 0:
            reg = {8: "al", 16: "ax", 32: "eax", 64: "rax"}[size]
        if mov_moffs(mode, mem, reg, size):
            gas = "movabs %s, %s" % (gas_reg(reg), mem.gas_absolute(size))
        else:
            gas = "%smov %s, %s" % (disp8(mem), gas_reg(reg), mem.gas(size))
        yield Case(mode, "mov %s,%s" % (reg, mem.qrn(mem_keyword(mem, size, i))), gas,
                   "reg,[%s]" % mem.kind, "mov", defsyms=mem.defsyms())


def mov_mem_reg(fam, mode):
    for i, mem, size in sized_shapes(mode):
        reg = partner(registers(mode, size), i + 1, mem)
        if reg is None:
            continue
        if mem.kind == "direct" and i % 2 == 1:
            reg = {8: "al", 16: "ax", 32: "eax", 64: "rax"}[size]
        if mov_moffs(mode, mem, reg, size):
            gas = "movabs %s, %s" % (mem.gas_absolute(size), gas_reg(reg))
        else:
            gas = "%smov %s, %s" % (disp8(mem), mem.gas(size), gas_reg(reg))
        yield Case(mode, "mov %s,%s" % (mem.qrn(mem_keyword(mem, size, i)), reg), gas,
                   "[%s],reg" % mem.kind, "mov", defsyms=mem.defsyms())


def mov_moffs_forms(fam, mode):
    """The 8-byte-address accumulator forms of 64-bit code: qword with eax,
    and an address above 4 GiB."""
    if mode != 64:
        return
    lab = Mem(64, None, label=True)
    yield Case(64, "mov eax,qword %s" % lab.qrn(), "movabs eax, %s" % lab.gas_absolute(), "moffs", "mov")
    yield Case(64, "mov qword %s,eax" % lab.qrn(), "movabs %s, eax" % lab.gas_absolute(), "moffs", "mov")
    far = Mem(64, None, direct=0x112233445566)
    yield Case(64, "mov eax,dword %s" % far.qrn(), "movabs eax, %s" % far.gas_absolute(), "moffs", "mov")
    yield Case(64, "mov al,byte %s" % far.qrn(), "movabs al, %s" % far.gas_absolute(), "moffs", "mov")
    yield Case(64, "mov rax,qword %s" % far.qrn(), "movabs rax, %s" % far.gas_absolute(), "moffs", "mov")
    yield Case(64, "mov dword %s,eax" % far.qrn(), "movabs %s, eax" % far.gas_absolute(), "moffs", "mov")
    yield Case(64, "mov qword %s,rax" % far.qrn(), "movabs %s, rax" % far.gas_absolute(), "moffs", "mov")


def mov_mem_imm(fam, mode):
    for i, mem, size in sized_shapes(mode):
        imms = IMM_UNSIGNED[size]
        v = imms[(i * 5) % len(imms)]
        yield Case(mode, "mov %s,%s" % (mem.qrn(size), imm_text(v)),
                   "%smov %s, %s" % (disp8(mem), mem.gas(size), gas_imm(v)),
                   "[%s],imm" % mem.kind, "mov", defsyms=mem.defsyms())


def mov_quoted(fam, mode):
    mem = {16: Mem(mode, 16, base="di", disp=2), 32: Mem(mode, 32, base="ecx", disp=2),
           64: Mem(mode, 64, base="r14", disp=2)}[mode]
    for text, reg in (("abcd", "eax"), ("a", "dl"), ("ab", "si")):
        q, v = quoted(text)
        yield Case(mode, "mov %s,%s" % (reg, q), "mov %s, %s" % (reg, gas_imm(v)), "quoted", "mov")
    if mode == 64:
        q, v = quoted("abcdefgh")
        yield Case(mode, "mov rcx,%s" % q, "movabs rcx, 0x%x" % v, "quoted", "mov")
    for text, size in (("abcd", 32), ("ab", 16)):
        q, v = quoted(text)
        yield Case(mode, "mov %s,%s" % (mem.qrn(size), q), "mov %s, %s" % (mem.gas(size), gas_imm(v)),
                   "quoted", "mov")


SEGMENT = ["es", "cs", "ss", "ds", "fs", "gs"]


def mov_segment(fam, mode):
    gprs = {16: ["ax", "bx", "di"], 32: ["eax", "edx", "esi"], 64: ["rax", "rcx", "rbp"]}
    n = 0
    for size in MODE_SIZES[mode]:
        if size == 8:
            continue
        for reg in gprs[size]:
            for s in SEGMENT:
                n += 1
                yield Case(mode, "mov %s,%s" % (reg, s), "mov %s, %s" % (reg, s), "reg,sreg", "mov")
                if s == "cs":
                    continue
                # sreg,reg: 66h for the other width in 16- and 32-bit code, none in 64-bit code
                prefix = ""
                if mode == 32 and size == 16:
                    prefix = "data16 "
                elif mode == 16 and size == 32:
                    prefix = "data32 "
                gas_src = reg if not prefix else {"eax": "ax", "edx": "dx", "esi": "si"}.get(reg, reg)
                yield Case(mode, "mov %s,%s" % (s, reg), "%smov %s, %s" % (prefix, s, gas_src), "sreg,reg", "mov")
    if mode == 64:  # registers 8-15 take REX.B
        for reg, s in (("r8d", "ds"), ("r9w", "es"), ("r15", "gs")):
            yield Case(mode, "mov %s,%s" % (reg, s), "mov %s, %s" % (reg, s), "reg,sreg", "mov")
            yield Case(mode, "mov %s,%s" % (s, reg), "mov %s, %s" % (s, reg), "sreg,reg", "mov")
    for i, mem in enumerate(memory_shapes(mode)):
        if i % 3:
            continue
        s = SEGMENT[i % 6]
        yield Case(mode, "mov %s,%s" % (mem.qrn(), s), "%smov %s, %s" % (disp8(mem), mem.gas(16), s),
                   "[%s],sreg" % mem.kind, "mov", defsyms=mem.defsyms())
        if s == "cs" or (mode == 32 and mem.kind == "complex" and mem.aw == 16):
            continue  # sreg,[complex] in 32-bit code never writes 67h
        yield Case(mode, "mov %s,%s" % (s, mem.qrn()), "%smov %s, %s" % (disp8(mem), s, mem.gas(16)),
                   "sreg,[%s]" % mem.kind, "mov", defsyms=mem.defsyms())


def mov_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        regs = registers(mode, size)
        reg = regs[(turn * 5) % len(regs)]
        if not compatible(reg):
            reg = regs[1]
        kw = "%s " % SIZE_WORD[size] if (size != var_size or turn % 2) else ""
        kind = turn % 3
        if kind == 0:
            return ("mov %s,%s[%s]" % (reg, kw, name), "mov %s, %s" % (gas_reg(reg), frame_operand(mode, offset, size)),
                    "reg,frame", "mov")
        if kind == 1:
            return ("mov %s[%s],%s" % (kw, name, reg), "mov %s, %s" % (frame_operand(mode, offset, size), gas_reg(reg)),
                    "frame,reg", "mov")
        v = IMM_UNSIGNED[size][turn % len(IMM_UNSIGNED[size])]
        return ("mov %s[%s],%s" % (kw, name, imm_text(v)), "mov %s, %s" % (frame_operand(mode, offset, size), gas_imm(v)),
                "frame,imm", "mov")
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


mov_frame.needs = ("proc", "arg", "local", "endp")


def mov_control_debug(fam, mode):
    """Control and debug registers: 0F 20h-23h, no prefix in any mode."""
    regs = ["eax", "ecx", "ebx", "edi"] if mode != 64 else ["rax", "rdx", "rsi", "rdi"]
    for i, cr in enumerate(["cr0", "cr2", "cr3", "cr4"]):
        r = regs[i % 4]
        yield Case(mode, "mov %s,%s" % (cr, r), "mov %s, %s" % (cr, r), "cr/dr", "mov")
        yield Case(mode, "mov %s,%s" % (r, cr), "mov %s, %s" % (r, cr), "cr/dr", "mov")
    for i in range(8):
        dr, r = "dr%d" % i, regs[(i + 1) % 4]
        yield Case(mode, "mov %s,%s" % (dr, r), "mov %s, %s" % (dr, r), "cr/dr", "mov")
        yield Case(mode, "mov %s,%s" % (r, dr), "mov %s, %s" % (r, dr), "cr/dr", "mov")
    if mode == 64:  # registers 8-15 take REX.B
        for special, r in (("cr0", "r9"), ("cr3", "r15"), ("dr7", "r8"), ("dr1", "r12")):
            yield Case(mode, "mov %s,%s" % (special, r), "mov %s, %s" % (special, r), "cr/dr", "mov")
            yield Case(mode, "mov %s,%s" % (r, special), "mov %s, %s" % (r, special), "cr/dr", "mov")


# ---------------------------------------------------------------------------

# ---------------------------------------------------------------------------
def lea_reg_mem(fam, mode):
    for i, mem, size in sized_shapes(mode):
        if size == 8:
            continue
        reg = partner(registers(mode, size), i, mem)
        if reg is None:
            continue
        yield Case(mode, "lea %s,%s" % (reg, mem.qrn(None)),
                   "%slea %s, %s" % (disp8(mem), gas_reg(reg), mem.gas(size)),
                   "lea reg,[%s]" % mem.kind, "lea", defsyms=mem.defsyms())


def bswap_reg(fam, mode):
    for reg in registers(mode, 32):
        yield Case(mode, "bswap %s" % reg, "bswap %s" % gas_reg(reg), "bswap reg", "bswap")


def string_ops(fam, mode):
    for m in ("movsd", "movsw", "stosd", "stosw", "lodsd", "lodsw"):
        yield Case(mode, m, m, "string", m)


# ---------------------------------------------------------------------------
# TEST, shifts and rotates, SHLD/SHRD, XCHG, MOVSX/MOVZX, the F7 group, INC/DEC

def test_reg_reg(fam, mode):
    for size in MODE_SIZES[mode]:
        for r1, r2 in reg_pairs(mode, size):
            # 85h with the first register in ModRM.rm, as GNU as writes it
            yield Case(mode, "test %s,%s" % (r1, r2), "test %s, %s" % (gas_reg(r1), gas_reg(r2)), "reg,reg", "test")


def test_reg_imm(fam, mode):
    for size in MODE_SIZES[mode]:
        imms = IMM_SIGNED[size]
        for i, reg in enumerate(registers(mode, size)):
            for k in range(2):
                v = imms[(i * 3 + k) % len(imms)]
                yield Case(mode, "test %s,%s" % (reg, imm_text(v)), "test %s, %s" % (gas_reg(reg), gas_imm(v)),
                           "reg,imm", "test")


def test_mem(fam, mode):
    for i, mem, size in sized_shapes(mode):
        reg = partner(registers(mode, size), i + 2, mem)
        if reg is not None:
            prefix = disp8(mem)
            if mode == 16 and mem.kind == "direct" and size == 32:
                prefix += "addr32 "  # a 32-bit register takes the 32-bit address form
            yield Case(mode, "test %s,%s" % (mem.qrn(mem_keyword(mem, size, i)), reg),
                       "%stest %s, %s" % (prefix, mem.gas(size), gas_reg(reg)), "[%s],reg" % mem.kind, "test",
                       defsyms=mem.defsyms())
        v = IMM_SIGNED[size][(i * 5) % len(IMM_SIGNED[size])]
        yield Case(mode, "test %s,%s" % (mem.qrn(size), imm_text(v)),
                   "%stest %s, %s" % (disp8(mem), mem.gas(size), gas_imm(v)), "[%s],imm" % mem.kind, "test",
                   defsyms=mem.defsyms())


def test_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        kw = "%s " % SIZE_WORD[size] if (size != var_size or turn % 2) else ""
        if turn % 2:
            reg = registers(mode, size)[turn % len(registers(mode, size))]
            if not compatible(reg):
                reg = registers(mode, size)[0]
            return ("test %s[%s],%s" % (kw, name, reg),
                    "test %s, %s" % (frame_operand(mode, offset, size), gas_reg(reg)), "frame,reg", "test")
        v = IMM_SIGNED[size][turn % len(IMM_SIGNED[size])]
        return ("test %s[%s],%s" % (kw, name, imm_text(v)),
                "test %s, %s" % (frame_operand(mode, offset, size), gas_imm(v)), "frame,imm", "test")
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


test_frame.needs = ("proc", "arg", "local", "endp")

SHIFT_COUNTS = ["1", "cl", "0", "2", "7", "31", "63", "255"]


def shift_case(mode, m, qrn_target, gas_target, count, form, size, defsyms=(), prefix=""):
    """sal is /6 here, /4 in GNU as: the same shift, read as shl by objdump."""
    gas_count = count if count == "cl" else str(int(count))
    opcode = 0xD1 if count == "1" else 0xD3 if count == "cl" else 0xC1
    if size == 8:
        opcode &= 0xFE
    sal = m == "sal"
    return Case(mode, "%s %s,%s" % (m, qrn_target, count), "%s%s %s, %s" % (prefix, m, gas_target, gas_count),
                form, m, policy="meaning" if sal else "bytes", opcode=opcode if sal else None, defsyms=defsyms)


def shift_reg(fam, mode):
    for size in MODE_SIZES[mode]:
        for i, reg in enumerate(registers(mode, size)):
            for k in range(2):
                m = fam.next()
                count = SHIFT_COUNTS[(i + k * 3) % len(SHIFT_COUNTS)]
                yield shift_case(mode, m, reg, gas_reg(reg), count, "reg", size)


def shift_mem(fam, mode):
    for i, mem, size in sized_shapes(mode):
        m = fam.next()
        count = SHIFT_COUNTS[i % len(SHIFT_COUNTS)]
        kw = size
        if mode == 32 and mem.kind == "register" and i % 3 == 1:
            kw, size = None, mem.aw  # without a keyword: the address register's width
        yield shift_case(mode, m, mem.qrn(kw), mem.gas(size), count, "[%s]" % mem.kind, size, mem.defsyms(),
                         disp8(mem))


def shift_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        m = fam.next()
        kw = "%s " % SIZE_WORD[size] if (size != var_size or turn % 2) else ""
        count = SHIFT_COUNTS[turn % len(SHIFT_COUNTS)]
        case = shift_case(mode, m, "%s[%s]" % (kw, name), frame_operand(mode, offset, size), count, "frame", size)
        return case.qrn, case.gas, "frame", m
    for made in frame_cases(fam, mode, body):
        c = frame_case(mode, made)
        if c.mnemonic == "sal":
            c.policy = "meaning"
        yield c


shift_frame.needs = ("proc", "arg", "local", "endp")


def shld_forms(fam, mode):
    counts = ["cl", "1", "4", "31"]
    for size in (16, 32, 64):
        if size == 64 and mode != 64:
            continue
        for r1, r2 in reg_pairs(mode, size):
            m = fam.next()
            c = counts[fam.turn % len(counts)]
            yield Case(mode, "%s %s,%s,%s" % (m, r1, r2, c), "%s %s, %s, %s" % (m, gas_reg(r1), gas_reg(r2), c),
                       "reg,reg", m)
    for i, mem, size in sized_shapes(mode):
        if size == 8:
            size = 64 if mode == 64 else 16
        reg = partner(registers(mode, size), i, mem)
        if reg is None:
            continue
        m = fam.next()
        c = counts[i % len(counts)]
        yield Case(mode, "%s %s,%s,%s" % (m, mem.qrn(mem_keyword(mem, size, i)), reg, c),
                   "%s%s %s, %s, %s" % (disp8(mem), m, mem.gas(size), gas_reg(reg), c), "[%s],reg" % mem.kind, m,
                   defsyms=mem.defsyms())


def shld_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        if size == 8:
            return None
        m = fam.next()
        reg = registers(mode, size)[turn % len(registers(mode, size))]
        c = ["cl", "3"][turn % 2]
        return ("%s [%s],%s,%s" % (m, name, reg, c),
                "%s %s, %s, %s" % (m, frame_operand(mode, offset, size), gas_reg(reg), c), "frame,reg", m)
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


shld_frame.needs = ("proc", "arg", "local", "endp")


def xchg_forms(fam, mode):
    for size in MODE_SIZES[mode]:
        for r1, r2 in reg_pairs(mode, size):
            if r1 == r2:
                continue
            # 87h (86h) always; GNU as takes 90h+r with the accumulator
            acc = size != 8 and (gas_reg(r1) in ACCUMULATOR or gas_reg(r2) in ACCUMULATOR)
            yield Case(mode, "xchg %s,%s" % (r1, r2), "xchg %s, %s" % (gas_reg(r1), gas_reg(r2)), "reg,reg",
                       "xchg", policy="meaning" if acc else "bytes", opcode=(0x87 if acc else None))
    for i, mem, size in sized_shapes(mode):
        reg = partner(registers(mode, size), i + 1, mem)
        if reg is None:
            continue
        yield Case(mode, "xchg %s,%s" % (reg, mem.qrn(mem_keyword(mem, size, i))),
                   "%sxchg %s, %s" % (disp8(mem), gas_reg(reg), mem.gas(size)), "reg,[%s]" % mem.kind, "xchg",
                   defsyms=mem.defsyms())


def xchg_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        reg = registers(mode, size)[(turn * 3) % len(registers(mode, size))]
        if not compatible(reg):
            reg = registers(mode, size)[0]
        return ("xchg %s,[%s]" % (reg, name), "xchg %s, %s" % (gas_reg(reg), frame_operand(mode, offset, size)),
                "reg,frame", "xchg")
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


xchg_frame.needs = ("proc", "arg", "local", "endp")


def movx_pairs(mode, m):
    """(destination size, source size, GNU as mnemonic)."""
    dests = (16, 32, 64) if mode == 64 else (16, 32)
    for d in dests:
        for s in (8, 16):
            if s < d:
                yield d, s, m
    if mode == 64:
        if m == "movsx":
            yield 64, 32, "movsxd"


def movx_forms(fam, mode):
    for m in ("movsx", "movzx"):
        for d, s, gm in movx_pairs(mode, m):
            dregs, sregs = registers(mode, d), registers(mode, s)
            for i, r1 in enumerate(dregs):
                r2 = sregs[(i * 5 + 1) % len(sregs)]
                if not compatible(r1, r2):
                    r2 = sregs[i % 4]
                yield Case(mode, "%s %s,%s" % (m, r1, r2), "%s %s, %s" % (gm, gas_reg(r1), gas_reg(r2)), "reg,reg", m)
    for i, mem, _ in sized_shapes(mode):
        for m in ("movsx", "movzx"):
            pairs = list(movx_pairs(mode, m))
            d, s, gm = pairs[i % len(pairs)]
            reg = partner(registers(mode, d), i, mem)
            if reg is None:
                continue
            yield Case(mode, "%s %s,%s" % (m, reg, mem.qrn(s)),
                       "%s%s %s, %s" % (disp8(mem), gm, gas_reg(reg), mem.gas(s)), "reg,[%s]" % mem.kind, m,
                       defsyms=mem.defsyms())


def movx_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        m = ("movsx", "movzx")[turn % 2]
        pairs = list(movx_pairs(mode, m))
        d, s, gm = pairs[turn % len(pairs)]
        reg = registers(mode, d)[turn % len(registers(mode, d))]
        return ("%s %s,%s [%s]" % (m, reg, SIZE_WORD[s], name),
                "%s %s, %s" % (gm, gas_reg(reg), frame_operand(mode, offset, s)), "reg,frame", m)
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


movx_frame.needs = ("proc", "arg", "local", "endp")


def spl_rex_w(reg):
    """F6h/FEh on spl..dil carry 48h here, a bare 40h in GNU as."""
    return reg in ("spl", "bpl", "sil", "dil")


def unary_reg(fam, mode):
    for size in MODE_SIZES[mode]:
        for reg in registers(mode, size):
            for _ in range(2):
                m = fam.next()
                odd = spl_rex_w(reg)
                yield Case(mode, "%s %s" % (m, reg), "%s %s" % (m, gas_reg(reg)), "reg", m,
                           policy="meaning" if odd else "bytes", opcode=0xF6 if odd else None)


def unary_mem(fam, mode):
    for i, mem, size in sized_shapes(mode):
        m = fam.next()
        prefix = disp8(mem)
        if fam.name == "unary" and mode == 16 and mem.kind == "direct" and mem.label and mem.disp is None:
            prefix += "addr32 "  # a 32-bit label takes the 32-bit address form in 16-bit code
        yield Case(mode, "%s %s" % (m, mem.qrn(size)), "%s%s %s" % (prefix, m, mem.gas(size)),
                   "[%s]" % mem.kind, m, defsyms=mem.defsyms())


def unary_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        m = fam.next()
        kw = "%s " % SIZE_WORD[size] if (size != var_size or turn % 2) else ""
        return "%s %s[%s]" % (m, kw, name), "%s %s" % (m, frame_operand(mode, offset, size)), "frame", m
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


unary_frame.needs = ("proc", "arg", "local", "endp")


def incdec_reg(fam, mode):
    for size in MODE_SIZES[mode]:
        for reg in registers(mode, size):
            for m in ("inc", "dec"):
                odd = spl_rex_w(reg)
                yield Case(mode, "%s %s" % (m, reg), "%s %s" % (m, gas_reg(reg)), "reg", m,
                           policy="meaning" if odd else "bytes", opcode=0xFE if odd else None)


FAMILIES_GROUP_OPS = [
    Family("test", ("test",), "{m} eax,ebx", (test_reg_reg, test_reg_imm, test_mem, test_frame)),
    Family("shift", ("rol", "ror", "rcl", "rcr", "shl", "shr", "sal", "sar"), "{m} eax,1",
           (shift_reg, shift_mem, shift_frame)),
    Family("shld", ("shld", "shrd"), "{m} eax,ebx,1", (shld_forms, shld_frame)),
    Family("xchg", ("xchg",), "{m} eax,ebx", (xchg_forms, xchg_frame)),
    Family("movx", ("movsx", "movzx"), "{m} eax,bl", (movx_forms, movx_frame)),
    Family("unary", ("not", "neg", "mul", "imul", "div", "idiv"), "{m} eax", (unary_reg, unary_mem, unary_frame)),
    Family("incdec", ("inc", "dec"), "{m} eax", (incdec_reg, unary_mem, unary_frame)),
]


FAMILIES = [
    Family("alu", ("add", "or", "adc", "sbb", "and", "sub", "xor", "cmp"), "{m} eax,ebx",
           (alu_reg_reg, alu_reg_imm, alu_reg_mem, alu_mem_reg, alu_mem_imm, alu_quoted, alu_frame)),
    Family("mov", ("mov",), "{m} eax,ebx",
           (mov_reg_reg, mov_reg_imm, mov_reg_mem, mov_mem_reg, mov_moffs_forms, mov_mem_imm, mov_quoted,
            mov_segment, mov_control_debug, mov_frame)),
    Family("lea", ("lea",), "{m} eax,[ebx]", (lea_reg_mem,)),
    Family("bswap", ("bswap",), "{m} eax", (bswap_reg,)),
    Family("strings", ("movsd", "movsw", "stosd", "stosw", "lodsd", "lodsw"), "{m}", (string_ops,)),
    Family("struc members", ("struc",), "{m} X", (struc_members,)),
    Family("x87", tuple(X87), "{m} st1", (x87_st, x87_mem)),
] + FAMILIES_GROUP_OPS


def main():
    if len(sys.argv) != 2:
        print("usage: encode_forms.py path/to/qrn_asm")
        return 2
    require_tools("as", "ld", "objdump")
    tools = Tools(sys.argv[1])
    report = Report()
    try:
        check_operandless(tools, report)
        for fam in FAMILIES:
            pending = tools.pending([(32, fam.probe.format(m=m)) for m in fam.mnemonics]
                                    + [(32, k) for k in fam.needs()])
            fam.live = [m for m in fam.mnemonics if m not in pending]
            if not fam.live:
                report.pending(fam.name, ", ".join('"%s: not implemented"' % m for m in fam.mnemonics))
                continue
            cases = [c for c in fam.cases(pending) if c.mnemonic in fam.live]
            waiting = [m for m in fam.mnemonics if m in pending]
            waiting += ["%s forms (%s)" % (form.__name__, ", ".join(sorted(set(form.needs) & pending)))
                        for form in fam.forms if set(getattr(form, "needs", ())) & pending]
            results = run_cases(tools, cases)
            if fam.name == "x87" and shutil.which("llvm-mc"):
                results += [Result(Case(32, label, "", "llvm-mc", "x87"), ok, why)
                            for label, ok, why in check_llvm_mc(tools, fam)]
            report.section(fam.name, results, pending=waiting)
    finally:
        tools.close()
    return report.close()


if __name__ == "__main__":
    sys.exit(main())
