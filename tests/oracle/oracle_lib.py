"""Machinery shared by the oracle suites: running qrn_asm, GNU as and objdump
on batches of generated instructions and comparing the results.

A Case is one source line in qrn_asm's syntax with its GNU as spelling. A
batch of cases of one code mode is assembled by one qrn_asm run and one
as + ld run; objdump decodes both images and the instructions are paired
with the lines again. A case passes when the two encodings are the same
bytes (prefixes 66h/67h in any order, RIP-relative fields compared by their
target), or, where the case says that qrn_asm deliberately chooses another
encoding, when objdump reads the same instruction from both and the opcode
is the one qrn_asm is meant to choose.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

MODES = {
    16: {"use": ".use16", "code": ".code16", "as": "--32", "ld": "elf_i386", "objdump": "i8086"},
    32: {"use": ".use32", "code": ".code32", "as": "--32", "ld": "elf_i386", "objdump": "i386"},
    64: {"use": ".use64", "code": ".code64", "as": "--64", "ld": "elf_x86_64", "objdump": "i386:x86-64"},
}

# Every batch starts with PAD nops and then the label LABEL, so that the
# label's address (PAD, the binary image starts at address 0) needs more
# than a byte; PAD is a multiple of 16, so that an aligned PROC starts there.
PAD = 208
LABEL = "datum"
LABEL_ADDRESS = PAD

LEGACY_PREFIXES = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF0, 0xF2, 0xF3}


def require_tools(*names):
    """Stops the suite with a clear message when a tool is missing."""
    missing = [n for n in names if shutil.which(n) is None]
    if missing:
        print("missing tool(s): %s; install GNU binutils (as, ld, objdump)" % ", ".join(missing))
        print("0 passed, 1 failed")
        sys.exit(1)


class Case:
    """One generated instruction.

    policy "bytes": qrn_asm must write exactly what GNU as writes.
    policy "meaning": qrn_asm chooses another encoding on purpose; objdump
    must read the same instruction from both, and when opcode is given, the
    first opcode byte after the prefixes must be that one.
    """
    __slots__ = ("mode", "qrn", "gas", "policy", "opcode", "longer", "form", "mnemonic", "defsyms", "setup")

    def __init__(self, mode, qrn, gas, form, mnemonic, policy="bytes", opcode=None, longer=None, defsyms=(),
                 setup=((), ())):
        """longer: how many bytes qrn_asm's instruction is longer than GNU
        as's (meaning cases); setup: qrn_asm lines before and after the
        batch's lines (such as a PROC frame around them)."""
        self.mode, self.qrn, self.gas, self.form, self.mnemonic = mode, qrn, gas, form, mnemonic
        self.policy, self.opcode, self.longer, self.defsyms = policy, opcode, longer, tuple(defsyms)
        self.setup = (tuple(setup[0]), tuple(setup[1]))


class Insn:
    __slots__ = ("addr", "data", "text")

    def __init__(self, addr, data, text):
        self.addr, self.data, self.text = addr, data, text

    def __repr__(self):
        return "%s  %s" % (self.data.hex(" ").upper(), " ".join(self.text.split()))


