2section "code" class_code
section "data" class_data
section "idata" class_imports
section "edata" class_exports
section "reloc" class_relocs
section "code"
.use64
import_dll kernel32.dll
import ExitProcess
proc start
uses rbx
local t
mov rax, [msg]
lea rax, [t]
invoke ExitProcess, 0
ret
endp
export start
entry start
section "data"
msg dq start, 5
db "ok", 0
