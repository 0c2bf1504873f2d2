#!/usr/bin/env python3
"""-dbg symbols read back: in PE32 images (own reader against the -info
addresses, llvm-readobj, objdump; run under wine where 32-bit wine runs) and
in COFF objects (own reader, objdump; linked by mingw ld and run under wine).

Usage: debug_symbols.py <qrn_asm>
"""
import os
import struct
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from obj_lib import WORK, check, finish, path, readers_clean, run, tool  # noqa: E402

QRN = os.path.abspath(sys.argv[1])
LD = {32: "i686-w64-mingw32-ld", 64: "x86_64-w64-mingw32-ld"}
LIB = {32: "/usr/i686-w64-mingw32/lib", 64: "/usr/x86_64-w64-mingw32/lib"}
EXTERNAL, STATIC, FUNCTION, FILE = 2, 3, 0x65, 0x67


def assemble(name, source, fmt, *extra):
    """Assembles source (LF lines) as WORK/t.asm into WORK/name, run in WORK so
    that includes and list files are found there: (exit code, messages, path or None)."""
    out = path(name)
    if os.path.exists(out):
        os.remove(out)
    with open(path("t.asm"), "w", newline="") as f:
        f.write(source.replace("\n", "\r\n"))
    r = subprocess.run([QRN, fmt, "-q", *extra, "t.asm", name], cwd=WORK, capture_output=True, text=True,
                       errors="replace")
    return r.returncode, r.stdout + r.stderr, out if os.path.exists(out) else None


def u32(d, at):
    return struct.unpack_from("<I", d, at)[0]


def symbols(d, symptr, nsym):
    """The symbol records with their auxiliary records (18-byte strings)."""
    strings = symptr + 18 * nsym
    out, i = [], 0
    while i < nsym:
        at = symptr + 18 * i
        if d[at:at + 4] == b"\0\0\0\0":
            s = strings + u32(d, at + 4)
            name = d[s:d.index(b"\0", s)].decode("latin-1")
        else:
            name = d[at:at + 8].rstrip(b"\0").decode("latin-1")
        value, number, typ, storage, naux = struct.unpack_from("<IhHBB", d, at + 8)
        aux = [d[at + 18 * (k + 1):at + 18 * (k + 2)] for k in range(naux)]
        out.append(dict(index=i, name=name, value=value, section=number, type=typ, storage=storage, aux=aux))
        i += 1 + naux
    return out, u32(d, strings)


class Image:
    """Headers, sections and COFF symbols of a PE32 image."""

    def __init__(self, file):
        with open(file, "rb") as f:
            d = self.data = f.read()
        pe = u32(d, 0x3C)
        self.nsec, = struct.unpack_from("<H", d, pe + 6)
        self.symptr, self.nsym = struct.unpack_from("<II", d, pe + 12)
        opt_size, = struct.unpack_from("<H", d, pe + 20)
        opt = pe + 24
        self.image_base = u32(d, opt + 28)
        self.image_size = u32(d, opt + 56)
        self.dirs = [struct.unpack_from("<II", d, opt + 96 + 8 * i) for i in range(16)]
        self.sections = []
        for k in range(self.nsec):
            at = opt + opt_size + 40 * k
            vsize, va, raw, ptr = struct.unpack_from("<IIII", d, at + 8)
            self.sections.append(dict(name=d[at:at + 8].rstrip(b"\0").decode("latin-1"), vsize=vsize, va=va,
                                      raw=raw, ptr=ptr, chars=u32(d, at + 36)))
        self.symbols, self.strings = symbols(d, self.symptr, self.nsym) if self.symptr else ([], 0)


def info_addresses(name):
    """name -> address from the -info list written beside `name`."""
    with open(path(name.split(".")[0] + "_info.lst"), "rb") as f:
        lines = f.read().decode("latin-1").split("\r\n")
    return [(n, int(a, 16)) for a, n in (l.split("\t") for l in lines if l)]


def debug_section(name, img):
    """The debug section's layout: last, after the others, its directory and headers."""
    dbg, before = img.sections[-1], img.sections[-2]
    check(name + ": debug section last", dbg["name"] == "debug" and dbg["chars"] == 0x40000040, dbg)
    check(name + ": at the next 4 KiB", dbg["va"] == (before["va"] + before["vsize"] + 0xFFF) & ~0xFFF, dbg)
    data = 0x20 + 18 * img.nsym + img.strings
    check(name + ": raw size in 200h steps, holding it all",
          dbg["raw"] % 0x200 == 0 and 0x1C + data <= dbg["raw"] < 0x1C + data + 0x200, (dbg, data))
    check(name + ": directory 6", img.dirs[6] == (dbg["va"], 0x1C), img.dirs[6])
    d, at = img.data, dbg["ptr"]
    check(name + ": debug directory: COFF, size, pointer",
          (u32(d, at + 12), u32(d, at + 16), u32(d, at + 20), u32(d, at + 24)) == (1, data, 0, at + 0x1C))
    check(name + ": symbols header", (u32(d, at + 0x1C), u32(d, at + 0x20)) == (img.nsym, 0x20))
    check(name + ": PointerToSymbolTable", img.symptr == at + 0x3C, hex(img.symptr))
    check(name + ": SizeOfImage counts it", img.image_size == 0x1000 + sum(s["vsize"] for s in img.sections))


