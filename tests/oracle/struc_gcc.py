#!/usr/bin/env python3
"""Structures against gcc: random definitions (every data, real and reserve
kind, unnamed gaps, nested instances, `rs`, nested unions) and instances with
positional, skipped, named, nested and array initialisers, compared with a
packed C twin: sizes, member offsets and paths through `dd`, and the
instance bytes through objcopy.

Usage: struc_gcc.py path/to/qrn_asm [seed]
The last line is "N passed, N failed"."""
import os
import random
import subprocess
import sys
import tempfile

KINDS = [("db", 1, "uint8_t"), ("dw", 2, "uint16_t"), ("dd", 4, "uint32_t"), ("dq", 8, "uint64_t"),
         ("dt", 10, None), ("real4", 4, "float"), ("real8", 8, "double"), ("real10", 10, None)]
RESERVES = [("rb", 1, "uint8_t"), ("rw", 2, "uint16_t"), ("rd", 4, "uint32_t"), ("rq", 8, "uint64_t"),
            ("rt", 10, None), ("ro", 16, None)]


class Struc:
    def __init__(self, name):
        self.name, self.asm, self.c, self.members = name, [], [], []  # members: (name, kind, info)


def make(rng, n):
    """n structures; each may use the earlier ones."""
    strucs = []
    for s in range(n):
        st = Struc("S%d" % s)
        gap = 0

        def member(depth, in_union):
            nonlocal gap
            r = rng.random()
            name = "m%d" % len(st.members)
            if r < 0.4:
                kw, size, ctype = rng.choice(KINDS)
                st.asm.append("%s %s ?" % (name, kw))
                st.c.append("%s %s;" % (ctype, name) if ctype else "uint8_t %s[%d];" % (name, size))
                st.members.append((name, "int" if kw in ("db", "dw", "dd", "dq") else "raw", size))
            elif r < 0.6:
                kw, unit, ctype = rng.choice(RESERVES)
                count = rng.randint(1, 4)
                st.asm.append("%s %s %d" % (name, kw, count))
                st.c.append("%s %s[%d];" % (ctype, name, count) if ctype else "uint8_t %s[%d];" % (name, unit * count))
                st.members.append((name, "array" if ctype and count > 1 else "raw", (unit, count)))
            elif r < 0.75 and strucs:
                inner = rng.choice(strucs)
                if rng.random() < 0.5:
                    st.asm.append("%s %s ?" % (name, inner.name))
                    st.c.append("struct %s %s;" % (inner.name, name))
                    st.members.append((name, "nested", inner))
                else:
                    count = rng.randint(1, 3)
                    st.asm.append("%s rs %s, %d" % (name, inner.name, count))
                    st.c.append("struct %s %s[%d];" % (inner.name, name, count))
                    st.members.append((name, "raw", 0))
            elif r < 0.85 and not in_union:
                size = rng.randint(1, 5)
                st.asm.append("db ?" if size == 1 else "rb %d" % size)
                st.c.append("uint8_t _gap%d[%d];" % (gap, size))
                gap += 1
            elif depth < 2:
                st.asm.append("union")
                st.c.append("union __attribute__((packed)) {")
                for _ in range(rng.randint(1, 3)):
                    member(depth + 1, True)
                st.asm.append("endu")
                st.c.append("};")
            else:
                member(depth, in_union)

        for _ in range(rng.randint(1, 6)):
            member(0, False)
        strucs.append(st)
    return strucs


def paths(st, prefix_asm, prefix_c):
    for name, kind, info in st.members:
        yield prefix_asm + "." + name, prefix_c + name
        if kind == "nested":
            yield from paths(info, prefix_asm + "." + name, prefix_c + name + ".")


def initialiser(rng, st, union_names):
    """qrn_asm items and the C designated initialisers of one instance."""
    asm, c = [], []
    for name, kind, info in st.members:
        if name in union_names or rng.random() < 0.25:
            asm.append("?")
            continue
        if kind == "int":
            v = rng.randrange(1 << (8 * min(info, 4)))
            asm.append("%d" % v)
            c.append(".%s=%d" % (name, v))
        elif kind == "array":
            unit, count = info
            vals = [rng.randrange(1 << (8 * min(unit, 4))) for _ in range(rng.randint(1, count))]
            asm.append("{ %s }" % " , ".join(map(str, vals)))
            c.append(".%s={%s}" % (name, ",".join(map(str, vals))))
        elif kind == "nested":
            a, ci = initialiser(rng, info, info.union_names)
            asm.append("{ %s }" % " , ".join(a))
            c.append(".%s={%s}" % (name, ",".join(ci)))
        else:
            asm.append("?")
    return asm, c


