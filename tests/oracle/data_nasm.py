#!/usr/bin/env python3
"""Data definitions against other tools: integer items, reals and 1,000
generated expressions (through dq) against nasm -f bin, and du strings against
iconv's UTF-16LE. Usage: data_nasm.py path/to/qrn_asm [seed]
Exits 77 (skipped) when nasm or iconv is missing."""
import os
import random
import shutil
import subprocess
import sys
import tempfile

QRN = os.path.abspath(sys.argv[1])
SEED = int(sys.argv[2]) if len(sys.argv) > 2 else 20240607
NASM = shutil.which("nasm")
ICONV = shutil.which("iconv")
if not NASM or not ICONV:
    print("SKIP: nasm or iconv not found")
    sys.exit(77)

rng = random.Random(SEED)
passed = failed = 0
WORK = tempfile.mkdtemp(prefix="qrn_data_")


def check(name, condition, detail=""):
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print(f"FAIL {name} {detail}")


def qrn(lines):
    """Assembles data lines in one data section; returns (bytes or None, stderr)."""
    src = 'section "d" class_data\r\n' + "".join(l + "\r\n" for l in lines)
    path = os.path.join(WORK, "q.asm")
    with open(path, "wb") as f:
        f.write(src.encode("utf-8", "surrogateescape"))
    out = os.path.join(WORK, "q.bin")
    if os.path.exists(out):
        os.remove(out)
    p = subprocess.run([QRN, "-q", "-binary", path, out], capture_output=True)
    if p.returncode != 0 or not os.path.exists(out):
        return None, p.stderr.decode("latin-1")
    with open(out, "rb") as f:
        return f.read(), ""


def nasm(lines):
    path = os.path.join(WORK, "n.asm")
    with open(path, "w") as f:
        f.write("".join(l + "\n" for l in lines))
    out = os.path.join(WORK, "n.bin")
    p = subprocess.run([NASM, "-f", "bin", path, "-o", out], capture_output=True)
    if p.returncode != 0:
        return None, p.stderr.decode("latin-1")
    with open(out, "rb") as f:
        return f.read(), ""


# ---- Integer items and reals -------------------------------------------------------
pairs = [
    ('db "AB", 0', 'db "AB", 0'),
    ("dw 1234h, 0FFFFh", "dw 1234h, 0FFFFh"),
    ("dd 12345678h, 0", "dd 12345678h, 0"),
    ("dq -1, 123456789ABCDEF0h", "dq -1, 123456789ABCDEF0h"),
    ("db 'it', 39, 's'", "db 'it', 39, 's'"),
    ("real4 -1.5, 0.25, 1000", "dd -1.5, 0.25, 1000.0"),
    ("real8 -2.25, 3.125, 0", "dq -2.25, 3.125, 0.0"),
    ("real10 1.5, -0.75, 12345.5", "dt 1.5, -0.75, 12345.5"),
]
for ours, theirs in pairs:
    got, err = qrn([ours])
    want, nerr = nasm([theirs])
    check(ours, got is not None and got == want, (got, want, err, nerr))

# ---- du against iconv ------------------------------------------------------------------
# Characters of one and two UTF-8 bytes: U+0001..U+07FF without line ends and '"'.
for n in range(50):
    chars = []
    for _ in range(rng.randint(1, 40)):
        while True:
            c = rng.choice([rng.randint(0x20, 0x7E), rng.randint(0x80, 0x7FF)])
            if c != 0x22:
                break
        chars.append(chr(c))
    text = "".join(chars)
    got, err = qrn([f'du "{text}"'])
    want = subprocess.run([ICONV, "-f", "UTF-8", "-t", "UTF-16LE"], input=text.encode("utf-8"),
                          capture_output=True).stdout
    check(f"du #{n}", got == want, (text, got, want, err))

# ---- Expressions through dq ----------------------------------------------------------------
# Both assemblers: 64-bit values; * / and modulo share one level above + and -,
# left to right; / and modulo unsigned. Generated values stay positive and
# below 2^63 at every step, and no divisor is zero.
PREC = {"+": 1, "-": 1, "*": 2, "/": 2, "mod": 2}
LIMIT = 1 << 63


class Reject(Exception):
    pass


def leaf():
    v = rng.choice([rng.randint(0, 9), rng.randint(0, 1000), rng.randint(0, 1 << 20), rng.randint(0, 1 << 40)])
    form = rng.random()
    if form < 0.2:
        return v, "0%Xh" % v      # hexadecimal with a leading digit
    if form < 0.25:
        return v, bin(v)[2:] + "b"
    return v, str(v)


