#!/usr/bin/env python3
"""Small programs assembled by qrn_asm and run natively in 32- and 64-bit
mode: loads, stores and computed values are checked by the exit code.

Usage: run_native.py path/to/qrn_asm

Each program is a list of source lines. A line "@check reg,value" expands
to code that sets bit k of the failure mask (edi, or r15 in 64-bit code)
when the register does not hold the value (k counts the checks, at most
eight per program); the program returns the mask. The test wraps the raw
code (qrn_asm -binary) into a minimal ELF executable whose entry calls the
code and passes the mask to the exit system call, so exit code 0 means that
every check held.

Once qrn_asm writes ELF objects (-elf32, -elf64), every program also runs
from qrn_asm's object, linked by ld with the same stub; the programs that
use absolute addresses of labels run from objects only.

Every program also runs as assembled by GNU as, which shows that the
program and its expected values are right. A program whose instructions
still report "<name>: not implemented" in qrn_asm is pending, not failed.

Exit 0 when every check passes, 1 otherwise; the last line is
"N passed, N failed".
"""
import os
import re
import struct
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from oracle_lib import PAD, Tools, require_tools  # noqa: E402
from x87_programs import X87_PROGRAMS  # noqa: E402
from stack_programs import PROC_PROGRAMS, STACK_PROGRAMS  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
import run_program  # noqa: E402  (i386 programs run natively or through qemu-i386)

# ---------------------------------------------------------------------------
# The programs. Labels are code labels; in 64-bit code the bytes after a
# label (nops) serve as a writable cell, reached RIP-relative.

