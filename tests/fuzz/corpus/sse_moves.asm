0section "c" class_code
.use16
addps xmm1, [ebx]
crc32 eax, byte [w]
movbe eax, [w]
.use32
pshufd xmm0, [bx+si+4], 1Bh
movq mm1, xmm2
movd dword [esi], mm3
.use64
pextrd qword [w], xmm9, 1
pinsrd xmm8, [rax], 1
psrldq xmm9, 8
pextrw1 r9d, xmm10, 2
popcnt r9, qword [rbx+8]
w dd 0
dd 0
