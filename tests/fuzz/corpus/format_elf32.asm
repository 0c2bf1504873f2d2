8section "text" class_code
section "data" class_data
section "bss" class_bss
section "text"
struc PAIR
a dd ?
b dd ?
ends
extern puts
proc main cdecl
push [pair.a]
call puts
add esp, 4
xor eax, eax
ret
endp
export main
section "data"
pair PAIR { text, 2 }
text db "elf32", 0
section "bss"
space rb 64
