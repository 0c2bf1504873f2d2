"""PE images read back through objdump and llvm-readobj, and run under wine.

Usage: pe_images.py <qrn_asm>

Structural checks always run. Programs run under wine where it can run
them; where 32-bit wine cannot run here, the PE32 runs are skipped with one
visible line.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

QRN = sys.argv[1]
WORK = tempfile.mkdtemp(prefix="qrn_pe_")
results = {"passed": 0, "failed": 0}


def check(name, condition, detail=""):
    if condition:
        results["passed"] += 1
    else:
        results["failed"] += 1
        detail = str(detail)
        print("FAIL %s %s" % (name, detail if len(detail) < 400 else detail[:400] + " ..."))


def assemble(name, source, args=("-pe32", "-console")):
    """Assembles source into WORK/name; returns (exit code, console text, path)."""
    src = os.path.join(WORK, name + ".asm")
    out = os.path.join(WORK, name)
    with open(src, "w", newline="") as f:
        f.write(source.replace("\n", "\r\n"))
    r = subprocess.run([QRN, *args, src, out], capture_output=True, text=True, errors="replace")
    return r.returncode, r.stdout + r.stderr, out


def tool(*command):
    r = subprocess.run(command, capture_output=True, text=True, errors="replace")
    return r.stdout + r.stderr


class Pe:
    """The few structures the checks read, straight from the file."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        self.lfanew = struct.unpack_from("<I", d, 0x3C)[0]
        pe = self.lfanew
        self.machine, self.nsections = struct.unpack_from("<HH", d, pe + 4)
        self.opt_size, self.characteristics = struct.unpack_from("<HH", d, pe + 20)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", d, opt)[0]
        self.entry = struct.unpack_from("<I", d, opt + 16)[0]
        plus = self.magic == 0x20B
        self.image_base = struct.unpack_from("<Q" if plus else "<I", d, opt + (24 if plus else 28))[0]
        self.header_size = struct.unpack_from("<I", d, opt + 60)[0]
        self.subsystem = struct.unpack_from("<H", d, opt + 68)[0]
        dirs = opt + self.opt_size - 128
        self.dirs = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(16)]
        self.sections = []
        at = opt + self.opt_size
        for _ in range(self.nsections):
            name = d[at:at + 8].rstrip(b"\0").decode()
            vsize, rva, raw, ptr = struct.unpack_from("<IIII", d, at + 8)
            self.sections.append((name, rva, vsize, raw, ptr))
            at += 40

    def read(self, rva, n):
        for _, s_rva, vsize, raw, ptr in self.sections:
            if s_rva <= rva < s_rva + max(vsize, raw):
                return self.data[ptr + rva - s_rva: ptr + rva - s_rva + n]
        raise ValueError("rva %x outside the sections" % rva)

    def u32(self, rva):
        return struct.unpack("<I", self.read(rva, 4))[0]

    def base_relocs(self):
        """(block rva, block size, [(type, rva)]) for every block of the directory."""
        rva, size = self.dirs[5]
        blocks, at = [], 0
        table = self.read(rva, size)
        while at < size:
            page, length = struct.unpack_from("<II", table, at)
            entries = [(e >> 12, page + (e & 0xFFF)) for e in
                       struct.unpack_from("<%dH" % ((length - 8) // 2), table, at + 8)]
            blocks.append((page, length, entries))
            at += length
        return blocks


# ---- wine ------------------------------------------------------------------------------
# The test command's program runner where it exists; wine directly otherwise.

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
try:
    import run_program
except ImportError:
    run_program = None

# What wine says when it cannot run a 32-bit image at all (no wine32, no
# working wow64): such runs are skipped, any other outcome is judged.
WINE_BROKEN = re.compile(r"wine32 is missing|Exec format error|load_wow64_ntdll|syswow64|cannot execute")


def wine_program(wide):
    """PE32+ images run under the 64-bit loader itself where the wrapper lacks it."""
    if wide and os.access("/usr/lib/wine/wine64", os.X_OK):
        return "/usr/lib/wine/wine64"
    return "wine64" if wide and shutil.which("wine64") else "wine"


def wine_run(exe, wide):
    """(exit code, stdout), or None when this machine cannot run the image at all."""
    if run_program is not None:
        try:
            r = run_program.run(exe, cwd=os.path.dirname(exe), timeout=120)
        except run_program.Skipped:
            return None
        return (-1 if r.returncode is None else r.returncode), r.stdout
    wine = wine_program(wide)
    if shutil.which(wine) is None:
        return None
    env = dict(os.environ, WINEDEBUG="fixme-all")
    try:
        r = subprocess.run([wine, exe], capture_output=True, env=env, timeout=120, cwd=os.path.dirname(exe))
    except subprocess.TimeoutExpired:
        return (-1, b"timeout")
    if WINE_BROKEN.search(r.stderr.decode(errors="replace") + r.stdout.decode(errors="replace")):
        return None
    return r.returncode, r.stdout


skipped_runs = []


def expect_run(name, exe, code, output=None, wide=False):
    got = wine_run(exe, wide)
    if got is None:
        if wide:  # PE32+ runs are not skipped
            check(name + " runs under wine", False, "wine cannot run PE32+ images here")
        else:
            skipped_runs.append(name)
        return
    check(name + " exit code", got[0] == code, "expected %d, got %d" % (code, got[0]))
    if output is not None:
        check(name + " output", got[1] == output, "got %r" % got[1])


# ---- The programs --------------------------------------------------------------------------

EXIT42 = """section "code" class_code
sub esp,4
mov eax,[value]
mov [esp],eax
call ExitProcess
section "data" class_data
value dd 42
section "idata" class_imports
import_dll kernel32.dll
import GetStdHandle
import ExitProcess
import_dll user32.dll
import MessageBoxA
"""


def test_console_exit():
    rc, text, exe = assemble("exit42.exe", EXIT42)
    check("exit42 assembles", rc == 0, text)
    pe = Pe(exe)
    check("e_lfanew", pe.lfanew == 0x100)
    check("magic", pe.magic == 0x10B)
    check("image base", pe.image_base == 0x400000)
    check("entry", pe.entry == 0x1000)
    check("subsystem", pe.subsystem == 3)
    check("SizeOfHeaders", pe.header_size == 0x400)
    check("characteristics", pe.characteristics == 0x102)
    check("sections", [(s[0], s[1], s[4]) for s in pe.sections] ==
          [("code", 0x1000, 0x400), ("data", 0x2000, 0x600), ("idata", 0x3000, 0x800)], pe.sections)
    check("import directory", pe.dirs[1] == (0x3000, 40), pe.dirs[1])
    p = tool("objdump", "-p", exe)
    check("one DLL imported", p.count("DLL Name:") == 1 and "kernel32.dll" in p and "user32" not in p, p)
    check("only ExitProcess", "ExitProcess" in p and "GetStdHandle" not in p and "MessageBoxA" not in p)
    check("IAT at 3028h", pe.u32(0x3010) == 0x3028)
    d = tool("objdump", "-d", "-M", "intel", exe)
    check("call reaches the thunk", re.search(r"call\s+0x401020", d) is not None, d)
    check("thunk", re.search(r"401020:\s+ff 25 28 30 40 00\s+jmp\s+DWORD PTR ds:0x403028", d) is not None, d)
    r = tool("llvm-readobj", "--coff-imports", exe)
    check("llvm-readobj imports", "Name: kernel32.dll" in r and "Symbol: ExitProcess" in r, r)
    expect_run("exit42", exe, 42)


def test_two_libraries():
    src = """section "code" class_code
call Beep
call GetTickCount
call MessageBeep
call ExitProcess
section "idata" class_imports
import_dll kernel32.dll
import GetTickCount
import Unused
import ExitProcess
import Beep
import_dll user32.dll
import MessageBeep
"""
    rc, text, exe = assemble("two.exe", src)
    check("two libraries assemble", rc == 0, text)
    pe = Pe(exe)
    check("directory 60", pe.dirs[1] == (0x2000, 60), pe.dirs[1])
    desc = pe.read(0x2000, 60)
    first = struct.unpack_from("<5I", desc, 0)
    second = struct.unpack_from("<5I", desc, 20)
    check("OriginalFirstThunk 0", first[0] == 0 and second[0] == 0)
    check("zero descriptor", desc[40:60] == bytes(20))
    iat = first[4]
    slots = [pe.u32(iat + 4 * i) for i in range(6)]
    check("slot lists end with 0", slots[3] == 0 and slots[5] == 0 and all(slots[i] for i in (0, 1, 2, 4)), slots)
    names = [pe.read(s, 2 + 16) for s in slots[:3]]
    check("hint 0", all(n[:2] == b"\0\0" for n in names))
    check("import table order", [n[2:].split(b"\0")[0] for n in names] == [b"GetTickCount", b"ExitProcess", b"Beep"])
    check("names unpadded", slots[1] - slots[0] == 2 + len("GetTickCount") + 1, slots)
    d = tool("objdump", "-d", "-M", "intel", exe)
    thunks = re.findall(r"([0-9a-f]+):\s+ff 25 .. .. .. ..\s+jmp\s+DWORD PTR ds:0x([0-9a-f]+)", d)
    want = [0x401020 + 6 * i for i in range(4)]
    check("6-byte thunks", [int(a, 16) for a, _ in thunks] == want, thunks)
    check("each through its own slot", [int(s, 16) - 0x400000 for _, s in thunks] ==
          [iat, iat + 4, iat + 8, second[4]], thunks)
    calls = [int(t, 16) for t in re.findall(r"call\s+0x([0-9a-f]+)", d)]
    check("calls reach their thunks", calls == [want[2], want[0], want[3], want[1]], calls)


def test_aliases():
    src = """section "code" class_code
call MyBeep
call MyExit
section "idata" class_imports
import_dll kernel32.dll
import MyExit alias "ExitProcess"
import_dll user32.dll
import MyBeep %s alias "MessageBeep"
"""
    rc, text, exe = assemble("alias.exe", src % "")
    check("aliases assemble", rc == 0, text)
    r = tool("llvm-readobj", "--coff-imports", exe)
    check("alias imports ExitProcess", "Symbol: ExitProcess" in r and "MyExit" not in r, r)
    check("alias imports MessageBeep", "Symbol: MessageBeep" in r and "MyBeep" not in r, r)
    rc, text, exe = assemble("alias_conv.exe", src % "stdcall")
    r = tool("llvm-readobj", "--coff-imports", exe)
    check("alias after a convention", rc == 0 and "Symbol: MessageBeep" in r, text + r)


def test_entry_proc():
    src = """section "code" class_code
db 1, 2, 3
proc start
nop
endp
entry start
"""
    rc, text, exe = assemble("entry_proc.exe", src)
    check("entry naming a PROC", rc == 0 and Pe(exe).entry == 0x1010, text)


def dll_source(value):
    return """section "code" class_code
dllmain:
mov eax, 1
db 0C2h, 12, 0
b:
mov eax, 100
db 0C3h
a:
mov eax, [one]
db 0C3h
ab:
mov eax, [ten]
add eax, %d
db 0C3h
section "data" class_data
one dd 1
ten dd 10
section "edata" class_exports
export b
export a
export ab
entry dllmain
section "reloc" class_relocs
""" % value


def test_dll_and_client():
    os.makedirs(os.path.join(WORK, "sub"), exist_ok=True)
    rc, text, dll = assemble(os.path.join("sub", "qrn_lib.dll"), dll_source(0), ("-pe32", "-dll"))
    check("DLL assembles", rc == 0, text)
    rc, text, dll2 = assemble(os.path.join("sub", "qrn_lib2.dll"), dll_source(100), ("-pe32", "-dll"))
    pe = Pe(dll)
    check("DLL characteristics", pe.characteristics == 0x2102)
    check("DLL image base", pe.image_base == 0x10000000)
    check("DLL entry", pe.entry == 0x1000)
    r = tool("llvm-readobj", "--coff-exports", dll)
    exports = re.findall(r"Ordinal: (\d+)\s+Name: (\w+)\s+RVA: 0x([0-9A-F]+)", r)
    check("exports sorted with ordinals", exports == [("1", "a", "100E"), ("2", "ab", "1014"), ("3", "b", "1008")],
          exports)
    name_rva = struct.unpack_from("<I", pe.read(pe.dirs[0][0] + 12, 4))[0]
    check("export name is the file's base name", pe.read(name_rva, 12) == b"qrn_lib.dll\0")
    rel = tool("llvm-readobj", "--coff-basereloc", dll)
    check("DLL relocations", rel.count("HIGHLOW") == 2, rel)
    client = """section "code" class_code
call a
mov ebx, eax
call ab
add ebx, eax
call b
add ebx, eax
call ab2
add ebx, eax
sub esp, 4
mov [esp], ebx
call ExitProcess
section "idata" class_imports
import_dll kernel32.dll
import ExitProcess
import_dll qrn_lib.dll
import a
import ab
import b
import_dll qrn_lib2.dll
import ab2 alias "ab"
"""
    rc, text, exe = assemble(os.path.join("sub", "client.exe"), client)
    check("client assembles", rc == 0, text)
    r = tool("llvm-readobj", "--coff-imports", exe)
    check("client imports", r.count("Name: qrn_lib") == 2 and "Symbol: ab" in r, r)
    expect_run("DLL client (sum of a, ab, b and a rebased ab)", exe, 1 + 10 + 100 + 110)


def test_base_relocations():
    src = """section "code" class_code
nop
nop
nop
nop
dd v
section "data" class_data
dd 0, 0
v dd v
section "reloc" class_relocs
"""
    rc, text, exe = assemble("relocs.exe", src)
    check("relocations assemble", rc == 0, text)
    pe = Pe(exe)
    blocks = pe.base_relocs()
    check("blocks", [(b[0], b[1]) for b in blocks] == [(0x1000, 12), (0x2000, 10)], blocks)
    check("entries", [e for b in blocks for e in b[2]] == [(3, 0x1004), (0, 0x1000), (3, 0x2008)], blocks)
    check("directory size 22", pe.dirs[5][1] == 22, pe.dirs[5])
    r = tool("llvm-readobj", "--coff-basereloc", exe)
    check("llvm-readobj reads them", "Address: 0x1004" in r and "Address: 0x2008" in r, r)
    o = tool("objdump", "-p", exe)
    check("objdump reads the directory", re.search(r"Entry 5 00003000 00000016", o) is not None, o)

    n = 600000
    rc, text, exe = assemble("many.exe", 'section "data" class_data\nv:\n' + "dd v\n" * n +
                             'section "reloc" class_relocs\n')
    check("600,000 relocations assemble", rc == 0, text)
    pe = Pe(exe)
    entries = [e for b in pe.base_relocs() for e in b[2] if e[0] == 3]
    check("every entry written", len(entries) == n and entries[-1][1] == 0x1000 + 4 * (n - 1), len(entries))


def test_thunks_move():
    src = """section "code" class_code
call ExitProcess
db %s
section "idata" class_imports
import_dll kernel32.dll
import ExitProcess
"""
    for fill, thunk in ((27, 0x401020), (28, 0x401040)):  # 32 bytes of code, then 33
        rc, text, exe = assemble("move%d.exe" % fill, src % ", ".join(["90h"] * fill), ("-pe32",))
        d = tool("objdump", "-d", "-M", "intel", exe)
        check("thunk after %d bytes" % (5 + fill), re.search(r"%x:\s+ff 25" % thunk, d) is not None and
              re.search(r"call\s+0x%x" % thunk, d) is not None, d)


def test_console_program():
    src = """section "code" class_code
sub esp, 4
mov dword [esp], -11
call GetStdHandle
sub esp, 20
mov dword [esp+16], 0
mov dword [esp+12], written
mov dword [esp+8], length
mov dword [esp+4], text
mov [esp], eax
call WriteFile
sub esp, 4
mov dword [esp], 0
call ExitProcess
section "data" class_data
text db "hello from qrn_asm", 13, 10
length equ $-text
written dd 0
section "idata" class_imports
import_dll kernel32.dll
import GetStdHandle
import WriteFile
import ExitProcess
section "reloc" class_relocs
"""
    rc, text, exe = assemble("hello.exe", src)
    check("console program assembles", rc == 0, text)
    expect_run("console program", exe, 0, b"hello from qrn_asm\r\n")


def test_library_limit():
    src = 'section "code" class_code\nnop\n' + "".join("import_dll d%d.dll\n" % i for i in range(257))
    rc, text, _ = assemble("limit.exe", src)
    check("257th library refused", rc == 1 and "Can not create more DLL imports d256.dll" in text
          and "d255.dll" not in text, text)
    for args, message in ((("-pe32",), "Output: can not create file"), (("-pe64",), "Output: can not create file")):
        _, _, exe = assemble("x.exe", 'section "c" class_code\nnop\n', args)
        r = subprocess.run([QRN, *args, exe + ".asm", os.path.join(WORK, "missing", "x.exe")], capture_output=True,
                           text=True)
        rc, text = r.returncode, r.stdout + r.stderr
        check("%s: an output that cannot be created" % args[0], rc == 1 and message in text, text)


def test_header_size():
    """13 section headers fit 400h bytes of headers in both kinds; a 14th grows them to 600h.
    A PE32+ table (at 1E8h) that ends right at the header's end grows it too: 39 sections."""
    for args, lfanew, counts in (("-pe32", 0x100, ((13, 0x400), (14, 0x600))),
                                 ("-pe64", 0xE0, ((13, 0x400), (14, 0x600), (38, 0x800), (39, 0xA00)))):
        for count, size in counts:
            src = "".join('section "s%d" class_data\n' % i for i in range(1, count + 1)) + "db 1\n"
            rc, text, exe = assemble("sections%d.exe" % count, src, (args,))
            pe = Pe(exe)
            ok = (pe.lfanew, pe.header_size, pe.sections[-1][4], len(pe.sections)) == (lfanew, size, size, count)
            check("%s, %d sections: headers %xh" % (args, count, size), rc == 0 and ok and pe.data[size] == 1,
                  (text, pe.header_size, pe.sections[-1]))
            r = tool("llvm-readobj", "--sections", exe)
            check("%s, %d sections read back" % (args, count), r.count("Section {") == count, r)


# ---- PE32+ images, run under 64-bit wine ----------------------------------------------------

def test_pe64_exit():
    src = """section "code" class_code
.use64
start:
sub rsp, 40
mov ecx, [value]
call ExitProcess
section "data" class_data
value dd 42
section "idata" class_imports
import_dll kernel32.dll
import GetTickCount
import ExitProcess
entry start
"""
    rc, text, exe = assemble("exit42_64.exe", src, ("-pe64", "-console"))
    check("PE32+ assembles", rc == 0, text)
    pe = Pe(exe)
    check("PE32+ header", (pe.lfanew, pe.machine, pe.magic, pe.opt_size, pe.image_base, pe.entry) ==
          (0xE0, 0x8664, 0x20B, 0xF0, 0x400000, 0x1000), vars(pe).keys())
    check("PE32+ import directory: two zero descriptors", pe.dirs[1] == (0x3000, 60), pe.dirs[1])
    iat = struct.unpack_from("<I", pe.read(0x3000 + 16, 4))[0]
    check("8-byte IAT slots", iat == 0x303C and pe.read(iat + 4, 12) == bytes(12), hex(iat))
    d = tool("objdump", "-d", "-M", "intel", exe)
    check("RIP-relative thunk", re.search(r"401020:\s+ff 25 16 20 00 00\s+jmp\s+QWORD PTR \[rip\+0x2016\]", d)
          is not None, d)
    expect_run("PE32+ exit code", exe, 42, wide=True)


def test_pe64_no_entry():
    """Without `entry` a PE32+ image starts at its first section, as a PE32 image does."""
    src = """section "code" class_code
.use64
sub rsp, 40
mov ecx, 7
call ExitProcess
section "idata" class_imports
import_dll kernel32.dll
import ExitProcess
"""
    rc, text, exe = assemble("no_entry64.exe", src, ("-pe64", "-console"))
    check("PE32+ without entry: AddressOfEntryPoint 1000h", rc == 0 and Pe(exe).entry == 0x1000, text)
    expect_run("PE32+ without entry runs", exe, 7, wide=True)


def test_pe64_console_program():
    src = """section "code" class_code
.use64
start:
sub rsp, 56
mov ecx, -11
call GetStdHandle
mov rcx, rax
lea rdx, [text]
mov r8d, length
lea r9, [written]
mov qword [rsp+32], 0
call WriteFile
xor ecx, ecx
call ExitProcess
section "data" class_data
text db "hello from qrn_asm", 13, 10
length equ $-text
written dd 0
section "idata" class_imports
import_dll kernel32.dll
import GetStdHandle
import WriteFile
import ExitProcess
entry start
"""
    rc, text, exe = assemble("hello64.exe", src, ("-pe64", "-console"))
    check("PE32+ console program assembles", rc == 0, text)
    expect_run("PE32+ console program", exe, 0, b"hello from qrn_asm\r\n", wide=True)


def test_pe64_dll_and_client():
    dll = """section "code" class_code
.use64
dllmain:
mov eax, 1
db 0C3h
b:
mov eax, 100
db 0C3h
a:
mov eax, 1
db 0C3h
ab:
mov rax, [pointer]
mov eax, [rax]
add eax, %d
db 0C3h
section "data" class_data
ten dd 10
pointer dq ten
section "edata" class_exports
export b
export a
export ab
entry dllmain
section "reloc" class_relocs
"""
    os.makedirs(os.path.join(WORK, "sub64"), exist_ok=True)
    rc, text, path = assemble(os.path.join("sub64", "qrn_lib.dll"), dll % 0, ("-pe64", "-dll"))
    check("PE32+ DLL assembles", rc == 0, text)
    rc, text, path2 = assemble(os.path.join("sub64", "qrn_lib2.dll"), dll % 100, ("-pe64", "-dll"))
    r = tool("llvm-readobj", "--coff-basereloc", "--coff-exports", path)
    check("PE32+ DIR64 relocation", "Type: DIR64" in r and "Name: ab" in r, r)
    client = """section "code" class_code
.use64
start:
sub rsp, 40
call a
mov ebx, eax
call ab
add ebx, eax
call b
add ebx, eax
call ab2
add ebx, eax
mov ecx, ebx
call ExitProcess
section "idata" class_imports
import_dll kernel32.dll
import ExitProcess
import_dll qrn_lib.dll
import a
import ab
import b
import_dll qrn_lib2.dll
import ab2 alias "ab"
entry start
"""
    rc, text, exe = assemble(os.path.join("sub64", "client.exe"), client, ("-pe64", "-console"))
    check("PE32+ client assembles", rc == 0, text)
    expect_run("PE32+ DLL client (rebased DLLs)", exe, 1 + 10 + 100 + 110, wide=True)


REBASE_FORMS = {
    32: ["mov eax, [v]", "mov [v], eax", "mov eax, v", "push v", "push dword [v]", "mov eax, [t+ebx*4]",
         "lea esi, [t+4]", "add dword [v], 5", "cmp eax, t", "mov dword [v], t", "invoke p, addr t, [v], v",
         "call ExitProcess", "dd v, t+8", "dq v"],
    64: ["mov eax, [v]", "mov rax, t", "mov eax, [t+rbx*4]", "mov dword [v], 5", "lea rsi, [t]",
         "invoke p, addr t, rax, 3", "call ExitProcess", "dd v", "dq v, t+8"],
}


def test_rebase_oracle():
    """Built at two bases, an image differs only where its base relocations
    say: applying them to the first gives the second's sections."""
    def sections(pe):
        return {name: pe.data[ptr:ptr + raw] for name, _, _, raw, ptr in pe.sections if name != "reloc"}
    for bits, args in ((32, ("-pe32", "-console")), (64, ("-pe64", "-dll"))):
        conv = "" if bits == 32 else " win64"
        src = ('section "code" class_code\n.use%d\nproc p%s\narg a b c\nret\nendp\nstart:\n%s\n'
               'section "data" class_data\nv dd 0\nt dd 1, 2, 3, 4\nptrs dd v, t\n'
               'section "idata" class_imports\nimport_dll kernel32.dll\nimport ExitProcess\n'
               'section "edata" class_exports\nexport p\nsection "reloc" class_relocs\n'
               % (bits, conv, "\n".join(REBASE_FORMS[bits])))
        images = []
        for base in ("", "base 20000000h\n"):
            os.makedirs(os.path.join(WORK, "rebase%d" % len(images)), exist_ok=True)
            rc, text, exe = assemble(os.path.join("rebase%d" % len(images), "r%d.exe" % bits),
                                     base + src, args)
            check("rebase source assembles (%d)" % bits, rc == 0, text)
            images.append(Pe(exe))
        first, second = images
        delta = second.image_base - first.image_base
        fixed = {name: bytearray(b) for name, b in sections(first).items()}
        rva_of = {name: rva for name, rva, _, _, _ in first.sections}
        for _, _, entries in first.base_relocs():
            for kind, rva in entries:
                if kind == 0:
                    continue
                name = next(n for n, r in rva_of.items() if r <= rva < r + 0x1000)
                width = 8 if kind == 10 else 4
                at = rva - rva_of[name]
                value = int.from_bytes(fixed[name][at:at + width], "little") + delta
                fixed[name][at:at + width] = (value % (1 << 8 * width)).to_bytes(width, "little")
        check("rebased image = relocated image (%d)" % bits,
              {n: bytes(b) for n, b in fixed.items()} == sections(second),
              [n for n in fixed if bytes(fixed[n]) != sections(second)[n]])


def test_dll_without_entry():
    """A DLL without `entry` has no entry point: its first code, which here
    returns 0, is not run as DllMain, so LoadLibraryA succeeds (exit 5, not 9)."""
    for bits, args, wide in ((32, ("-pe32", "-dll"), False), (64, ("-pe64", "-dll"), True)):
        d = 'section "c" class_code\n.use%d\nfirst:\nxor eax, eax\nret\nsection "e" class_exports\nexport first\n' % bits
        rc, text, _ = assemble("noentry%d.dll" % bits, d, args)
        check("DLL without entry assembles (%d)" % bits, rc == 0, text)
        call = "sub rsp, 40\nlea rcx, [n]\ncall LoadLibraryA\nmov ecx, 5\ntest rax, rax\njnz @f\nmov ecx, 9\n@@:\ncall ExitProcess" \
            if bits == 64 else "push n\ncall LoadLibraryA\nmov ecx, 5\ntest eax, eax\njnz @f\nmov ecx, 9\n@@:\npush ecx\ncall ExitProcess"
        call = call.replace("jnz @f", "jnz ok").replace("@@:", "ok:")
        exe = ('section "c" class_code\n.use%d\n%s\nsection "d" class_data\nn db "noentry%d.dll", 0\n'
               'section "i" class_imports\nimport_dll kernel32.dll\nimport LoadLibraryA\nimport ExitProcess\n') % (bits, call, bits)
        rc, text, path = assemble("noentry%d.exe" % bits, exe, (args[0], "-console"))
        check("DLL loader assembles (%d)" % bits, rc == 0, text)
        expect_run("DLL without entry loads (%d)" % bits, path, 5, wide=wide)


for test in (test_rebase_oracle, test_dll_without_entry, test_console_exit, test_two_libraries, test_aliases, test_entry_proc, test_dll_and_client,
             test_base_relocations, test_thunks_move, test_console_program, test_library_limit, test_header_size,
             test_pe64_exit, test_pe64_no_entry,
             test_pe64_console_program, test_pe64_dll_and_client):
    try:
        test()
    except Exception as e:  # a broken image fails its test, not the suite
        check(test.__name__, False, repr(e))

if skipped_runs:
    print("SKIP PE32 runs (32-bit wine cannot run here): " + ", ".join(skipped_runs))
shutil.rmtree(WORK, ignore_errors=True)
print("%d passed, %d failed" % (results["passed"], results["failed"]))
sys.exit(1 if results["failed"] else 0)
