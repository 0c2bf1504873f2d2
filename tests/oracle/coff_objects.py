#!/usr/bin/env python3
"""COFF32 and COFF64 objects read back (own reader, objdump, llvm-readobj),
linked by mingw ld and run under wine (PE32 runs skip where 32-bit wine
cannot run).

Usage: coff_objects.py <qrn_asm>
"""
import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from obj_lib import Coff, assemble, check, finish, path, random_program, readers_clean, run, tool  # noqa: E402

QRN = sys.argv[1]
READERS = [["objdump", "-h", "-r", "-t"], ["llvm-readobj", "--all"]]
LD = {32: "i686-w64-mingw32-ld", 64: "x86_64-w64-mingw32-ld"}
LIB = {32: "/usr/i686-w64-mingw32/lib", 64: "/usr/x86_64-w64-mingw32/lib"}


def obj(name, source, bits, *extra):
    code, text, out = assemble(QRN, name, source, "-coff" if bits == 32 else "-coff64", *extra)
    check(name + ": assembles", code == 0 and out, text)
    if code == 0 and out:
        readers_clean(name, out, READERS)
        return out
    return None


def link_and_run(name, o, bits, want):
    exe = path(name + ".exe")
    code, text = tool(LD[bits], o, "-e", "start", "--subsystem", "console", "--image-base", "0x400000",
                      "-L", LIB[bits], "-lkernel32", "-o", exe)
    if check(name + ": mingw ld links it", code == 0, text):
        got = run(exe, "pe%d" % bits)
        if got is not None:
            check(name + ": exits %d" % want, got[0] == want, got)


def relocs(o, section):
    return [(va, t, s, f) for va, t, s, f in Coff(o).section(section)["relocs"]]


EXAMPLE64 = """section "text" class_code
.use64
extern ExitProcess
extern NeverUsed
export start
start:
sub rsp,40
mov ecx,[val]
add ecx, dword [val+4]
call ExitProcess
section "data" class_data
pad db 1,2,3
val dd 30,12
dq val
dd val
section "averylongsectionname" class_data
dd 0
"""


def example64():
    o = obj("coff64", EXAMPLE64, 64)
    if not o:
        return
    c = Coff(o)
    check("coff64: machine, no optional header", c.machine == 0x8664 and c.data[16:18] == b"\0\0")
    names = [(s["name"], s["raw_name"].startswith("/")) for s in c.sections]
    check("coff64: section names", names == [("text", False), ("data", False), ("averylongsectionname", True)],
          names)
    chars = [s["chars"] for s in c.sections[:2]]
    check("coff64: characteristics", chars == [0x60500020, 0xC0500040], [hex(x) for x in chars])
    syms = [(s["name"], s["section"], s["storage"]) for s in c.symbols]
    check("coff64: symbols", syms == [("text", 1, 3), ("data", 2, 3), ("averylongsectionname", 3, 3),
                                      ("ExitProcess", 0, 2), ("start", 1, 2)], syms)
    got = [(t, s, f) for _, t, s, f in relocs(o, "text")]
    check("coff64: text relocations", got == [(4, "data", 3), (4, "data", 7), (4, "ExitProcess", 0)], got)
    got = [(t, s, f) for _, t, s, f in relocs(o, "data")]
    check("coff64: data relocations", got == [(1, "data", 3), (2, "data", 3)], got)
    link_and_run("coff64", o, 64, 42)


THUNK64 = """section "text" class_code
.use64
import ExitProcess alias "__imp_ExitProcess"
entry start
export start
start:
sub rsp,40
mov ecx,9
call ExitProcess
"""

COFF32 = """section "text" class_code
.use32
import GetStdHandle alias "__imp__GetStdHandle@4"
extern ExitProcess alias "_ExitProcess@4"
entry start
export start
start:
sub esp,4
mov dword [esp],-11
call GetStdHandle
sub esp,4
mov eax,[val]
mov [esp],eax
call ExitProcess
section "data" class_data
pad db 1,2,3
val dd 33
"""


def thunks():
    o = obj("thunk64", THUNK64, 64)
    if o:
        c = Coff(o)
        text = c.data[c.sections[0]["ptr"]:]
        got = relocs(o, "text")
        check("thunk64: REL32 against the slot", len(got) == 1 and got[0][1:] == (4, "__imp_ExitProcess", 0) and
              got[0][0] % 32 == 2 and text[got[0][0] - 2:got[0][0]] == b"\xFF\x25", got)
        starts = [s for s in c.symbols if s and s["name"] == "start"]
        check("thunk64: one start symbol", len(starts) == 1, c.symbols)
        link_and_run("thunk64", o, 64, 9)
    o = obj("coff32", COFF32, 32)
    if o:
        got = [(t, s, f) for _, t, s, f in relocs(o, "text")]
        check("coff32: relocations", got == [(6, "data", 3), (20, "_ExitProcess@4", 0),
                                            (6, "__imp__GetStdHandle@4", 0)], got)
        link_and_run("coff32", o, 32, 33)


