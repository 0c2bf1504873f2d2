0section "c" class_code
.use64
mov rax, [rbx+rsi*8+16]
add dword [eax], 5
mov ds, ax
cmp al, 'a'
/* c /* d */ */
