#!/usr/bin/env python3
"""Runs a program the tests built, whatever the machine under them:

  ELF64   natively
  ELF32   natively, or through qemu-i386 where the kernel runs no i386 code
  PE32+   under wine64
  PE32    under 32-bit wine; where that cannot run here, Skipped is raised

Command line:  run_program.py <exe> [args...]
  Passes the program's streams and exit code through. A PE32 that cannot
  run here prints one line "skipped: ..." and exits 77.
  run_program.py --probe   prints "i386: native" or "i386: qemu-i386".
  run_program.py --pe32    prints how PE32 programs run here, or why they
                           cannot (then exits 77).

From Python:   run(path, args=(), ...) -> Result(returncode, stdout, stderr)
               command(path, args=()) -> the argv that runs it
               raise Skipped(reason) for a PE32 without 32-bit wine.

QRN_I386=native|qemu chooses the i386 route (the test command sets it after
probing once); without it the first i386 run probes. WINEPREFIX names the
wine prefix (the test command makes one per run under its build folder);
without it a prefix in the temporary folder is used. The first wine run in
a fresh prefix initialises it (wineboot -i) under a lock, so parallel tests
share one prefix, and sets its graphics driver to "null": windows, menus and
dialogs work without a display.
"""
import fcntl
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True

SKIP_CODE = 77


class Skipped(Exception):
    """The program cannot run on this machine (PE32 without 32-bit wine)."""


class Result:
    __slots__ = ("returncode", "stdout", "stderr")

    def __init__(self, returncode, stdout, stderr):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr

    def __repr__(self):
        return "Result(%r, %r, %r)" % (self.returncode, self.stdout, self.stderr)


def kind(path):
    """"elf64", "elf32", "pe32+", "pe32" or None, from the file's headers."""
    with open(path, "rb") as f:
        head = f.read(4096)
    if head[:4] == b"\x7fELF" and len(head) > 4:
        return {1: "elf32", 2: "elf64"}.get(head[4])
    if head[:2] == b"MZ" and len(head) >= 64:
        pe = struct.unpack_from("<I", head, 60)[0]
        if pe + 26 <= len(head) and head[pe:pe + 4] == b"PE\0\0":
            magic = struct.unpack_from("<H", head, pe + 24)[0]
            return {0x10B: "pe32", 0x20B: "pe32+"}.get(magic)
    return None


# ---- i386 ------------------------------------------------------------------------

def _tiny_elf32():
    """An i386 executable that exits with code 0 (exit system call only)."""
    base, code_at = 0x08048000, 84
    code = bytes.fromhex("31DB" "B801000000" "CD80")  # xor ebx,ebx; mov eax,1; int 80h
    size = code_at + len(code)
    header = b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack(
        "<HHIIIIIHHHHHH", 2, 3, 1, base + code_at, 52, 0, 0, 52, 32, 1, 40, 0, 0)
    phdr = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
    return header + phdr + code


_route = None


def i386_route():
    """"native" or "qemu": how i386 code runs here (QRN_I386, else probed once)."""
    global _route
    if _route is None:
        forced = os.environ.get("QRN_I386", "")
        if forced in ("native", "qemu"):
            _route = forced
        else:
            _route = "native" if probe_native() else "qemu"
    return _route


def probe_native():
    fd, path = tempfile.mkstemp(prefix="qrn_i386_probe_")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(_tiny_elf32())
        os.chmod(path, 0o755)
        try:
            return subprocess.run([path], capture_output=True, timeout=10).returncode == 0
        except (OSError, subprocess.TimeoutExpired):
            return False
    finally:
        os.remove(path)


def qemu_i386():
    q = shutil.which("qemu-i386") or shutil.which("qemu-i386-static")
    if not q:
        raise RuntimeError("this machine runs no i386 code and qemu-i386 is missing "
                           "(apt-get install qemu-user)")
    return q


# ---- wine ------------------------------------------------------------------------

WINE32 = "/usr/lib/wine/wine"


