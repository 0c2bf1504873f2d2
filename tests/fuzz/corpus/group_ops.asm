0section "c" class_code
.use32
test eax,ebx
test byte [v],1
shl [ebx],cl
sal word [ebx+esi*2+4],3
shld [bx],ax,cl
xchg al,[v]
movsx eax,byte [ebx]
movzx ax,byte [v]
not dword [bx+si]
idiv [v]
inc [v]
dec si
.use64
shrd [r8],r9,2
neg sil
inc qword [rip_v]
movsx rax,dword [rbx]
rip_v:
.use16
imul word [1234h]
v db 0