PROGRAMS = [
    (32, "alu registers and immediates", """
        mov ebx,12345678h
        add ebx,11111111h
        @check ebx,23456789h
        mov ecx,0FFFFFFFFh
        add ecx,2
        mov edx,5
        adc edx,10
        @check ecx,1
        @check edx,16
        mov esi,1000
        sub esi,1500
        @check esi,-500
        mov ebp,-1
        xor ebp,0F0F0F0F0h
        @check ebp,0F0F0F0Fh
        mov ebx,0FFh
        and ebx,3Ch
        or ebx,100h
        @check ebx,13Ch
        mov ecx,10
        cmp ecx,11
        sbb edx,edx
        @check edx,-1
        mov ecx,12
        cmp ecx,11
        mov edx,7
        sbb edx,2
        @check edx,5
    """),
    (32, "alu and mov on bytes and words", """
        mov ebx,0
        mov bl,0F0h
        add bl,20h
        mov ecx,0
        adc cl,0
        mov bh,7
        add bh,bl
        @check ebx,1710h
        @check ecx,1
        mov edx,0
        mov dx,0FFFFh
        add dx,1
        mov si,5
        sbb si,1
        @check edx,0
        mov esi,esi
        and esi,0FFFFh
        @check esi,3
        mov eax,'abcd'
        mov ebx,eax
        @check ebx,61626364h
        mov ecx,-1
        mov cx,1234h
        mov ch,cl
        xor cl,0FFh
        @check ecx,0FFFF34CBh
        mov ebp,80h
        add bp,-1
        @check ebp,7Fh
    """),
    (32, "memory on the stack", """
        sub esp,2000h
        mov dword [esp+8],11223344h
        mov ebx,[esp+8]
        @check ebx,11223344h
        mov ecx,4
        mov dword [esp+ecx*4+100h],55h
        add dword [esp+110h],45h
        mov edx,[esp+ecx*4+100h]
        @check edx,9Ah
        mov word [esp+20],1234h
        mov byte [esp+22],56h
        mov byte [esp+23],78h
        mov esi,[esp+20]
        @check esi,78561234h
        mov ebp,esp
        mov dword [ebp+0],3
        sub dword [ebp+0],5
        mov ebx,[ebp]
        @check ebx,-2
        cmp dword [esp+110h],9Bh
        sbb ebx,ebx
        @check ebx,-1
        mov ebx,esp
        mov dword [ebx],7
        add dword [ebx],100
        xor dword [ebx],1
        mov edx,[esp]
        @check edx,106
        add esp,2000h
    """),
    (32, "memory operands of every form", """
        sub esp,400h
        mov ebp,esp
        mov ebx,10
        mov [esp+4],ebx
        add [esp+4],ebx
        mov ecx,[ebp+4]
        @check ecx,20
        mov esi,2
        mov dword [ebp+esi*8+300h],1000h
        sub dword [ebp+esi*8+300h],1
        mov edx,0FFFh
        xor [esp+310h],edx
        mov edx,[ebp+310h]
        @check edx,0
        mov dword [esp+40],0F0F0h
        mov ebx,0FF00h
        and [esp+40],ebx
        or dword [esp+40],5
        mov ecx,[esp+40]
        @check ecx,0F005h
        mov byte [esp+50],200
        add byte [esp+50],100
        mov ebx,0
        adc bl,[esp+50]
        mov edx,0
        mov dl,[esp+50]
        @check ebx,45
        @check edx,44
        mov word [esp+60],7
        mov cx,3
        sub [esp+60],cx
        mov edi,edi
        mov esi,0
        mov si,[esp+60]
        @check esi,4
        mov dword [esp+70],9
        mov ebx,2
        sbb ebx,[esp+70]
        cmp ebx,[esp+70]
        sbb ecx,ecx
        @check ebx,-7
        @check ecx,0
        add esp,400h
    """),
    (64, "64-bit registers and immediates", """
        mov rax,123456789ABCDEF0h
        mov rbx,rax
        mov rcx,0F0000000Fh
        add rbx,rcx
        mov rdx,123456879ABCDEFFh
        xor rbx,rdx
        @check rbx,0
        mov r8,-1
        add r8,1
        mov r9,0
        adc r9,0
        @check r8,0
        @check r9,1
        mov r10d,-1
        @check r10,0FFFFFFFFh
        mov r11,100
        sub r11,-50
        @check r11,150
        mov r12,0FFFFFFFFFFFFFFFFh
        and r12,7FFFFFFFh
        or r12,-80000000h
        @check r12,0FFFFFFFFFFFFFFFFh
        mov r13,5
        cmp r13,6
        sbb r14,r14
        @check r14,-1
        mov esi,0
        mov sil,0FFh
        add sil,2
        mov dil,0
        @check rsi,1
    """),
    (64, "64-bit bytes, words and extended registers", """
        mov rbx,0
        mov r8l,7Fh
        add r8l,1
        mov bl,r8l
        @check rbx,80h
        mov rcx,-1
        mov cx,0
        mov r9w,8000h
        sub cx,r9w
        @check rcx,0FFFFFFFFFFFF8000h
        mov rdx,-1
        mov edx,12345678h
        @check rdx,12345678h
        mov r10,1
        mov r11,2
        mov r12,3
        add r10,r11
        adc r10,r12
        xor r10,r11
        @check r10,4
        mov r13d,0
        mov r13l,'z'
        mov spl,spl
        mov bpl,r13l
        mov r14,0
        mov r14l,bpl
        @check r14,7Ah
        mov rax2,5
        mov r9,r0
        mov rsi,r8
        @check rsi,5
    """),
    (64, "64-bit memory", """
        sub rsp,1000h
        mov rcx,-2
        mov qword [rsp+8],rcx
        mov rbx,[rsp+8]
        @check rbx,-2
        mov rcx,3
        mov r8,rsp
        mov qword [r8+rcx*8+200h],70000000h
        add qword [r8+rcx*8+200h],10000000h
        mov rdx,[rsp+218h]
        @check rdx,80000000h
        mov r12,rsp
        mov dword [r12],11h
        mov r13,rsp
        add dword [r13+0],22h
        mov r9d,[r12]
        @check r9,33h
        mov r10,rsp
        mov r11,2
        mov byte [r10+r11*4+40],0FEh
        add byte [r10+r11*4+40],3
        mov r14,0
        mov r14l,[rsp+48]
        @check r14,1
        mov word [rsp+100],0FFFFh
        mov si,1
        add [rsp+100],si
        mov r15,r15
        mov rdi,0
        mov di,[rsp+100]
        mov rbp,rdi
        @check rbp,0
        mov qword [rsp+16],100
        mov rbx,30
        sub [rsp+16],rbx
        cmp qword [rsp+16],70
        sbb rcx,rcx
        mov r8,[rsp+16]
        @check rcx,0
        @check r8,70
        add rsp,1000h
    """),
    (64, "64-bit rip-relative cell", """
        mov rbx,0
        mov ebx,[cell]
        @check rbx,90909090h
        mov dword [cell],12345678h
        add dword [cell],1
        mov rcx,0
        mov ecx,[cell]
        @check rcx,12345679h
        mov rbx,-1
        mov qword [cell],rbx
        mov rdx,qword [cell+0]
        @check rdx,-1
        mov r8,0A0B0C0D0E0F0102h
        mov qword [cell],r8
        xor qword [cell],7
        mov r9,qword [cell]
        @check r9,0A0B0C0D0E0F0105h
        mov byte [cell+1],0
        mov eax,dword [cell]
        mov r13,rax
        @check r13,0E0F0005h
        mov r10,qword [cell]
        @check r10,0A0B0C0D0E0F0005h
        mov r11,5
        cmp r11,qword [cell]
        sbb r12,r12
        @check r12,-1
        reti
        cell:
        nop
        nop
        nop
        nop
        nop
        nop
        nop
        nop
    """),
    # ---- mul/imul/div/idiv, shifts and rotates, shld/shrd, xchg, movsx/movzx,
    # inc/dec, neg, not and test
    (32, "mul, imul, div, idiv on doublewords", """
        mov eax,12345678h
        mov ecx,10h
        mul ecx
        mov ebx,edx
        mov esi,eax
        @check ebx,1
        @check esi,23456780h
        mov eax,-7
        mov ecx,3
        imul ecx
        mov ebx,eax
        mov esi,edx
        @check ebx,-21
        @check esi,-1
        mov eax,-100
        cdq
        mov ecx,7
        idiv ecx
        mov ebx,eax
        mov esi,edx
        @check ebx,-14
        @check esi,-2
        mov edx,0
        mov eax,1000
        mov ecx,7
        div ecx
        mov ebx,eax
        @check ebx,142
        @check edx,6
    """),
    (32, "mul, imul, div, idiv on bytes, words and memory", """
        sub esp,100h
        mov eax,0
        mov al,200
        mov cl,3
        mul cl
        mov ebx,eax
        @check ebx,258h
        mov ax,-300
        mov cx,7
        imul cx
        movzx ebx,ax
        movzx esi,dx
        @check ebx,0F7CCh
        @check esi,0FFFFh
        mov ax,-200
        mov byte [esp+8],7
        idiv byte [esp+8]
        movzx ebx,ax
        @check ebx,0FCE4h
        mov dx,0
        mov ax,50000
        mov word [esp+12],300
        div word [esp+12]
        movzx ebx,ax
        movzx esi,dx
        @check ebx,166
        @check esi,200
        mov dword [esp+16],-3
        mov eax,5
        imul dword [esp+16]
        mov ebx,eax
        @check ebx,-15
        add esp,100h
    """),
    (32, "shifts and rotates by 1, CL and a constant", """
        mov ebx,81h
        shl ebx,1
        @check ebx,102h
        mov ecx,4
        mov esi,0F0000001h
        ror esi,cl
        @check esi,1F000000h
        mov edx,-64
        sar edx,3
        @check edx,-8
        stc
        mov ebp,1
        rcl ebp,1
        @check ebp,3
        clc
        mov ebx,3
        rcr ebx,1
        rcr ebx,1
        @check ebx,80000000h
        mov eax,1
        sal eax,5
        mov esi,eax
        @check esi,20h
        sub esp,10h
        mov dword [esp],1
        rol dword [esp],4
        shl word [esp],cl
        mov ebx,[esp]
        @check ebx,100h
        mov byte [esp],80h
        sar byte [esp],2
        shr byte [esp],1
        movzx ebx,byte [esp]
        @check ebx,70h
        add esp,10h
    """),
    (32, "shld, shrd and xchg", """
        mov ebx,12345678h
        mov ecx,9ABCDEF0h
        shld ebx,ecx,8
        @check ebx,3456789Ah
        mov esi,11111111h
        mov edx,0FFFFFFFFh
        mov cl,4
        shrd esi,edx,cl
        @check esi,0F1111111h
        sub esp,10h
        mov dword [esp],0ABCD0000h
        mov dx,1234h
        shld word [esp+2],dx,4
        mov ebx,[esp]
        @check ebx,0BCD10000h
        mov ebx,1
        mov edx,2
        xchg ebx,edx
        @check ebx,2
        @check edx,1
        mov dword [esp+4],77h
        mov ecx,5
        xchg ecx,[esp+4]
        mov ebx,[esp+4]
        @check ecx,77h
        @check ebx,5
        add esp,10h
    """),
    (32, "movsx, movzx, inc and dec keep CF", """
        sub esp,10h
        mov dword [esp],0FF80F0E0h
        movsx ebx,byte [esp]
        @check ebx,-20h
        movzx esi,word [esp+2]
        @check esi,0FF80h
        movsx edx,word [esp+2]
        @check edx,-80h
        stc
        mov ebx,0FFFFFFFFh
        inc ebx
        mov ecx,0
        adc ecx,0
        @check ecx,1
        @check ebx,0
        clc
        dec byte [esp]
        mov ecx,0
        adc ecx,0
        movzx ebx,byte [esp]
        @check ebx,0DFh
        @check ecx,0
        add esp,10h
    """),
    (32, "neg, not and test", """
        mov ebx,5
        neg ebx
        @check ebx,-5
        mov esi,0F0F0F0F0h
        not esi
        @check esi,0F0F0F0Fh
        sub esp,10h
        mov word [esp],7
        neg word [esp]
        not byte [esp]
        movzx ebx,word [esp]
        @check ebx,0FF06h
        add esp,10h
        mov ecx,10h
        test ecx,10h
        lahf
        movzx ebx,ah
        and ebx,40h
        @check ebx,0
        test cl,1
        lahf
        movzx ebx,ah
        and ebx,40h
        @check ebx,40h
    """),
    (64, "mul, imul, div, idiv in 64-bit code", """
        mov rax,123456789h
        mov rcx,100h
        mul rcx
        mov rbx,rax
        @check rbx,12345678900h
        mov rax,-1
        mov r9,-1
        imul r9
        mov r10,rax
        @check r10,1
        mov rax,-100
        mov rdx,-1
        mov r11,7
        idiv r11
        mov r12,rax
        mov r13,rdx
        @check r12,-14
        @check r13,-2
        sub rsp,100h
        mov qword [rsp+8],10
        mov rax,1000
        mov rdx,0
        div qword [rsp+8]
        mov rbx,rax
        @check rbx,100
        mov eax,0
        mov al,-3
        mov sil,5
        imul sil
        movzx rbx,ax
        @check rbx,0FFF1h
        mov r8d,-20
        mov eax,-20
        mov ecx,6
        cdq
        idiv ecx
        movsx rbx,eax
        @check rbx,-3
        add rsp,100h
    """),
    (64, "shifts, shrd and xchg in 64-bit code", """
        mov rbx,1
        shl rbx,40
        @check rbx,10000000000h
        mov r9,-256
        sar r9,4
        @check r9,-16
        mov cl,8
        mov r10,0FF00000000000000h
        rol r10,cl
        @check r10,0FFh
        stc
        mov r11,0
        rcr r11,1
        @check r11,8000000000000000h
        mov r12,1122334455667788h
        mov r13,0AABBCCDDEEFF0011h
        shrd r12,r13,16
        @check r12,0011112233445566h
        sub rsp,100h
        mov qword [rsp],5
        mov r14,9
        xchg r14,[rsp]
        mov rbx,[rsp]
        @check r14,5
        @check rbx,9
        add rsp,100h
    """),
    (64, "movsx, movzx, inc, dec, neg and not in 64-bit code", """
        sub rsp,100h
        mov dword [rsp],80F0E0D0h
        movsx rbx,byte [rsp]
        @check rbx,-30h
        movsx r9,dword [rsp]
        @check r9,0FFFFFFFF80F0E0D0h
        movzx r10,word [rsp+2]
        @check r10,80F0h
        stc
        mov r11,-1
        inc r11
        mov rcx,0
        adc rcx,0
        @check rcx,1
        @check r11,0
        mov sil,7Fh
        inc sil
        movzx rbx,sil
        @check rbx,80h
        mov r12,5
        neg r12
        not r12
        dec r12d
        @check r12,3
        add rsp,100h
    """),
]


