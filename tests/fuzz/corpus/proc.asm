0section "c" class_code
proc P stdcall
uses ebx esi
arg a b
local x buf[4] y
next: mov eax,[a]
add [x],eax
loop next
ret
endp
.use64
proc Q lin64
uses rbx fs
local q
lea rax,[q]
ret
endp
