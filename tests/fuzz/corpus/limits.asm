0section "c" class_code
.use64
mov rax,[rbx+0FFFFFFFFh]
and rax,0FFFFFFFFh
mov word [rbp],edi
mov cr8,eax
cbw
pushad
.use16
cdq
mov ax,[bx+100000000h]
section "b" class_bss
rb 100000
rd 40000000h