class Tools:
    """Runs the programs in one scratch directory."""

    def __init__(self, qrn):
        self.qrn = os.path.abspath(qrn)
        if not os.access(self.qrn, os.X_OK):
            print("qrn_asm not found: %s" % self.qrn)
            print("0 passed, 1 failed")
            sys.exit(1)
        self.dir = tempfile.mkdtemp(prefix="qrn_oracle_")
        self.counter = 0

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        self.counter += 1
        return os.path.join(self.dir, "%d_%s" % (self.counter, name))

    # -- qrn_asm ----------------------------------------------------------
    def qrn_head(self, mode):
        return ['section "c" class_code', MODES[mode]["use"]] + ["nop"] * PAD + [LABEL + ":"]

    def qrn_run(self, mode, lines, fmt="-binary", setup=((), ()), options=()):
        """Assembles lines after the standard head (and between the setup
        lines), with more command-line options (such as -size). Returns
        (image or None, {line index: message}, other messages)."""
        head = self.qrn_head(mode) + list(setup[0])
        src = self.path("in.asm")
        out = self.path("out.bin")
        with open(src, "wb") as f:
            f.write(("\r\n".join(head + list(lines) + list(setup[1])) + "\r\n").encode("latin-1"))
        p = subprocess.run([self.qrn, fmt, "-q"] + list(options) + [src, out], capture_output=True)
        text = (p.stdout + p.stderr).decode("latin-1")
        per_line, other = {}, []
        for m in re.finditer(r"\*\*Error\*\* (?:\S*?\((\d+)\) )?([^\r\n]*)", text):
            if m.group(1):
                index = int(m.group(1)) - len(head) - 1
                if 0 <= index < len(lines):
                    per_line.setdefault(index, m.group(2).strip())
                    continue
            other.append(m.group(0))
        image = None
        if p.returncode == 0 and os.path.exists(out):
            with open(out, "rb") as f:
                image = f.read()
        elif not per_line and not other:
            other.append("exit code %d without a message: %s" % (p.returncode, text.strip()))
        return image, per_line, other

    def pending(self, probes):
        """The probe lines (mode, line) whose keyword reports "<name>: not
        implemented"; returns the set of those names."""
        names = set()
        by_mode = {}
        for mode, line in probes:
            by_mode.setdefault(mode, []).append(line)
        for mode, lines in by_mode.items():
            _, per_line, other = self.qrn_run(mode, lines)
            for msg in list(per_line.values()) + other:
                m = re.search(r"(\S+): not implemented", msg)
                if m:
                    names.add(m.group(1).lower())
        return names

    # -- GNU as -----------------------------------------------------------
    def gas_run(self, mode, lines, defsyms=()):
        """Assembles lines with GNU as after the same head and links the image
        at address 0. Returns (image or None, {line index: message})."""
        head = [".intel_syntax noprefix", MODES[mode]["code"], ".rept %d" % PAD, "nop", ".endr", LABEL + ":"]
        src = self.path("in.s")
        obj = self.path("in.o")
        out = self.path("gas.bin")
        with open(src, "w") as f:
            f.write("\n".join(head + list(lines)) + "\n")
        p = subprocess.run(["as", MODES[mode]["as"], src, "-o", obj], capture_output=True, text=True)
        errors = {}
        for m in re.finditer(r":(\d+): Error: (.*)", p.stderr):
            index = int(m.group(1)) - len(head) - 1
            errors.setdefault(index, m.group(2))
        if p.returncode != 0:
            if not errors:
                errors[-1] = p.stderr.strip()
            return None, errors
        cmd = ["ld", "-m", MODES[mode]["ld"], "-Ttext=0", "-e", "0", "--oformat", "binary", obj, "-o", out]
        for name, value in sorted(set(defsyms)):
            cmd[1:1] = ["--defsym", "%s=0x%x" % (name, value)]
        p = subprocess.run(cmd, capture_output=True, text=True)
        if p.returncode != 0:
            return None, {-1: p.stderr.strip()}
        with open(out, "rb") as f:
            return f.read(), {}

    # -- objdump ----------------------------------------------------------
    def decode(self, mode, image, start=PAD):
        """objdump's reading of image from offset start on: a list of Insn."""
        if len(image) <= start:
            return []
        path = self.path("dis.bin")
        with open(path, "wb") as f:
            f.write(image)
        p = subprocess.run(["objdump", "-D", "-b", "binary", "-m", MODES[mode]["objdump"], "-M", "intel",
                            "--insn-width=16", "--start-address=%d" % start, path],
                           capture_output=True, text=True)
        insns = []
        for line in p.stdout.splitlines():
            m = re.match(r"^\s*([0-9a-f]+):\t([0-9a-f ]+?)\s*\t(.*)$", line)
            if m:
                insns.append(Insn(int(m.group(1), 16), bytes.fromhex(m.group(2)), m.group(3)))
            else:
                m = re.match(r"^\s*([0-9a-f]+):\t([0-9a-f ]+?)\s*$", line)
                if m:  # a lone byte objdump could not place in an instruction
                    insns.append(Insn(int(m.group(1), 16), bytes.fromhex(m.group(2)), "(bad)"))
        return insns


# -- comparison -------------------------------------------------------------

def rip_target(insn):
    m = re.search(r"#\s*(0x[0-9a-f]+)", insn.text)
    if m and "rip" in insn.text:
        return int(m.group(1), 16)
    return None


def canonical_bytes(insn):
    """The bytes with the leading 66h/67h run sorted and a RIP-relative
    displacement replaced by its target, so that encodings at different
    addresses and with the two prefix orders compare equal."""
    data = bytes(insn.data)
    n = 0
    while n < len(data) and data[n] in (0x66, 0x67):
        n += 1
    data = bytes(sorted(data[:n])) + data[n:]
    target = rip_target(insn)
    if target is None:
        return data
    disp = (target - (insn.addr + len(insn.data))) & 0xFFFFFFFF
    field = disp.to_bytes(4, "little")
    for p in range(1, len(data) - 3):
        if data[p:p + 4] == field and (data[p - 1] & 0xC7) == 0x05:
            return data[:p] + b"<rip:%x>" % target + data[p + 4:]
    return data


