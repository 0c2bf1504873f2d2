"""Stack and procedure run programs for run_native.py.

STACK_PROGRAMS also run as GNU as builds them: pushes and pops of every
size and form, ENTER/LEAVE, RETN n through a pushed return address, LOOP.

PROC_PROGRAMS have no GNU as spelling (PROC, USES, ARG, LOCAL) and run from
qrn_asm's code only.
"""

STACK_PROGRAMS = [
    (32, "push and pop of every size and form", """
        mov esi,esp
        push 12345678h
        pop eax
        mov ebx,eax
        push -5
        pop ecx
        push 'ab'
        pop edx
        @check ebx,12345678h
        @check ecx,-5
        @check edx,6162h
        mov ecx,0AABBCCDDh
        mov edx,0
        push cx
        pop dx
        @check edx,0CCDDh
        sub esp,16
        mov dword [esp],11223344h
        mov dword [esp+4],0
        push dword [esp]
        pop dword [esp+8]
        push word [esp+8]
        pop word [esp+4]
        mov ebx,[esp+4]
        mov ecx,[esp+8]
        add esp,16
        push ds
        pop es
        @check ebx,3344h
        @check ecx,11223344h
        sub esi,esp
        @check esi,0
    """),
    (64, "64-bit push and pop of every size and form", """
        mov rsi,rsp
        push -2
        pop rbx
        @check rbx,-2
        mov r9,123456789ABCDEFh
        push r9
        pop r10
        @check r10,123456789ABCDEFh
        mov r11,0
        push r9w
        pop r11w
        @check r11,0CDEFh
        push 7FFFFFFFh
        pop rcx
        @check rcx,7FFFFFFFh
        sub rsp,32
        mov qword [rsp],r9
        mov r8,rsp
        push qword [r8]
        pop qword [r8+8]
        push word [rsp]
        pop word [rsp+16]
        mov rdx,[rsp+8]
        add rsp,32
        @check rdx,123456789ABCDEFh
        push fs
        pop rax
        sub rsi,rsp
        @check rsi,0
    """),
    (32, "enter, leave and retn through a pushed return address", """
        mov esi,esp
        mov ebx,ebp
        enter 24,0
        mov ecx,esi
        sub ecx,esp
        leave
        @check ecx,28
        sub esi,esp
        @check esi,0
        sub ebx,ebp
        @check ebx,0
        mov ecx,5
        mov edx,0
        again:
        add edx,3
        loop again
        @check edx,15
        @check ecx,0
    """),
    (64, "64-bit enter, leave, loop and retn", """
        mov rsi,rsp
        mov rbx,rbp
        enter 24,0
        mov rcx,rsi
        sub rcx,rsp
        leave
        @check rcx,32
        mov rdx,rsp
        lea rax,[back]
        push 11h
        push 22h
        push rax
        retn 16
        back:
        sub rdx,rsp
        @check rdx,0
        sub rbx,rbp
        @check rbx,0
        mov ecx,7
        mov r8,0
        again:
        add r8,2
        loop again
        @check r8,14
        sub rsi,rsp
        @check rsi,0
    """),
]

def _stdcall_cdecl():
    return (32, "stdcall and cdecl PROCs with pushed arguments", """
        mov esi,esp
        mov ebx,0BEEFh
        push 3
        push 10
        call Diff
        mov ecx,eax
        @check ecx,7
        push 30
        push 12
        call Sum
        add esp,8
        mov edx,eax
        @check edx,42
        @check ebx,0BEEFh
        push 5
        call Twice
        mov ecx,eax
        @check ecx,10
        sub esi,esp
        @check esi,0
        reti
        proc Diff stdcall
        arg a b
        local t
        mov eax,[a]
        sub eax,[b]
        mov [t],eax
        mov eax,[t]
        ret
        endp
        proc Sum cdecl
        uses ebx
        arg a b
        mov ebx,[a]
        add ebx,[b]
        mov eax,ebx
        ret
        endp
        proc Twice noframe
        mov eax,[esp+4]
        add eax,eax
        retn 4
        endp
    """)


def _aligned_conventions():
    """Every 16-byte convention with 0-3 USES and 0-24 LOCAL bytes, called
    with rsp = 0 mod 16: the body sees rsp = 0 mod 16 (r14 collects any
    misalignment) and the USES registers come back unchanged."""
    saved = ["rbx", "r12", "r13"]
    calls, procs = [], []
    for conv in ("win64", "win64_push", "lin64"):
        for n_uses in range(4):
            for n_locals in range(4):
                name = "P_%s_%d_%d" % (conv, n_uses, n_locals)
                calls.append("call %s" % name)
                procs.append("proc %s %s" % (name, conv))
                if n_uses:
                    procs.append("uses " + " ".join(saved[:n_uses]))
                if n_locals:
                    procs.append("local " + " ".join("v%d" % k for k in range(n_locals)))
                procs += ["mov rax,rsp", "and rax,15", "or r14,rax"]
                procs += ["mov qword [v%d],-1" % k for k in range(n_locals)]
                procs += ["mov %s,0" % r for r in saved[:n_uses]]
                procs += ["ret", "endp"]
    body = ["sub rsp,8", "mov r14,0", "mov rbx,1111h", "mov r12,2222h", "mov r13,3333h"] + calls
    body += ["add rsp,8", "@check r14,0", "@check rbx,1111h", "@check r12,2222h", "@check r13,3333h", "reti"]
    return (64, "win64, win64_push and lin64 frames keep rsp aligned and USES intact", "\n".join(body + procs))


PROC_PROGRAMS = [_stdcall_cdecl(), _aligned_conventions()]
