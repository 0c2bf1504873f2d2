0section "c" class_code
.use32
back: call fwd
jne back
jmp far 8 back
call far [ebx+4]
jmp [eax*4+back]
fwd: jg back
.use16
call word [bx+si]
jmp fwd
.use64
call [r8+rax*2]
jmp qword [back]
jz fwd
section "d" class_code
call back
