1section "code" class_code
section "data" class_data
section "idata" class_imports
section "reloc" class_relocs
section "code"
import_dll kernel32.dll
import ExitProcess
import GetStdHandle
start:
push -11
call GetStdHandle
mov [handle], eax
invoke ExitProcess, [code]
entry start
section "data"
handle dd 0
code dd 3
table dd start, handle
