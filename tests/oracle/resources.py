"""Dialog and menu templates against windres, the resource directory of an
image against llvm-readobj, and the templates in use under wine.

Usage: resources.py <qrn_asm>

windres (-O res, the .res read back) must write the same template bytes
for random dialogs and menus, except the 00 00 that ends our dialogs and
the padding after a menu's last item. A PE32 lays its resource directory
out with dd/dw around two templates; llvm-readobj lists it, and its rva
fields take no base relocation. The programs load the menu and create the
dialog (PE32+ under wine64 always, PE32 where 32-bit wine runs).
"""
import os
import random
import re
import shutil
import struct
import subprocess
import sys

from obj_lib import WORK, check, finish, run

QRN = sys.argv[1]
WINDRES = "i686-w64-mingw32-windres"


def assemble(name, source, args):
    """Assembles source (UTF-8, LF lines) into WORK/name: (exit code, messages, path)."""
    src = os.path.join(WORK, name + ".asm")
    out = os.path.join(WORK, name)
    with open(src, "wb") as f:
        f.write(source.replace("\n", "\r\n").encode())
    r = subprocess.run([QRN, "-q", *args, src, out], capture_output=True)
    return r.returncode, (r.stdout + r.stderr).decode(errors="replace"), out


def tool(*command):
    r = subprocess.run(command, capture_output=True, text=True, errors="replace")
    return r.stdout + r.stderr


def windres(name, script, codepage=None):
    """{(type, name): data} of the .res that windres makes of the script."""
    rc, res = os.path.join(WORK, name + ".rc"), os.path.join(WORK, name + ".res")
    with open(rc, "wb") as f:
        f.write(script.encode())
    r = subprocess.run([WINDRES, *(["-c", str(codepage)] if codepage else []), "-O", "res", rc, res],
                       capture_output=True, text=True)
    if r.returncode != 0:
        return r.stderr
    d = open(res, "rb").read()
    entries, p = {}, 0
    while p + 8 <= len(d):
        size, header = struct.unpack_from("<II", d, p)
        ids, at = [], p + 8
        for _ in range(2):  # type, then name: an ordinal or a string
            if d[at:at + 2] == b"\xff\xff":
                ids.append(struct.unpack_from("<H", d, at + 2)[0])
                at += 4
            else:
                end = d.index(b"\0\0", at)
                ids.append(d[at:end].decode("utf-16-le"))
                at = end + 2
        if size:
            entries[tuple(ids)] = d[p + header:p + header + size]
        p = (p + header + size + 3) & ~3
    return entries


def templates(name, script, ids):
    """Our template bytes per ID: the script, then each ID emitted at a
    4-aligned place between two labels that a table at offset 0 names."""
    table = "\n".join("dd t%d, e%d" % (i, i) for i in range(len(ids)))
    emits = "\n".join("align 4\nt%d: emit_rsrc %d\ne%d:" % (i, rid, i) for i, rid in enumerate(ids))
    rc, text, out = assemble(name, 'section "d" class_data\n%s\n%s\n%s\n' % (table, script, emits), ["-binary"])
    if rc != 0:
        return text
    d = open(out, "rb").read()
    return {rid: d[struct.unpack_from("<I", d, 8 * i)[0]:struct.unpack_from("<I", d, 8 * i + 4)[0]]
            for i, rid in enumerate(ids)}


# ---- Random dialogs and menus against windres -------------------------------------------------

CHARS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,-_!?:()&+*/=#%"


def text(rng, most=30):
    return "".join(rng.choice(CHARS) for _ in range(rng.randint(0, most)))


def random_dialog(rng, rid):
    """(our script, windres script) of one dialog."""
    style = (rng.getrandbits(32) & ~0x48) | 0x00C00000  # no font fields; WS_CAPTION, which windres adds
    x, y, cx, cy = (rng.randint(0, 700) for _ in range(4))
    caption = text(rng)
    ours = ["%d dialogex %d, %d, %d, %d" % (rid, x, y, cx, cy), "style 0x%08X" % style, 'caption "%s"' % caption,
            "begin"]
    theirs = ["%d DIALOGEX %d, %d, %d, %d" % (rid, x, y, cx, cy), "STYLE 0x%08X" % style,
              'CAPTION "%s"' % caption, "BEGIN"]
    for _ in range(rng.randint(0, 12)):
        cls = "".join(rng.choice("ABCDEFGHIJKLMNOPQRSTUVWXYZ") for _ in range(rng.randint(1, 12)))
        fields = (text(rng), rng.randint(0, 0xFFFF), cls, rng.getrandbits(32) | 0x50000000,
                  *(rng.randint(0, 900) for _ in range(4)), rng.getrandbits(32))
        line = '"%s", %d, "%s", 0x%08X, %d, %d, %d, %d, 0x%08X' % fields
        ours.append("control " + line)
        theirs.append("  CONTROL " + line)
    return "\n".join(ours + ["end"]), "\n".join(theirs + ["END"])


