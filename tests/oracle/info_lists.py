#!/usr/bin/env python3
"""Info lists at sizes the table cases do not reach (sources made here):
1.3 MB of -info text in a list and through $emit_info, more files and
lines than any fixed table, long directory names, and list files that
cannot be written.

Usage: info_lists.py <qrn_asm>
"""
import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from obj_lib import WORK, check, finish  # noqa: E402

QRN = os.path.abspath(sys.argv[1])


def assemble(source, *options, files=()):
    """Runs `qrn_asm -binary -q options t.asm t.bin` in WORK: (exit code, messages)."""
    for name, text in files:
        os.makedirs(os.path.join(WORK, os.path.dirname(name)), exist_ok=True)
        with open(os.path.join(WORK, name), "w", newline="") as f:
            f.write(text)
    with open(os.path.join(WORK, "t.asm"), "w", newline="") as f:
        f.write(source.replace("\n", "\r\n"))
    r = subprocess.run([QRN, "-binary", "-q", *options, "t.asm", "t.bin"], cwd=WORK, capture_output=True)
    return r.returncode, (r.stdout + r.stderr).decode("latin-1")


def read(name):
    with open(os.path.join(WORK, name), "rb") as f:
        return f.read()


def big_info():
    count = 30000
    names = ["a_label_with_a_fairly_long_name_%05d" % i for i in range(count)]
    source = 'section "d" class_data\n' + "".join("%s db 0\n" % n for n in names) + \
             'section "e" class_data\n$emit_info\n'
    want = "".join("%X\t%s\r\n" % (i, n) for i, n in enumerate(names)).encode()
    rc, text = assemble(source, "-info")
    check("30000 labels assemble", rc == 0, text)
    check("30000 labels: the list whole", rc == 0 and read("t_info.lst") == want, len(want))
    check("30000 labels: $emit_info whole", rc == 0 and read("t.bin").endswith(want) and len(want) > 1300000)


def big_tables():
    count = 2100
    rc, text = assemble('section "c" class_code\n' + 'include "inc/x.inc"\n' * count, "-info_files",
                        files=[("inc/x.inc", "nop\r\n")])
    files = read("t_files.lst").decode() if rc == 0 else ""
    check("2100 includes: every file listed", rc == 0 and "\r\n; %d items listed\r\n" % (count + 1) in files and
          files.endswith("\r\n%d=inc/x.inc\r\nGroup=Added files,Assembly,Resources,Misc,Modules,inc" % (count + 1) +
                         "".join("\r\n%d=%d" % (i + 1, 2 if i == 0 else 6) for i in range(count + 1))), text)
    directory = "d" * 200
    rc, text = assemble('section "c" class_code\ninclude "%s/x.inc"\n' % directory, "-info_files",
                        files=[(directory + "/x.inc", "nop\r\n")])
    check("a directory of 200 bytes is a group", rc == 0 and
          read("t_files.lst").decode().endswith(",Modules,%s\r\n1=2\r\n2=6" % directory), text)
    count = 310000
    rc, text = assemble('section "c" class_code\n' + "nop\n" * count, "-info_lines")
    lines = read("t_lines.lst").decode() if rc == 0 else ""
    check("310000 lines: every line recorded", rc == 0 and "\r\n; %d items listed\r\n" % (count + 1) in lines and
          lines.endswith("\r\nrva=%X ln=%d \t fid=0 sid=0" % (count - 1, count + 1)), lines[-80:])


def uncreatable():
    # Each list's name is taken by a directory.
    for option, name in (("-info", "t_info.lst"), ("-info_lines", "t_lines.lst"), ("-info_sect", "t_sections_1.lst")):
        if os.path.exists(os.path.join(WORK, name)):
            os.remove(os.path.join(WORK, name))
        os.makedirs(os.path.join(WORK, name))
        rc, text = assemble('section "c" class_code\nnop\n', option)
        check("%s: an uncreatable list is an error" % option,
              rc == 1 and "\r\n**Error** Info list, can not create file: %s" % name in text, (rc, text))
        shutil.rmtree(os.path.join(WORK, name))


def main():
    big_info()
    big_tables()
    uncreatable()
    return finish()


if __name__ == "__main__":
    sys.exit(main())
