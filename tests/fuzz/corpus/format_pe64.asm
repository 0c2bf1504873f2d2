2section "text" class_code
section "rdata" class_data
section "imp" class_imports
section "rel" class_relocs
section "text"
.use64
import_dll kernel32.dll
import ExitProcess
proc main win64
uses rbx
local buf[4]
lea rbx, [buf]
mov rax, [value]
invoke ExitProcess, rax
ret
endp
entry main
section "rdata"
value dq 7
where dq main
