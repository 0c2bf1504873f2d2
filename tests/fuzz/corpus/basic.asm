0section "c" class_code
start: nop
rep stosb
x equ 5+3*2
y = x shl 2
fs: nop