def union_members(st):
    """Members declared inside a union: instances leave them alone (C would
    write only one of them)."""
    names, depth = set(), 0
    for line in st.asm:
        if line == "union":
            depth += 1
        elif line == "endu":
            depth -= 1
        elif depth and line.split()[0].startswith("m"):
            names.add(line.split()[0])
    return names


def main():
    qrn = sys.argv[1]
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    rng = random.Random(seed)
    passed = failed = 0
    work = tempfile.mkdtemp(prefix="struc_gcc_")
    strucs = make(rng, 60)
    for st in strucs:
        st.union_names = union_members(st)
    checks = []  # (asm expression, C expression)
    for st in strucs:
        checks.append((st.name, "sizeof(struct %s)" % st.name))
        for a, c in paths(st, st.name, ""):
            checks.append((a, "offsetof(struct %s, %s)" % (st.name, c)))
    instances = [(rng.choice(strucs), i) for i in range(120)]
    inits = [initialiser(rng, st, st.union_names) for st, _ in instances]

    asm = ['section "d" class_data']
    for st in strucs:
        asm += ["struc " + st.name] + st.asm + ["ends"]
    asm += ["dd %s" % a for a, _ in checks]
    asm += ["i%d %s { %s }" % (i, st.name, " , ".join(items)) for (st, i), (items, _) in zip(instances, inits)]
    c = ["#include <stdint.h>", "#include <stddef.h>"]
    for st in strucs:
        c.append("struct __attribute__((packed)) %s { %s };" % (st.name, " ".join(st.c)))
    c.append("struct __attribute__((packed)) all { uint32_t v[%d]; %s } all = { {%s}, %s };" % (
        len(checks), " ".join("struct %s i%d;" % (st.name, i) for st, i in instances),
        ",".join(cc for _, cc in checks),
        ", ".join("{%s}" % ",".join(ci) for _, ci in inits)))
    src, out = os.path.join(work, "s.asm"), os.path.join(work, "s.bin")
    csrc, obj, cbin = os.path.join(work, "s.c"), os.path.join(work, "s.o"), os.path.join(work, "c.bin")
    with open(src, "w", newline="\r\n") as f:
        f.write("\n".join(asm) + "\n")
    with open(csrc, "w") as f:
        f.write("\n".join(c) + "\n")
    p = subprocess.run([qrn, "-binary", "-q", src, out], capture_output=True, text=True)
    q = subprocess.run(["gcc", "-c", "-w", csrc, "-o", obj], capture_output=True, text=True)
    if q.returncode == 0:
        q = subprocess.run(["objcopy", "-O", "binary", "-j", ".data", obj, cbin], capture_output=True, text=True)
    if p.returncode or q.returncode:
        print("FAIL assembling: %s %s" % (p.stdout + p.stderr, q.stderr))
        print("0 passed, 1 failed")
        return 1
    ours, theirs = open(out, "rb").read(), open(cbin, "rb").read()
    for k, (a, cc) in enumerate(checks):
        if ours[4 * k:4 * k + 4] == theirs[4 * k:4 * k + 4]:
            passed += 1
        else:
            failed += 1
            print("FAIL %s: ours %s, gcc %s (%s)" % (a, ours[4 * k:4 * k + 4].hex(), theirs[4 * k:4 * k + 4].hex(), cc))
    at = 4 * len(checks)
    for (st, i), (items, _) in zip(instances, inits):
        size = int.from_bytes(theirs[4 * checks.index((st.name, "sizeof(struct %s)" % st.name)):][:4], "little")
        if ours[at:at + size] == theirs[at:at + size]:
            passed += 1
        else:
            failed += 1
            print("FAIL instance i%d of %s { %s }: ours %s, gcc %s" % (i, st.name, " , ".join(items),
                                                                    ours[at:at + size].hex(), theirs[at:at + size].hex()))
        at += size
    if len(ours) != len(theirs):
        failed += 1
        print("FAIL image length: ours %d, gcc %d" % (len(ours), len(theirs)))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
