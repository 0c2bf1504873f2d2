#!/usr/bin/env python3
"""OMF32 modules read back record by record (obj_lib.Omf), and random
programs compared with nasm -f obj (flat segments) by what their modules
mean: segments, images, FIXUPs, publics and the start address. No OMF linker
runs here.

Usage: omf_objects.py <qrn_asm> [seed]
Exits 77 (skipped) when nasm is missing."""
import os
import random
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from obj_lib import WORK, Coff, Omf, check, finish, path  # noqa: E402

QRN = os.path.abspath(sys.argv[1])
SEED = int(sys.argv[2]) if len(sys.argv) > 2 else 31
NASM = shutil.which("nasm")
if not NASM:
    print("SKIP: nasm not found")
    sys.exit(77)


def qrn(name, source, *extra, out=None):
    """Assembles in WORK under a relative name: (exit code, messages, Omf or None)."""
    with open(path(name + ".asm"), "w", newline="") as f:
        f.write(source.replace("\n", "\r\n"))
    out = out or name + ".obj"
    if os.path.exists(path(out)):
        os.remove(path(out))
    r = subprocess.run([QRN, "-omf32", *extra, name + ".asm", out], cwd=WORK, capture_output=True, text=True,
                       errors="replace")
    o = Omf(path(out)) if os.path.exists(path(out)) else None
    return r.returncode, r.stdout + r.stderr, o


def module(name, source, *extra):
    code, text, o = qrn(name, source, "-q", *extra)
    if not check(name + ": assembles", code == 0 and o, text):
        return None
    check(name + ": records read back", not o.problems, o.problems)
    return o


def fixups(o):
    return [f[:2] + f[2:4] + f[5:] for f in o.meaning()["fixups"]]  # without the frame: always F1 FLAT


# ---- the module record by record -------------------------------------------------------

GOLDEN = [
    "80 0700 05 742E61736D 00",     # THEADR "t.asm"
    "96 0600 04 636F6465 00",       # LNAMES 1 code
    "96 0600 04 434F4445 00",       # LNAMES 2 CODE
    "96 0600 04 64617461 00",       # LNAMES 3 data
    "96 0600 04 44415441 00",       # LNAMES 4 DATA
    "99 0900 A9 02000000 01 02 00 00",
    "99 0900 A9 03000000 03 04 00 00",
    "96 0600 04 464C4154 00",       # LNAMES 5 FLAT
    "9A 0200 05 00",                # GRPDEF FLAT, no segments
    "A1 0800 01 00000000 90CC 00",
    "A1 0900 02 00000000 010203 00",
    "8B 0200 00 00",                # MODEND, no start
]


def golden():
    code, text, o = qrn("t", 'section "code" class_code\nnop\nint3\nsection "data" class_data\ndb 1,2,3\n')
    want = [bytes.fromhex(r) for r in GOLDEN]
    if check("t: assembles", code == 0 and o, text):
        got = [r for _, r in o.records]
        check("t: records", got == want, [r.hex(" ") for r in got])
        check("t: Output bytes", "Output bytes   : %d " % len(o.data) in text, text)
    code, text, o = qrn("t", 'section "code" class_code\nnop\n', out="no_dir/t.obj")
    check("create failure", code == 1 and "Output: can not create file" in text and o is None, text)


# (name, body, check on the module). Sections: code (and code2, data as the body makes them).
CLASSES = ["class_code", "class_data", "class_bss", "class_imports", "class_rsrc", "class_exports",
           "class_relocs"]
TWO = 'section "code" class_code\n%s\nsection "code2" class_code\nnop\nnop\nnop\nother: ret\n' \
      'section "data" class_data\ndb 1,2\nmsg dd 3\n'