def random_menu(rng, rid):
    """(our script, windres script) of one menu: popups three deep, some
    with ID 0; `menuitem 0` is windres's MENUITEM "", 0. windres writes a
    MENUEX template only when a popup has an ID."""
    while True:
        ours, theirs = menu_tree(rng, rid)
        if re.search(r"^POPUP .*, [1-9]", "\n".join(theirs), re.M):
            return "\n".join(ours), "\n".join(theirs)


def menu_tree(rng, rid):
    ours, theirs = ["%d menuex" % rid], ["%d MENUEX" % rid]

    def level(depth):
        ours.append("begin")
        theirs.append("BEGIN")
        for _ in range(rng.randint(1, 5)):
            kind = rng.random()
            if kind < 0.3 and depth < 3:
                label, pid = text(rng, 12), rng.choice((0, rng.randint(1, 0xFFFF)))
                ours.append('popup "%s", %d' % (label, pid))
                theirs.append('POPUP "%s", %d' % (label, pid))
                level(depth + 1)
            elif kind < 0.45:
                ours.append("menuitem 0")
                theirs.append('MENUITEM "", 0')
            else:
                label, mid = text(rng, 20), rng.randint(1, 0xFFFF)
                ours.append('menuitem "%s", %d' % (label, mid))
                theirs.append('MENUITEM "%s", %d' % (label, mid))
        ours.append("end")
        theirs.append("END")

    level(0)
    return ours, theirs


def test_windres_random():
    rng = random.Random(35)
    dialogs = list(range(100, 140))
    menus = list(range(500, 540))
    pairs = [random_dialog(rng, i) for i in dialogs] + [random_menu(rng, i) for i in menus]
    theirs = windres("random", "\n".join(p[1] for p in pairs) + "\n")
    ours = templates("random", "\n".join(p[0] for p in pairs), dialogs + menus)
    if not isinstance(theirs, dict) or not isinstance(ours, dict):
        check("random scripts build", False, theirs if not isinstance(theirs, dict) else ours)
        return
    for rid in dialogs:
        w, q = theirs.get((5, rid)), ours[rid]
        check("dialog %d equals windres" % rid, w is not None and q == w + b"\0\0", (q.hex(), w and w.hex()))
    for rid in menus:
        w, q = theirs.get((4, rid)), ours[rid]
        check("menu %d equals windres" % rid, w is not None and q[:len(w)] == w and len(q) - len(w) < 4 and
              not any(q[len(w):]), (q.hex(), w and w.hex()))


def test_utf8_caption():
    caption = "\u00c9t\u00e9 \U0001F600"  # Été and a character beyond U+FFFF
    theirs = windres("utf8", '1 DIALOGEX 0, 0, 9, 9\nSTYLE 0x80C00000\nCAPTION "%s"\nBEGIN\nEND\n' % caption, 65001)
    ours = templates("utf8", '1 dialogex 0, 0, 9, 9\nstyle 80C00000h\ncaption "%s"\nbegin\nend' % caption, [1])
    ok = isinstance(theirs, dict) and isinstance(ours, dict)
    check("UTF-8 caption equals windres -c 65001", ok and ours[1] == theirs[(5, 1)] + b"\0\0",
          (ours, theirs) if not ok else (ours[1].hex(), theirs[(5, 1)].hex()))


# ---- A resource directory in an image -----------------------------------------------------------

MENU = """200 menuex
begin
  popup "&File", 0
  begin
    popup "Sub", 102
    begin
      menuitem "Deep", 103
    end
    menuitem 0
  end
  popup "&Edit", 201
  begin
    menuitem "Copy", 202
  end
end"""