def wine32_missing():
    """Why 32-bit wine cannot run here, or None when it can."""
    if i386_route() != "native":
        return "this machine runs no i386 code, so 32-bit wine cannot run"
    if not os.access(WINE32, os.X_OK):
        return "32-bit wine is not installed (wine32)"
    return None


def wine64():
    for name in ("wine64", "/usr/lib/wine/wine64", "wine64-stable"):
        w = shutil.which(name)
        if w:
            return w
    raise RuntimeError("wine64 is missing (apt-get install wine64)")


def wine_env():
    env = dict(os.environ)
    prefix = env.get("WINEPREFIX") or os.path.join(tempfile.gettempdir(), "qrn_wine_%d" % os.getuid())
    env["WINEPREFIX"] = os.path.abspath(prefix)
    env["WINEDEBUG"] = "-all"
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")  # no install dialogs
    env.pop("DISPLAY", None)
    return env


_prefixes_ready = set()


def null_graphics(prefix):
    try:
        with open(os.path.join(prefix, "user.reg"), errors="replace") as f:
            return '"Graphics"="null"' in f.read()
    except OSError:
        return False


def wine_prefix(env):
    """Initialises the prefix once (wineboot -i, by wine64: a 64-bit prefix
    runs PE32 too where 32-bit wine is installed), under a lock, with the
    graphics driver "null": windows and dialogs work without a display."""
    prefix = env["WINEPREFIX"]
    if prefix in _prefixes_ready:
        return
    os.makedirs(os.path.dirname(prefix) or ".", exist_ok=True)
    with open(prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        quiet = {"env": env, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "timeout": 300}
        if not os.path.exists(os.path.join(prefix, "system.reg")):
            subprocess.run([wine64(), "wineboot", "-i"], **quiet)
        if not null_graphics(prefix):
            subprocess.run([wine64(), "reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "null",
                            "/f"], **quiet)
            # The setting holds for processes that a new wineserver starts.
            subprocess.run([shutil.which("wineserver") or "wineserver", "-w"], env=env, timeout=300)
    _prefixes_ready.add(prefix)


# ---- running ---------------------------------------------------------------------

def command(path, args=()):
    """The argv that runs path here, and the environment it needs (None for
    the inherited one)."""
    path = os.path.abspath(path)
    k = kind(path)
    args = [str(a) for a in args]
    if k == "elf64" or k is None:
        return [path] + args, None
    if k == "elf32":
        if i386_route() == "native":
            return [path] + args, None
        return [qemu_i386(), path] + args, None
    env = wine_env()
    if k == "pe32+":
        loader = wine64()
    else:
        reason = wine32_missing()
        if reason:
            raise Skipped("PE32 program %s not run: %s" % (os.path.basename(path), reason))
        loader = WINE32
    wine_prefix(env)
    return [loader, path] + args, env


def run(path, args=(), input=None, timeout=60, cwd=None):
    """Runs the program; returns Result(returncode, stdout, stderr) with the
    streams as bytes. Raises Skipped only for a PE32 without 32-bit wine."""
    argv, env = command(path, args)
    try:
        p = subprocess.run(argv, input=input, capture_output=True, timeout=timeout, cwd=cwd, env=env)
    except subprocess.TimeoutExpired as e:
        return Result(None, e.stdout or b"", (e.stderr or b"") + b"\ntimed out")
    return Result(p.returncode, p.stdout, p.stderr)


def main(argv):
    if len(argv) == 2 and argv[1] == "--probe":
        print("i386: native" if i386_route() == "native" else "i386: qemu-i386")
        return 0
    if len(argv) == 2 and argv[1] == "--pe32":
        reason = wine32_missing()
        if reason:
            print("PE32 run tests skipped: %s" % reason)
            return SKIP_CODE
        print("PE32: wine32")
        return 0
    if len(argv) < 2:
        print("usage: run_program.py <exe> [args...] | --probe", file=sys.stderr)
        return 2
    try:
        cmd, env = command(argv[1], argv[2:])
    except Skipped as e:
        print("skipped: %s" % e)
        return SKIP_CODE
    sys.stdout.flush()
    if env is None:
        os.execv(cmd[0], cmd)
    os.execve(cmd[0], cmd, env)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
