#!/usr/bin/env python3
"""Mach-O 32 objects read back (own reader, llvm-objdump, llvm-readobj,
llvm-nm) and compared with llvm-mc's object of the same program. No i386
Mach-O linker is at hand, so nothing here links or runs.

Usage: macho_objects.py <qrn_asm>
"""
import os
import random
import struct
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from obj_lib import MachO, assemble, check, finish, path, readers_clean, tool  # noqa: E402

QRN = sys.argv[1]
READERS = [["llvm-objdump", "--macho", "--private-headers", "-r"],
           ["llvm-readobj", "--macho-segment", "--macho-dysymtab", "--sections", "--symbols", "-r"],
           ["llvm-nm"]]


def obj(name, source, *extra):
    code, text, out = assemble(QRN, name, source, "-mac32", *extra)
    check(name + ": assembles", code == 0 and out, text)
    if code == 0 and out:
        readers_clean(name, out, READERS)
        return MachO(out)
    return None


def sections(*parts):
    """Source of (name, class, body) sections."""
    return "".join('section "%s" class_%s\n%s\n' % p for p in parts)


def the_small_object():
    m = obj("small", sections(("text", "code", "rb 20h"), ("data", "data", "rb 10h")))
    if not m:
        return
    check("small: header", m.header == (0xFEEDFACE, 7, 3, 1, 3, 296, 0), m.header)
    check("small: segment", m.segment == (192, "__TEXT", 0, 0x1010, 324, 0x30, 7, 7, 2, 0), m.segment)
    got = [(s["name"], s["segname"], s["addr"], s["size"], s["offset"], s["align"], s["flags"]) for s in m.sections]
    check("small: sections", got == [("text", "__TEXT", 0, 0x20, 324, 2, 0x08000400),
                                     ("data", "__DATA", 0x1000, 0x10, 356, 2, 0)], got)
    check("small: symtab", m.symtab == (383, 2, 372, 11), m.symtab)
    check("small: strings", m.data[372:383] == b"\0text\0data\0")
    check("small: symbols", m.symbols == [("text", 0x0E, 1, 3, 0), ("data", 0x0E, 2, 3, 0x1000)], m.symbols)
    check("small: dysymtab", m.dysymtab == (0, 2, 2, 0, 2, 0) + (0,) * 12, m.dysymtab)
    check("small: 16 zero bytes end the file", len(m.data) == 423 and m.data[-16:] == bytes(16), len(m.data))
    code, text = tool(QRN, "-mac32", path("small.asm"), path("small_size.o"))
    check("small: bytes printed", "Output bytes   : 423 " in text, text)


# (name, source, {section: [(r_address, second word, field)]}, symbols as (name, n_type, n_sect, n_value)
# or None, dysymtab's first six words or None)
CASES = [
    ("externs", sections(("text", "code", "extern puts\nextern unused\nexport main\nnop\nmain:\ncall puts"),
                         ("text2", "code", "nop\ncall puts"), ("data", "data", "db 0")),
     {"text": [(2, 0x0D000004, -6)], "text2": [(2, 0x0D000004, -4 - 0x1002)]},
     [("text", 14, 1, 0), ("text2", 14, 2, 0x1000), ("data", 14, 3, 0x2000), ("main", 15, 1, 1), ("puts", 1, 0, 0)],
     (0, 3, 3, 1, 4, 1)),
    ("absolute", sections(("text", "code", "mov ecx,[msg]\npush msg\nmov eax,msg\nmov dword [msg],msg"),
                          ("data", "data", "nop\nnop\nmsg dd msg\ndd msg+1")),
     {"text": [(2, 0x04000002, 0x1002), (7, 0x04000002, 0x1002), (12, 0x04000002, 0x1002),
               (18, 0x04000002, 0x1002), (22, 0x04000002, 0x1002)],
      "data": [(2, 0x04000002, 0x1002), (6, 0x04000002, 0x1003)]}, None, None),
    ("thunk", sections(("text", "code", "import fp\ncall fp\nint3"), ("text2", "code", "call fp")),
     {"text": [(34, 0x0C000002, 0)], "text2": [(1, 0x05000001, 0x20 - 0x1005)]},
     [("text", 14, 1, 0), ("text2", 14, 2, 0x1000), ("fp", 1, 0, 0)], (0, 2, 2, 0, 2, 1)),
    ("across", sections(("text", "code", "call other\njmp other\njne other"), ("text2", "code", "nop\nnop\nnop\nother:")),
     {"text": [(1, 0x05000002, 0xFFE), (6, 0x05000002, 0xFF9), (12, 0x05000002, 0xFF3)]}, None, None),
    ("rip", sections(("text", "code", ".use64\nlea rax,[msg]\nadd dword [msg],5"), ("data", "data", "nop\nnop\nmsg dd 0")),
     {"text": [(3, 0x05000002, 0x1002 - 7), (9, 0x05000002, 0x1002 - 14)]}, None, None),
    ("dq", sections(("text", "code", "nop\nnop\nmsg: dq msg")), {"text": [(2, 0x04000001, 2)]}, None, None),
    ("entry", sections(("text", "code", "entry main\nnop\nmain: ret")), {},
     [("text", 14, 1, 0), ("main", 15, 1, 1)], (0, 1, 1, 1, 2, 0)),
    ("entry_export", sections(("text", "code", "entry main\nexport main\nnop\nmain: ret")), {},
     [("text", 14, 1, 0), ("main", 15, 1, 1)], (0, 1, 1, 1, 2, 0)),
    ("entry_number", sections(("text", "code", "entry 1234h\nnop")), {},
     [("text", 14, 1, 0), ("1234h", 3, 0, 0x1234)], (0, 1, 1, 1, 2, 0)),
]