def normal_text(insn):
    """objdump's text with blanks squeezed, a RIP-relative operand written as
    its target and a zero displacement dropped."""
    t = " ".join(insn.text.split())
    t = re.sub(r"^rex(\.\w+)? ", "", t)  # a REX bit that means nothing here
    target = rip_target(insn)
    if target is not None:
        t = re.sub(r"\[rip[+-]0x[0-9a-f]+\]", "[rip->0x%x]" % target, t)
    t = re.sub(r"\s*#.*$", "", t)
    t = t.replace("+0x0]", "]")
    # xchg means the same either way round (GNU as writes 90h+r with the
    # accumulator); the F6h/FEh forms on spl..dil carry a REX.W that changes nothing.
    m = re.match(r"^xchg (\S+),(\S+)$", t)
    if m:
        t = "xchg " + ",".join(sorted(m.groups()))
    t = re.sub(r"^rex\.W ((?:not|neg|mul|imul|div|idiv|inc|dec) +(?:spl|bpl|sil|dil))$", r"\1", t)
    return t


def primary_opcode(mode, data):
    i = 0
    while i < len(data) and data[i] in LEGACY_PREFIXES:
        i += 1
    if mode == 64 and i < len(data) and 0x40 <= data[i] <= 0x4F:
        i += 1
    if i >= len(data):
        return None
    if data[i] == 0x0F and i + 1 < len(data):
        return 0x0F00 | data[i + 1]
    return data[i]


def judge(case, q_insns, g_insn):
    """None when qrn_asm's instructions q_insns for the case are right, else
    the reason."""
    if len(q_insns) != 1:
        return "decodes as %d instructions: %s" % (len(q_insns), " | ".join(map(repr, q_insns)))
    q = q_insns[0]
    if "(bad)" in q.text:
        return "decodes as (bad): %r" % q
    if canonical_bytes(q) == canonical_bytes(g_insn):
        return None
    if case.policy == "bytes":
        return "bytes differ"
    if normal_text(q) != normal_text(g_insn):
        return "meaning differs"
    if case.opcode is not None and primary_opcode(case.mode, q.data) != case.opcode:
        return "opcode %s, expected %02X" % (
            "%02X" % primary_opcode(case.mode, q.data) if primary_opcode(case.mode, q.data) is not None else "none",
            case.opcode)
    if case.longer is not None and len(q.data) != len(g_insn.data) + case.longer:
        return "%d bytes, expected %d" % (len(q.data), len(g_insn.data) + case.longer)
    return None


class Result:
    def __init__(self, case, ok, reason="", q=None, g=None):
        self.case, self.ok, self.reason, self.q, self.g = case, ok, reason, q, g

    def describe(self):
        c = self.case
        lines = ["FAIL [%s %d-bit %s] %s   (GNU as: %s)" % (c.mnemonic, c.mode, c.form, c.qrn, c.gas),
                 "     %s" % self.reason]
        if self.q is not None:
            lines.append("     qrn_asm: %s" % " | ".join(map(repr, self.q)) if self.q else "     qrn_asm: (no bytes)")
        if self.g is not None:
            lines.append("     GNU as:  %r" % self.g)
        return "\n".join(lines)


def run_cases(tools, cases, batch_size=400):
    """Assembles and judges the cases; returns a list of Result, one per case."""
    results = []
    by_mode = {}
    for c in cases:
        by_mode.setdefault(c.mode, []).append(c)
    for mode, mcases in by_mode.items():
        gas = gas_reference(tools, mode, mcases, results)
        groups = {}
        for c in mcases:
            if id(c) in gas:
                groups.setdefault(c.setup, []).append(c)
        for good in groups.values():
            for start in range(0, len(good), batch_size):
                results.extend(run_qrn_batch(tools, mode, good[start:start + batch_size], gas))
    return results


def gas_reference(tools, mode, cases, results):
    """GNU as's instruction for every case (by id); cases that GNU as refuses
    are failures of the generator and go to results."""
    defsyms = set(s for c in cases for s in c.defsyms)
    live = list(cases)
    for _ in range(20):
        image, errors = tools.gas_run(mode, [c.gas for c in live], defsyms)
        if image is not None:
            break
        if -1 in errors or not errors:
            for c in live:
                results.append(Result(c, False, "GNU as failed: %s" % errors.get(-1, "?")))
            return {}
        bad = set(errors)
        for i in sorted(bad):
            results.append(Result(live[i], False, "generator fault, GNU as refuses the line: %s" % errors[i]))
        live = [c for i, c in enumerate(live) if i not in bad]
    else:
        return {}
    insns = tools.decode(mode, image)
    if len(insns) != len(live):
        # Cannot pair the lines; take them one by one.
        out = {}
        for c in live:
            image, errors = tools.gas_run(mode, [c.gas], defsyms)
            one = tools.decode(mode, image) if image is not None else []
            if len(one) == 1:
                out[id(c)] = one[0]
            else:
                results.append(Result(c, False, "generator fault, GNU as line gives %d instructions" % len(one)))
        return out
    return {id(c): g for c, g in zip(live, insns)}


