1section "code" class_code
section "data" class_data
section "idata" class_imports
section "edata" class_exports
section "reloc" class_relocs
section "code"
.use32
import_dll kernel32.dll
import ExitProcess
proc start
uses ebx
local t
mov eax, [msg]
lea eax, [t]
invoke ExitProcess, 0
ret
endp
export start
entry start
section "data"
msg dd start, 5
db "ok", 0
