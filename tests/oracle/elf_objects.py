#!/usr/bin/env python3
"""ELF32 and ELF64 objects read back (own reader, readelf, llvm-readobj),
linked by gcc, GNU ld and ld.lld, and run.

Usage: elf_objects.py <qrn_asm>
"""
import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from obj_lib import Elf, assemble, check, finish, path, random_program, readers_clean, run, tool  # noqa: E402

QRN = sys.argv[1]
READERS = [["readelf", "-a", "-W"], ["llvm-readobj", "--all"]]


def obj(name, source, bits, *extra):
    code, text, out = assemble(QRN, name, source, "-elf32" if bits == 32 else "-elf64", *extra)
    check(name + ": assembles", code == 0 and out, text)
    if code == 0 and out:
        readers_clean(name, out, READERS)
        return out
    return None


def gcc_link(name, objects, bits, *extra, lld=False):
    exe = path(name + ("_lld" if lld else "") + ".exe")
    command = ["gcc", "-no-pie", *(["-m32"] if bits == 32 else []), *(["-fuse-ld=lld"] if lld else []),
               *objects, *extra, "-o", exe]
    code, text = tool(*command)
    check("%s: gcc%s links it" % (name, " with lld" if lld else ""), code == 0, text)
    return exe if code == 0 else None


def link_and_run(name, objects, bits, want_code, want_out=None, extra=()):
    for lld in (False, True):
        exe = gcc_link(name, objects, bits, *extra, lld=lld)
        got = run(exe, "elf%d" % bits) if exe else None
        if got is not None:
            ok = got[0] == want_code and (want_out is None or want_out in got[1])
            check("%s: runs%s" % (name, " (lld)" if lld else ""), ok, got)


HELLO = {
    32: """section "text" class_code
.use32
extern puts
extern exit
extern never_used
export main
main:
sub esp,12
mov dword [esp],msg
call puts
mov dword [esp],7
call exit
section "data" class_data
pad db 1,2
msg db "hello from an object",0
""",
    64: """section "text" class_code
.use64
extern puts
extern exit
extern never_used
export main
main:
sub rsp,8
lea rdi,[msg]
call puts
mov edi,7
call exit
section "data" class_data
pad db 1,2
msg db "hello from an object",0
ptr dq msg
ptr32 dd msg
""",
}


def hello_cases():
    for bits in (32, 64):
        name = "hello%d" % bits
        o = obj(name, HELLO[bits], bits)
        if not o:
            continue
        e = Elf(o)
        rel = ".rel" if bits == 32 else ".rela"
        check(name + ": header", (e.shnum, e.shstrndx, e.machine) == (7, 1, 3 if bits == 32 else 62))
        names = [s["name"] for s in e.sections]
        check(name + ": section names", names == ["", ".strtab", ".symtab", "text", rel + "text", "data", rel + "data"],
              names)
        sym, text, data = e.sections[2], e.sections[3], e.sections[5]
        check(name + ": symtab link/info", (sym["link"], sym["info"]) == (1, 3), sym)
        check(name + ": flags", (text["flags"], data["flags"]) == (6, 3), (text, data))
        r = e.sections[4]
        check(name + ": relocation header", (r["type"], r["link"], r["info"], r["entsize"]) ==
              ((9, 2, 3, 8) if bits == 32 else (4, 2, 3, 24)), r)
        syms = {s["name"]: s for s in e.symbols}
        check(name + ": section symbols", [(s["name"], s["type"], s["bind"]) for s in e.symbols[1:3]] ==
              [("text", 3, 0), ("data", 3, 0)], e.symbols[1:3])
        m = syms.get("main", {})
        check(name + ": main", (m.get("bind"), m.get("type"), m.get("size"), m.get("shndx")) == (1, 2, 4, 3), m)
        for ext in ("puts", "exit"):
            s = syms.get(ext, {})
            check(name + ": " + ext, (s.get("bind"), s.get("type"), s.get("size"), s.get("shndx")) == (1, 0, 4, 0), s)
        check(name + ": an unused extern has no symbol", "never_used" not in syms)
        got = [(t, s, a, f) for _, t, s, a, f in e.relocs(rel + "text")]
        if bits == 32:
            want = [(1, "data", None, 2), (2, "puts", None, -4), (2, "exit", None, -4)]
        else:
            want = [(2, "data", -2, 0), (2, "puts", -4, 0), (2, "exit", -4, 0)]
        check(name + ": text relocations", got == want, got)
        if bits == 64:
            got = [(t, s, a, f) for _, t, s, a, f in e.relocs(".reladata")]
            check(name + ": data relocations", got == [(1, "data", 2, 0), (10, "data", 2, 0)], got)
        link_and_run(name, [o], bits, 7, b"hello from an object")


