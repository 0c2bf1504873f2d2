0section "c" class_code
.use32
N equ 2
macro m
marg a, b:req, rest:vararg
@l: db a, &b, rest
endm
macro five
exitm 5
endm
rept N
m 1, 2, 3
endm
for r in: eax, ebx rev do
mov &r, five
endm
#if N >= 2
db "&x"
#else
nop
#endif
#ifdef N
incfrom 0, ?, none.bin
#endif