CASES = [
    ("classes", "".join('section "s%d" %s alias "a%d"\ndb 1\n' % (i, c, i) for i, c in enumerate(CLASSES)),
     lambda o: [(s["name"], s["cls"]) for s in o.segments] ==
     [("a%d" % i, c) for i, c in enumerate(["CODE", "DATA", ".bss", ".idata", ".rsrc", ".edata", ".reloc"])]),
    ("externs", TWO % "extern ext1\nextern ext2\ncall ext2\nmov ecx,[msg]",
     lambda o: o.externs == ["ext1", "ext2"] and
     fixups(o) == [("code", 1, 0, 9, "ext2", 0), ("code", 7, 1, 9, "data", 2)] and
     (0x9D, bytes.fromhex("9D 0600 A401 16 01 02 00")) in o.records),
    ("across", TWO % "call other\njmp other\njne other",
     lambda o: o.image("code")[:16] == bytes.fromhex("E8 03000000 E9 03000000 0F85 03000000") and
     fixups(o) == [("code", 1, 0, 9, "code2", 3), ("code", 6, 0, 9, "code2", 3), ("code", 12, 0, 9, "code2", 3)]),
    ("import", 'section "code" class_code\nimport fp\ncall fp\nret\nsection "code2" class_code\ncall fp\n',
     lambda o: o.image("code") == bytes.fromhex("E8 1B000000 C3") + b"\x90" * 26 + bytes.fromhex("FF25 00000000")
     and fixups(o) == [("code", 34, 1, 9, "fp", 0), ("code2", 1, 0, 9, "code", 32)]),
    ("entry", 'section "code" class_code\nentry start\nexport start\nexport util alias "asm_util"\nnop\nnop\n'
     'util: nop\nstart: ret\n',
     lambda o: [(p["name"], p["group"], p["segment"], p["offset"]) for p in o.publics] ==
     [("start", 1, 1, 3), ("asm_util", 1, 1, 2)] and
     o.records[-1][1] == bytes.fromhex("8B 0900 C1 10 01 01 03000000 00")),
    ("numeric_entry", 'section "code" class_code\nentry 1234h\nnop\n',
     lambda o: [(p["name"], p["group"], p["segment"], p["frame"], p["offset"]) for p in o.publics] ==
     [("1234h", 0, 0, 0, 0x1234)] and o.records[-1][1] == bytes.fromhex("8B 0900 C1 11 01 01 34120000 00")),
    ("dq", TWO % "dq msg\ndd msg+5", lambda o: fixups(o) == [("code", 0, 1, 9, "data", 2), ("code", 8, 1, 9, "data", 7)]
     and o.image("code")[:12] == bytes.fromhex("02000000 00000000 07000000")),
    ("rip64", TWO % ".use64\nlea rax,[msg]\nadd dword [msg],5\n.use32",
     lambda o: fixups(o) == [("code", 3, 0, 9, "data", 2), ("code", 9, 0, 9, "data", 1)]),
    ("align", 'section "code" class_code\nalign 16\nnop\nsection "d32" class_data\nalign 32\ndb 0\n'
     'section "d4096" class_data\nalign 4096\ndb 0\nsection "p" class_code\nproc f\nret\nendp\n',
     lambda o: [s["acbp"] for s in o.segments] == [0x69, 0x89, 0xC9, 0x69]),
]

# (name, body, message): refused, exit 1, no file
REFUSED = [
    ("rva", TWO % "mov eax, <rva msg>", "OMF: unknown relocation type"),
    ("align8192", 'section "code" class_code\nalign 8192\nnop\n', "OMF: section alignment too big: code"),
]


def small_cases():
    for name, body, good in CASES:
        o = module(name, body)
        if o:
            check(name + ": meaning", good(o), (o.meaning()["fixups"], o.publics, o.segments, o.records[-1]))
    for name, body, message in REFUSED:
        code, text, o = qrn(name, body, "-q")
        check(name + ": refused", code == 1 and message in text and o is None, text)


# ---- sizes that need the long forms ----------------------------------------------------

def reads_back(name, o):
    check(name + ": every FIXUP inside its LEDATA", not o.problems, o.problems[:3])
    check(name + ": LEDATA records of at most 1 KiB", all(n <= 1024 for _, _, n in o.ledata))


