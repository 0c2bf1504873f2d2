#!/usr/bin/env python3
"""Checks the instruction mnemonics of the built-in keyword list against llvm-mc.

Every instruction row of src/core/keyword_list.cpp is assembled as a bare line
(no operands, Intel syntax) for i386 and for x86_64. llvm-mc may complain about
missing operands or a mode; only "invalid instruction mnemonic" means that it
does not know the name. The names it may not know are exactly this language's
own ones; any other unknown name is a typo in the table, and a name of that
own set that llvm-mc suddenly knows means the table changed under us.

A fixed list of common mnemonics that the keyword list lacks keeps the
README true: the README's "What it does not do" names exactly these, none of
them is in the keyword list, and llvm-mc knows every one of them.

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
README = os.path.join(HERE, "..", "..", "README.md")
LLVM_MC = os.environ.get("LLVM_MC", "llvm-mc")

# Names of this language that llvm-mc does not know in any mode.
OWN_NAMES = {"reti", "int1", "xlat", "sysexit64", "cvtdq2pq", "pextrw1", "ddps", "ddpd"}
# Names that llvm-mc does not know in 64-bit mode only.
NOT_IN_64 = {"pusha", "pushad", "popa", "popad"}

# Common mnemonics (AVX aside) that the keyword list lacks.
COMMON = """
jp jnp jcxz jecxz jrcxz loope loopne loopz loopnz
cdqe cqo movsxd cmpxchg8b cmpxchg16b lzcnt tzcnt pushfq popfq repe repne wait xlatb cmpsb cmpsw cmpsq scasw
scasq movsq stosq lodsq insw outsw rdtscp rdrand rdseed endbr32 endbr64
fist fsubr fsubrp fdivr fisubr fidivr ficom ficomp fcomi fcomip fucomi fucomip ffreep fbld fbstp fsave fnsave
frstor fstenv fnstenv fldenv fstcw fxsave fxrstor
paddsw psrlw psrld psrlq movdqa movdqu movntdq movnti movntq maskmovq maskmovdqu movq2dq movdq2q
movaps movups movss movlps movhps movlhps movhlps movmskps movntps movapd movupd movlpd movhpd movmskpd
movntpd
mulps mulss divps divss minps minss maxps maxss mulpd mulsd divpd divsd minpd minsd maxpd maxsd sqrtpd haddps
haddpd hsubps hsubpd
cvtsi2ss cvtss2si cvttss2si cvttps2pi cvtsi2sd cvtsd2si cvttsd2si cvtsd2ss cvtss2sd cvttps2dq cvttpd2dq
cvttpd2pi cvtdq2pd
ldmxcsr lfence prefetchnta prefetcht0 prefetcht1 prefetcht2 movshdup movsldup movddup lddqu
pshufb phaddw phaddd phaddsw phsubw phsubd phsubsw pmaddubsw pmulhrsw psignb psignw psignd pabsb pabsw pabsd
palignr
dpps dppd movntdqa pinsrq pextrq
aesenc aesenclast aesdec aesdeclast aesimc aeskeygenassist pclmulqdq
sldt lldt smsw lmsw verr verw lar lsl xgetbv xsetbv xsave xrstor vmread vmwrite invept invvpid
""".split()
# The README line that opens the list of names the keyword list lacks.
README_BULLET = "- The instruction names are those of the language's keyword list"

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


def readme_names():
    """The backquoted names in the grouped list ("  - group: ...") of the
    README's bullet on missing instruction names."""
    with open(README, encoding="utf-8") as f:
        lines = f.read().splitlines()
    start = next((i for i, line in enumerate(lines) if line.startswith(README_BULLET)), None)
    if start is None:
        return None
    end = next((i for i in range(start + 1, len(lines)) if not lines[i].startswith(" ")), len(lines))
    first = next((i for i in range(start, end) if lines[i].startswith("  - ")), end)
    return set(re.findall(r"`([a-z0-9]+)`", "\n".join(lines[first:end])))


def check_readme(names):
    """The README names exactly the common mnemonics that the keyword list lacks."""
    named = readme_names()
    if named is None:
        print(f"FAIL: {README} has no line starting {README_BULLET!r}")
        return 0, 1
    lacking = {n for n in COMMON if n not in set(names)}
    for name in sorted(set(COMMON) - lacking):
        print(f"FAIL: the keyword list holds '{name}' now: take it off COMMON and the README")
    for name in sorted(lacking - named):
        print(f"FAIL README: the keyword list lacks '{name}', which the README does not name")
    for name in sorted(named - lacking):
        print(f"FAIL README: names '{name}', which is not among the common names the keyword list lacks")
    return len(lacking & named), len(set(COMMON) ^ named)


def main():
    names = instruction_names()
    passed = failed = 0
    p, f = check_readme(names)
    passed, failed = passed + p, failed + f
    # The common names are real ones: llvm-mc knows each in 64-bit code.
    common_unknown = unknown_names(sorted(set(COMMON)), "x86_64")
    for name in sorted(common_unknown or ()):
        if name not in OWN_NAMES | NOT_IN_64:  # xlat: llvm-mc wants its operand
            failed += 1
            print(f"FAIL: llvm-mc does not know the common name '{name}'")
    passed += 0 if common_unknown is None else len(set(COMMON)) - len(common_unknown)

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