# ---------------------------------------------------------------------------
# Bit tests and scans, conditional moves and sets, xadd and cmpxchg, and the
# system instructions that run in user mode.

def _bit_programs():
    out = []
    for bits, r in ((32, {"a": "ebx", "b": "ecx", "c": "esi", "sp": "esp", "w": "dword", "chk": "ebx"}),
                    (64, {"a": "r9", "b": "rcx", "c": "r10", "sp": "rsp", "w": "qword", "chk": "r9"})):
        a, b, c, sp, w = r["a"], r["b"], r["c"], r["sp"], r["w"]
        width = bits
        out.append((bits, "bt, bts, btr, btc on registers", """
            mov %(a)s,0F0h
            bt %(a)s,4
            sbb %(b)s,%(b)s
            @check %(b)s,-1
            bts %(a)s,0
            sbb %(b)s,%(b)s
            @check %(a)s,0F1h
            @check %(b)s,0
            mov %(c)s,5
            btr %(a)s,%(c)s
            sbb %(b)s,%(b)s
            @check %(a)s,0D1h
            @check %(b)s,-1
            btc %(a)s,%(shift)d
            sbb %(b)s,%(b)s
            @check %(a)s,0D3h
            @check %(b)s,0
        """ % dict(r, shift=width + 1)))
        out.append((bits, "bt, bts, btr, btc on a bit string", """
            sub %(sp)s,32
            mov %(w)s [%(sp)s],0
            mov %(w)s [%(sp)s+8],0
            mov %(w)s [%(sp)s+16],0
            mov %(b)s,72
            bts [%(sp)s],%(b)s
            sbb %(c)s,%(c)s
            mov %(a)s,[%(sp)s+8]
            @check %(a)s,100h
            @check %(c)s,0
            mov %(b)s,135
            btc [%(sp)s],%(b)s
            mov %(a)s,[%(sp)s+16]
            @check %(a)s,80h
            mov %(b)s,72
            bt [%(sp)s],%(b)s
            sbb %(c)s,%(c)s
            @check %(c)s,-1
            btr %(w)s [%(sp)s+8],8
            sbb %(c)s,%(c)s
            mov %(a)s,[%(sp)s+8]
            @check %(a)s,0
            @check %(c)s,-1
            add %(sp)s,32
        """ % r))
        out.append((bits, "bsf, bsr, xadd, cmpxchg", """
            mov %(a)s,12000h
            bsf %(b)s,%(a)s
            @check %(b)s,13
            bsr %(c)s,%(a)s
            @check %(c)s,16
            mov %(b)s,7
            xadd %(a)s,%(b)s
            @check %(a)s,12007h
            @check %(b)s,12000h
            sub %(sp)s,16
            mov %(w)s [%(sp)s],50
            mov %(b)s,3
            lock xadd [%(sp)s],%(b)s
            mov %(c)s,[%(sp)s]
            @check %(c)s,53
            @check %(b)s,50
            add %(sp)s,16
        """ % r))
        acc = "eax" if bits == 32 else "rax"
        out.append((bits, "cmpxchg that succeeds and fails", """
            sub %(sp)s,16
            mov %(w)s [%(sp)s],50
            mov %(acc)s,50
            mov %(b)s,77
            mov %(a)s,0
            cmpxchg [%(sp)s],%(b)s
            setz %(abyte)s
            mov %(c)s,[%(sp)s]
            @check %(c)s,77
            @check %(a)s,1
            mov %(acc)s,49
            mov %(a)s,5
            lock cmpxchg [%(sp)s],%(a)s
            mov %(b)s,%(acc)s
            mov %(a)s,1
            setz %(abyte)s
            mov %(c)s,[%(sp)s]
            @check %(c)s,77
            @check %(b)s,77
            @check %(a)s,0
            add %(sp)s,16
        """ % dict(r, acc=acc, abyte="bl" if bits == 32 else "r9l")))
    return out