def big_cases():
    fields = [10, 1022, 2500]
    body = 'section "code" class_code\n'
    at = 0
    for k, f in enumerate(fields):
        body += "db %s\n" % ",".join(["7"] * (f - at)) if f > at else ""
        body += "dd t%d\n" % k
        at = f + 4
    body += "db %s\n" % ",".join(["7"] * (3000 - at))
    body += 'section "data" class_data\n' + "".join("db 0\nt%d:\n" % k for k in range(3)) + "rb 1600000\ndd t1\n"
    o = module("big", body)
    if o:
        reads_back("big", o)
        got = [(f[0], f[1], f[5], f[6]) for f in o.meaning()["fixups"]]
        check("big: fields at 10, 1022, 2500 and past 1.6 MB", got == [("code", 10, "data", 1), ("code", 1022, "data", 2),
              ("code", 2500, "data", 3), ("data", 1600003, "data", 2)], got)
        check("big: lengths", [s["length"] for s in o.segments] == [3000, 1600007])
    body = 'section "code" class_code\n' + "".join("extern x%d\n" % i for i in range(200)) + \
           "".join("call x%d\n" % i for i in range(200))
    o = module("externs200", body)
    if o:
        reads_back("externs200", o)
        got = [(f[1], f[5]) for f in o.meaning()["fixups"]]
        check("externs200: each call to its own external", got == [(5 * i + 1, "x%d" % i) for i in range(200)])
    body = "".join('section "s%d" class_data\ndd s%d_at\ns%d_at: dd 0\n' % (i, (i + 1) % 64, i) for i in range(64))
    o = module("sections64", body)
    if o:
        reads_back("sections64", o)
        got = [(f[0], f[5], f[6]) for f in o.meaning()["fixups"]]
        check("sections64: each field to its own segment",
              got == sorted(("s%d" % i, "s%d" % ((i + 1) % 64), 4) for i in range(64)), got[:4])
        group = [r for t, r in o.records if t == 0x9A]
        check("sections64: FLAT is LNAMES 129", group == [bytes.fromhex("9A 0300 8081 00")], group)
    body = 'section "code" class_code\n' + "".join("extern x%d\n" % i for i in range(32768))
    code, text, o = qrn("externs32768", body, "-q")
    check("externs32768: refused", code == 1 and "OMF: too many EXTDEF names" in text and o is None, text)


# ---- a program of PROCs, INVOKE, macros and structures: as its COFF32 object ----------

PROGRAM = """section "text" class_code
import MessageBoxA alias "__imp__MessageBoxA@16"
extern printf alias "_printf"
entry start
export helper alias "_helper"
struc POINT
x dd ?
y dd ?
ends
macro addto
marg dst, val
add dst, val
endm
proc helper stdcall
uses ebx
arg a b
local t
mov eax, [a]
addto eax, [b]
mov [t], eax
mov ebx, [pt.y]
ret
endp
start:
invoke helper, [counter], addr pt
cinvoke printf, msg, eax
invoke MessageBoxA, 0, msg, msg, 0
call dword [table+4]
call other
section "text2" class_code
other: mov eax, [counter]
jmp helper
section "data" class_data
align 16
counter dd 5
pt POINT { 3, table }
table dd helper, other, pt
msg db "abc", 0
section "bss" class_bss
buf rb 100
"""


def as_coff():
    o = module("program", PROGRAM)
    r = subprocess.run([QRN, "-coff", "-q", "program.asm", "program.o"], cwd=WORK, capture_output=True, text=True)
    if not o or not check("program: COFF32 assembles", r.returncode == 0, r.stdout):
        return
    m, c = o.meaning(), Coff(path("program.o"))
    for s in c.sections:
        image = c.data[s["ptr"]:s["ptr"] + s["size"]] if s["ptr"] else bytes(s["size"])
        relocs = sorted((s["name"], at, {6: 1, 20: 0}[t], sym, field) for at, t, sym, field in s["relocs"])
        got = [f[:3] + f[5:] for f in m["fixups"] if f[0] == s["name"]]
        check("program: %s as in COFF32" % s["name"], image == m["images"][s["name"]] and got == relocs,
              "\nomf:  %s\ncoff: %s" % (got, relocs))


# ---- random programs against nasm ------------------------------------------------------

SECTIONS = [("code", "CODE"), ("code2", "CODE"), ("data", "DATA"), ("data2", "DATA")]


