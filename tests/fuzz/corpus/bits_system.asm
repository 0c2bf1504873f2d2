0section "c" class_code
.use16
bts dword [w], 20
setz [bx]
in eax, [dx]
out [80h], al
les di, [w]
lgdt [esi+6]
.use64
cmovg r10, [r11+r12*8]
lock cmpxchg [r8], sil
bt dword [w], 3
vmxon [r8]
sidt [w+2]
w dd 0
dw 0