# (a, b) pairs for cmp a,b: equal, both orders signed and unsigned, overflow, sign and parity.
CMP_PAIRS = [(5, 5), (1, -1), (-1, 1), (0x80000000, 1), (0x7FFFFFFF, -1), (3, 0), (7, 0), (2, 9)]
CONDITION_NAMES = ("o", "no", "c", "b", "nae", "nc", "ae", "nb", "z", "e", "nz", "ne", "be", "na", "a", "nbe", "s",
                   "ns", "pe", "p", "np", "po", "l", "nge", "ge", "nl", "le", "ng", "g", "nle")


def condition_holds(name, a, b):
    """The condition after a 32-bit cmp a,b."""
    a &= 0xFFFFFFFF
    b &= 0xFFFFFFFF
    r = (a - b) & 0xFFFFFFFF
    cf = a < b
    zf = r == 0
    sf = bool(r >> 31)
    of = bool(((a ^ b) & (a ^ r)) >> 31)
    pf = bin(r & 0xFF).count("1") % 2 == 0
    base = {"o": of, "c": cf, "b": cf, "ae": not cf, "z": zf, "e": zf, "be": cf or zf, "a": not (cf or zf),
            "s": sf, "pe": pf, "p": pf, "po": not pf, "l": sf != of, "ge": sf == of, "le": zf or sf != of,
            "g": not zf and sf == of}
    if name in base:
        return base[name]
    if name == "nae":
        return cf
    if name == "nbe":
        return not (cf or zf)
    if name == "nge":
        return sf != of
    if name == "nle":
        return not zf and sf == of
    return not condition_holds(name[1:], a, b)  # no, nc, nb, nz, ne, na, ns, np, nl, ng


def _condition_programs():
    """Every SETcc and CMOVcc name after cmp over the pairs: one bit per name."""
    out = []
    for bits in (32, 64):
        x, y, acc, tmp, one = (("ebp", "esi", "ebx", "ecx", "edx") if bits == 32 else
                               ("r8d", "r11d", "r12d", "r13d", "r14d"))
        byte = "cl" if bits == 32 else "r13l"
        wide = "r12" if bits == 64 else acc
        for start in range(0, len(CMP_PAIRS), 4):
            lines = []
            for a, b in CMP_PAIRS[start:start + 4]:
                lines += ["mov %s,%d" % (x, a), "mov %s,%d" % (y, b), "mov %s,0" % acc]
                for name in CONDITION_NAMES:
                    lines += ["cmp %s,%s" % (x, y), "set%s %s" % (name, byte), "add %s,%s" % (acc, acc),
                              "or %s,%s" % (acc[:-1] + "l" if bits == 64 else "bl", byte)]
                lines.append("@check %s,0%Xh" % (wide, sum(condition_holds(n, a, b) << (29 - k)
                                                            for k, n in enumerate(CONDITION_NAMES))))
                lines += ["mov %s,0" % acc]
                for name in CONDITION_NAMES:
                    lines += ["mov %s,0" % tmp, "mov %s,1" % one, "cmp %s,%s" % (x, y),
                              "cmov%s %s,%s" % (name, tmp, one), "add %s,%s" % (acc, acc), "or %s,%s" % (acc, tmp)]
                lines.append("@check %s,0%Xh" % (wide, sum(condition_holds(n, a, b) << (29 - k)
                                                            for k, n in enumerate(CONDITION_NAMES))))
            out.append((bits, "setcc and cmovcc after cmp, pairs %d-%d" % (start, start + 3), "\n".join(lines)))
    return out


SYSTEM_PROGRAMS = [
    (64, "stmxcsr, clflush, lfs and lgs", """
        sub rsp,16
        stmxcsr [rsp]
        mov ebx,[rsp]
        @check rbx,1F80h
        clflush [rsp]
        mov [ptr1+4],fs
        mov dword [ptr1],12345678h
        lfs ebx,[ptr1]
        @check rbx,12345678h
        mov [ptr2+4],gs
        mov dword [ptr2],0ABCDh
        lgs esi,[ptr2]
        @check rsi,0ABCDh
        add rsp,16
        reti
        ptr1:
        nop
        nop
        nop
        nop
        nop
        nop
        ptr2:
        nop
        nop
        nop
        nop
        nop
        nop
    """),
]

PROGRAMS += _bit_programs() + _condition_programs() + SYSTEM_PROGRAMS

# ---------------------------------------------------------------------------
# SSE, CRC32/POPCNT, MOVQ/MOVD/MOVBE: results leave through movd/pextrd.
# Vectors are loaded from a 16-byte aligned stack area (pxor + paddd), as
# the packed forms need aligned memory.


def crc32c(crc, data):
    """CRC-32C (Castagnoli, reflected), as the crc32 instruction computes it."""
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ (0x82F63B78 if crc & 1 else 0)
    return crc


SSE_VALUES = {"crc_a": crc32c(0xFFFFFFFF, (0x12345678).to_bytes(4, "little"))}
SSE_VALUES["crc_c"] = crc32c(crc32c(SSE_VALUES["crc_a"], b"\x78"), b"\x78\x56")
SSE_VALUES["crc_e"] = crc32c(crc32c(0xFFFFFFFF, (0x123456789ABCDEF0).to_bytes(8, "little")), b"\xF0")
SSE_VALUES["pop"] = bin(0x123456789ABCDEF0).count("1")

