0section "c" class_code
.use32
push eax
pop word [ebx+ecx*2+4]
push -129
push fs
retn 8
int 21h
enter 16, 0
l: loop l
.use64
push r9w
pop qword [r8+rax]
iretq
