"""Structure members as operands for encode_forms.py: [base+S.m],
[base+index*4+S.m], reg,S.m and reg,S in the three code modes, against GNU
as with the numeric offsets. The member's data type sizes the operand."""
from oracle_lib import Case

STRUC_SETUP = (("struc SM", "a db ?", "b dw ?", "c dd ?", "d dq ?", "e rb 200", "f dd ?", "ends"), ())
# member: (offset, size)
MEMBERS = {"a": (0, 8), "b": (1, 16), "c": (3, 32), "d": (7, 64), "f": (215, 32)}
SIZE = 219
REG = {8: "cl", 16: "dx", 32: "esi", 64: "rdi"}
GAS_PTR = {8: "BYTE PTR", 16: "WORD PTR", 32: "DWORD PTR", 64: "QWORD PTR"}
BASES = {16: ("bx", "bx+si"), 32: ("ebx", "ebp+ecx*4"), 64: ("r9", "rax+r12*4")}


def struc_members(fam, mode):
    base, complex_ = BASES[mode]
    for name, (offset, size) in MEMBERS.items():
        if size == 64 and mode != 64:
            continue
        reg = REG[size]
        # a member at offset 0 still writes its displacement byte, like a written +0
        zero = "{disp8} " if offset == 0 else ""
        for addr in (base, complex_):
            yield Case(mode, "mov %s,[%s+SM.%s]" % (reg, addr, name),
                       zero + "mov %s, %s [%s+%d]" % (reg, GAS_PTR[size], addr, offset), "[base+S.m]", "struc",
                       setup=STRUC_SETUP)
            yield Case(mode, "add [%s+SM.%s],%s" % (addr, name, reg),
                       zero + "add %s [%s+%d], %s" % (GAS_PTR[size], addr, offset, reg), "[base+S.m],reg", "struc",
                       setup=STRUC_SETUP)
        wide = "ax" if mode == 16 else "eax"
        yield Case(mode, "mov %s,SM.%s" % (wide, name), "mov %s, %d" % (wide, offset), "reg,S.m", "struc",
                   setup=STRUC_SETUP)
    wide = "cx" if mode == 16 else "ecx"
    yield Case(mode, "mov %s,SM" % wide, "mov %s, %d" % (wide, SIZE), "reg,S", "struc", setup=STRUC_SETUP)
    yield Case(mode, "lea %s,[%s+SM.f]" % (wide, base), "lea %s, [%s+%d]" % (wide, base, MEMBERS["f"][0]),
               "lea [base+S.m]", "struc", setup=STRUC_SETUP)