SSE_PROGRAMS = [
    (32, "sse packed integers", """
        mov ebp,esp
        sub esp,64
        and esp,-16
        mov dword [esp],1
        mov dword [esp+4],2
        mov dword [esp+8],3
        mov dword [esp+12],4
        mov dword [esp+16],10
        mov dword [esp+20],20
        mov dword [esp+24],30
        mov dword [esp+28],40
        pxor xmm0,xmm0
        paddd xmm0,[esp]
        pxor xmm1,xmm1
        paddd xmm1,[esp+16]
        paddd xmm1,xmm0
        pextrd ebx,xmm1,3
        @check ebx,44
        pmulld xmm1,xmm0
        pextrd ecx,xmm1,2
        @check ecx,99
        pcmpgtd xmm1,xmm0
        pmovmskb xmm2,xmm1
        @check edx,0FFFFh
        pshufd xmm2,xmm0,1Bh
        movd esi,xmm2
        @check esi,4
        psubd xmm2,xmm0
        pextrd ebx,xmm2,3
        @check ebx,-3
        pcmpeqd xmm3,xmm3
        pcmpeqd xmm3,xmm0
        pmovmskb xmm3,xmm3
        @check ebx,0
        mov esp,ebp
    """),
    (32, "sse bytes, byte shifts, crc32, popcnt, movbe", """
        mov ebp,esp
        sub esp,64
        and esp,-16
        mov ebx,01020304h
        movd xmm0,ebx
        mov ecx,05050505h
        movd xmm1,ecx
        psadbw xmm0,xmm1
        movd edx,xmm0
        @check edx,10
        pslldq xmm1,4
        pextrd esi,xmm1,1
        movd ebx,xmm1
        add esi,ebx
        @check esi,05050505h
        psrldq xmm1,4
        movd ecx,xmm1
        @check ecx,05050505h
        mov ecx,-1
        mov ebx,12345678h
        crc32 ecx,ebx
        @check ecx,%(crc_a)d
        crc32 ecx,bl
        crc32 ecx,bx
        @check ecx,%(crc_c)d
        popcnt edx,ebx
        mov esi,0
        popcnt si,bx
        @check edx,13
        @check esi,8
        mov dword [esp],11223344h
        movbe esi,[esp]
        movbe word [esp+4],si
        mov ecx,0
        mov cx,word [esp+4]
        @check ecx,1122h
        mov esp,ebp
    """),
    (32, "sse floats", """
        mov ebp,esp
        sub esp,64
        and esp,-16
        mov dword [esp],40800000h
        mov dword [esp+4],41100000h
        mov dword [esp+8],41800000h
        mov dword [esp+12],3FC00000h
        mov dword [esp+16],-1
        mov dword [esp+20],0
        mov dword [esp+24],-1
        mov dword [esp+28],0
        xorps xmm1,xmm1
        addps xmm1,[esp]
        sqrtps xmm2,xmm1
        cvtps2dq xmm3,xmm2
        pextrd ebx,xmm3,1
        @check ebx,3
        roundps xmm3,xmm1,1
        cvtps2dq xmm3,xmm3
        pextrd ecx,xmm3,3
        @check ecx,1
        xorps xmm4,xmm4
        addps xmm4,xmm1
        ddps xmm4,xmm1,0F1h
        cvtps2dq xmm4,xmm4
        movd edx,xmm4
        @check edx,355
        xorps xmm0,xmm0
        paddd xmm0,[esp+16]
        xorps xmm5,xmm5
        addps xmm5,xmm2
        blendvps xmm5,xmm1
        cvtps2dq xmm5,xmm5
        pextrd esi,xmm5,2
        @check esi,16
        movd ebx,xmm5
        @check ebx,4
        pextrd ecx,xmm5,1
        @check ecx,3
        addss xmm2,xmm1
        cvtps2dq xmm2,xmm2
        movd edx,xmm2
        @check edx,6
        mov esp,ebp
    """),
    (64, "sse 64-bit: pcmpestri, rip-relative cells under an imm8, crc32, movq, movd, movbe", """
        mov rbp,rsp
        sub rsp,64
        and rsp,-16
        mov rax,6867666564636261h
        mov qword [rsp],rax
        mov qword [rsp+8],rax
        mov qword [rsp+16],6463h
        mov qword [rsp+24],0
        pxor xmm9,xmm9
        paddb xmm9,[rsp]
        pxor xmm8,xmm8
        paddb xmm8,[rsp+16]
        mov rax,100000002h
        mov rdx,100000010h
        pcmpestri xmm8,xmm9,0Ch
        mov r9,rcx
        @check r9,2
        mov dword [cell],11223344h
        pinsrd xmm11,[cell],1
        pextrd r10d,xmm11,1
        @check r10,11223344h
        pextrd [cell+4],xmm11,1
        mov r11d,dword [cell+4]
        @check r11,11223344h
        mov r12,-1
        mov r13,123456789ABCDEF0h
        crc32 r12,r13
        crc32 r12,r13l
        @check r12,%(crc_e)d
        movq xmm12,qword [cell]
        movq xmm13,xmm12
        movq qword [rsp+32],xmm13
        mov r14,qword [rsp+32]
        @check r14,1122334411223344h
        movd xmm14,r13d
        movd ebx,xmm14
        @check rbx,9ABCDEF0h
        movbe r8,[rsp+32]
        @check r8,4433221144332211h
        movbe [rsp+40],r13
        mov r9,qword [rsp+40]
        @check r9,0F0DEBC9A78563412h
        mov rsp,rbp
        reti
        cell:
        nop
        nop
        nop
        nop
        nop
        nop
        nop
        nop
    """),
    (64, "sse 64-bit: xmm8-xmm15 and r8-r15", """
        mov rbp,rsp
        sub rsp,64
        and rsp,-16
        mov dword [rsp],5
        mov dword [rsp+4],7
        mov dword [rsp+8],9
        mov dword [rsp+12],11
        pxor xmm10,xmm10
        paddd xmm10,[rsp]
        movq xmm15,xmm10
        paddd xmm15,xmm10
        pextrd r8d,xmm15,1
        @check r8,14
        pextrd r9d,xmm15,2
        @check r9,9
        pcmpeqd xmm9,xmm9
        pmovmskb xmm11,xmm9
        @check r11,0FFFFh
        psrldq xmm10,4
        movd r12d,xmm10
        @check r12,7
        pextrb r13d,xmm10,4
        @check r13,9
        pextrd rbx,xmm10,0
        @check rbx,900000007h
        mov r14,123456789ABCDEF0h
        popcnt r10,r14
        @check r10,%(pop)d
        pinsrw xmm12,r14d,0
        pinsrb xmm12,r14d,2
        movd ecx,xmm12
        @check rcx,0F0DEF0h
        mov rsp,rbp
    """),
]
PROGRAMS += [(bits, name, text % SSE_VALUES) for bits, name, text in SSE_PROGRAMS]

