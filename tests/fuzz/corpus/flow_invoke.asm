0section "c" class_code
.use32
proc f cdecl
arg a b
.if ( eax == 1 || eax == 2 ) && signed dword [a] < 0
.while ecx != 0 && !zero?
sub ecx, 1
.endw
.elseif swap ebx == 'ab'
.repeat
dec ecx
.until ecx == 0 || carry?
.else
invoke f, 1, addr x
.endif
ret
endp
x: dd 0
.use64
proc g lin64
varg
ret
endp
invoke g, 1, 2, 3, 4, 5, 6, 7
cinvoke g, rbx
