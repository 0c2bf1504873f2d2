6section "a_long_section_name" class_code
section "data" class_data
section "a_long_section_name"
import_lib msvcrt.lib
import puts
extern _exit
_main:
push text
call puts
call _exit
jmp near_label
near_label: ret
export _main
section "data"
text db "coff", 0
refs dd _main, text, near_label