START = """section "text" class_code
.use32
entry _start
_start:
mov eax,[val]
add eax, dword [val+4]
mov [total],eax
mov ebx,[total]
mov eax,1
int 80h
section "data" class_data
val dd 30,12
section "bss" class_bss
pad rd 3
total rd 1
"""


def start_case():
    o = obj("start", START, 32)
    if not o:
        return
    e = Elf(o)
    bss = e.section("bss")
    check("start: bss", (bss["type"], bss["flags"], bss["size"]) == (8, 3, 16), bss)
    check("start: bss holds no file bytes", e.section(".relbss")["offset"] == bss["offset"])
    s = {x["name"]: x for x in e.symbols}.get("_start", {})
    check("start: _start GLOBAL FUNC", (s.get("bind"), s.get("type")) == (1, 2), s)
    for linker in (["ld", "-m", "elf_i386"], ["ld.lld", "-m", "elf_i386"]):
        exe = path("start_%s" % linker[0])
        code, text = tool(*linker, o, "-o", exe)
        if check("start: %s links it" % linker[0], code == 0, text):
            got = run(exe, "elf32")
            if got is not None:
                check("start: %s program exits 42" % linker[0], got[0] == 42, got)


# (name, bits, source, message or None, relocations of "text": (type, symbol, addend, field))
# A reported record leaves no file.
SMALL = [
    ("rva64", 64, "mov eax, <rva msg>\nmsg: dd 0", "ELF64: unknown relocation type", None),
    ("rva32", 32, "mov eax, <rva msg>\nmsg: dd 0", "ELF: unknown relocation type", None),
    ("dq32", 32, "nop\nnop\nmsg: dq msg", None, [(1, "text", None, 2)]),
    ("rip_in_elf32", 32, ".use64\nlea rax,[msg]\n.use32\nsection \"data\" class_data\nnop\nnop\nmsg db 0", None,
     [(2, "data", None, -2)]),
    ("rip_imm_after", 64, "add dword [msg],5\nadd word [msg],1000\nadd dword [msg],100000\nmsg: dd 0", None,
     [(2, "text", 26 - 5, 0), (2, "text", 26 - 6, 0), (2, "text", 26 - 8, 0)]),
    # structure initialisers that hold addresses relocate as dd and dq do (a dword as R_X86_64_32)
    ("struc_fields64", 64, "struc S\na dd ?\nb dq ?\nends\nlbl db 0\nx S { lbl+4 , lbl }", None,
     [(10, "text", 4, None), (1, "text", 0, None)]),
    # an immediate of a 32-bit operation is zero-extended (R_X86_64_32), of a 64-bit one sign-extended
    ("imm32_64", 64, "mov eax,msg\nadd dword [rbx],msg\ntest ecx,msg\nadd rax,msg\nmov qword [rbx],msg\nmsg: dd 0", None,
     [(10, "text", 31, None), (10, "text", 31, None), (10, "text", 31, None), (11, "text", 31, None),
      (11, "text", 31, None)]),
    ("struc_fields32", 32, "struc S\na dd ?\nb dd ?\nends\nlbl db 0\nx S { lbl+4 , lbl }", None,
     [(1, "text", None, 4), (1, "text", None, 0)]),
]


def small_cases():
    for name, bits, body, message, want in SMALL:
        source = 'section "text" class_code\n.use%d\n%s\n' % (bits, body)
        code, text, out = assemble(QRN, name, source, "-elf32" if bits == 32 else "-elf64")
        if message:
            check(name + ": message, no file", code == 1 and message in text and out is None and
                  "\t\t type:4 section_id:0 offset:" in text, text)
        else:
            check(name + ": assembles", code == 0, text)
        if out:
            rels = Elf(out).relocs((".rel" if bits == 32 else ".rela") + "text")
            got = [(t, s, a, f if w[3] is not None else None) for (_, t, s, a, f), w in zip(rels, want)]
            check(name + ": relocations", len(rels) == len(want) and got == want, rels)


FP_C = "#include <stdlib.h>\nvoid (*fp)(int) = exit;\n"
THUNK = """section "text" class_code
.use%d
import fp
export main
main:
%s
call fp
"""