def relocation_cases():
    made = {}
    for name, source, want, symbols, dysym in CASES:
        m = made[name] = obj(name, source)
        if not m:
            continue
        for s in m.sections:
            got = [(w0, w1, struct.unpack_from("<i", s["bytes"], w0)[0]) for w0, w1 in s["relocs"]]
            expected = [(a, w, f if f < 0x80000000 else f - (1 << 32)) for a, w, f in want.get(s["name"], [])]
            check("%s: relocations of %s" % (name, s["name"]), got == expected, got)
        if symbols is not None:
            got = [(n, t, sect, v) for n, t, sect, _, v in m.symbols]
            check(name + ": symbols", got == symbols, got)
        if dysym is not None:
            check(name + ": dysymtab", m.dysymtab[:6] == dysym, m.dysymtab[:6])
    for name, want in (("thunk", "E81B000000CC" + "90" * 26 + "FF2500000000"), ("dq", "90900200000000000000")):
        got = made[name].section("text")["bytes"].hex().upper() if made[name] else None
        check(name + ": text bytes", got == want, got)


def refusals():
    source = sections(("text", "code", "mov eax, <rva msg>\nmsg: dd 0"))
    code, text, out = assemble(QRN, "rva", source, "-mac32")
    check("rva: refused, no file", code == 1 and out is None and "MAC: unknown relocation type" in text and
          "\t\t type:4 section_id:0 offset:00000001" in text, text)
    code, text, out = assemble(QRN, "align8192", sections(("text", "code", "db 1\nalign 8192\ndd 5")), "-mac32")
    check("align8192: refused, no file", code == 1 and out is None and "MAC: section alignment too big: text" in text, text)
    src = path("uncreatable.asm")
    with open(src, "w") as f:
        f.write(sections(("text", "code", "nop")))
    code, text = tool(QRN, "-mac32", "-q", src, path(os.path.join("no_such_dir", "x.o")))
    check("uncreatable output", code == 1 and "Output: can not create file" in text, text)
    code, text, _ = assemble(QRN, "rip_number", sections(("text", "code", ".use64\nlea rax,[1234h]")), "-mac32")
    check("rip_number: a number in a RIP field is refused", code == 1 and "(3) Mod_RM, [] address out of range" in text,
          text)


def layout_cases():
    long_name = "abcdefghijklmnopqrst"
    m = obj("long_name", sections(("text", "code", "nop"), (long_name, "data", "dd 1")))
    if m:
        s = m.sections[1]
        check("long_name: sectname cut to 16", (s["raw"], s["segname"]) == (b"abcdefghijklmnop", "__DATA"), s)
        check("long_name: the symbol has the whole name", m.symbols[1][0] == long_name, m.symbols)
    m = obj("big", sections(("text", "code", "mov eax,[last]"), ("big", "data", "rb 1600000\nlast dd 12345678h")))
    if m:
        s = m.section("big")
        check("big: written whole", s["size"] == 1600004 and s["bytes"][-4:] == b"\x78\x56\x34\x12", s["size"])
    # the alignment each section asks for: log2 of its largest `align` or PROC start, 4 to 4096
    rows = [("nop", 2), ("db 1\nalign 8\ndd 5", 3), ("db 1\nalign 16\ndd 5", 4), ("db 1\nalign 32\ndd 5", 5),
            ("db 1\nalign 4096\ndd 5", 12), ("proc f\nret\nendp", 4)]
    m = obj("aligns", sections(*[("s%d" % i, "code", body) for i, (body, _) in enumerate(rows)]))
    if m:
        got = [s["align"] for s in m.sections]
        check("aligns", got == [a for _, a in rows], got)


# ---- random programs against llvm-mc ----------------------------------------------