DIALOG = """#define IDD_MAIN 100
#define IDC_OK 7
IDD_MAIN dialogex 10, 20, 200, 100
style 80C80000h
caption "Été"
begin
  control "OK", IDC_OK, "BUTTON", 50010000h, 5, 6, 50, 14, 0
  control "", 8, "EDIT", 50810080h, 5, 30, 80, 12, 200h
end"""

# The directory: root -> types 4 (menu) and 5 (dialog) -> one ID each ->
# language 409h -> a data entry with the template's rva and size.
DIRECTORY = """macro res_dir
marg entries
  dd 0, 0
  dw 0, 0, 0, entries
endm
section "rsrc" class_rsrc alias ".rsrc"
root:
res_dir 2
dd 4, 80000000h+menu_ids-root
dd 5, 80000000h+dialog_ids-root
menu_ids:
res_dir 1
dd 200, 80000000h+menu_lang-root
dialog_ids:
res_dir 1
dd IDD_MAIN, 80000000h+dialog_lang-root
menu_lang:
res_dir 1
dd 409h, menu_entry-root
dialog_lang:
res_dir 1
dd 409h, dialog_entry-root
menu_entry:   dd <rva menu_t>, menu_e-menu_t, 0, 0
dialog_entry: dd <rva dialog_t>, dialog_e-dialog_t, 0, 0
%s
menu_t: emit_rsrc 200
menu_e:
%s
align 4
dialog_t: emit_rsrc IDD_MAIN
dialog_e:
""" % (MENU, DIALOG)

# LoadMenuIndirectA on the menu and the item count of each level (2, 2, 1),
# LoadMenuA through the directory, CreateDialogIndirectParamA on the dialog
# and its control 7: the exit code is 2*64 + 2*16 + 1*4 + 2 + 1 = 167.
PROGRAM = """section "code" class_code
%(use)s
proc start %(conv)s
  local hmenu
  invoke LoadMenuIndirectA, addr menu_t
  mov [hmenu], %(a)s
  invoke GetMenuItemCount, %(a)s
  mov ebx, eax
  shl ebx, 6
  invoke GetSubMenu, [hmenu], 0
  mov %(si)s, %(a)s
  invoke GetMenuItemCount, %(si)s
  shl eax, 4
  add ebx, eax
  invoke GetSubMenu, %(si)s, 0
  invoke GetMenuItemCount, %(a)s
  shl eax, 2
  add ebx, eax
  invoke GetModuleHandleA, 0
  invoke LoadMenuA, %(a)s, 200
  .if %(a)s != 0
    add ebx, 2
  .endif
  invoke CreateDialogIndirectParamA, 0, addr dialog_t, 0, 0, 0
  .if %(a)s != 0
    invoke GetDlgItem, %(a)s, IDC_OK
    .if %(a)s != 0
      add ebx, 1
    .endif
  .endif
  invoke ExitProcess, %(b)s
endp
entry start
section "data" class_data
menu_address dd menu_t
section "idata" class_imports
import_dll kernel32.dll
import ExitProcess %(conv)s
import GetModuleHandleA %(conv)s
import_dll user32.dll
import LoadMenuIndirectA %(conv)s
import LoadMenuA %(conv)s
import GetMenuItemCount %(conv)s
import GetSubMenu %(conv)s
import CreateDialogIndirectParamA %(conv)s
import GetDlgItem %(conv)s
%(relocs)s
""" + DIRECTORY

WIDTHS = {
    32: {"use": ".use32", "conv": "stdcall", "a": "eax", "b": "ebx", "si": "esi",
         "relocs": 'section "reloc" class_relocs', "args": ["-pe32"]},
    64: {"use": ".use64", "conv": "win64", "a": "rax", "b": "rbx", "si": "rsi", "relocs": "",
         "args": ["-pe64"]},
}