def gen(depth, top=False):
    """Returns (value, precedence, our text, nasm text)."""
    if depth == 0 or (not top and rng.random() < 0.25):
        v, t = leaf()
        return v, 3, t, t
    op = rng.choice(["+", "-", "*", "/", "mod"])
    lv, lp, lq, ln = gen(depth - 1)
    rv, rp, rq, rn = gen(depth - 1)
    if op == "+":
        v = lv + rv
    elif op == "-":
        v = lv - rv
    elif op == "*":
        v = lv * rv
    else:
        if rv == 0:
            raise Reject()
        v = lv // rv if op == "/" else lv % rv
    if v < 0 or v >= LIMIT:
        raise Reject()
    p = PREC[op]
    if lp < p:
        lq, ln = f"({lq})", f"({ln})"
    if rp <= p or rng.random() < 0.2:
        rq, rn = f"({rq})", f"({rn})"
    if op == "mod":
        return v, p, f"{lq} mod {rq}", f"{ln} % {rn}"
    return v, p, f"{lq}{op}{rq}", f"{ln}{op}{rn}"


exprs = []
while len(exprs) < 1000:
    try:
        v, _, q, n = gen(rng.randint(1, 5), True)
    except Reject:
        continue
    # `mod` needs blanks round it; an angle-bracket text is one word.
    exprs.append((v, f"dq <{q}>" if " " in q else f"dq {q}", f"dq {n}"))

got, err = qrn([e[1] for e in exprs])
want, nerr = nasm([e[2] for e in exprs])
check("expressions assemble", got is not None and want is not None, (err[:400], nerr[:400]))
if got is not None and want is not None:
    bad = 0
    for i, (v, ours, theirs) in enumerate(exprs):
        g, w = got[8 * i:8 * i + 8], want[8 * i:8 * i + 8]
        expected = v.to_bytes(8, "little")
        if g != w or w != expected:
            bad += 1
            if bad <= 10:
                print(f"FAIL expression {ours!r} / {theirs!r}: ours {g.hex()} nasm {w.hex()} python {expected.hex()}")
    check("1000 expressions agree", bad == 0, f"{bad} differ")

# Fills and alignments against nasm's times and align.
ours_lines, nasm_lines = [], []
for i in range(300):
    kind = rng.choice(["fb", "fw", "fd", "fq", "align", "db"])
    if kind == "align":
        n = rng.choice([1, 2, 3, 4, 8, 16, 5, 64])
        ours_lines.append(f"align {n}")
        nasm_lines.append(f"times ({n} - ($-$$) % {n}) % {n} db 0" if n & (n - 1) else f"align {n}, db 0")
    elif kind == "db":
        v = rng.randrange(256)
        ours_lines.append(f"db {v}")
        nasm_lines.append(f"db {v}")
    else:
        count, unit = rng.randint(0, 12), {"fb": 1, "fw": 2, "fd": 4, "fq": 8}[kind]
        v = rng.randrange(1 << (8 * unit))
        ours_lines.append(f"{kind} {count}, {v}")
        nasm_lines.append(f"times {count} {'d' + 'bwdq'['fb fw fd fq'.split().index(kind)]} {v}")
got, err = qrn(ours_lines)
want, nerr = nasm(nasm_lines)
check("300 fills and alignments agree with nasm", got is not None and got == want, (err[:300], nerr[:300]))

# strcut against Python slicing of the same positions; #store against a patched bytearray.
sources = ["ABCDEFGHIJ", "12345", "x"]
lines, expect = [], b""
for i in range(200):
    src = rng.choice(sources)
    quoted = rng.random() < 0.5
    if quoted:
        start = rng.randint(1, len(src))
        length = rng.randint(0, len(src) - start + 1)
        cut = src[start - 1:start - 1 + length]
        text = f'"{src}"'
    else:
        start = rng.randint(0, len(src) - 1)
        length = rng.randint(1, len(src) - start)
        cut = src[start:start + length]
        text = src
    if not cut or not cut[0].isalpha():
        continue
    lines += [f"define T{i} strcut {text}, {start}, {length}", f"db '{cut}'" if not quoted else f"db T{i}"]
    expect += cut.encode()
got, err = qrn(lines)
check("strcut agrees with slicing", got == expect, (err[:300], got, expect))

image = bytearray(rng.randrange(256) for _ in range(64))
lines = ["db " + ", ".join(str(b) for b in image)]
for i in range(100):
    width = rng.choice([1, 2, 4, 8])
    at = rng.randrange(len(image) - width + 1)
    v = rng.randrange(1 << (8 * width))
    lines.append(f"#store {['byte', 'word', 'dword', 'qword'][[1, 2, 4, 8].index(width)]} {at}, {v}")
    image[at:at + width] = v.to_bytes(width, "little")
got, err = qrn(lines)
check("#store agrees with a patched image", got == bytes(image), (err[:300],))

shutil.rmtree(WORK, ignore_errors=True)
print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