# Programs with absolute addresses of labels: they run from qrn_asm's
# objects only (the raw image's addresses start at 0).
OBJECT_PROGRAMS = [
    (32, "32-bit absolute cell", """
        mov ebx,[cell]
        @check ebx,90909090h
        mov dword [cell],12345678h
        add dword [cell],1
        mov ecx,[cell]
        @check ecx,12345679h
        mov eax,[cell]
        mov edx,eax
        @check edx,12345679h
        mov esi,cell
        mov dword [esi+4],7
        mov ecx,2
        add dword [cell+ecx*2],3
        mov ebx,dword [cell+4]
        @check ebx,10
        mov byte [cell],0
        xor dword [cell],0FFh
        mov ebp,[cell]
        @check ebp,123456FFh
        reti
        cell:
        nop
        nop
        nop
        nop
        nop
        nop
        nop
        nop
    """),
]

# ---------------------------------------------------------------------------
# Branches: every conditional jump after CMP pairs that set each flag both
# ways folds taken / not taken into a checksum (h = 3h + taken, one check per
# group of pairs); CALL and JMP forward and backward; in 64-bit code CALL and
# JMP through registers and memory. These programs run with and without
# -size (short and near jumps).

JCC = ["jo", "jno", "jc", "jnc", "jb", "jnb", "jnae", "jae", "jz", "jnz", "je", "jne", "jbe", "jnbe",
       "jna", "ja", "js", "jns", "jpe", "jpo", "jl", "jnl", "jnge", "jge", "jle", "jnle", "jng", "jg"]


def jcc_taken(m, a, b, bits):
    mask = (1 << bits) - 1
    a, b = a & mask, b & mask
    r = (a - b) & mask
    signed = lambda v: v - (1 << bits) if v >> (bits - 1) else v  # noqa: E731
    cf, zf, sf = a < b, r == 0, bool(r >> (bits - 1))
    of = not (-(1 << (bits - 1)) <= signed(a) - signed(b) < (1 << (bits - 1)))
    pf = bin(r & 0xFF).count("1") % 2 == 0
    name = {"jc": "jb", "jnae": "jb", "jnc": "jae", "jnb": "jae", "jz": "je", "jnz": "jne", "jna": "jbe",
            "jnbe": "ja", "jnge": "jl", "jnl": "jge", "jng": "jle", "jnle": "jg"}.get(m, m)
    return {"jo": of, "jno": not of, "jb": cf, "jae": not cf, "je": zf, "jne": not zf, "jbe": cf or zf,
            "ja": not (cf or zf), "js": sf, "jns": not sf, "jpe": pf, "jpo": not pf, "jl": sf != of,
            "jge": sf == of, "jle": zf or sf != of, "jg": not (zf or sf != of)}[name]


def jcc_program(bits):
    top = 1 << (bits - 1)
    pairs = [(5, 5), (1, 2), (2, 1), (-1, 1), (1, -1), (top, 1), (top - 1, -1), (0, 1), (3, 0), (7, 0),
             (-100, -100), (top, top - 1)]
    r = "r" if bits == 64 else "e"
    lines = []

    def number(v):
        return str(v) if -256 < v < 256 else "0%Xh" % (v & ((1 << bits) - 1))

    for g in range(8):
        group = pairs[g::8]
        h = 0
        lines.append("xor ebx,ebx")
        for a, b in group:
            for m in JCC:
                k = len(lines)
                lines += ["mov %scx,%s" % (r, number(a)), "mov %sdx,%s" % (r, number(b)),
                          "cmp %scx,%sdx" % (r, r), "mov edx,1", "%s t%d" % (m, k), "mov edx,0", "t%d:" % k,
                          "mov esi,ebx", "add ebx,ebx", "add ebx,esi", "add ebx,edx"]
                h = (h * 3 + jcc_taken(m, a, b, bits)) & 0xFFFFFFFF
        lines.append("@check %sbx,0%Xh" % (r, h))
    return "\n".join(lines)


# {r}: e or r, the register width of the checks
CALL_JMP_PROGRAM = """
        xor ebx,ebx
        mov ecx,10
        again:
        add ebx,3
        sub ecx,1
        jnz again
        @check {r}bx,30
        call add_five
        call add_five
        jmp over
        add ebx,1000
        over:
        @check {r}bx,40
        mov esi,0
        call twice
        @check {r}si,2
        jmp forward
        backward:
        add ebx,7
        jmp done
        forward:
        jmp backward
        done:
        @check {r}bx,47
        reti
        add_five:
        add ebx,5
        reti
        twice:
        call inc_esi
        call inc_esi
        reti
        inc_esi:
        add esi,1
        reti
"""

INDIRECT_64_PROGRAM = """
        xor ebx,ebx
        lea rax,[add_five]
        call rax
        @check rbx,5
        lea rax,[landing]
        jmp rax
        add ebx,1000
        landing:
        lea rdx,[add_five]
        mov qword [cell],rdx
        call qword [cell]
        call [cell]
        @check rbx,15
        lea rcx,[cell]
        call [rcx]
        lea r8,[cell]
        call [r8]
        mov r9,0
        call [r8+r9*8]
        @check rbx,30
        lea r10,[cell]
        lea rax,[finish]
        mov qword [r10],rax
        jmp [r10]
        add ebx,1000
        finish:
        @check rbx,30
        reti
        add_five:
        add ebx,5
        reti
        cell:
        nop
        nop
        nop
        nop
        nop
        nop
        nop
        nop
"""

BRANCH_PROGRAMS = [
    (32, "every Jcc over CMP pairs", jcc_program(32)),
    (64, "every Jcc over CMP pairs", jcc_program(64)),
    (32, "call, jmp and loops", CALL_JMP_PROGRAM.format(r="e")),
    (64, "call, jmp and loops", CALL_JMP_PROGRAM.format(r="r")),
    (64, "call and jmp through registers and memory", INDIRECT_64_PROGRAM),
]
PROGRAMS += BRANCH_PROGRAMS
SIZE_RUNS = {name for _, name, _ in BRANCH_PROGRAMS}  # also assembled with -size


# ---------------------------------------------------------------------------


