"""Helpers of the object suites (elf_objects.py, coff_objects.py,
omf_objects.py, macho_objects.py): assembling, tool runs, running linked
programs, small ELF, COFF, OMF and Mach-O readers, and the random programs
whose checksums are checked at run time."""
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
import run_program  # noqa: E402

WORK = tempfile.mkdtemp(prefix="qrn_obj_")
results = {"passed": 0, "failed": 0, "skipped": []}


def check(name, condition, detail=""):
    if condition:
        results["passed"] += 1
    else:
        results["failed"] += 1
        detail = str(detail)
        print("FAIL %s %s" % (name, detail if len(detail) < 600 else detail[:600] + " ..."))
    return condition


def finish():
    shutil.rmtree(WORK, ignore_errors=True)
    for what in sorted(set(results["skipped"])):
        print("skipped: %s" % what)
    print("%d passed, %d failed" % (results["passed"], results["failed"]))
    return 1 if results["failed"] else 0


def path(name):
    return os.path.join(WORK, name)


def assemble(qrn, name, source, fmt, *extra):
    """Assembles source (LF lines) into WORK/name; (exit code, messages, path or None)."""
    src, out = path(name + ".asm"), path(name)
    if os.path.exists(out):
        os.remove(out)
    with open(src, "w", newline="") as f:
        f.write(source.replace("\n", "\r\n"))
    r = subprocess.run([qrn, fmt, "-q", *extra, src, out], capture_output=True, text=True, errors="replace")
    return r.returncode, r.stdout + r.stderr, out if os.path.exists(out) else None


def tool(*command):
    """(exit code, stdout + stderr) of a tool."""
    r = subprocess.run(command, capture_output=True, text=True, errors="replace")
    return r.returncode, r.stdout + r.stderr


WARNING = re.compile(r"warning|error|invalid|corrupt", re.I)


def readers_clean(name, obj, readers):
    """Each reader (a command list) reads the object and says nothing alarming."""
    for command in readers:
        code, text = tool(*command, obj)
        lines = [l for l in text.splitlines() if WARNING.search(l)]
        check("%s: %s reads it cleanly" % (name, command[0]), code == 0 and not lines, "\n".join(lines[:5]))


# ---- running programs --------------------------------------------------------------

def run(exe, kind):
    """Runs a linked program through the program runner (i386 natively or
    under qemu-i386, PE32+ under wine64, PE32 under 32-bit wine): (exit code,
    stdout), or None when this machine cannot run it (recorded as skipped)."""
    try:
        r = run_program.run(exe, timeout=180)
    except run_program.Skipped as e:
        results["skipped"].append("%s programs: %s" % (kind, e))
        return None
    except RuntimeError as e:  # qemu-i386 or wine64 missing: a failure, not a skip
        return -1001, str(e).encode()
    if r.returncode is None:
        return -1000, b"timed out"
    return r.returncode, r.stdout


# ---- readers -----------------------------------------------------------------------

