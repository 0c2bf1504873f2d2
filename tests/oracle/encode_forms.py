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
from oracle_lib import (Case, Report, Result, Tools, MODES, PAD, normal_text, require_tools,  # noqa: E402
                        run_cases)
from operand_pools import (ACCUMULATOR, GAS_PTR, GPR, GPR_X, IMM_SIGNED, IMM_UNSIGNED, LABEL, MODE_SIZES,  # noqa: E402
                           Mem, SIZE_WORD, compatible, gas_imm, gas_reg, imm_text, memory_shapes,
                           quoted, registers)
from struc_forms import struc_members  # noqa: E402
from branch_forms import (branch_far_direct, branch_far_memory, branch_memory,  # noqa: E402
                          branch_register, check_branch_targets)
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


# Data labels of every size at a fixed address after a batch: a [direct] or
# [base+index*scale+disp] operand that names one, without a keyword, takes
# the label's size.
SIZED_AT = 0x3000
SIZED_DATA = ((8, "db"), (16, "dw"), (32, "dd"), (64, "dq"), (80, "dt"))


def sized_label_setup():
    """(setup, defsyms): the qrn_asm lines that define v8 .. v80, and their addresses for GNU as."""
    lines, defsyms, at = ["org 0%Xh" % SIZED_AT], [], SIZED_AT
    for bits, directive in SIZED_DATA:
        lines.append("v%d %s 0" % (bits, directive))
        defsyms.append(("v%d" % bits, at))
        at += bits // 8
    return ((), tuple(lines)), tuple(defsyms)


def sized_label_shapes(mode, bits):
    """(qrn operand, GNU as operand) naming the label of `bits` bits."""
    v = "v%d" % bits
    complex_ = {16: ("bx+%s", "ebx+esi*2+%s"), 32: ("ebx+%s", "esi*4+%s"), 64: ("rbx+%s", "r9+rcx*2+%s")}[mode]
    out = [("[%s]" % v, "[rip+%s]" % v if mode == 64 else "[%s]" % v)]
    return out + [("[%s]" % (c % v), "[%s]" % (c % v)) for c in complex_]


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
    ("into", "CE", "into|into|!"), ("iret", "CF", "iret"), ("iretd", "CF", "iretd|iret|iret"),
    ("hlt", "F4", "hlt"), ("leave", "C9", "leave"),
    ("pushad", "60", "pushad|pusha|!"), ("pusha", "60", "pusha|pusha|!"),
    ("pushfd", "9C", "pushfd|pushf|!"), ("pushf", "9C", "pushf"),
    ("popad", "61", "popad|popa|!"), ("popa", "61", "popa|popa|!"),
    ("popfd", "9D", "popfd|popf|!"), ("popf", "9D", "popf"),
    ("rep", "F3", "repz"), ("repz", "F3", "repz"), ("repnz", "F2", "repnz"),
    ("movsb", "A4", "movs"), ("stosb", "AA", "stos"), ("lodsb", "AC", "lods"), ("scasb", "AE", "scas"),
    ("scasd", "AF", "scas"), ("nop", "90", "nop"), ("clc", "F8", "clc"), ("stc", "F9", "stc"),
    ("daa", "27", "daa|daa|!"), ("das", "2F", "das|das|!"),
    ("cbw", "98", "cbw"), ("cwde", "98", "cwde"),
    ("cdq", "99", "cdq"), ("cwd", "99", "cwd"),
    ("cld", "FC", "cld"), ("std", "FD", "std"), ("cmc", "F5", "cmc"),
    ("aaa", "37", "aaa|aaa|!"), ("aas", "3F", "aas|aas|!"),
    ("lahf", "9F", "lahf"), ("lock", "F0", "lock"), ("sahf", "9E", "sahf"),
    ("outsb", "6E", "outs"), ("outsd", "6F", "outs"), ("insb", "6C", "ins"), ("insd", "6D", "ins"),
    ("fwait", "9B", "fwait"), ("cli", "FA", "cli"), ("sti", "FB", "sti"), ("xlat", "D7", "xlat"),
    ("aad", "D5 0A", "aad|aad|!"), ("aam", "D4 0A", "aam|aam|!"),
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
    ("sysexit64", "48 0F 35", "!|!|sysexitq"), ("swapgs", "0F 01 F8", "!|!|swapgs"),
    ("mfence", "0F AE F0", "mfence"), ("vmcall", "0F 01 C1", "vmcall"), ("vmlaunch", "0F 01 C2", "vmlaunch"),
    ("vmresume", "0F 01 C3", "vmresume"), ("vmxoff", "0F 01 C4", "vmxoff"), ("monitor", "0F 01 C8", "monitor"),
    ("mwait", "0F 01 C9", "mwait"), ("vzeroall", "C5 FC 77", "vzeroall"), ("vzeroupper", "C5 F8 77", "vzeroupper"),
]
# How GNU as spells the mnemonics whose name or width it reads otherwise
# (None: GNU as has no spelling with these bytes), and the mode to try them in.
GAS_OPERANDLESS = {"reti": "ret", "sysexit64": ("sysexitq", 64), "swapgs": ("swapgs", 64)}
# The forms of the width that is not the mode's own take 66h ("!" in the
# names column: the mode has no such instruction and refuses it).
OTHER_WIDTH = {16: {"cwde", "cdq", "pushad", "popad", "pushfd", "popfd", "iretd", "scasd", "outsd", "insd"},
               32: {"cbw", "cwd"}, 64: {"cbw", "cwd"}}
MODE_MESSAGE = "Unknown encode for this mode (USE 64/32/16)"


def operandless_bytes(table, name, mode):
    return (b"\x66" if name in OTHER_WIDTH[mode] else b"") + table[name]


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
            want = operandless_bytes(table, name, mode)
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
        col = {16: 0, 32: 1, 64: 2}[mode]
        refused = {name for name, _, reads in OPERANDLESS if reads.split("|")[col % len(reads.split("|"))] == "!"}
        lines = [name for name, _, _ in OPERANDLESS if name not in refused]
        image, per_line, other = tools.qrn_run(mode, lines)
        expected = b"".join(operandless_bytes(table, n, mode) for n in lines)
        pieces = {}
        for name in sorted(refused):
            _, msgs, _ = tools.qrn_run(mode, [name])
            ok = msgs.get(0) == MODE_MESSAGE
            results.append(Result(Case(mode, name, "", "operand-less", name), ok,
                                  "" if ok else "expected \"%s\", got %s" % (MODE_MESSAGE, msgs.get(0))))
        if image is not None and image[PAD:] == expected:
            offset = PAD
            for n in lines:
                pieces[n] = image[offset:offset + len(operandless_bytes(table, n, mode))]
                offset += len(pieces[n])
        else:
            for n in lines:
                one, msgs, other = tools.qrn_run(mode, [n])
                pieces[n] = one[PAD:] if one is not None else None
                if one is None:
                    pieces[n] = "error: %s" % (msgs.get(0) or "; ".join(other))
        # objdump reads every line's bytes on its own (a prefix would join the next line).
        names = decode_each(tools, mode, {n: p for n, p in pieces.items() if isinstance(p, bytes)})
        for name, _, reads in OPERANDLESS:
            if name in refused:
                continue
            got = pieces[name]
            case = Case(mode, name, "", "operand-less", name)
            if not isinstance(got, bytes):
                results.append(Result(case, False, got))
                continue
            want_bytes = operandless_bytes(table, name, mode)
            if got != want_bytes:
                results.append(Result(case, False, "bytes %s, expected %s" % (got.hex(" "), want_bytes.hex(" "))))
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


def lea_frame(fam, mode):
    """An address has no size: any register width takes any frame variable."""
    def body(name, offset, var_size, size, turn):
        if size == 8:
            return None
        regs = registers(mode, size)
        reg = regs[turn % len(regs)]
        return ("lea %s,[%s]" % (reg, name), "lea %s, %s" % (gas_reg(reg), frame_operand(mode, offset)), "lea frame",
                "lea")
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


lea_frame.needs = ("proc", "arg", "local", "endp")