def expand(bits, text):
    """The program's lines with every @check expanded (failure mask in edi,
    r15 in 64-bit code), framed by the mask's set-up and the return."""
    mask = "edi" if bits == 32 else "r15"
    scratch = "eax" if bits == 32 else "rax"
    lines = ["xor %s,%s" % (mask, mask)]
    checks = []
    returns = False
    for raw in text.strip().splitlines():
        line = raw.strip()
        if not line:
            continue
        m = re.match(r"@check\s+(\w+),(\S+)$", line)
        if not m:
            if line == "reti":
                # the program's data follows: the mask goes back from here
                lines += ["mov %s,%s" % (scratch, mask), "reti"]
                returns = True
                continue
            lines.append(line)
            continue
        reg, value = m.groups()
        k = len(checks)
        checks.append("%s = %s" % (reg, value))
        if reg != scratch:
            lines.append("mov %s,%s" % (scratch, reg))
        if bits == 64:
            lines += ["mov rdx,%s" % value, "xor rax,rdx"]
        else:
            lines.append("xor eax,%s" % value)
        lines += ["cmp %s,1" % scratch,          # CF = 1 when equal
                  "sbb %s,%s" % (scratch, scratch),  # -1 when equal
                  "xor %s,-1" % scratch,          # 0 when equal
                  "and %s,%d" % (scratch, 1 << k),
                  "or %s,%s" % (mask, scratch)]
    if len(checks) > 8:
        raise ValueError("more than 8 checks in one program")
    if not returns:
        lines += ["mov %s,%s" % (scratch, mask), "reti"]
    return lines, checks


GPR32_NAMES = ["eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"] + ["r%dd" % n for n in range(8, 16)]


def to_gas(bits, lines):
    """GNU as spelling of a program (only its meaning matters)."""
    labels = {l[:-1] for l in lines if l.endswith(":")}
    # one pattern for all labels (a pattern per label overflows re's cache)
    names = "|".join(sorted(map(re.escape, labels), key=len, reverse=True)) or "(?!)"
    label_imm = re.compile(r",(%s)\b" % names)
    label_mem = re.compile(r"\[(%s)\b" % names)
    out = []
    for line in lines:
        t = line
        if t == "reti":
            t = "ret"
        t = re.sub(r"^retn\b", "ret", t)
        t = re.sub(r"\b(byte|word|dword|qword|tbyte)\s+\[", lambda m: m.group(1) + " ptr [", t)
        t = re.sub(r"^(fadd|fsub|fmul|fdiv|fcmov\w+) st(\d)$", r"\1 st, st(\2)", t)
        t = re.sub(r"^(faddp|fsubp|fmulp|fdivp) st(\d)$", r"\1 st(\2), st", t)
        t = re.sub(r"\bst(\d)\b", r"st(\1)", t)
        t = re.sub(r"^(fnstcw|fldcw) \[", r"\1 word ptr [", t)
        t = "fnstsw ax" if t == "fnstsw" else t
        t = re.sub(r"\b(r\d+)l\b", r"\1b", t)
        t = re.sub(r"\b([0-9][0-9A-Fa-f_]*)[hH]\b", lambda m: "0x" + m.group(1).replace("_", ""), t)
        t = re.sub(r"'([^']*)'", lambda m: str(int.from_bytes(m.group(1).encode(), "big")), t)
        for n in range(8):
            t = re.sub(r"\br%d\b" % n, ["rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi"][n], t)
            t = re.sub(r"\b%s2\b" % ["rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi"][n], "r%d" % (8 + n), t)
        t = label_imm.sub(r", offset \1", t)
        if bits == 64:
            t = label_mem.sub(r"[rip+\1", t)
        # the language's own SSE spellings
        t = re.sub(r"^ddps\b", "dpps", t)
        t = re.sub(r"^pextrd (r(?:[a-d]x|[sd]i|[sb]p|\d+)),", r"pextrq \1,", t)
        t = re.sub(r"^(pmovmskb) xmm(\d+)", lambda m: "pmovmskb " + GPR32_NAMES[int(m.group(2))], t)
        if re.match(r"mov\s+r\w+,\s*-?0x[0-9A-Fa-f]{9,}", t):
            t = "movabs" + t[3:]
        out.append(t)
    return out


def elf_executable(bits, code):
    """A minimal ELF executable: one RWX segment holding the headers, a stub
    that calls the code and exits with its result, and the code."""
    if bits == 32:
        base, ehsize, phsize = 0x08048000, 52, 32
        exit_stub = bytes.fromhex("89C3" "B801000000" "CD80")        # mov ebx,eax; mov eax,1; int 80h
    else:
        base, ehsize, phsize = 0x400000, 64, 56
        exit_stub = bytes.fromhex("89C7" "B83C000000" "0F05")        # mov edi,eax; mov eax,60; syscall
    stub_at = ehsize + phsize
    code_at = (stub_at + 5 + len(exit_stub) + 15) & ~15
    stub = b"\xE8" + struct.pack("<i", code_at - (stub_at + 5)) + exit_stub
    body = stub + b"\xCC" * (code_at - stub_at - len(stub)) + code
    size = stub_at + len(body)
    ident = b"\x7fELF" + bytes([1 if bits == 32 else 2, 1, 1]) + bytes(9)
    if bits == 32:
        header = ident + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + stub_at, ehsize, 0, 0,
                                     ehsize, phsize, 1, 40, 0, 0)
        phdr = struct.pack("<IIIIIIII", 1, 0, base, base, size, size + 0x1000, 7, 0x1000)
    else:
        header = ident + struct.pack("<HHIQQQIHHHHHH", 2, 62, 1, base + stub_at, ehsize, 0, 0,
                                     ehsize, phsize, 1, 64, 0, 0)
        phdr = struct.pack("<IIQQQQQQ", 1, 7, 0, base, base, size, size + 0x1000, 0x1000)
    return header + phdr + body


def run_executable(tools, bits, code):
    path = tools.path("prog%d" % bits)
    with open(path, "wb") as f:
        f.write(elf_executable(bits, code))
    os.chmod(path, 0o755)
    return run_path(path)


GLUE = {
    32: ".intel_syntax noprefix\n.code32\n.text\n.globl _start\n_start:\n"
        "call qrn_code\nmov ebx, eax\nmov eax, 1\nint 0x80\n",
    64: ".intel_syntax noprefix\n.code64\n.text\n.globl _start\n_start:\n"
        "call qrn_code\nmov edi, eax\nmov eax, 60\nsyscall\n",
}
LINK_SCRIPT = """ENTRY(_start)
SECTIONS
{
  . = %s + SIZEOF_HEADERS;
  .text : { *(.text) }
  . = ALIGN(16);
  c : { qrn_code = .; *(c) }
}
"""


