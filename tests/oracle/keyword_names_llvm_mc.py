#!/usr/bin/env python3
"""Checks the instruction mnemonics of the built-in keyword list against llvm-mc.

Every instruction row of src/core/keyword_list.cpp is assembled as a bare line
(no operands, Intel syntax) for i386 and for x86_64. llvm-mc may complain about
missing operands or a mode; only "invalid instruction mnemonic" means that it
does not know the name. The names it may not know are exactly this language's
own ones; any other unknown name is a typo in the table, and a name of that
own set that llvm-mc suddenly knows means the table changed under us.

Exit 0 when every check passes, 1 otherwise; the last line is
"N passed, N failed".
"""
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
LIST = os.path.join(HERE, "..", "..", "src", "core", "keyword_list.cpp")
LLVM_MC = os.environ.get("LLVM_MC", "llvm-mc")

# Names of this language that llvm-mc does not know in any mode.
OWN_NAMES = {"reti", "int1", "xlat", "sysexit64", "cvtdq2pq", "pextrw1", "ddps", "ddpd"}
# Names that llvm-mc does not know in 64-bit mode only.
NOT_IN_64 = {"pusha", "pushad", "popa", "popad"}

# Code-kind rows whose handlers are data, fill and control directives, not instructions.
NOT_INSTRUCTIONS = re.compile(
    r"^(Data_\w+|Reserve_\w+|Fill|Align|Invoke|Cinvoke|If|Elseif|Else|Endif|Incbin|Incfrom)$")

ROW = re.compile(r'^\s*\{"([^"]+)",\s*(Kw_\w+),\s*Kh::(\w+),\s*\{([^}]*)\}\},')
DIAG = re.compile(r"^[^:]*:(\d+):\d+: error: (.*)$")


def instruction_names():
    names = []
    with open(LIST, encoding="utf-8") as f:
        for line in f:
            m = ROW.match(line)
            if not m:
                continue
            name, kind, handler = m.group(1), m.group(2), m.group(3)
            if kind != "Kw_Code" or NOT_INSTRUCTIONS.match(handler):
                continue
            if name not in names:
                names.append(name)
    return names


def unknown_names(names, triple):
    """The names on whose line llvm-mc reports an invalid mnemonic, or None when it did not run."""
    with tempfile.NamedTemporaryFile("w", suffix=".s", delete=False) as f:
        f.write(".intel_syntax noprefix\n")  # line 1; name i stands on line i + 2
        for name in names:
            f.write(name + "\n")
        path = f.name
    try:
        run = subprocess.run([LLVM_MC, "-triple=" + triple, path, "-o", os.devnull],
                             capture_output=True, text=True)
    except OSError as e:
        print(f"FAIL {triple}: can not run {LLVM_MC}: {e}")
        return None
    finally:
        os.unlink(path)
    if run.returncode < 0:
        print(f"FAIL {triple}: {LLVM_MC} died with signal {-run.returncode}")
        return None
    unknown = set()
    for line in run.stderr.splitlines():
        m = DIAG.match(line)
        if m and m.group(2).startswith("invalid instruction mnemonic"):
            index = int(m.group(1)) - 2
            if 0 <= index < len(names):
                unknown.add(names[index])
    return unknown


def main():
    names = instruction_names()
    passed = failed = 0

    # The list must parse into the instruction set we expect, or the checks below mean little.
    for name in sorted(OWN_NAMES | NOT_IN_64 | {"mov", "addpd", "fld", "jo", "vmclear"}):
        if name in names:
            passed += 1
        else:
            failed += 1
            print(f"FAIL: {name} is not among the instruction rows of {LIST}")
    for name in ("db", "fb", "align", "invoke", ".if", "incbin", "rs"):
        if name in names:
            failed += 1
            print(f"FAIL: directive {name} was taken for an instruction")
        else:
            passed += 1

    for triple, expected in (("i386", OWN_NAMES), ("x86_64", OWN_NAMES | NOT_IN_64)):
        unknown = unknown_names(names, triple)
        if unknown is None:
            failed += len(names)
            continue
        for name in names:
            if (name in unknown) == (name in expected):
                passed += 1
            elif name in unknown:
                failed += 1
                print(f"FAIL {triple}: llvm-mc does not know '{name}'")
            else:
                failed += 1
                print(f"FAIL {triple}: llvm-mc knows '{name}', which should be a name of our own")

    print(f"{len(names)} instruction names checked")
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