def test_image(bits):
    w = WIDTHS[bits]
    rc, text, exe = assemble("rsrc%d.exe" % bits, PROGRAM % w, w["args"] + ["-gui"])
    check("PE%d resource program assembles" % bits, rc == 0, text)
    if rc != 0:
        return
    r = tool("llvm-readobj", "--coff-resources", "--section-headers", exe)
    ours = templates("rsrc%d_templates" % bits, MENU + "\n" + DIALOG, [200, 100])
    for kind, number, rid in (("MENU", 4, 200), ("DIALOG", 5, 100)):
        m = re.search(r"Type: %s \(ID %d\).*?Name: \(ID %d\).*?Language: \(ID 1033\).*?DataSize: (\d+).*?"
                      r"Data \((.*?)\)" % (kind, number, rid), r, re.S)
        check("PE%d llvm-readobj lists %s %d" % (bits, kind, rid), m is not None, r)
        if m:
            dump = "".join(re.sub(r"^\s*[0-9A-F]+:", "", line.split("|")[0]) for line in m.group(2).splitlines())
            data = bytes.fromhex(dump.replace(" ", ""))
            check("PE%d %s data is the template" % (bits, kind),
                  int(m.group(1)) == len(ours[rid]) and data == ours[rid], (m.group(1), data.hex()))
    check("PE%d section named .rsrc" % bits, "Name: .rsrc" in r, r)
    if bits == 32:
        rel = tool("llvm-readobj", "--coff-basereloc", exe)
        sections = dict(re.findall(r"Name: (\S+).*?VirtualAddress: 0x([0-9A-F]+)",
                                   tool("llvm-readobj", "--section-headers", exe), re.S))
        rsrc, data = int(sections[".rsrc"], 16), int(sections["data"], 16)
        addresses = [int(a, 16) for a in re.findall(r"Address: 0x([0-9A-F]+)", rel)]
        check("PE32 dd of a label is relocated", data in addresses, rel)
        check("PE32 dd <rva x> takes no base relocation", not any(rsrc <= a < rsrc + 0x1000 for a in addresses), rel)
    got = run(exe, "PE%d" % bits)
    if got is not None:
        check("PE%d menus and dialog work under wine" % bits, got[0] == 167, got)


def test_coff_rva():
    src = 'struc RDE\nat dd ?\nsize dd ?\nends\nsection "d" class_data\nx dd 0\ndd <rva x>\ndd x\n' \
          'e RDE { <rva x>, 4 }\nf RDE { x, 4 }\n'
    rc, text, obj = assemble("rva.obj", src, ["-coff"])
    r = tool("llvm-readobj", "-r", obj)
    types = re.findall(r"0x\w+ (IMAGE_REL_I386_\w+) ", r)
    check("COFF32 dd <rva x> and a structure field of it are DIR32NB, dd x DIR32",
          rc == 0 and types == ["IMAGE_REL_I386_DIR32NB", "IMAGE_REL_I386_DIR32"] * 2, text + r)
    rc, text, obj = assemble("rva.o", src, ["-elf32"])
    check("ELF32 refuses dd <rva x>", rc == 1 and "ELF: unknown relocation type" in text, text)


STDCALL_BYTES = {"ExitProcess": 4, "GetModuleHandleA": 4, "LoadMenuIndirectA": 4, "LoadMenuA": 8,
                 "GetMenuItemCount": 4, "GetSubMenu": 8, "CreateDialogIndirectParamA": 20, "GetDlgItem": 8}


def test_coff_link():
    """The same program as a COFF32 object: mingw ld resolves the DIR32NB
    fields of its .rsrc section and makes it the image's resource directory."""
    ld = "i686-w64-mingw32-ld"
    w = dict(WIDTHS[32], relocs="")
    src = re.sub(r"import_dll", "import_lib", PROGRAM % w)
    src = re.sub(r"import (\w+) stdcall", lambda m: 'import %s stdcall alias "_%s@%d"' % (
        m.group(1), m.group(1), STDCALL_BYTES[m.group(1)]), src)
    rc, text, obj = assemble("rsrc_coff.obj", src, ["-coff"])
    exe = os.path.join(WORK, "rsrc_coff.exe")
    link = tool(ld, "-o", exe, "--subsystem", "windows", "-e", "start", obj, "-L/usr/i686-w64-mingw32/lib",
                "-lkernel32", "-luser32")
    check("COFF32 resource program links", rc == 0 and os.path.exists(exe), text + link)
    got = run(exe, "PE32") if os.path.exists(exe) else None
    if got is not None:
        check("COFF32 linked menus and dialog work under wine", got[0] == 167, got)


def main():
    for name in (WINDRES, "llvm-readobj", "i686-w64-mingw32-ld"):
        if shutil.which(name) is None:
            print("missing tool: %s" % name)
            return 1
    test_windres_random()
    test_utf8_caption()
    test_coff_rva()
    test_image(64)
    test_image(32)
    test_coff_link()
    return finish()


if __name__ == "__main__":
    sys.exit(main())
