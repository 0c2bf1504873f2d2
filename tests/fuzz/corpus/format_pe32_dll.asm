3section "code" class_code
section "exp" class_exports
section "imp" class_imports
section "rel" class_relocs
section "code"
import_dll user32.dll
import MessageBoxA alias "MessageBoxA"
import_dll kernel32.dll
import Sleep
proc add2 stdcall
arg a b
mov eax, [a]
add eax, [b]
ret
endp
proc nap
invoke Sleep, 1
ret
endp
export add2 alias "Add"
export nap
data1 dd add2
