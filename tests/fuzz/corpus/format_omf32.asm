5section "CODE" class_code
section "DATA" class_data
section "CODE"
extern printf
extern exit
main:
push msg
call printf
push 0
call exit
export main
section "DATA"
msg db "hi", 10, 0
vec dd main, msg, 0
align 16
