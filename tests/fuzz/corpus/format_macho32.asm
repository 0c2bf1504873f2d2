:section "text" class_code
section "data" class_data
section "text"
extern _puts
_main:
push ebp
mov ebp, esp
push hello
call _puts
leave
ret
export _main
section "data"
hello db "mach-o", 0
refs dd _main, hello
