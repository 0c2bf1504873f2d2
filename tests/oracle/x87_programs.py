"""x87 run programs for run_native.py: integer chains, rounding, the control
word, real round trips, arithmetic with memory and stack operands, compares
and fcmov. Operands live on the stack (32-bit) or in RIP-relative cells."""

X87_PROGRAMS = [
    (32, "x87 integer chain and rounding", """
        sub esp,64
        finit
        mov dword [esp],7
        mov dword [esp+4],5
        mov word [esp+8],3
        fild dword [esp]
        fiadd dword [esp+4]
        fimul word [esp+8]
        fisub word [esp+8]
        fidiv dword [esp+4]
        fistp dword [esp+12]
        mov ebx,[esp+12]
        @check ebx,7
        fild word [esp+8]
        fistp qword [esp+16]
        mov ecx,[esp+16]
        mov edx,[esp+20]
        @check ecx,3
        @check edx,0
        mov dword [esp],5
        mov dword [esp+4],2
        fild dword [esp]
        fidiv dword [esp+4]
        fistp word [esp+8]
        mov ebx,0
        mov bx,word [esp+8]
        @check ebx,2
        mov dword [esp],-27
        mov dword [esp+4],10
        fild dword [esp]
        fidiv dword [esp+4]
        fld st0
        fistp dword [esp+12]
        fisttp dword [esp+16]
        mov esi,[esp+12]
        @check esi,-3
        mov ebp,[esp+16]
        @check ebp,-2
        fnstcw [esp+24]
        mov ebx,0
        mov bx,word [esp+24]
        @check ebx,37Fh
        add esp,64
    """),
    (32, "x87 control word and real round trips", """
        sub esp,64
        finit
        mov dword [esp],27
        mov dword [esp+4],10
        mov word [esp+8],0F7Fh
        fldcw [esp+8]
        fild dword [esp]
        fidiv dword [esp+4]
        fistp dword [esp+12]
        mov ebx,[esp+12]
        @check ebx,2
        finit
        fild dword [esp]
        fidiv dword [esp+4]
        fstp qword [esp+16]
        fld qword [esp+16]
        fstp tbyte [esp+24]
        fld tbyte [esp+24]
        fstp dword [esp+40]
        fld dword [esp+40]
        fimul dword [esp+4]
        fistp dword [esp+12]
        mov ecx,[esp+12]
        @check ecx,27
        mov dword [esp],3
        fild dword [esp]
        fst qword [esp+16]
        fst dword [esp+40]
        fadd qword [esp+16]
        fmul dword [esp+40]
        fsub dword [esp+40]
        fdiv qword [esp+16]
        fld st0
        fadd st1
        fmul st1
        fsubp st1
        fistp dword [esp+12]
        mov edx,[esp+12]
        @check edx,-45
        fild dword [esp]
        fild dword [esp+4]
        fdivp st1
        fimul dword [esp+4]
        fistp dword [esp+12]
        mov esi,[esp+12]
        @check esi,3
        fild dword [esp]
        fild dword [esp+4]
        faddp st1
        fistp dword [esp+12]
        mov ebp,[esp+12]
        @check ebp,13
        add esp,64
    """),
    (32, "x87 compares and fcmov", """
        sub esp,64
        finit
        mov dword [esp],3
        mov dword [esp+4],10
        fild dword [esp+4]
        fild dword [esp]
        fcom st1
        fnstsw
        and eax,4500h
        mov ebx,eax
        @check ebx,100h
        fst qword [esp+16]
        fcomp qword [esp+16]
        fnstsw
        and eax,4500h
        mov ecx,eax
        @check ecx,4000h
        fstp st0
        fild dword [esp]
        fild dword [esp+4]
        mov eax,1
        cmp eax,2
        fcmovb st1
        fistp dword [esp+12]
        fstp st0
        mov edx,[esp+12]
        @check edx,3
        fild dword [esp]
        fild dword [esp+4]
        mov eax,3
        cmp eax,2
        fcmovb st1
        fistp dword [esp+12]
        fstp st0
        mov esi,[esp+12]
        @check esi,10
        add esp,64
    """),
    (64, "x87 in RIP-relative cells", """
        finit
        mov dword [cell],27
        mov dword [cell+4],10
        fild dword [cell]
        fidiv dword [cell+4]
        fstp qword [cell+8]
        fld qword [cell+8]
        fimul dword [cell+4]
        fistp qword [cell+16]
        mov rbx,qword [cell+16]
        @check rbx,27
        lea r9,[cell]
        mov r10,2
        fild dword [r9+r10*2]
        fild dword [r9]
        fsub st1
        fistp dword [r9+8]
        fstp st0
        mov ecx,dword [r9+8]
        @check rcx,17
        fnstcw [r9+12]
        mov edx,0
        mov dx,word [r9+12]
        @check rdx,37Fh
        reti
        cell:
    """ + "nop\n" * 32),
]