def bswap_reg(fam, mode):
    for reg in registers(mode, 32):
        yield Case(mode, "bswap %s" % reg, "bswap %s" % gas_reg(reg), "bswap reg", "bswap")


def string_ops(fam, mode):
    for m in ("movsd", "movsw", "stosd", "stosw", "lodsd", "lodsw"):
        yield Case(mode, m, m, "string", m)


# ---------------------------------------------------------------------------
# Limits of the encoding layer: the displacement field, the sign-extended
# imm32 of 64-bit operands, size keywords and CR/DR register widths. The
# boundary values must give GNU as's bytes; the values past them must be
# refused by both assemblers (never written as another instruction).

ALU_NAMES = ("add", "or", "adc", "sbb", "and", "sub", "xor", "cmp")


def limit_shapes(mode):
    """(qrn operand, GNU as operand, address bits) with {d} for the displacement."""
    if mode == 64:
        return [("[rbx+{d}]", "[rbx+{d}]", 64), ("[rsp+{d}]", "[rsp+{d}]", 64), ("[rax*4+{d}]", "[rax*4+{d}]", 64),
                ("[rbp+r9*2+{d}]", "[rbp+r9*2+{d}]", 64), ("[ebx+{d}]", "[ebx+{d}]", 32)]
    if mode == 32:
        return [("[ebx+{d}]", "[ebx+{d}]", 32), ("[esi*8+{d}]", "[esi*8+{d}]", 32),
                ("[esp+edi+{d}]", "[esp+edi+{d}]", 32)]
    return [("[ebx+{d}]", "[ebx+{d}]", 32), ("[ecx+edx*2+{d}]", "[ecx+edx*2+{d}]", 32)]


def limit_displacements(bits):
    """Accepted and refused displacements of an address width."""
    if bits == 64:
        return [0x7FFFFFFF, -0x80000000, -1, 0x7FFFFF80], [0x80000000, 0xFFFFFFFF, -0x80000001, 0x100000000]
    # GNU as wraps -80000001h in 32-bit addressing where qrn_asm refuses it (table cases)
    return [0x7FFFFFFF, -0x80000000, 0xFFFFFFFF, 0x80000000], []


def disp_text(v, gas):
    if gas:
        return ("-" if v < 0 else "") + "0x%x" % abs(v)
    return ("-" if v < 0 else "") + "0%Xh" % abs(v) if abs(v) > 255 else str(v)


def limit_forms(fam, mode):
    size = 64 if mode == 64 else 32
    reg = {64: "rcx", 32: "ecx"}[size]
    for q, g, bits in limit_shapes(mode):
        for v in limit_displacements(bits)[0]:
            qo, go = q.format(d=disp_text(v, False)).replace("+-", "-"), g.format(d=disp_text(v, True)).replace("+-", "-")
            m = fam.next(ALU_NAMES)
            # objdump reads FFFFFFFFh in 32-bit addressing as -1; GNU as writes the same field
            yield Case(mode, "%s %s,%s" % (m, reg, qo), "%s %s, %s" % (m, reg, go), "disp limit", m)
    if mode == 64:
        for v in (0x7FFFFFFF, -0x80000000, -1, -8):
            m = fam.next(ALU_NAMES)
            yield Case(64, "%s rdx,%s" % (m, imm_text(v)), "%s rdx, %s" % (m, gas_imm(v)), "imm64 limit", m,
                       policy="meaning")
            yield Case(64, "mov qword [rsi],%s" % imm_text(v), "mov QWORD PTR [rsi], %s" % gas_imm(v),
                       "imm64 limit", "mov")
        for special, r in (("cr8", "rax"), ("cr0", "r13"), ("dr7", "rdx")):
            yield Case(64, "mov %s,%s" % (special, r), "mov %s, %s" % (special, r), "cr/dr width", "mov")


def limit_refusals(mode):
    """(qrn line, GNU as line) pairs that both assemblers must refuse."""
    size = 64 if mode == 64 else 32
    reg = {64: "rcx", 32: "ecx"}[size]
    out = []
    for q, g, bits in limit_shapes(mode):
        for v in limit_displacements(bits)[1]:
            qo, go = q.format(d=disp_text(v, False)).replace("+-", "-"), g.format(d=disp_text(v, True)).replace("+-", "-")
            out.append(("mov %s,%s" % (reg, qo), "mov %s, %s" % (reg, go)))
    if mode == 64:
        for i, v in enumerate((0x80000000, 0xFFFFFFFF, -0x80000001, 0x100000000)):
            m = ALU_NAMES[i * 3 % 8]
            out.append(("%s rbx,%s" % (m, imm_text(v)), "%s rbx, %s" % (m, gas_imm(v))))
            out.append(("%s qword [rdi+8],%s" % (m, imm_text(v)), "%s QWORD PTR [rdi+8], %s" % (m, gas_imm(v))))
            out.append(("mov qword [rdi],%s" % imm_text(v), "mov QWORD PTR [rdi], %s" % gas_imm(v)))
        for special, r in (("cr8", "eax"), ("cr2", "r14d"), ("dr7", "ebx")):
            out.append(("mov %s,%s" % (special, r), "mov %s, %s" % (special, r)))
            out.append(("mov %s,%s" % (r, special), "mov %s, %s" % (r, special)))
    regs = {16: ("cx", "ecx", "dl"), 32: ("di", "edi", "al"), 64: ("si", "rsi", "r8d")}[mode]
    mem = {16: "[bx+si]", 32: "[ebp]", 64: "[rbp+8]"}[mode]
    for i, r in enumerate(regs):
        other = (8, 16, 32, 64)[(i + 2) % (4 if mode == 64 else 3)]
        if other == {"c": 16, "d": 16, "s": 16, "e": 32, "r": 64, "a": 8}.get(r[0] if r != "dl" else "a", 0):
            continue
        m = ALU_NAMES[i]
        out.append(("%s %s %s,%s" % (m, SIZE_WORD[other], mem, r), "%s %s %s, %s" % (m, GAS_PTR[other], mem, r)))
        out.append(("mov %s,%s %s" % (r, SIZE_WORD[other], mem), "mov %s, %s %s" % (r, GAS_PTR[other], mem)))
    return out