def random_pair(rng):
    """One program in both languages: (ours, nasm's)."""
    labels = {s: ["%s_l%d" % (s, k) for k in range(rng.randint(1, 4))] for s, _ in SECTIONS}
    everything = [l for s in labels for l in labels[s]]
    code_labels = labels["code"] + labels["code2"]
    imports = ["fp%d" % k for k in range(rng.randint(0, 3))]
    externs = ["ext%d" % k for k in range(rng.randint(0, 3))]
    used_imports = set()
    ours = {s: [] for s, _ in SECTIONS}
    theirs = {s: [] for s, _ in SECTIONS}
    aligns = {s: 4 for s, _ in SECTIONS}

    def both(sec, a, b=None):
        ours[sec].append(a)
        theirs[sec].append(a if b is None else b)

    for sec, cls in SECTIONS:
        code = cls == "CODE"
        pending = list(labels[sec])
        for _ in range(rng.randint(3, 14)):
            if pending and rng.random() < 0.4:
                both(sec, pending.pop(0) + ":")
            label = rng.choice(everything)
            n = rng.randint(-8, 40)
            kind = rng.randrange(13 if code else 3)
            if kind == 0:
                both(sec, "dd %s%+d" % (label, n))
            elif kind == 1:
                size = rng.choice([1, 3, 16, rng.randint(1, 1100)])
                data = [rng.getrandbits(8) for _ in range(size)]
                for k in range(0, size, 24):
                    both(sec, "db " + ",".join(str(b) for b in data[k:k + 24]))
            elif kind == 2:
                a = rng.choice([8, 16, 32])
                aligns[sec] = max(aligns[sec], a)
                both(sec, "align %d" % a, "align %d%s" % (a, "" if code else ", db 0"))
            elif kind == 3:
                both(sec, "push %s" % label, "push dword %s" % label)
            elif kind == 4:
                both(sec, "mov eax,%s" % label)
            elif kind == 5:
                both(sec, "mov ecx,dword [%s%+d]" % (label, n), "mov ecx,[%s%+d]" % (label, n))
            elif kind == 6:
                both(sec, "mov dword [%s],%s" % (label, rng.choice(everything)))
            elif kind == 7:
                both(sec, "lea edx,[%s+ebx*4]" % label)
            elif kind in (8, 9):
                target = rng.choice(code_labels)
                op = rng.choice(["call", "jmp", "jne"] if kind == 8 else ["call"])
                near = "" if op == "call" or target not in labels[sec] else " near"
                both(sec, "%s %s" % (op, target), "%s%s %s" % (op, near, target))
            elif kind == 10 and externs:
                both(sec, "call %s" % rng.choice(externs))
            elif kind == 11 and imports:
                fp = rng.choice(imports)
                used_imports.add(fp)
                both(sec, "call %s" % fp, "call %s_thunk" % fp)
            else:
                both(sec, "nop")
        for label in pending:
            both(sec, label + ":")
        both(sec, "ret" if code else "db 0")
    start = rng.choice(code_labels)
    head = ["import %s" % f for f in imports] + ["extern %s" % e for e in externs] + \
           ["entry %s" % start, "export %s" % start]
    src = []
    for sec, cls in SECTIONS:
        src.append('section "%s" class_%s' % (sec, cls.lower()))
        if sec == "code":
            src += head
        src += ours[sec]
    nasm = []
    for sec, cls in SECTIONS:
        nasm.append("segment %s public use32 class=%s align=%d flat" % (sec, cls, aligns[sec]))
        if sec == "code":  # declared in a flat segment: their frame is FLAT too
            nasm += ["extern %s" % e for e in externs + imports] + ["global %s" % start]
        nasm += [l + "\n..start:" if l == start + ":" else l for l in theirs[sec]]
        if sec == "code" and (imports or externs):
            nasm.append("times (32 - ($ - $$) %% 32) %% 32 nop")  # as the thunks start; no segment alignment
            nasm += ["%s_thunk: jmp [%s]" % (f, f) for f in imports if f in used_imports]
    return "\n".join(src) + "\n", "\n".join(nasm) + "\n"


def random_cases():
    rng = random.Random(SEED)
    for k in range(40):
        name = "random%d" % k
        ours, theirs = random_pair(rng)
        o = module(name, ours)
        with open(path(name + "_nasm.asm"), "w") as f:
            f.write(theirs)
        r = subprocess.run([NASM, "-f", "obj", "-o", path(name + "_nasm.obj"), path(name + "_nasm.asm")],
                           capture_output=True, text=True)
        if not check(name + ": nasm assembles", r.returncode == 0, r.stderr) or not o:
            continue
        want, got = Omf(path(name + "_nasm.obj")).meaning(), o.meaning()
        for part in ("segments", "images", "fixups", "publics", "start"):
            check("%s: %s as nasm's" % (name, part), got[part] == want[part],
                  "\nqrn:  %s\nnasm: %s" % (set(got[part]) - set(want[part]), set(want[part]) - set(got[part]))
                  if part == "fixups" else "\nqrn:  %s\nnasm: %s" % (got[part], want[part]))


def main():
    golden()
    small_cases()
    big_cases()
    as_coff()
    random_cases()
    return finish()


if __name__ == "__main__":
    sys.exit(main())
