0section "c" class_code
.use32
q1 equ 40h
start:
movsd
lodsw
lea esi, [ebx+ecx*4+q1]
bswap edx
sbb byte [esi-1], 7Fh
xor cx, [bp+di]
.use16
mov es, [si]
mov cr0, eax
stosd
dd start
$time