PE32 = """section "code" class_code
.use32
entry start
export twice
proc start
inner:
 call twice
 mov ecx, [value]
 add eax, ecx
 push eax
 call ExitProcess
endp
proc twice noframe
 mov eax, [value]
 add eax, eax
 ret
endp
proc spare noframe
 ret
endp
tail: nop
section "data" class_data
bval db 1
wval dw 2
value dd 14
qval dq 3
tval dt 4
text db "hello", 0
section "bss" class_bss
buf rb 64
section "idata" class_imports
import_dll kernel32.dll
import ExitProcess
import Unused
section "edata" class_exports
"""


def pe32():
    rc, text, exe = assemble("p32.exe", PE32, "-pe32", "-dbg", "-info")
    if not check("pe32: assembles", rc == 0 and exe, text):
        return
    readers_clean("pe32", exe, [["llvm-readobj", "--symbols", "--coff-debug-directory"], ["objdump", "-x"]])
    img = Image(exe)
    debug_section("pe32", img)
    syms = img.symbols
    names = [s["name"] for s in syms]
    check("pe32: every name once", len(names) == len(set(names)), names)
    sections = [(s["name"], s["va"]) for s in img.sections[:-1]]
    check("pe32: section symbols STATIC at their rvas",
          [(s["name"], s["value"]) for s in syms[:len(sections)]] == sections and
          all(s["storage"] == STATIC and s["type"] == 0 for s in syms[:len(sections)]), syms[:len(sections)])
    rest = syms[len(sections):]
    check("pe32: the used import undefined at 0",
          [(s["name"], s["section"], s["value"]) for s in rest[:1]] == [("ExitProcess", 0, 0)], rest[:1])
    check("pe32: import, export, each PROC followed by its local labels",
          [s["name"] for s in rest[:5]] == ["ExitProcess", "twice", "start", "start.inner", "spare"], rest[:5])
    check("pe32: all EXTERNAL functions", all(s["storage"] == EXTERNAL and s["type"] == 0x20 for s in rest), rest)
    want = {}
    for n, a in info_addresses("p32.exe"):
        want.setdefault(n, a - img.image_base)
    want["start.inner"] = want.pop("inner")
    got = {s["name"]: s["value"] for s in rest[1:]}
    check("pe32: export, PROCs, local label and labels at the -info addresses", got == want, (got, want))
    by_name = {s["name"]: s for s in rest}
    check("pe32: symbols name their sections", by_name["text"]["section"] == 2 and by_name["buf"]["section"] == 3
          and by_name["tail"]["section"] == 1, by_name)
    got = run(exe, "pe32")
    if got is not None:
        check("pe32: runs", got[0] == 42, got)


def pe32_limits():
    source = "".join('section "s%d" class_%s\n%s\n' % (i, "code" if i == 0 else "data",
                                                       "l%d: db %d" % (i, i)) for i in range(64))
    rc, text, exe = assemble("s64.exe", source, "-pe32", "-dbg")
    if check("64 sections: assemble", rc == 0 and exe, text):
        img = Image(exe)
        check("64 sections: the debug section is header 65", img.nsec == 65 and img.sections[-1]["name"] == "debug")
        debug_section("64 sections", img)
        readers_clean("64 sections", exe, [["llvm-readobj", "--sections", "--symbols"]])
    count = 60000
    source = 'section "code" class_code\n' + "".join("label_with_a_longer_name_%05d: nop\n" % i for i in range(count))
    rc, text, exe = assemble("many.exe", source, "-pe32", "-dbg")
    if check("60000 labels: assemble", rc == 0 and exe, text):
        img = Image(exe)
        debug_section("60000 labels", img)
        last = img.symbols[-1]
        check("60000 labels: all of them", img.nsym == count + 1 and
              (last["name"], last["value"]) == ("label_with_a_longer_name_%05d" % (count - 1), 0x1000 + count - 1),
              (img.nsym, last))


def same_without_dbg():
    """-dbg changes nothing in binary and PE32+ output."""
    source = 'section "c" class_code\n.use64\nproc f\nx: nop\nret\nendp\nlbl: dq lbl\n'
    for fmt in ("-binary", "-pe64"):
        outs = []
        for extra in ((), ("-dbg",), ("-dbg2",)):
            rc, text, out = assemble("same" + fmt + "".join(extra), source, fmt, *extra)
            outs.append(open(out, "rb").read() if rc == 0 and out else None)
        check("%s: -dbg changes nothing" % fmt, outs[0] is not None and outs[0] == outs[1] == outs[2])


