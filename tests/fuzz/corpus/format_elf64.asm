9section "text" class_code
section "data" class_data
section "text"
.use64
extern printf
proc main lin64
local n
mov dword [n], 3
lea rdi, [fmt]
mov rsi, [n]
xor eax, eax
call printf
.repeat
dec dword [n]
.until zero?
ret
endp
export main
section "data"
fmt db "%d", 10, 0
where dq main, fmt