def qrn_single(tools, case):
    image, per_line, other = tools.qrn_run(case.mode, [case.qrn], setup=case.setup)
    if image is None:
        msg = per_line.get(0) or "; ".join(other) or "no output"
        return None, "qrn_asm error: %s" % msg
    return tools.decode(case.mode, image), None


def run_qrn_batch(tools, mode, cases, gas):
    results = {}
    live = list(cases)
    setup = cases[0].setup
    # Lines that qrn_asm refuses fail; the rest is assembled again.
    image = None
    for _ in range(len(cases) + 1):
        image, per_line, other = tools.qrn_run(mode, [c.qrn for c in live], setup=setup)
        if image is not None:
            break
        if not per_line:
            # No line to blame (a crash, or a message without a line): each line alone.
            for c in live:
                one, err = qrn_single(tools, c)
                why = err or judge(c, one, gas[id(c)])
                results[id(c)] = Result(c, why is None, why or "", q=one, g=gas[id(c)])
            live = []
            break
        for i, msg in per_line.items():
            results[id(live[i])] = Result(live[i], False, "qrn_asm error: %s" % msg, g=gas[id(live[i])])
        live = [c for i, c in enumerate(live) if i not in per_line]
        if not live:
            break
    if live and image is not None:
        if image[:PAD] != b"\x90" * PAD:
            for c in live:
                results[id(c)] = Result(c, False, "the head of the image is not %d nops" % PAD, g=gas[id(c)])
        else:
            judge_batch(tools, mode, live, tools.decode(mode, image), gas, results)
    return [results[id(c)] for c in cases]


def judge_batch(tools, mode, live, insns, gas, results, reruns=0):
    """Pairs the decoded instructions with the lines. A line whose instruction
    does not match is assembled alone, with the line before it (a stray byte
    at the end of one instruction shows in the next); when the count of
    instructions is off, the lines after the first mismatch are assembled
    again as a new batch."""
    aligned = len(insns) == len(live)
    for k, c in enumerate(live):
        g = gas[id(c)]
        q = [insns[k]] if k < len(insns) else []
        reason = judge(c, q, g)
        if reason is None:
            results[id(c)] = Result(c, True)
            continue
        for j in (k - 1, k):
            if j < 0:
                continue
            cj = live[j]
            one, err = qrn_single(tools, cj)
            if err:
                results[id(cj)] = Result(cj, False, err, g=gas[id(cj)])
                continue
            why = judge(cj, one, gas[id(cj)])
            results[id(cj)] = Result(cj, why is None, why or "", q=one, g=gas[id(cj)])
        if aligned:
            continue
        rest = live[k + 1:]
        if not rest:
            return
        if reruns >= 8:
            for cj in rest:
                one, err = qrn_single(tools, cj)
                why = err or judge(cj, one, gas[id(cj)])
                results[id(cj)] = Result(cj, why is None, why or "", q=one, g=gas[id(cj)])
            return
        image, per_line, other = tools.qrn_run(mode, [x.qrn for x in rest], setup=rest[0].setup)
        if image is None:
            for cj in rest:
                one, err = qrn_single(tools, cj)
                why = err or judge(cj, one, gas[id(cj)])
                results[id(cj)] = Result(cj, why is None, why or "", q=one, g=gas[id(cj)])
            return
        judge_batch(tools, mode, rest, tools.decode(mode, image), gas, results, reruns + 1)
        return


class Report:
    """Per-section pass/fail/pending counts and the closing line."""

    def __init__(self, max_details=60):
        self.passed = self.failed = 0
        self.details = 0
        self.max_details = max_details

    def section(self, name, results, pending=()):
        ok = sum(1 for r in results if r.ok)
        bad = [r for r in results if not r.ok]
        self.passed += ok
        self.failed += len(bad)
        line = "%-14s %5d passed, %4d failed" % (name, ok, len(bad))
        if pending:
            line += "   pending (not implemented yet): %s" % ", ".join(sorted(pending))
        print(line)
        forms = {}
        for r in results:
            key = (r.case.form, r.case.mode)
            forms.setdefault(key, [0, 0])[0 if r.ok else 1] += 1
        for (form, mode), (p, f) in sorted(forms.items()):
            if f:
                print("    %-26s %2d-bit: %4d passed, %4d failed" % (form, mode, p, f))
        for r in bad:
            if self.details < self.max_details:
                print(r.describe())
            self.details += 1

    def pending(self, name, why):
        print("%-14s pending: %s" % (name, why))

    def close(self):
        if self.details > self.max_details:
            print("(%d more failures not shown)" % (self.details - self.max_details))
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 1 if self.failed else 0