COFF = """section "text" class_code
.use%(bits)d
extern ExitProcess%(alias)s
entry start
export start
export exported
include "inc/a_file_name_of_more_than_18.inc"
include "b.inc"
proc helper noframe
 nop
endp
proc helper2 noframe
inner:
 nop
 nop
endp
proc exported noframe
 mov eax, 42
 ret
endp
start:
common:
%(call)s
"""

OTHER = """section "text" class_code
.use%d
proc helper noframe
common: ret
endp
common2:
common: nop
"""


def coff(bits, debug):
    name = "c%d%s" % (bits, debug)
    with open(path("b.inc"), "w") as f:
        f.write("nop\r\n")
    os.makedirs(path("inc"), exist_ok=True)
    with open(path("inc/a_file_name_of_more_than_18.inc"), "w") as f:
        f.write("nop\r\n")
    call = "sub rsp, 40\n call exported\n mov ecx, eax\n call ExitProcess" if bits == 64 else \
        " call exported\n push eax\n call ExitProcess"
    source = COFF % dict(bits=bits, alias="" if bits == 64 else ' alias "_ExitProcess@4"', call=call)
    fmt = "-coff64" if bits == 64 else "-coff"
    code, text, o = assemble(name + ".obj", source, fmt, debug)
    if not check(name + ": assembles", code == 0 and o, text):
        return
    readers_clean(name, o, [["objdump", "-t"]])
    d = open(o, "rb").read()
    syms, _ = symbols(d, u32(d, 8), u32(d, 12))
    files = [(s["section"], s["storage"], b"".join(s["aux"]).rstrip(b"\0").decode()) for s in syms[:3]]
    check(name + ": .file records first", [s["name"] for s in syms[:3]] == [".file"] * 3 and
          files == [(-2, FILE, "t.asm"),
                    (-2, FILE, "inc/a_file_name_of_more_than_18.inc"), (-2, FILE, "b.inc")] and
          len(syms[1]["aux"]) == 2, files)
    check(name + ": then the section", syms[3]["name"] == "text" and syms[3]["storage"] == STATIC, syms[3])
    plain = [(s["name"], s["storage"]) for s in syms if not s["name"].startswith(".") and s["name"] != "text"]
    names = [n for n, _ in plain]
    imp = "ExitProcess" if bits == 64 else "_ExitProcess@4"
    check(name + ": each name once, exported ones EXTERNAL, the others STATIC",
          sorted(plain) == sorted([(imp, EXTERNAL), ("start", EXTERNAL), ("exported", EXTERNAL), ("helper", STATIC),
                                   ("helper2", STATIC), ("helper2.inner", STATIC), ("common", STATIC)]) and
          len(names) == len(set(names)), plain)
    if debug == "-dbg2":
        funcs = [s for s in syms if s["name"] in ("helper", "helper2", "exported")]
        check(name + ": three function records", [f["name"] for f in funcs] == ["helper", "helper2", "exported"])
        for k, f in enumerate(funcs):
            i = f["index"]
            tag, total, _, nxt = struct.unpack_from("<IIII", f["aux"][0], 0)
            bf, lf, ef = syms[syms.index(f) + 1:syms.index(f) + 4]
            want_next = funcs[k + 1]["index"] if k + 1 < len(funcs) else 0
            check(name + ": %s: tag, size, next" % f["name"], (tag, total, nxt) == (i + 2, [1, 2, 6][k], want_next),
                  (tag, total, nxt))
            lines = [u32(bf["aux"][0], 4), u32(ef["aux"][0], 4)]
            check(name + ": %s: .bf .lf .ef with the proc and endp lines" % f["name"],
                  [(s["name"], s["storage"], len(s["aux"])) for s in (bf, lf, ef)] ==
                  [(".bf", FUNCTION, 1), (".lf", FUNCTION, 0), (".ef", FUNCTION, 1)] and
                  lines == [[9, 12, 17][k], [11, 16, 20][k]], lines)
    code, text, other = assemble(name + "_other.obj", OTHER % bits, fmt, debug)
    if not check(name + ": the other object assembles", code == 0 and other, text):
        return
    exe = path(name + ".exe")
    code, text = tool(LD[bits], o, other, "-e", "start", "--subsystem", "console", "-L", LIB[bits], "-lkernel32",
                      "-o", exe)
    if check(name + ": two objects defining common link", code == 0, text):
        got = run(exe, "pe%d" % bits)
        if got is not None:
            check(name + ": exits 42", got[0] == 42, got)


def main():
    pe32()
    pe32_limits()
    same_without_dbg()
    for bits in (64, 32):
        for debug in ("-dbg", "-dbg2"):
            coff(bits, debug)
    return finish()


if __name__ == "__main__":
    sys.exit(main())