def thunk_cases():
    c = path("fp.c")
    with open(c, "w") as f:
        f.write(FP_C)
    for bits, setup in ((32, "sub esp,12\nmov dword [esp],9"), (64, "sub rsp,8\nmov edi,9")):
        name = "thunk%d" % bits
        o = obj(name, THUNK % (bits, setup), bits)
        if not o:
            continue
        e = Elf(o)
        got = [(t, s, a, f) for _, t, s, a, f in e.relocs((".rel" if bits == 32 else ".rela") + "text")]
        want = [(1, "fp", None, 0)] if bits == 32 else [(2, "fp", -4, 0)]
        check(name + ": thunk relocation", got == want, got)
        link_and_run(name, [o, c], bits, 9)


TWO_TEXTS = """section "text" class_code
.use%(bits)d
extern exit alias "exit"
extern my_exit alias "exit"
export helper alias "asm_helper"
export main
entry main
main:
call helper
jmp far_away
section "text2" class_code
helper:
ret
far_away:
%(setup)s
call my_exit
"""


def two_texts():
    for bits, setup in ((32, "sub esp,12\nmov dword [esp],5"), (64, "sub rsp,8\nmov edi,5")):
        name = "texts%d" % bits
        o = obj(name, TWO_TEXTS % {"bits": bits, "setup": setup}, bits)
        if not o:
            continue
        e = Elf(o)
        names = [s["name"] for s in e.symbols]
        check(name + ": one symbol per name, aliases", sorted(names[3:]) == ["asm_helper", "exit", "main"], names)
        got = [(t, s) for _, t, s, _, _ in e.relocs((".rel" if bits == 32 else ".rela") + "text")]
        check(name + ": branches into text2", got == [(2, "text2"), (2, "text2")], got)
        link_and_run(name, [o], bits, 5)


def layout_cases():
    # 64 sections; a numeric entry; a section bigger than 1 MiB.
    source = "".join('section "s%d" class_data\ndd %d\n' % (i, i) for i in range(64))
    o = obj("sections64", source, 64)
    if o:
        check("sections64: e_shnum 131", Elf(o).shnum == 131)
    o = obj("numeric_entry", 'section "text" class_code\n.use32\nentry 1234h\nnop\n', 32)
    if o:
        s = {x["name"]: x for x in Elf(o).symbols}.get("1234h", {})
        check("numeric_entry: SHN_ABS", (s.get("shndx"), s.get("value")) == (0xFFF1, 0x1234), s)
    source = 'section "text" class_code\n.use32\nmov eax,[last]\nsection "big" class_data\nrb 1600000\nlast dd 12345678h\n'
    o = obj("big", source, 32)
    if o:
        e = Elf(o)
        check("big: the section is written whole", e.bytes("big")[-4:] == b"\x78\x56\x34\x12" and
              e.section("big")["size"] == 1600004)


ALIGNED = """section "text" class_code
.use32
export helper
db 1
proc helper
mov eax,1
ret
endp
proc other
ret
endp
section "data" class_data
db 1
align 32
dd 5
"""


def proc_cases():
    # (options, sh_addralign of text and data, the global symbols as (name, value, size))
    rows = [((), (16, 32), [("helper", 16, 4)]),
            (("-size",), (4, 32), [("helper", 1, 4)]),
            (("-dbg",), (16, 32), [("helper", 16, 4), ("other", 32, 0)])]
    for options, aligns, symbols in rows:
        name = "procs" + "".join(options)
        o = obj(name, ALIGNED, 32, *options)
        if o:
            e = Elf(o)
            got = (e.section("text")["align"], e.section("data")["align"])
            check(name + ": sh_addralign", got == aligns, got)
            got = [(x["name"], x["value"], x["size"]) for x in e.symbols if x["bind"] == 1 and x["type"] == 2]
            check(name + ": function symbols", got == symbols, got)


def random_cases():
    for bits in (32, 64):
        ending = ["ret"]
        for seed in range(4):
            name = "random%d_%d" % (bits, seed)
            source = 'section "text" class_code\n.use%d\nexport main\nmain:\n' % bits
            o = obj(name, source + random_program(seed * 100 + bits, bits, ending), bits)
            if o:
                link_and_run(name, [o], bits, 0)


def main():
    hello_cases()
    start_case()
    small_cases()
    thunk_cases()
    two_texts()
    layout_cases()
    proc_cases()
    random_cases()
    return finish()


if __name__ == "__main__":
    sys.exit(main())