# (name, bits, body, relocations of "text" as (type, symbol, field)); None: refused, no file
SMALL = [
    ("rva32", 32, "mov eax, <rva lbl>\nlbl: dd 0", [(7, "text", 5)]),
    ("rva64", 64, "mov eax, <rva lbl>\nlbl: dd 0", [(3, "text", 5)]),
    ("dq32", 32, "lbl: dq lbl", None),
    ("rip_in_coff32", 32, ".use64\nlea rax,[msg]\n.use32\nsection \"data\" class_data\nnop\nnop\nmsg db 0",
     [(20, "data", 2)]),
    ("rip_imm_after", 64, "add dword [msg],5\nadd word [msg],1000\nmsg: dd 0", [(4, "text", 15), (4, "text", 14)]),
]


def small_cases():
    for name, bits, body, want in SMALL:
        source = 'section "text" class_code\n.use%d\n%s\n' % (bits, body)
        code, text, out = assemble(QRN, name, source, "-coff" if bits == 32 else "-coff64")
        if want is None:
            check(name + ": refused", code == 1 and "COFF: unknown relocation type" in text and out is None, text)
            continue
        if check(name + ": assembles", code == 0 and out, text):
            got = [(t, s, f) for _, t, s, f in relocs(out, "text")]
            check(name + ": relocations", got == want, got)
    source = 'section "text" class_code\nproc p\nret\nendp\nsection "data" class_data\ndb 1\nalign 64\ndd 0\n'
    o = obj("aligned", source, 32)
    if o:
        got = [hex(s["chars"] & 0x00F00000) for s in Coff(o).sections]
        check("aligned: ALIGN_16BYTES and ALIGN_64BYTES", got == ["0x500000", "0x700000"], got)
    code, text, out = assemble(QRN, "dbg", 'section "text" class_code\nnop\n', "-coff64", "-dbg")
    check("dbg: assembles", code == 0 and out is not None, text)


def big_cases():
    count = 70000
    source = 'section "text" class_code\n.use32\nlbl:\n' + "dd lbl\n" * count
    o = obj("relocs70000", source, 32)
    if o:
        s = Coff(o).section("text")
        check("relocs70000: NRELOC_OVFL", s["chars"] & 0x01000000 and s["nrel_field"] == 0xFFFF and
              len(s["relocs"]) == count, (hex(s["chars"]), s["nrel_field"], len(s["relocs"])))
        code, text = tool("objdump", "-r", o)
        check("relocs70000: objdump lists them all", text.count("dir32") == count, text.count("dir32"))
        exe = path("relocs70000.exe")
        code, text = tool(LD[32], o, "-e", "lbl", "-o", exe)
        check("relocs70000: mingw ld links it", code == 0, text)
    source = 'section "text" class_code\n.use64\nentry 1234h\nmov eax,[last]\nsection "big" class_data\n' \
             'rb 1600000\nlast dd 12345678h\n'
    o = obj("big", source, 64)
    if o:
        c = Coff(o)
        s = c.section("big")
        check("big: the section is written whole", s["size"] == 1600004 and
              c.data[s["ptr"] + s["size"] - 4:s["ptr"] + s["size"]] == b"\x78\x56\x34\x12")
        entry = [x for x in c.symbols if x and x["name"] == "1234h"]
        check("big: a numeric entry is absolute", [(x["section"], x["value"]) for x in entry] == [(-1, 0x1234)],
              entry)


def random_cases():
    for bits in (32, 64):
        if bits == 64:
            head, ending = "sub rsp,40", ["mov ecx,eax", "call ExitProcess"]
            decl = "extern ExitProcess"
        else:
            head, ending = "", ["sub esp,4", "mov [esp],eax", "call ExitProcess"]
            decl = 'extern ExitProcess alias "_ExitProcess@4"'
        for seed in range(3):
            name = "random%d_%d" % (bits, seed)
            source = 'section "text" class_code\n.use%d\n%s\nexport start\nstart:\n%s\n' % (bits, decl, head)
            o = obj(name, source + random_program(seed * 7 + bits, bits, ending, qwords=False), bits)
            if o:
                link_and_run(name, o, bits, 0)


def main():
    example64()
    thunks()
    small_cases()
    big_cases()
    random_cases()
    return finish()


if __name__ == "__main__":
    sys.exit(main())
