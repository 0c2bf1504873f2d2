5section "text" class_code
section "data" class_data
section "bss" class_bss
section "text"
.use32
extern puts
import_lib c.lib
import exit
struc P
x dd ?
y dd ?
ends
proc main cdecl
uses ebx
mov eax, [p.y]
call puts
.if eax == 1 && ( eax != 2 )
call exit
.endif
ret
endp
export main
section "data"
p P { 1, 2 }
q dd main, p
section "bss"
b rd 4