def object_format(tools, bits):
    """qrn_asm's object format for the mode, or None while its writer is not
    implemented."""
    fmt = "-elf32" if bits == 32 else "-elf64"
    image, per_line, other = tools.qrn_run(bits, ["nop"], fmt=fmt)
    if image is None and any("not implemented" in m for m in list(per_line.values()) + other):
        return None
    return fmt


def gas_object(tools, bits, lines):
    """GNU as's object of a program, its code in a section named c."""
    src, obj = tools.path("prog.s"), tools.path("prog.o")
    with open(src, "w") as f:
        f.write("\n".join([".intel_syntax noprefix", ".code%d" % bits, '.section c,"awx"'] + lines) + "\n")
    p = subprocess.run(["as", "--32" if bits == 32 else "--64", src, "-o", obj], capture_output=True, text=True)
    if p.returncode:
        return None, p.stderr.strip()
    with open(obj, "rb") as f:
        return f.read(), ""


def link_object(tools, bits, obj):
    """Links a qrn_asm object (its section "c") with the exit stub into an
    executable with one writable and executable segment."""
    glue_s, glue_o = tools.path("glue.s"), tools.path("glue.o")
    code_o, script, exe = tools.path("code.o"), tools.path("link.ld"), tools.path("prog")
    with open(glue_s, "w") as f:
        f.write(GLUE[bits])
    with open(code_o, "wb") as f:
        f.write(obj)
    with open(script, "w") as f:
        f.write(LINK_SCRIPT % ("0x08048000" if bits == 32 else "0x400000"))
    p = subprocess.run(["as", "--32" if bits == 32 else "--64", glue_s, "-o", glue_o], capture_output=True, text=True)
    if p.returncode:
        return None, p.stderr
    cmd = ["ld", "-m", "elf_i386" if bits == 32 else "elf_x86_64", "-N", "-T", script, glue_o, code_o, "-o", exe]
    p = subprocess.run(cmd + ["--no-warn-rwx-segments"], capture_output=True, text=True)
    if p.returncode and "no-warn-rwx-segments" in p.stderr:
        p = subprocess.run(cmd, capture_output=True, text=True)
    if p.returncode:
        return None, p.stderr.strip()
    return exe, ""


def run_path(path):
    try:
        r = run_program.run(path, timeout=10)
    except (OSError, RuntimeError) as e:
        return None, str(e)
    if r.returncode is None:
        return None, "timed out"
    return r.returncode, ""


def describe_code(code, checks):
    if code is None:
        return "did not run"
    if code < 0:
        return "killed by signal %d" % -code
    failed = [checks[k] for k in range(len(checks)) if code & (1 << k)]
    return "exit code %d: failed %s" % (code, "; ".join(failed) if failed else "?")


def main():
    if len(sys.argv) != 2:
        print("usage: run_native.py path/to/qrn_asm")
        return 2
    require_tools("as", "ld", "objdump")
    tools = Tools(sys.argv[1])
    passed = failed = 0

    def result(ok, text):
        nonlocal passed, failed
        if ok:
            passed += 1
        else:
            failed += 1
            print("FAIL " + text)

    try:
        runs = {}
        for bits in (32, 64):
            code, err = run_executable(tools, bits, b"\x31\xC0\xC3")  # xor eax,eax; ret
            runs[bits] = code == 0
            result(code == 0, "this machine does not run %d-bit ELF executables (%s)" % (
                bits, err or "exit code %s" % code))
        programs = [(bits, name, False) + expand(bits, text)
                    for bits, name, text in PROGRAMS + X87_PROGRAMS + STACK_PROGRAMS]
        qrn_only = {name for _, name, _ in PROC_PROGRAMS}
        programs += [(bits, name, False) + expand(bits, text) for bits, name, text in PROC_PROGRAMS]
        programs += [(bits, name, True) + expand(bits, text) for bits, name, text in OBJECT_PROGRAMS]
        mnemonics = sorted({l.split()[0] for p in programs for l in p[3] if not l.endswith(":")})
        pending = tools.pending([(32, m) for m in mnemonics])
        formats = {bits: object_format(tools, bits) for bits in (32, 64)}
        for bits, name, objects_only, lines, checks in programs:
            if not runs[bits]:
                continue
            if objects_only and not formats[bits]:
                print("pending: %d-bit %s (runs from qrn_asm's ELF objects, not written yet)" % (bits, name))
                continue
            # The program itself, as GNU as assembles it.
            if name in qrn_only:
                pass
            elif objects_only:
                obj, errors = gas_object(tools, bits, to_gas(bits, lines))
                exe, err = link_object(tools, bits, obj) if obj else (None, errors)
                code, err = run_path(exe) if exe else (None, err)
            else:
                image, errors = tools.gas_run(bits, to_gas(bits, lines))
                code, err = run_executable(tools, bits, image[PAD:]) if image else (None, errors)
            if name not in qrn_only:
                result(code == 0, "%d-bit %s: program fault, GNU as build %s" % (
                    bits, name, err or describe_code(code, checks)))
            used = {l.split()[0] for l in lines if not l.endswith(":")}
            if used & pending:
                print("pending: %d-bit %s (not implemented: %s)" % (bits, name, ", ".join(sorted(used & pending))))
                continue
            # qrn_asm's raw code in the test's own wrapper, then, once the
            # ELF writers work, qrn_asm's object linked by ld.
            fmts = ([] if objects_only else ["-binary"]) + [f for f in [formats[bits]] if f]
            for fmt, options in [(f, o) for f in fmts for o in ([(), ("-size",)] if name in SIZE_RUNS else [()])]:
                image, per_line, other = tools.qrn_run(bits, lines, fmt=fmt, options=options)
                what = "%d-bit %s (%s%s)" % (bits, name, fmt[1:], " -size" if options else "")
                if image is None:
                    msgs = ["line %d %s: %s" % (i + 1, lines[i], msg) for i, msg in sorted(per_line.items())]
                    result(False, "%s: qrn_asm refuses the program: %s" % (what, "; ".join(msgs + other)))
                    continue
                if fmt == "-binary":
                    code, err = run_executable(tools, bits, image[PAD:])
                else:
                    exe, err = link_object(tools, bits, image)
                    code, err = run_path(exe) if exe else (None, "ld: " + err)
                result(code == 0, "%s: %s" % (what, err or describe_code(code, checks)))
    finally:
        tools.close()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