def random_pair(seed):
    """One random program as (qrn_asm source, llvm-mc source) over code,
    code2, data and data2, through every relocated field the two share."""
    rng = random.Random(seed)
    names = {s: ["%s_%d" % (s[0] + s[-1], i) for i in range(8)] for s in ("code", "code2", "data", "data2")}
    all_labels = [label for s in names for label in names[s]]
    imports, externs = ["fp0", "fp1", "fp2"], ["ext0", "ext1", "ext2"]
    used_imports = set()
    ours = {s: [] for s in names}
    theirs = {s: [] for s in names}

    def emit(section, mine, llvm):
        ours[section].append(mine)
        theirs[section].append(llvm)

    def filler(section):
        n = rng.choice([rng.randint(1, 40), rng.randint(1, 40), rng.randint(100, 5000)])
        data = [rng.getrandbits(8) for _ in range(n)]
        for k in range(0, n, 16):
            row = ",".join(str(b) for b in data[k:k + 16])
            emit(section, "db " + row, ".byte " + row)

    for section in ("code", "code2"):
        other = "code2" if section == "code" else "code"
        pending = list(names[section])
        for _ in range(70):
            if pending and rng.random() < 0.12:
                label = pending.pop(0)
                emit(section, label + ":", label + ":")
                continue
            target, n = rng.choice(all_labels), rng.randint(0, 12)
            kind = rng.randrange(11)
            if kind == 0:
                emit(section, "push %s" % target, "pushl $%s" % target)
            elif kind == 1:
                emit(section, "mov eax,%s" % target, "movl $%s, %%eax" % target)
            elif kind == 2:
                emit(section, "mov ecx,[%s+%d]" % (target, n), "movl %s+%d, %%ecx" % (target, n))
            elif kind == 3:
                second = rng.choice(all_labels)
                emit(section, "mov dword [%s],%s" % (target, second), "movl $%s, %s" % (second, target))
            elif kind == 4:
                emit(section, "lea edx,[%s+%d]" % (target, n), "leal %s+%d, %%edx" % (target, n))
            elif kind == 5:
                label = rng.choice(names[rng.choice((section, other))])
                emit(section, "call " + label, "call " + label)
            elif kind == 6:
                label = rng.choice(names[other])
                op = rng.choice(["jmp", "jne"])
                emit(section, "%s %s" % (op, label), "%s %s" % (op, label))
            elif kind == 7:
                e = rng.choice(externs[:2])
                emit(section, "call " + e, "call " + e)
            elif kind == 8:
                f = rng.choice(imports[:2])
                used_imports.add(f)
                emit(section, "call " + f, "call thunk_" + f)
            else:
                filler(section)
        for label in pending:
            emit(section, label + ":", label + ":")
        emit(section, "nop", "nop")
    for section in ("data", "data2"):
        for label in names[section]:
            words = [rng.getrandbits(32) for _ in range(rng.randint(1, 3))]
            emit(section, "%s dd %s" % (label, ",".join("0%Xh" % w for w in words)),
                 "%s: .long %s" % (label, ",".join(str(w) for w in words)))
            for _ in range(rng.randint(0, 3)):
                target = rng.choice(all_labels)
                n = rng.randint(0, 12)
                emit(section, "dd %s+%d" % (target, n), ".long %s+%d" % (target, n))
            if rng.random() < 0.3:
                filler(section)

    head = "".join("import %s\n" % f for f in imports) + "".join("extern %s\n" % e for e in externs)
    mine = ""
    theirs["code"].append(".p2align 5, 0x90")
    for f in imports:
        if f in used_imports:
            theirs["code"].append("thunk_%s:\njmp *%s" % (f, f))
    llvm = ""
    for s in ("code", "code2", "data", "data2"):
        cls, seg = ("code", "__TEXT") if s.startswith("code") else ("data", "__DATA")
        mine += 'section "%s" class_%s\n' % (s, cls) + (head if s == "code" else "") + "\n".join(ours[s]) + "\n"
        attributes = ",regular,pure_instructions" if cls == "code" else ""
        llvm += ".section %s,%s%s\n" % (seg, s, attributes) + "\n".join(theirs[s]) + "\n"
    return mine, llvm


def masked(data, fields):
    """The bytes with every relocated field zeroed."""
    out = bytearray(data)
    for offset in fields:
        out[offset:offset + 4] = bytes(4)
    return bytes(out)


def random_cases():
    for seed in range(8):
        name = "random%d" % seed
        mine, llvm = random_pair(seed)
        m = obj(name, mine)
        src, out = path(name + ".s"), path(name + ".llvm.o")
        with open(src, "w") as f:
            f.write(llvm)
        code, text = tool("llvm-mc", "-triple=i386-apple-darwin", "-filetype=obj", src, "-o", out)
        if not m or not check(name + ": llvm-mc assembles it", code == 0, text):
            continue
        ref = MachO(out)
        for s in m.sections:
            r = ref.section(s["name"])
            got, want = m.resolved(s["name"]), ref.resolved(s["name"])
            check("%s: %s relocated fields resolve alike" % (name, s["name"]), got == want,
                  sorted(set(got.items()) ^ set(want.items()))[:6])
            check("%s: %s other bytes equal" % (name, s["name"]),
                  len(s["bytes"]) == len(r["bytes"]) and masked(s["bytes"], got) == masked(r["bytes"], want),
                  (len(s["bytes"]), len(r["bytes"])))


def main():
    the_small_object()
    relocation_cases()
    refusals()
    layout_cases()
    random_cases()
    return finish()


if __name__ == "__main__":
    sys.exit(main())