def size_refusals(mode):
    """(qrn line, GNU as line): a byte immediate that a byte can not hold, and
    `qword` (outside 64-bit code) or `tbyte` beside a general register."""
    r = {16: ("cx", "ecx"), 32: ("dx", "esi"), 64: ("r9w", "r10d")}[mode]
    out = [("shl %s,256" % r[1], "shl %s, 256" % gas_reg(r[1])),
           ("rcr %s,-129" % r[0], "rcr %s, -129" % gas_reg(r[0])),
           ("bt %s,300" % r[1], "bt %s, 300" % gas_reg(r[1])),
           ("bts word [ebx],256", "bts WORD PTR [ebx], 256"),
           ("shld %s,%s,257" % (r[1], r[1]), "shld %s, %s, 257" % ((gas_reg(r[1]),) * 2)),
           ("pshufd xmm0,xmm1,300", "pshufd xmm0, xmm1, 300"),
           ("pshufd xmm2,[ebx],-129", "pshufd xmm2, [ebx], -129"),
           ("psrldq xmm1,256", "psrldq xmm1, 256"),
           ("pextrd eax,xmm1,1000", "pextrd eax, xmm1, 1000")]
    wide = ["tbyte"] if mode == 64 else ["qword", "tbyte"]
    for i, kw in enumerate(wide):
        g = {"qword": "QWORD PTR", "tbyte": "TBYTE PTR"}[kw]
        out += [("xor %s [ebx],%s" % (kw, r[1]), "xor %s [ebx], %s" % (g, gas_reg(r[1]))),
                ("mov %s,%s [ebx+4]" % (r[1], kw), "mov %s, %s [ebx+4]" % (gas_reg(r[1]), g)),
                ("mov %s [%s],%s" % (kw, ("bx", "ebx", "rbx")[mode // 32], r[0]),
                 "mov %s [%s], %s" % (g, ("bx", "ebx", "rbx")[mode // 32], gas_reg(r[0]))),
                ("test %s [esi],%s" % (kw, r[1]), "test %s [esi], %s" % (g, gas_reg(r[1]))),
                ("cmovz %s,%s [esi]" % (r[1], kw), "cmovz %s, %s [esi]" % (gas_reg(r[1]), g)),
                ("shld %s [edi],%s,3" % (kw, r[1]), "shld %s [edi], %s, 3" % (g, gas_reg(r[1])))]
    return out


def check_refusals(tools, report):
    """Lines that GNU as refuses must be refused by qrn_asm too."""
    results = []
    for mode in (16, 32, 64):
        pairs = limit_refusals(mode) + size_refusals(mode)
        gas_lines = [g for _, g in pairs]
        _, gas_errors = tools.gas_run(mode, gas_lines)
        for i, (q, g) in enumerate(pairs):
            # one run each: an error of pass 1 ends a run before the checks of pass 2
            _, per_line, _ = tools.qrn_run(mode, [q])
            case = Case(mode, q, g, "refused", q.split()[0])
            if i not in gas_errors:
                results.append(Result(case, False, "generator fault: GNU as accepts the line"))
            elif 0 not in per_line:
                results.append(Result(case, False, "qrn_asm writes it; GNU as: %s" % gas_errors[i]))
            else:
                results.append(Result(case, True))
    report.section("refusals", results)


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

SHIFT_COUNTS = ["1", "cl", "0", "2", "7", "31", "63", "255", "-1", "-128"]


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
    counts = ["cl", "1", "4", "31", "255", "-128"]
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
        kw = "%s " % SIZE_WORD[size] if (size != var_size or turn % 4 >= 2) else ""
        return ("%s %s[%s],%s,%s" % (m, kw, name, reg, c),
                "%s %s, %s, %s" % (m, frame_operand(mode, offset, size), gas_reg(reg), c), "frame,reg", m)
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


shld_frame.needs = ("proc", "arg", "local", "endp")


# ---------------------------------------------------------------------------
# PUSH and POP; RET, RETN, INT, ENTER, LOOP, IRETQ

STACK_WIDTH = {16: 16, 32: 32, 64: 64}
STACK_SIZES = {16: (16, 32), 32: (16, 32), 64: (16, 64)}
SEGMENTS = ("es", "cs", "ss", "ds", "fs", "gs")


def stack_reg(fam, mode):
    for size in STACK_SIZES[mode]:
        for reg in registers(mode, size):
            for m in ("push", "pop"):
                yield Case(mode, "%s %s" % (m, reg), "%s %s" % (m, gas_reg(reg)), "reg", m)


def stack_imm(fam, mode):
    values = [0, 5, -1, -128, 127, -129, 128, 32767, 0x1234]
    if mode == 16:
        values += [32768, 0xFFFF, -32768]
    else:
        values += [32768, 0x7FFFFFFF, -0x80000000, 0x12345678]
    for v in values:
        gas = "push %s" % gas_imm(v)
        if mode == 16 and v == 0xFFFF:
            # the value is kept whole here; GNU as shortens it to 6A FF
            yield Case(mode, "push %s" % imm_text(v), gas, "imm", "push", policy="meaning", opcode=0x68, longer=1)
            continue
        yield Case(mode, "push %s" % imm_text(v), gas, "imm", "push")
    for text in (("ab", "a") if mode == 16 else ("ab", "abcd", "a")):
        q, v = quoted(text)
        yield Case(mode, "push %s" % q, "push %s" % gas_imm(v), "quoted", "push")


def stack_segment(fam, mode):
    for sreg in SEGMENTS:
        if mode == 64 and sreg not in ("fs", "gs"):
            continue
        yield Case(mode, "push %s" % sreg, "push %s" % sreg, "sreg", "push")
        if sreg != "cs":
            yield Case(mode, "pop %s" % sreg, "pop %s" % sreg, "sreg", "pop")


def stack_extended(mem):
    """A 64-bit push or pop of a complex address with r8-r15 takes REX.W too
    (and pop [r8]..[r15]); GNU as writes it when told to."""
    if mem.mode != 64:
        return False
    ext = any(r in GPR_X[64] or r in GPR_X[32] for r in mem.regs())
    return ext and (mem.kind == "complex" or mem.kind == "register")


def stack_mem(fam, mode):
    for i, mem in enumerate(memory_shapes(mode)):
        for size in STACK_SIZES[mode]:
            m = ("push", "pop")[(i + size) % 2]
            kw = size if (size != STACK_WIDTH[mode] or mem.needs_size or i % 2) else None
            prefix = ""
            if size == 64 and stack_extended(mem) and not (mem.kind == "register" and m == "push"):
                prefix = "rex.W "
            yield Case(mode, "%s %s" % (m, mem.qrn(kw)), "%s%s%s %s" % (disp8(mem), prefix, m, mem.gas(size)),
                       "[%s]" % mem.kind, m, defsyms=mem.defsyms())


def stack_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        if size not in STACK_SIZES[mode]:
            return None
        m = ("push", "pop")[turn % 2]
        kw = "%s " % SIZE_WORD[size] if size != STACK_WIDTH[mode] else ""
        return ("%s %s[%s]" % (m, kw, name), "%s %s" % (m, frame_operand(mode, offset, size)), "frame", m)
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


stack_frame.needs = ("proc", "arg", "local", "endp")


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
            if s <= d:  # movzx ax,cx is 0F B7 with 66h
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


# ---------------------------------------------------------------------------
# Bit tests and scans, CMOVcc, SETcc, XADD/CMPXCHG, IN/OUT

CONDITIONS = ("o", "no", "c", "b", "nae", "nc", "ae", "nb", "z", "e", "nz", "ne", "be", "na", "a", "nbe", "s",
              "ns", "pe", "p", "np", "po", "l", "nge", "ge", "nl", "le", "ng", "g", "nle")
BIT_OFFSETS = (0, 1, 3, 7, 15, 16, 31, 32, 63, 127, 128, 200, 255, -1, -128)


def wide_sizes(mode):
    return [s for s in MODE_SIZES[mode] if s != 8]


def bt_reg_reg(fam, mode):
    for size in wide_sizes(mode):
        for r1, r2 in reg_pairs(mode, size):
            m = fam.next()
            yield Case(mode, "%s %s,%s" % (m, r1, r2), "%s %s, %s" % (m, gas_reg(r1), gas_reg(r2)), "reg,reg", m)


def bt_reg_imm(fam, mode):
    for size in wide_sizes(mode):
        for i, reg in enumerate(registers(mode, size)):
            v = BIT_OFFSETS[i % len(BIT_OFFSETS)]
            m = fam.next()
            yield Case(mode, "%s %s,%d" % (m, reg, v), "%s %s, %d" % (m, gas_reg(reg), v), "reg,imm", m)


def bt_mem(fam, mode):
    for i, mem, size in sized_shapes(mode):
        if size == 8:
            continue
        m = fam.next()
        if i % 2:
            v = BIT_OFFSETS[i % len(BIT_OFFSETS)]
            yield Case(mode, "%s %s,%d" % (m, mem.qrn(size), v), "%s%s %s, %d" % (disp8(mem), m, mem.gas(size), v),
                       "[%s],imm" % mem.kind, m, defsyms=mem.defsyms())
            continue
        reg = partner(registers(mode, size), i, mem)
        yield Case(mode, "%s %s,%s" % (m, mem.qrn(mem_keyword(mem, size, i)), reg),
                   "%s%s %s, %s" % (disp8(mem), m, mem.gas(size), gas_reg(reg)), "[%s],reg" % mem.kind, m,
                   defsyms=mem.defsyms())


def bt_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        if size == 8:
            return None
        m = fam.next()
        if turn % 2:
            v = BIT_OFFSETS[turn % len(BIT_OFFSETS)]
            return ("%s %s [%s],%d" % (m, SIZE_WORD[size], name, v),
                    "%s %s, %d" % (m, frame_operand(mode, offset, size), v), "frame,imm", m)
        reg = registers(mode, size)[turn % 8]
        kw = "%s " % SIZE_WORD[size] if (size != var_size or turn % 4 == 2) else ""
        return ("%s %s[%s],%s" % (m, kw, name, reg), "%s %s, %s" % (m, frame_operand(mode, offset, size), gas_reg(reg)),
                "frame,reg", m)
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


bt_frame.needs = ("proc", "arg", "local", "endp")


def reg_rm_reg(fam, mode):
    """bsf, bsr and CMOVcc: reg, reg with the destination in ModRM.reg."""
    for size in wide_sizes(mode):
        for r1, r2 in reg_pairs(mode, size):
            m = fam.next()
            yield Case(mode, "%s %s,%s" % (m, r1, r2), "%s %s, %s" % (m, gas_reg(r1), gas_reg(r2)), "reg,reg", m)


def reg_rm_mem(fam, mode):
    for i, mem, size in sized_shapes(mode):
        if size == 8:
            continue
        reg = partner(registers(mode, size), i, mem)
        m = fam.next()
        yield Case(mode, "%s %s,%s" % (m, reg, mem.qrn(mem_keyword(mem, size, i))),
                   "%s%s %s, %s" % (disp8(mem), m, gas_reg(reg), mem.gas(size)), "reg,[%s]" % mem.kind, m,
                   defsyms=mem.defsyms())


def reg_rm_labels(fam, mode):
    """A label of the register's size without a keyword (other sizes: table cases)."""
    setup, defsyms = sized_label_setup()
    for size in wide_sizes(mode):
        regs = registers(mode, size)
        for k, (q, g) in enumerate(sized_label_shapes(mode, size)):
            m, reg = fam.next(), regs[(fam.turn * 3 + k) % len(regs)]
            yield Case(mode, "%s %s,%s" % (m, reg, q), "%s %s, %s" % (m, gas_reg(reg), g), "reg,label", m,
                       defsyms=defsyms, setup=setup)


def reg_rm_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        if size == 8:
            return None
        m = fam.next()
        reg = registers(mode, size)[(turn * 3) % 8]
        return ("%s %s,[%s]" % (m, reg, name), "%s %s, %s" % (m, gas_reg(reg), frame_operand(mode, offset, size)),
                "reg,frame", m)
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


reg_rm_frame.needs = ("proc", "arg", "local", "endp")


def setcc_forms(fam, mode):
    for reg in registers(mode, 8):
        m = fam.next()
        yield Case(mode, "%s %s" % (m, reg), "%s %s" % (m, gas_reg(reg)), "reg", m)
    for i, mem in enumerate(memory_shapes(mode)):
        m = fam.next()
        kw = 8 if (mem.needs_size or i % 3 == 0) else None
        yield Case(mode, "%s %s" % (m, mem.qrn(kw)), "%s%s %s" % (disp8(mem), m, mem.gas(8)),
                   "[%s]" % mem.kind, m, defsyms=mem.defsyms())


def setcc_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        if size != 8:
            return None
        m = fam.next()
        return ("%s byte [%s]" % (m, name), "%s %s" % (m, frame_operand(mode, offset, 8)), "frame", m)
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


setcc_frame.needs = ("proc", "arg", "local", "endp")


def xadd_reg_reg(fam, mode):
    for size in MODE_SIZES[mode]:
        for r1, r2 in reg_pairs(mode, size):
            m = fam.next()
            yield Case(mode, "%s %s,%s" % (m, r1, r2), "%s %s, %s" % (m, gas_reg(r1), gas_reg(r2)), "reg,reg", m)


def xadd_mem_reg(fam, mode):
    for i, mem, size in sized_shapes(mode):
        reg = partner(registers(mode, size), i + 1, mem)
        if reg is None:
            continue
        m = fam.next()
        lock = "lock " if i % 5 == 0 else ""
        yield Case(mode, "%s%s %s,%s" % (lock, m, mem.qrn(mem_keyword(mem, size, i)), reg),
                   "%s%s%s %s, %s" % (disp8(mem), lock, m, mem.gas(size), gas_reg(reg)), "[%s],reg" % mem.kind, m,
                   policy="meaning" if lock else "bytes",  # lock comes before 66h/67h here
                   defsyms=mem.defsyms())


def xadd_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        m = fam.next()
        reg = registers(mode, size)[(turn * 5) % 8]
        if not compatible(reg):
            reg = registers(mode, size)[0]
        kw = "%s " % SIZE_WORD[size] if (size != var_size or turn % 2) else ""
        return ("%s %s[%s],%s" % (m, kw, name, reg), "%s %s, %s" % (m, frame_operand(mode, offset, size), gas_reg(reg)),
                "frame,reg", m)
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


xadd_frame.needs = ("proc", "arg", "local", "endp")


def io_forms(fam, mode):
    ports = (0, 1, 0x60, 0x80, 0x7F, 0xFF)
    for k, acc in enumerate(("al", "ax", "eax")):
        for port in ("dx",) + ports[k::2]:
            p = port if port == "dx" else "%d" % port
            gp = port if port == "dx" else "0x%x" % port
            yield Case(mode, "in %s,[%s]" % (acc, p), "in %s, %s" % (acc, gp), "in", "in")
            yield Case(mode, "out [%s],%s" % (p, acc), "out %s, %s" % (gp, acc), "out", "out")
    # the port register's size is not checked
    yield Case(mode, "in al,[edx]", "in al, dx", "in", "in")

# ---------------------------------------------------------------------------
# System instructions: 0F /digit forms, descriptor tables, arpl, bound,
# clflush, invlpg and the segment loads. GNU as's lines are read by llvm-mc
# too (check_system_llvm_mc): both oracles must give the same bytes.

# mnemonic: (GNU as size of the memory operand, or None)
SYSTEM_MEMORY = {"ltr": 16, "str": 16, "stmxcsr": 32, "vmxon": 64, "vmptrld": 64, "vmptrst": 64, "vmclear": 64,
                 "sidt": None, "lidt": None, "lgdt": None, "sgdt": None, "clflush": 8, "invlpg": 8}
FAR_LOADS = ("lds", "les", "lfs", "lgs", "lss")


def system_memory(fam, mode):
    for i, mem in enumerate(memory_shapes(mode)):
        for k in range(2):
            m = fam.next(SYSTEM_MEMORY)
            yield Case(mode, "%s %s" % (m, mem.qrn()), "%s%s %s" % (disp8(mem), m, mem.gas(SYSTEM_MEMORY[m])),
                       "[%s]" % mem.kind, m, defsyms=mem.defsyms())


def system_registers(fam, mode):
    for reg in registers(mode, 16):
        # str with a register writes no 66h: GNU as writes that for the 32-bit register
        wide = {16: reg, 32: "e" + reg, 64: reg[:-1] + "d" if reg.startswith("r") else "e" + reg}[mode]
        yield Case(mode, "ltr %s" % reg, "ltr %s" % reg, "reg", "ltr")
        yield Case(mode, "str %s" % reg, "str %s" % wide, "reg", "str")


def system_equates(fam, mode):
    """An equate between the brackets of a descriptor-table instruction is an address."""
    for m in ("sidt", "lidt", "lgdt", "sgdt"):
        mem = Mem(mode, None, direct=0x1000)
        yield Case(mode, "%s [table_at]" % m, "%s %s" % (m, mem.gas()), "[equate]", m, defsyms=mem.defsyms(),
                   setup=(("table_at equ 1000h",), ()))


def system_frame(fam, mode):
    def body(name, offset, var_size, size, turn):
        if size != 16:
            return None
        m = fam.next(SYSTEM_MEMORY)
        return ("%s [%s]" % (m, name), "%s %s" % (m, frame_operand(mode, offset, SYSTEM_MEMORY[m])), "frame", m)
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


system_frame.needs = ("proc", "arg", "local", "endp")


def arpl_bound(fam, mode):
    if mode == 64:
        return
    for r1, r2 in reg_pairs(mode, 16):
        yield Case(mode, "arpl %s,%s" % (r1, r2), "arpl %s, %s" % (r1, r2), "arpl reg,reg", "arpl")
    for i, mem in enumerate(memory_shapes(mode)):
        reg = GPR[16][i % 8]
        # datum is no word: ARPL takes it through the keyword
        word = 16 if mem.label else None
        yield Case(mode, "arpl %s,%s" % (mem.qrn(word), reg), "%sarpl %s, %s" % (disp8(mem), mem.gas(16), reg),
                   "arpl [%s],reg" % mem.kind, "arpl", defsyms=mem.defsyms())
        size = (16, 32)[i % 2]
        reg = GPR[size][(i * 3) % 8]
        yield Case(mode, "bound %s,%s" % (reg, mem.qrn()), "%sbound %s, %s" % (disp8(mem), reg, mem.gas(2 * size)),
                   "bound reg,[%s]" % mem.kind, "bound", defsyms=mem.defsyms())


def far_loads(fam, mode):
    shapes = [mem for mem in memory_shapes(mode) if mem.kind == "direct"]
    for m in FAR_LOADS:
        if mode == 64 and m in ("lds", "les"):
            continue
        for i, mem in enumerate(shapes):
            for size in (16, 32):
                reg = registers(mode, size)[(i * 3 + size) % len(registers(mode, size))]
                yield Case(mode, "%s %s,%s" % (m, reg, mem.qrn()), "%s %s, %s" % (m, gas_reg(reg), mem.gas()),
                           "reg,[direct]", m, defsyms=mem.defsyms())
            if mode == 64 and m not in ("lds", "les"):
                # GNU as takes a 64-bit register here only with -mintel64: REX.W spelled out
                yield Case(mode, "%s rcx,%s" % (m, mem.qrn()), "rex.w %s ecx, %s" % (m, mem.gas()),
                           "reg64,[direct]", m, defsyms=mem.defsyms())


def llvm_mc_encodings(mode, lines):
    """llvm-mc's bytes for each line, or None when it refuses the batch."""
    src = "\n".join([".intel_syntax noprefix", MODES[mode]["code"]] + lines) + "\n"
    triple = "x86_64" if mode == 64 else "i386"
    p = subprocess.run(["llvm-mc", "-triple=" + triple, "-show-encoding"], input=src, capture_output=True,
                       text=True)
    if p.returncode != 0:
        return None
    out = []
    for line in p.stdout.splitlines():
        m = re.search(r"encoding: \[([^\]]*)\]", line)
        if m:
            out.append(bytes(int(x, 16) for x in m.group(1).split(",")))
    return out if len(out) == len(lines) else None


def check_system_llvm_mc(tools, report):
    """The second oracle: llvm-mc reads every GNU as line of the system forms
    that needs no symbol and gives the same bytes as GNU as."""
    if shutil.which("llvm-mc") is None:
        report.pending("system llvm-mc", "llvm-mc is not installed")
        return
    results = []
    for mode in (16, 32, 64):
        cases = [c for fam in SYSTEM_FAMILIES for form in fam.forms if not getattr(form, "needs", ())
                 for c in form(fam, mode)
                 if LABEL not in c.gas and not c.defsyms and not c.setup[0] and "{" not in c.gas
                 and "rex." not in c.gas]
        lines = [c.gas for c in cases]
        image, errors = tools.gas_run(mode, lines)
        gas = [i.data for i in tools.decode(mode, image)] if image is not None else []
        # llvm-mc takes bound's memory operand without a size word
        llvm = llvm_mc_encodings(mode, [re.sub(r"^bound (\w+), \w+ PTR", r"bound \1,", x) for x in lines])
        if llvm is None or len(gas) != len(lines):
            for c in cases:
                results.append(Result(c, False, "llvm-mc or GNU as refuses the batch"))
            continue
        for c, g, l in zip(cases, gas, llvm):
            results.append(Result(c, g == l, "" if g == l else "GNU as %s, llvm-mc %s" % (g.hex(" "), l.hex(" "))))
    report.section("system/llvm", results)


# ---------------------------------------------------------------------------
# SSE families, CRC32/POPCNT, MOVQ, MOVD, MOVBE: the mnemonics and their bytes
# come from the keyword list. Operands that the published forms give as MMX
# or general registers are written as the XMM register of that number.

SSE_HANDLERS = ("Sse", "Sse_Imm8", "Sse_Extract", "Crc32_Popcnt")
GAS_SSE_NAME = {"cvtdq2pq": "cvtdq2pd", "ddps": "dpps", "ddpd": "dppd", "pextrw1": "pextrw"}
NONE = 0xFFFFFFFF


def sse_rows(handler):
    """(mnemonic, (prefix, escape, opcode, third)) of every keyword record of a handler, in order."""
    rows = []
    with open(KEYWORD_LIST, encoding="utf-8") as f:
        for line in f:
            m = re.match(r'^\s*\{"([^"]+)",\s*Kw_\w+,\s*Kh::(\w+),\s*\{([^}]*)\}\},', line)
            if m and m.group(2) == handler:
                vals = [NONE if x.strip() == "Payload_None" else int(x.strip(), 0) for x in m.group(3).split(",")]
                rows.append((m.group(1), tuple(vals)))
    return rows


def sse_places(fields):
    """What the destination and the source register places hold: x(mm), m(mx) or g(eneral)."""
    prefix, _, opcode, third = fields
    if opcode == 0x3A and third in (0x20, 0x22):
        return "x", "g"
    if third != NONE:
        return "x", "x"
    return {0x2D: ("m", "x"), 0x2A: ("x", "m"), 0xD7: ("g", "x"), 0xC4: ("x", "g")}.get(
        opcode, ("m", "m") if (opcode == 0x70 and prefix == NONE) else ("x", "x"))


def gpr32(n):
    return GPR[32][n] if n < 8 else "r%dd" % n


def place_gas(place, n):
    return {"x": "xmm%d", "m": "mm%d"}[place] % n if place != "g" else gpr32(n)


def sse_numbers(mode, place):
    return range(8) if (mode != 64 or place == "m") else range(16)


def rex_regs(mem):
    """An address register of the shape needs REX (r8-r15)."""
    return any(gas_reg(r) in GPR_X[64] or gas_reg(r) in GPR_X[32] for r in mem.regs())


def sse_mem_shapes(mode):
    """Every memory shape (address widths, label and direct forms) with a turn number."""
    return list(enumerate(memory_shapes(mode)))


def sse_reg_mem(fam, mode, rows, imm=False):
    """Register and memory forms of the two-operand and the imm8 families."""
    table = dict(rows)
    k = 0
    for m in fam.mnemonics:
        dest, src = sse_places(table[m])
        gas_m = GAS_SSE_NAME.get(m, m)
        dn, sn = list(sse_numbers(mode, dest)), list(sse_numbers(mode, src))
        # W with any REX: the meaning is the same, the bytes are not (but for
        # pinsrd/pcmpestrm/pcmpestri, which never take W)
        w_free = imm and table[m][2] == 0x3A and table[m][3] in (0x22, 0x60, 0x61)
        for i in range(4 if mode == 64 else 3):
            k += 1
            a, b = dn[(k * 3 + i) % len(dn)], sn[(k * 5 + 2 * i + 1) % len(sn)]
            if m == "pmovmskb" and (a > 7 or b > 7):
                continue  # W reads as a 64-bit destination; a table case holds the bytes
            v = (k * 37) & 0xFF
            v = v - 256 if k % 5 == 0 and v > 127 else v  # a byte may be written as -128..-1
            tail = (",%s" % imm_text(v), ", %d" % v) if imm else ("", "")
            policy = "meaning" if (a > 7 or b > 7) and not w_free else "bytes"
            qa = "xmm%d" % a
            qb = "xmm%d" % b if (src != "g" or i % 2) else gpr32(b)
            yield Case(mode, "%s %s,%s%s" % (m, qa, qb, tail[0]),
                       "%s %s, %s%s" % (gas_m, place_gas(dest, a), place_gas(src, b), tail[1]), "reg,reg", m,
                       policy=policy)
    live = [m for m in fam.mnemonics if m != "pmovmskb"]  # no memory form
    for i, mem in sse_mem_shapes(mode):
        m = live[(i + mode) % len(live)]
        dest, _ = sse_places(table[m])
        dn = list(sse_numbers(mode, dest))
        a = dn[(i * 7) % len(dn)]
        if not compatible(*mem.regs()):
            continue
        v = (i * 29 + 3) & 0xFF
        tail = (",%s" % imm_text(v), ", %d" % v) if imm else ("", "")
        w_free = imm and table[m][2] == 0x3A and table[m][3] in (0x22, 0x60, 0x61)
        rex = mode == 64 and (a > 7 or rex_regs(mem))
        policy = "meaning" if imm and rex and not w_free else "bytes"
        yield Case(mode, "%s xmm%d,%s%s" % (m, a, mem.qrn(None), tail[0]),
                   "%s%s %s, %s%s" % (disp8(mem), GAS_SSE_NAME.get(m, m), place_gas(dest, a), mem.gas(None), tail[1]),
                   "reg,[%s]" % mem.kind, m, policy=policy, defsyms=mem.defsyms())


def sse_two(fam, mode):
    yield from sse_reg_mem(fam, mode, sse_rows("Sse"))


def sse_imm8(fam, mode):
    yield from sse_reg_mem(fam, mode, sse_rows("Sse_Imm8"), imm=True)


def sse_shift_pextrw1(fam, mode):
    n = 16 if mode == 64 else 8
    for k in range(n):
        v = (k * 19 + 1) & 0xFF
        for m, digit in (("psrldq", 3), ("pslldq", 7)):
            yield Case(mode, "%s xmm%d,%s" % (m, k, imm_text(v)), "%s xmm%d, %d" % (m, k, v), "xmm,imm", m)
        yield Case(mode, "pextrw1 %s,xmm%d,%s" % (gpr32(k), (k * 3) % n, imm_text(v)),
                   "pextrw %s, xmm%d, %d" % (gpr32(k), (k * 3) % n, v), "r32,xmm,imm", "pextrw1")


def sse_extract(fam, mode):
    n = 16 if mode == 64 else 8
    k = 0
    for m in fam.mnemonics:
        for i in range(n):
            k += 1
            x, v = (i * 5 + k) % n, (k * 41) & 0xFF
            policy, opcode = ("meaning", 0x0F3A) if m == "pextrw" else ("bytes", None)
            yield Case(mode, "%s %s,xmm%d,%s" % (m, gpr32(i), x, imm_text(v)),
                       "%s %s, xmm%d, %d" % (m, gpr32(i), x, v), "r32,xmm", m, policy=policy, opcode=opcode)
            if mode == 64 and i % 4 == 1:
                r64 = registers(64, 64)[i]
                gas = ("pextrq %s" if m == "pextrd" else m + " %s") % gas_reg(r64)
                yield Case(mode, "%s %s,xmm%d,%s" % (m, r64, x, imm_text(v)), "%s, xmm%d, %d" % (gas, x, v),
                           "r64,xmm", m, policy=policy, opcode=opcode)
    for i, mem in sse_mem_shapes(mode):
        m = fam.next()
        x, v = (i * 3) % n, (i * 23 + 7) & 0xFF
        q = mode == 64 and m == "pextrd" and i % 3 == 0
        yield Case(mode, "%s %s%s,xmm%d,%s" % (m, "qword " if q else "", mem.qrn(None), x, imm_text(v)),
                   "%s%s %s%s, xmm%d, %d" % (disp8(mem), "pextrq" if q else m, "QWORD PTR " if q else "",
                                             mem.gas(None), x, v), "[%s],xmm" % mem.kind, m, defsyms=mem.defsyms())


CRC_SIZES = {"crc32": ((32, 8), (32, 16), (32, 32), (64, 8), (64, 64)), "popcnt": ((16, 16), (32, 32), (64, 64))}


def crc32_popcnt(fam, mode):
    for m in fam.mnemonics:
        for dest, src in CRC_SIZES[m]:
            if dest == 64 and mode != 64:
                continue
            ds, ss = registers(mode, dest), registers(mode, src)
            for i, a in enumerate(ds):
                b = ss[(i * 3 + 1) % len(ss)]
                if compatible(a, b):
                    yield Case(mode, "%s %s,%s" % (m, a, b), "%s %s, %s" % (m, gas_reg(a), gas_reg(b)),
                               "r%d,r%d" % (dest, src), m)
    for i, mem in sse_mem_shapes(mode):
        m = fam.next()
        pairs = [p for p in CRC_SIZES[m] if p[0] != 64 or mode == 64]
        dest, src = pairs[i % len(pairs)]
        a = registers(mode, dest)[(i * 5) % len(registers(mode, dest))]
        if not compatible(a, *mem.regs()):
            continue
        kw = src if (mem.needs_size or i % 3 == 0 or (m == "crc32" and src < 32)) else None
        yield Case(mode, "%s %s,%s" % (m, a, mem.qrn(kw)),
                   "%s%s %s, %s" % (disp8(mem), m, gas_reg(a), mem.gas(src)), "r%d,[%s]" % (dest, mem.kind), m,
                   defsyms=mem.defsyms())


def crc32_popcnt_labels(fam, mode):
    """A label's size is the source size (crc32 r32 also reads 8 and 16 bits)."""
    setup, defsyms = sized_label_setup()
    for m in fam.mnemonics:
        for dest, src in CRC_SIZES[m]:
            if dest == 64 and mode != 64:
                continue
            regs = registers(mode, dest)
            for k, (q, g) in enumerate(sized_label_shapes(mode, src)):
                reg = regs[(dest + src + k * 5) % len(regs)]
                yield Case(mode, "%s %s,%s" % (m, reg, q), "%s %s, %s %s" % (m, gas_reg(reg), GAS_PTR[src], g),
                           "r%d,label%d" % (dest, src), m, defsyms=defsyms, setup=setup)


def movq_forms(fam, mode):
    n = 16 if mode == 64 else 8
    for i in range(n):
        a, b = i, (i * 5 + 3) % n
        w = "meaning" if (a > 7 or b > 7) else "bytes"
        yield Case(mode, "movq xmm%d,xmm%d" % (a, b), "movq xmm%d, xmm%d" % (a, b), "xmm,xmm", "movq", policy=w)
        yield Case(mode, "movq mm%d,mm%d" % (a % 8, b % 8), "movq mm%d, mm%d" % (a % 8, b % 8), "mm,mm", "movq")
        yield Case(mode, "movq xmm%d,mm%d" % (a, b % 8), "movq2dq xmm%d, mm%d" % (a, b % 8), "xmm,mm", "movq",
                   policy="meaning" if a > 7 else "bytes")
        yield Case(mode, "movq mm%d,xmm%d" % (a % 8, b), "movdq2q mm%d, xmm%d" % (a % 8, b), "mm,xmm", "movq",
                   policy=w)
    for i, mem in sse_mem_shapes(mode):
        x = (i * 7) % n
        store_w = mem.kind == "register" and mode == 64 and (x > 7 or rex_regs(mem))
        for q, g, form in (("movq xmm%d,%s" % (x, mem.qrn(64)), "movq xmm%d, %s" % (x, mem.gas(64)), "xmm,[m]"),
                           ("movq mm%d,%s" % (x % 8, mem.qrn(64)), "movq mm%d, %s" % (x % 8, mem.gas(64)), "mm,[m]"),
                           ("movq %s,xmm%d" % (mem.qrn(64), x), "movq %s, xmm%d" % (mem.gas(64), x), "[m],xmm"),
                           ("movq %s,mm%d" % (mem.qrn(64), x % 8), "movq %s, mm%d" % (mem.gas(64), x % 8), "[m],mm")):
            policy = "meaning" if store_w and form[0] == "[" else "bytes"
            yield Case(mode, q, disp8(mem) + g, form.replace("m]", mem.kind + "]"), "movq", policy=policy,
                       defsyms=mem.defsyms())


def movd_forms(fam, mode):
    n = 16 if mode == 64 else 8
    regs = registers(mode, 32)
    for i, r in enumerate(regs):
        x = (i * 3 + 1) % n
        yield Case(mode, "movd xmm%d,%s" % (x, r), "movd xmm%d, %s" % (x, gas_reg(r)), "xmm,r32", "movd")
        yield Case(mode, "movd %s,xmm%d" % (r, x), "movd %s, xmm%d" % (gas_reg(r), x), "r32,xmm", "movd")
        yield Case(mode, "movd mm%d,%s" % (x % 8, r), "movd mm%d, %s" % (x % 8, gas_reg(r)), "mm,r32", "movd")
        yield Case(mode, "movd %s,mm%d" % (r, x % 8), "movd %s, mm%d" % (gas_reg(r), x % 8), "r32,mm", "movd")
    for i, mem in sse_mem_shapes(mode):
        x, v = (i * 7) % n, "xmm" if i % 2 else "mm"
        x = x if v == "xmm" else x % 8
        for q, g, form in (("movd %s%d,%s" % (v, x, mem.qrn(32)), "movd %s%d, %s" % (v, x, mem.gas(32)), "v,[m]"),
                           ("movd %s,%s%d" % (mem.qrn(32), v, x), "movd %s, %s%d" % (mem.gas(32), v, x), "[m],v")):
            yield Case(mode, q, disp8(mem) + g, form.replace("m]", mem.kind + "]"), "movd", defsyms=mem.defsyms())


def movbe_forms(fam, mode):
    for i, mem, size in sized_shapes(mode):
        if size == 8:
            size = 16 if mode != 64 or i % 2 else 64
        reg = partner(registers(mode, size), i, mem)
        if reg is None:
            continue
        kw = size if (mem.needs_size or i % 3 == 0) else None
        yield Case(mode, "movbe %s,%s" % (reg, mem.qrn(kw)),
                   "%smovbe %s, %s" % (disp8(mem), gas_reg(reg), mem.gas(size)), "reg,[%s]" % mem.kind, "movbe",
                   defsyms=mem.defsyms())
        yield Case(mode, "movbe %s,%s" % (mem.qrn(kw), reg),
                   "%smovbe %s, %s" % (disp8(mem), mem.gas(size), gas_reg(reg)), "[%s],reg" % mem.kind, "movbe",
                   defsyms=mem.defsyms())


def simd_frame(fam, mode):
    """PROC `arg`/`local` operands of the SSE, CRC32/POPCNT and MOVQ/MOVD/MOVBE
    families (a `local` of 64-bit code is 64 bits: pextrd stores 64 there)."""
    n = 16 if mode == 64 else 8
    rows = dict(sse_rows("Sse") + sse_rows("Sse_Imm8"))

    def body(name, offset, var_size, size, turn):
        x, v = (turn * 5) % n, (turn * 13) & 0xFF
        var = frame_operand(mode, offset)
        m = fam.next()
        if fam.name in ("sse", "sse imm8"):
            if m == "pmovmskb":
                return None
            imm = fam.name == "sse imm8"
            dest = sse_places(rows[m])[0]
            a = x if (dest == "x" and not imm) else x % 8  # no REX.W in the imm8 forms here
            tail = (",%d" % v, ", %d" % v) if imm else ("", "")
            return ("%s xmm%d,[%s]%s" % (m, a, name, tail[0]),
                    "%s %s, %s%s" % (GAS_SSE_NAME.get(m, m), place_gas(dest, a), var, tail[1]), "xmm,frame", m)
        if fam.name == "sse extract":
            gas = "pextrq QWORD PTR" if (m == "pextrd" and var_size == 64) else m
            return ("%s [%s],xmm%d,%d" % (m, name, x, v), "%s %s, xmm%d, %d" % (gas, var, x, v), "frame,xmm", m)
        if fam.name == "crc32 popcnt":
            pairs = [p for p in CRC_SIZES[m] if p[0] != 64 or mode == 64]
            dest, src = pairs[turn % len(pairs)]
            reg = registers(mode, dest)[turn % len(registers(mode, dest))]
            return ("%s %s,%s [%s]" % (m, reg, SIZE_WORD[src], name),
                    "%s %s, %s" % (m, gas_reg(reg), frame_operand(mode, offset, src)), "reg,frame", m)
        if fam.name in ("movq", "movd"):
            kw, bits = ("qword", 64) if m == "movq" else ("dword", 32)
            r = "xmm%d" % x if turn % 2 else "mm%d" % (x % 8)
            mem = "%s [%s]" % (kw, name)
            if turn % 4 < 2:
                return ("%s %s,%s" % (m, r, mem), "%s %s, %s" % (m, r, frame_operand(mode, offset, bits)),
                        "reg,frame", m)
            return ("%s %s,%s" % (m, mem, r), "%s %s, %s" % (m, frame_operand(mode, offset, bits), r), "frame,reg", m)
        if size == 8:
            return None
        reg = registers(mode, size)[turn % len(registers(mode, size))]
        mem = "%s [%s]" % (SIZE_WORD[size], name)
        if turn % 2:
            return ("movbe %s,%s" % (reg, mem), "movbe %s, %s" % (gas_reg(reg), frame_operand(mode, offset, size)),
                    "reg,frame", m)
        return ("movbe %s,%s" % (mem, reg), "movbe %s, %s" % (frame_operand(mode, offset, size), gas_reg(reg)),
                "frame,reg", m)
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


simd_frame.needs = ("proc", "arg", "local", "endp")


def sse_family(name, handler, probe, forms, skip=()):
    names = [n for n, _ in sse_rows(handler) if n not in skip]
    return Family(name, tuple(dict.fromkeys(names)), probe, forms)


def control_forms(fam, mode):
    for n in (0, 8, 0x7F, 0xFFFF):
        yield Case(mode, "retn %s" % imm_text(n), "ret %s" % gas_imm(n), "retn", "retn")
    for v in (0, 3, 0x21, 0x80, 0xFF):
        # int 3 keeps its two-byte form (int3 is CC)
        gas = ".byte 0xcd, %d" % v if v == 3 else "int %s" % gas_imm(v)
        yield Case(mode, "int %s" % imm_text(v), gas, "int", "int")
    for size, level in ((0, 0), (16, 0), (0xFFFF, 0xFF), (24, 1), (0x1234, 31)):
        yield Case(mode, "enter %s, %s" % (imm_text(size), imm_text(level)),
                   "enter %s, %s" % (gas_imm(size), gas_imm(level)), "enter", "enter")
    for k in range(3):
        label = "lp%d_%d" % (mode, k)
        yield Case(mode, "%s: loop %s" % (label, label), "%s: loop %s" % (label, label), "loop", "loop")
    if mode == 64:
        yield Case(mode, "iretq", "iretq", "iretq", "iretq")


# ---------------------------------------------------------------------------
# CALL and JMP on PROC frame variables (the other forms: branch_forms.py)

def branch_frame(fam, mode):
    own = {16: 16, 32: 32, 64: 64}[mode]

    def body(name, offset, var_size, size, turn):
        if size != (32 if mode == 64 else own):
            return None
        m = fam.next()
        return ("%s [%s]" % (m, name), "%s %s" % (m, frame_operand(mode, offset, own)), "frame", m)
    for made in frame_cases(fam, mode, body):
        yield frame_case(mode, made)


branch_frame.needs = ("proc", "arg", "local", "endp")


FAMILIES = [
    Family("alu", ("add", "or", "adc", "sbb", "and", "sub", "xor", "cmp"), "{m} eax,ebx",
           (alu_reg_reg, alu_reg_imm, alu_reg_mem, alu_mem_reg, alu_mem_imm, alu_quoted, alu_frame)),
    Family("mov", ("mov",), "{m} eax,ebx",
           (mov_reg_reg, mov_reg_imm, mov_reg_mem, mov_mem_reg, mov_moffs_forms, mov_mem_imm, mov_quoted,
            mov_segment, mov_control_debug, mov_frame)),
    Family("lea", ("lea",), "{m} eax,[ebx]", (lea_reg_mem, lea_frame)),
    Family("bswap", ("bswap",), "{m} eax", (bswap_reg,)),
    Family("limits", ALU_NAMES + ("mov",), "{m} eax,ebx", (limit_forms,)),
    Family("strings", ("movsd", "movsw", "stosd", "stosw", "lodsd", "lodsw"), "{m}", (string_ops,)),
    Family("bt", ("bt", "btc", "btr", "bts"), "{m} eax,ebx", (bt_reg_reg, bt_reg_imm, bt_mem, bt_frame)),
    Family("bsx", ("bsf", "bsr"), "{m} eax,ebx", (reg_rm_reg, reg_rm_mem, reg_rm_labels, reg_rm_frame)),
    Family("cmovcc", tuple("cmov" + c for c in CONDITIONS), "{m} eax,ebx",
           (reg_rm_reg, reg_rm_mem, reg_rm_labels, reg_rm_frame)),
    Family("setcc", tuple("set" + c for c in CONDITIONS), "{m} al", (setcc_forms, setcc_frame)),
    Family("xadd", ("xadd", "cmpxchg"), "{m} eax,ebx", (xadd_reg_reg, xadd_mem_reg, xadd_frame)),
    Family("io", ("in", "out"), "in al,[dx]", (io_forms,)),
    Family("system", tuple(SYSTEM_MEMORY), "{m} [ebx]", (system_memory, system_registers, system_equates, system_frame)),
    Family("arpl/bound", ("arpl", "bound"), "{m} ax,bx", (arpl_bound,)),
    Family("far loads", FAR_LOADS, "{m} eax,[1000h]", (far_loads,)),
    Family("struc members", ("struc",), "{m} X", (struc_members,)),
    Family("push/pop", ("push", "pop"), "{m} eax", (stack_reg, stack_imm, stack_segment, stack_mem, stack_frame)),
    Family("ret/int/enter/loop", ("retn", "int", "enter", "loop", "iretq"), "retn 4", (control_forms,)),
    Family("x87", tuple(X87), "{m} st1", (x87_st, x87_mem)),
    # CALL and JMP
    Family("call/jmp", ("call", "jmp"), "{m} eax",
           (branch_register, branch_memory, branch_far_memory, branch_far_direct, branch_frame)),

    sse_family("sse", "Sse", "{m} xmm0,xmm1", (sse_two, simd_frame), skip=("psrldq", "pextrw1")),
    sse_family("sse imm8", "Sse_Imm8", "{m} xmm0,xmm1,1", (sse_imm8, simd_frame), skip=("pslldq",)),
    Family("sse shifts", ("psrldq", "pslldq", "pextrw1"), "{m}", (sse_shift_pextrw1,)),
    sse_family("sse extract", "Sse_Extract", "{m} eax,xmm1,1", (sse_extract, simd_frame)),
    sse_family("crc32 popcnt", "Crc32_Popcnt", "{m} eax,ebx", (crc32_popcnt, crc32_popcnt_labels, simd_frame)),
    Family("movq", ("movq",), "{m} xmm0,xmm1", (movq_forms, simd_frame)),
    Family("movd", ("movd",), "{m} xmm0,eax", (movd_forms, simd_frame)),
    Family("movbe", ("movbe",), "{m} eax,[ebx]", (movbe_forms, simd_frame)),
] + FAMILIES_GROUP_OPS
SYSTEM_FAMILIES = [f for f in FAMILIES if f.name in ("system", "arpl/bound", "far loads")]


# ---------------------------------------------------------------------------
# llvm-mc as a second reference for the SSE families: every case without a
# label (llvm-mc leaves those to the linker) in GNU as's spelling, assembled
# by llvm-mc with -show-encoding. The bytes agree, or objdump and llvm-mc
# --disassemble read the same instruction from both (llvm-mc 14 misreads
# 66h-prefixed SSE in 16-bit code: there objdump alone).

LLVM_MC = os.environ.get("LLVM_MC", "llvm-mc")
LLVM_TRIPLE = {16: "i386", 32: "i386", 64: "x86_64"}
LLVM_FAMILIES = ("sse", "sse imm8", "sse shifts", "sse extract", "crc32 popcnt", "movq", "movd", "movbe")


def llvm_encodings(tools, mode, lines):
    path = tools.path("llvm.s")
    with open(path, "w") as f:
        f.write(".intel_syntax noprefix\n%s\n" % (".code16" if mode == 16 else "") + "\n".join(lines) + "\n")
    p = subprocess.run([LLVM_MC, "-triple=" + LLVM_TRIPLE[mode], "-show-encoding", path],
                       capture_output=True, text=True)
    out = [bytes(int(x, 16) for x in m.group(1).split(",") if x)
           for m in re.finditer(r"encoding: \[([0-9a-fx,]*)\]", p.stdout)]
    return out, p.stderr


def llvm_readings(mode, pieces):
    """llvm-mc --disassemble's reading of each byte string (one run for all)."""
    text = "\n".join(",".join("0x%02x" % b for b in data) for data in pieces)
    p = subprocess.run([LLVM_MC, "--disassemble", "-triple=" + LLVM_TRIPLE[mode], "-x86-asm-syntax=intel"],
                       input=text, capture_output=True, text=True)
    lines = [" ".join(ln.split("#")[0].split()) for ln in p.stdout.splitlines()]
    return [ln for ln in lines if ln and not ln.startswith(".")]


def unprefixed(data):
    n = 0
    while n < len(data) and data[n] in (0x66, 0x67):
        n += 1
    return bytes(sorted(data[:n])) + data[n:]


def check_llvm_mc_simd(tools, report, families):
    if shutil.which(LLVM_MC) is None:
        report.pending("sse/llvm", "llvm-mc is not installed")
        return
    results = []
    for mode in (16, 32, 64):
        cases = [c for fam in families if fam.name in LLVM_FAMILIES and fam.live for c in fam.cases()
                 if c.mode == mode and c.mnemonic in fam.live and not c.defsyms
                 and LABEL not in c.gas and not c.setup[0]]
        encodings, errors = llvm_encodings(tools, mode, [c.gas for c in cases])
        image, per_line, other = tools.qrn_run(mode, [c.qrn for c in cases])
        insns = tools.decode(mode, image) if image is not None else []
        if len(encodings) != len(cases) or len(insns) != len(cases):
            results.append(Result(Case(mode, "llvm-mc batch", "", "batch", "llvm-mc"), False,
                                  "%d cases, %d llvm-mc encodings, %d qrn_asm instructions; %s %s"
                                  % (len(cases), len(encodings), len(insns), errors[:300], other[:3])))
            continue
        differ = [(c, want, q) for c, want, q in zip(cases, encodings, insns) if unprefixed(q.data) != unprefixed(want)]
        results.extend(Result(c, True) for c, want, q in zip(cases, encodings, insns)
                       if unprefixed(q.data) == unprefixed(want))
        if not differ:
            continue
        theirs = tools.decode(mode, b"".join(w for _, w, _ in differ), start=0)
        mine = llvm_readings(mode, [q.data for _, _, q in differ]) if mode != 16 else []
        other_reading = llvm_readings(mode, [w for _, w, _ in differ]) if mode != 16 else []
        paired = len(theirs) == len(differ) and (mode == 16 or len(mine) == len(other_reading) == len(differ))
        for k, (c, want, q) in enumerate(differ):
            if not paired:
                results.append(Result(c, False, "llvm-mc writes %s; readings can not be paired" % want.hex(" "),
                                      q=[q]))
                continue
            ok = normal_text(theirs[k]) == normal_text(q)
            reason = "objdump reads %r for llvm-mc's %s" % (theirs[k], want.hex(" "))
            if ok and mode != 16:
                ok = mine[k] == other_reading[k]
                reason = "llvm-mc reads %r, and %r for its own %s" % (mine[k], other_reading[k], want.hex(" "))
            results.append(Result(c, ok, reason, q=[q]))
    report.section("sse/llvm", results)


def main():
    if len(sys.argv) != 2:
        print("usage: encode_forms.py path/to/qrn_asm")
        return 2
    require_tools("as", "ld", "objdump")
    tools = Tools(sys.argv[1])
    report = Report()
    try:
        check_operandless(tools, report)
        check_refusals(tools, report)
        if not tools.pending([(32, "%s 0" % m) for m in ("call", "jmp", "jo")]):
            check_branch_targets(tools, report)
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
        check_system_llvm_mc(tools, report)
        check_llvm_mc_simd(tools, report, FAMILIES)
    finally:
        tools.close()
    return report.close()


if __name__ == "__main__":
    sys.exit(main())
