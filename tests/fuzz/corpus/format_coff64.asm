7section "text" class_code
section "data" class_data
section "bss" class_bss
section "text"
.use64
extern puts
import_lib c.lib
import exit
struc P
x dq ?
y dq ?
ends
proc main win64
uses rbx
mov rax, [p.y]
call puts
.if rax == 1 && ( rax != 2 )
call exit
.endif
ret
endp
export main
section "data"
p P { 1, 2 }
q dq main, p
section "bss"
b rd 4