class Elf:
    """Section headers, symbols and relocations of an ELF32/ELF64 object."""

    def __init__(self, file):
        with open(file, "rb") as f:
            d = self.data = f.read()
        self.is64 = d[4] == 2
        if self.is64:
            self.machine, = struct.unpack_from("<H", d, 18)
            shoff, = struct.unpack_from("<Q", d, 0x28)
            shentsize, shnum, shstrndx = struct.unpack_from("<HHH", d, 0x3A)
        else:
            self.machine, = struct.unpack_from("<H", d, 18)
            shoff, = struct.unpack_from("<I", d, 0x20)
            shentsize, shnum, shstrndx = struct.unpack_from("<HHH", d, 0x2E)
        self.shnum, self.shstrndx = shnum, shstrndx
        self.sections = []
        for i in range(shnum):
            at = shoff + i * shentsize
            if self.is64:
                n, t, fl, _, off, size, link, info, al, es = struct.unpack_from("<IIQQQQIIQQ", d, at)
            else:
                n, t, fl, _, off, size, link, info, al, es = struct.unpack_from("<IIIIIIIIII", d, at)
            self.sections.append(dict(name_off=n, type=t, flags=fl, offset=off, size=size, link=link, info=info,
                                      align=al, entsize=es))
        strtab = self.sections[shstrndx]
        for s in self.sections:
            s["name"] = self.string(strtab, s["name_off"])
        sym = next(s for s in self.sections if s["type"] == 2)
        names = self.sections[sym["link"]]
        self.symbols = []
        for i in range(sym["size"] // sym["entsize"]):
            at = sym["offset"] + i * sym["entsize"]
            if self.is64:
                n, info, _, shndx, value, size = struct.unpack_from("<IBBHQQ", d, at)
            else:
                n, value, size, info, _, shndx = struct.unpack_from("<IIIBBH", d, at)
            self.symbols.append(dict(name=self.string(names, n), value=value, size=size, bind=info >> 4,
                                     type=info & 15, shndx=shndx))

    def string(self, table, offset):
        at = table["offset"] + offset
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def section(self, name):
        return next(s for s in self.sections if s["name"] == name)

    def index(self, name):
        return next(i for i, s in enumerate(self.sections) if s["name"] == name)

    def relocs(self, name):
        """(offset, type, symbol name, addend or None, field value) of a relocation section."""
        s = self.section(name)
        target = self.sections[s["info"]]
        out = []
        for i in range(s["size"] // s["entsize"] if s["entsize"] else 0):
            at = s["offset"] + i * s["entsize"]
            if self.is64:
                off, info, addend = struct.unpack_from("<QQq", self.data, at)
                sym, typ = info >> 32, info & 0xFFFFFFFF
            else:
                (off, info), addend = struct.unpack_from("<II", self.data, at), None
                sym, typ = info >> 8, info & 0xFF
            field, = struct.unpack_from("<i", self.data, target["offset"] + off)
            out.append((off, typ, self.symbols[sym]["name"], addend, field))
        return out

    def bytes(self, name):
        s = self.section(name)
        return self.data[s["offset"]:s["offset"] + s["size"]]


class Coff:
    """Section headers, symbols and relocations of a COFF object."""

    def __init__(self, file):
        with open(file, "rb") as f:
            d = self.data = f.read()
        self.machine, nsec, _, symptr, nsym, opt, self.characteristics = struct.unpack_from("<HHIIIHH", d, 0)
        strings_at = symptr + 18 * nsym
        self.strings_size, = struct.unpack_from("<I", d, strings_at)

        def string(offset):
            at = strings_at + offset
            return d[at:d.index(b"\0", at)].decode("latin-1")

        self.symbols = []
        i = 0
        while i < nsym:
            at = symptr + 18 * i
            if d[at:at + 4] == b"\0\0\0\0":
                name = string(struct.unpack_from("<I", d, at + 4)[0])
            else:
                name = d[at:at + 8].rstrip(b"\0").decode("latin-1")
            value, number, typ, storage, aux = struct.unpack_from("<IhHBB", d, at + 8)
            self.symbols.append(dict(name=name, value=value, section=number, type=typ, storage=storage))
            self.symbols.extend([None] * aux)
            i += 1 + aux
        self.sections = []
        for k in range(nsec):
            at = 20 + opt + 40 * k
            raw_name = d[at:at + 8].rstrip(b"\0").decode("latin-1")
            name = string(int(raw_name[1:])) if raw_name.startswith("/") else raw_name
            vsize, va, size, ptr, relptr, _, nrel, _, chars = struct.unpack_from("<IIIIIIHHI", d, at + 8)
            relocs, first = [], relptr
            if chars & 0x01000000 and nrel == 0xFFFF:
                nrel = struct.unpack_from("<I", d, relptr)[0] - 1
                first += 10
            for j in range(nrel):
                va_r, sym, typ = struct.unpack_from("<IIH", d, first + 10 * j)
                field = struct.unpack_from("<i", d, ptr + va_r)[0] if ptr else None
                relocs.append((va_r, typ, self.symbols[sym]["name"], field))
            self.sections.append(dict(raw_name=raw_name, name=name, size=size, ptr=ptr, chars=chars, relocs=relocs,
                                      nrel_field=struct.unpack_from("<H", d, at + 32)[0]))

    def section(self, name):
        return next(s for s in self.sections if s["name"] == name)



class Omf:
    """The records of an OMF module (16- and 32-bit forms): names, segments,
    groups, externals, publics, the segments' images from LEDATA, FIXUPs
    (threads included) and MODEND. `problems` lists what breaks the format:
    a bad checksum, a record that runs past its length, a FIXUP outside its
    LEDATA."""

    def __init__(self, file):
        with open(file, "rb") as f:
            d = self.data = f.read()
        self.records, self.problems = [], []
        self.lnames, self.segments, self.groups, self.externs, self.publics = [], [], [], [], []
        self.images, self.fixups, self.modend, self.ledata = {}, [], None, []
        threads = {"frame": [None] * 4, "target": [None] * 4}
        last = None  # the LEDATA the FIXUPs refer to: (segment, offset, length)
        at = 0
        while at + 3 <= len(d):
            typ, length = d[at], struct.unpack_from("<H", d, at + 1)[0]
            body, end = d[at + 3:at + 2 + length], at + 3 + length
            if end > len(d) or length == 0:
                self.problems.append("record at %d runs past the file" % at)
                break
            if d[end - 1] != 0 and sum(d[at:end]) & 0xFF:
                self.problems.append("checksum of record %02X at %d" % (typ, at))
            self.records.append((typ, bytes(d[at:end])))
            try:
                last = self._record(typ, body, threads, last)
            except (IndexError, struct.error):
                self.problems.append("record %02X at %d is short" % (typ, at))
            at = end

    @staticmethod
    def index(b, at):
        if b[at] & 0x80:
            return (b[at] & 0x7F) << 8 | b[at + 1], at + 2
        return b[at], at + 1

    @staticmethod
    def name(b, at):
        return b[at + 1:at + 1 + b[at]].decode("latin-1"), at + 1 + b[at]

    def _record(self, typ, b, threads, last):
        wide = typ & 1
        word = "<I" if wide else "<H"
        size = 4 if wide else 2
        kind = typ & 0xFE
        if kind == 0x96:
            at = 0
            while at < len(b):
                n, at = self.name(b, at)
                self.lnames.append(n)
        elif kind == 0x98:
            acbp, at = b[0], 1
            if acbp >> 5 == 0:
                at += 3  # frame number and offset of an absolute segment
            length, = struct.unpack_from(word, b, at)
            at += size
            seg, at = self.index(b, at)
            cls, at = self.index(b, at)
            self.segments.append(dict(name=self.lnames[seg - 1], cls=self.lnames[cls - 1], length=length, acbp=acbp))
        elif kind == 0x9A:
            n, at = self.index(b, 0)
            segs = []
            while at < len(b):
                seg, at = self.index(b, at + 1)
                segs.append(seg)
            self.groups.append(dict(name=self.lnames[n - 1], segments=segs))
        elif kind == 0x8C:
            at = 0
            while at < len(b):
                n, at = self.name(b, at)
                self.externs.append(n)
                _, at = self.index(b, at)
        elif kind == 0x90:
            group, at = self.index(b, 0)
            seg, at = self.index(b, at)
            frame = None
            if seg == 0:
                frame, = struct.unpack_from("<H", b, at)
                at += 2
            while at < len(b):
                n, at = self.name(b, at)
                offset, = struct.unpack_from(word, b, at)
                _, at = self.index(b, at + size)
                self.publics.append(dict(name=n, group=group, segment=seg, frame=frame, offset=offset))
        elif kind == 0xA0:
            seg, at = self.index(b, 0)
            offset, = struct.unpack_from(word, b, at)
            data = b[at + size:]
            image = self.images.setdefault(seg, bytearray())
            if len(image) < offset + len(data):
                image.extend(bytes(offset + len(data) - len(image)))
            image[offset:offset + len(data)] = data
            self.ledata.append((seg, offset, len(data)))
            return seg, offset, len(data)
        elif kind == 0x9C:
            at = 0
            while at < len(b):
                at = self._fixup(b, at, threads, last, size)
        elif kind == 0x8A:
            self.modend = dict(type=b[0])
            if b[0] & 0x40:
                self.modend.update(self._target(b, 1, threads, size)[0])
        return last

    def _target(self, b, at, threads, size):
        """Fix data (or end data) and what follows it: frame and target."""
        fix = b[at]
        at += 1
        if fix & 0x80:
            frame = threads["frame"][fix >> 4 & 3]
        else:
            method = fix >> 4 & 7
            datum = None
            if method < 3:
                datum, at = self.index(b, at)
            frame = (method, datum)
        if fix & 0x08:
            method, datum = threads["target"][fix & 3]
            method |= fix & 4
        else:
            method = fix & 7
            datum, at = self.index(b, at)
        disp = 0
        if not method & 4:
            disp, = struct.unpack_from("<i" if size == 4 else "<h", b, at)
            at += size
        return dict(frame=frame, target=(method & 3, datum), disp=disp), at

    def _fixup(self, b, at, threads, last, size):
        first = b[at]
        if not first & 0x80:  # THREAD
            method = first >> 2 & 7
            datum = None
            at += 1
            if first & 0x40:
                if method < 3:
                    datum, at = self.index(b, at)
                threads["frame"][first & 3] = (method, datum)
            else:
                datum, at = self.index(b, at)
                threads["target"][first & 3] = (method & 3, datum)
            return at
        place = (first & 3) << 8 | b[at + 1]
        m, loc = first >> 6 & 1, first >> 2 & 15
        f, at = self._target(b, at + 2, threads, size)
        width = {9: 4, 13: 4, 1: 2, 5: 2, 0: 1, 4: 1, 3: 4, 11: 6, 2: 2}.get(loc, 4)
        if last is None or place + width > last[2]:
            self.problems.append("FIXUP at %d leaves its LEDATA %s" % (place, last))
        seg, start = (last or (0, 0, 0))[:2]
        f.update(segment=seg, offset=start + place, m=m, loc=loc, width=width)
        self.fixups.append(f)
        return at

    def target_name(self, target, kind="T"):
        """A target (or frame) by name: a segment, group or external; the
        method and number when it names nothing."""
        method, datum = target
        table = {0: (self.segments, "name"), 1: (self.groups, "name"), 2: (self.externs, None)}.get(method)
        if table and datum and datum <= len(table[0]):
            item = table[0][datum - 1]
            return item[table[1]] if table[1] else item
        return "%s%d:%s" % (kind, method, datum)

    def frame_name(self, frame):
        return "F%d " % frame[0] + self.target_name(frame, "F") if frame[0] < 3 else "F%d" % frame[0]

    def image(self, name):
        k = next(i for i, s in enumerate(self.segments) if s["name"] == name) + 1
        return bytes(self.images.get(k, b"")).ljust(self.segments[k - 1]["length"], b"\0")

    def field(self, f):
        seg = self.segments[f["segment"] - 1]["name"]
        raw = self.image(seg)[f["offset"]:f["offset"] + f["width"]]
        return int.from_bytes(raw, "little", signed=True) + f["disp"]

    def meaning(self):
        """What a linker makes of the module, without the record forms:
        segments, images, FIXUPs as (segment, offset, M, location, frame,
        target, field + displacement), publics and the start address."""
        segs = [(s["name"], s["cls"], s["length"], s["acbp"]) for s in self.segments]
        images = {s["name"]: self.image(s["name"]) for s in self.segments}
        fixups = sorted((self.segments[f["segment"] - 1]["name"], f["offset"], f["m"], f["loc"],
                         self.frame_name(f["frame"]), self.target_name(f["target"]), self.field(f))
                        for f in self.fixups)
        publics = sorted((p["name"], self.segments[p["segment"] - 1]["name"] if p["segment"] else None,
                          p["offset"]) for p in self.publics)
        start = None
        if self.modend and "target" in self.modend:
            start = (self.frame_name(self.modend["frame"]), self.target_name(self.modend["target"]),
                     self.modend["disp"])
        return dict(segments=segs, images=images, fixups=fixups, publics=publics, start=start)


class MachO:
    """Header, load commands, sections, symbols and relocations of a 32-bit
    Mach-O object; `resolved` says what each relocated field refers to."""

    def __init__(self, file):
        with open(file, "rb") as f:
            d = self.data = f.read()
        self.header = struct.unpack_from("<7I", d, 0)
        self.sections, self.symbols, self.segment, self.symtab, self.dysymtab = [], [], None, None, None
        at = 28
        for _ in range(self.header[4]):
            cmd, size = struct.unpack_from("<II", d, at)
            if cmd == 1:
                self.segment = (size, d[at + 8:at + 24].rstrip(b"\0").decode()) + struct.unpack_from("<8I", d, at + 24)
                for k in range(self.segment[-2]):
                    s = at + 56 + 68 * k
                    raw = d[s:s + 16]
                    fields = struct.unpack_from("<9I", d, s + 32)
                    addr, size_, off, align, reloff, nreloc, flags = fields[:7]
                    relocs = [struct.unpack_from("<II", d, reloff + 8 * j) for j in range(nreloc)]
                    self.sections.append(dict(raw=raw, name=raw.rstrip(b"\0").decode("latin-1"),
                                              segname=d[s + 16:s + 32].rstrip(b"\0").decode(), addr=addr,
                                              size=size_, offset=off, align=align, reloff=reloff,
                                              flags=flags, relocs=relocs, bytes=d[off:off + size_]))
            elif cmd == 2:
                self.symtab = struct.unpack_from("<4I", d, at + 8)
            elif cmd == 0x0B:
                self.dysymtab = struct.unpack_from("<18I", d, at + 8)
            at += size
        symoff, nsyms, stroff, _ = self.symtab
        for i in range(nsyms):
            strx, typ, sect, desc, value = struct.unpack_from("<IBBhI", d, symoff + 12 * i)
            name = d[stroff + strx:d.index(b"\0", stroff + strx)].decode("latin-1")
            self.symbols.append((name, typ, sect, desc, value))

    def section(self, name):
        return next(s for s in self.sections if s["name"] == name)

    def holder(self, address):
        """The section that holds an address: the one it lies in, else the one it ends."""
        inside = [s for s in self.sections if s["addr"] <= address < s["addr"] + s["size"]]
        return (inside or [s for s in self.sections if address == s["addr"] + s["size"]])[0]

    def resolved(self, section):
        """{field offset: (pcrel, target)} of a section's relocations, the
        target as ("section", name, offset) or ("symbol", name, addend)."""
        s, out = self.section(section), {}
        for w0, w1 in s["relocs"]:
            if w0 & 0x80000000:  # scattered: the field refers past r_value's section start
                offset, pcrel, value = w0 & 0xFFFFFF, w0 >> 30 & 1, w1
            else:
                offset, pcrel, value = w0, w1 >> 24 & 1, None
            field, = struct.unpack_from("<i", s["bytes"], offset)
            pc = s["addr"] + offset + 4 if pcrel else 0
            if value is None and w1 & 0x08000000:
                out[offset] = (pcrel, ("symbol", self.symbols[w1 & 0xFFFFFF][0], field + pc))
                continue
            target = self.sections[(w1 & 0xFFFFFF) - 1] if value is None else self.holder(value)
            out[offset] = (pcrel, ("section", target["name"], (field + pc - target["addr"]) & 0xFFFFFFFF))
        return out


# ---- random programs ---------------------------------------------------------------

def random_program(seed, bits, ending, qwords=True):
    """A program over two data sections that reads and changes its data
    through every kind of relocated field and ends with `ending` (source
    lines that take the result in eax: 0 when the checksum held). Returns
    the source. `qwords`: 32-bit code also reads `dq` pointers (their low dword)."""
    rng = random.Random(seed)
    wide = bits == 64
    mem, lines = {}, []  # label -> its two dwords
    labels = []
    data = {"data1": [], "data2": []}
    for i in range(12):
        sec = "data1" if i % 2 else "data2"
        name = "v%d" % i
        words = [rng.getrandbits(32), rng.getrandbits(32)]
        mem[name] = words
        labels.append(name)
        data[sec].append("%s dd %s" % (name, ",".join("%08Xh" % w for w in words)))
        if rng.random() < 0.3:
            data[sec].append("db %s" % ",".join(str(rng.getrandbits(8)) for _ in range(rng.randint(1, 3))))
    pointers = {}
    for i in range(6):
        target = rng.choice(labels)
        sec = rng.choice(["data1", "data2"])
        if wide or qwords and i % 2:
            pointers["q%d" % i] = target
            data[sec].append("q%d dq %s" % (i, target))
        else:
            pointers["p%d" % i] = target
            data[sec].append("p%d dd %s" % (i, target))
    total = 0
    base = "rdx" if wide else "edx"
    index = "rcx" if wide else "ecx"
    for _ in range(60):
        v = rng.choice(labels)
        k = rng.randint(0, 1)
        kind = rng.randrange(9)
        if kind == 0:
            lines.append("add eax, dword [%s]" % v)
            total += mem[v][0]
        elif kind == 1:
            lines.append("add eax, dword [%s+4]" % v)
            total += mem[v][1]
        elif kind == 2:
            lines += ["mov ecx, %d" % k, "add eax, dword [%s+%s*4]" % (v, index)]
            total += mem[v][k]
        elif kind == 3:
            imm = rng.choice([rng.randint(-128, 127), rng.getrandbits(31)])
            lines.append("add dword [%s+%d], %d" % (v, 4 * k, imm))
            mem[v][k] = (mem[v][k] + imm) & 0xFFFFFFFF
        elif kind == 4:
            imm = rng.getrandbits(16)
            lines.append("xor word [%s], %d" % (v, imm))
            mem[v][0] ^= imm
        elif kind == 5:
            imm = rng.getrandbits(8)
            lines.append("mov byte [%s+5], %d" % (v, imm))
            mem[v][1] = (mem[v][1] & 0xFFFF00FF) | imm << 8
        elif kind == 6:
            lines += ["mov edx, %s" % v, "add eax, dword [%s+%d]" % (base, 4 * k)]
            total += mem[v][k]
        elif kind == 7:
            p = rng.choice(sorted(pointers))
            load = "mov rdx, qword [%s]" % p if wide else "mov edx, dword [%s]" % p
            lines += [load, "add eax, dword [%s+%d]" % (base, 4 * k)]
            total += mem[pointers[p]][k]
        else:
            lines += ["mov rdx, %s" % v if wide else "lea edx, [%s]" % v, "add eax, dword [%s]" % base]
            total += mem[v][0]
    body = ["xor eax, eax"] + lines + ["cmp eax, %d" % (total & 0xFFFFFFFF) if total & 0x80000000 == 0 else
                                       "cmp eax, %d" % ((total & 0xFFFFFFFF) - (1 << 32)),
                                       "mov eax, 0", "je done", "mov eax, 1", "done:"] + ending
    out = body + ['section "data1" class_data'] + data["data1"] + ['section "data2" class_data'] + data["data2"]
    return "\n".join(out) + "\n"
