7section "text" class_code alias ".text"
section "data" class_data alias ".data"
section "text"
.use64
extern puts
main:
sub rsp, 40
lea rcx, [msg]
call puts
mov rax, [msg_ptr]
add rsp, 40
ret
export main
section "data"
msg db "coff64", 0
msg_ptr dq msg
