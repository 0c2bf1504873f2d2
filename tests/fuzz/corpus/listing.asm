0option list_on
section "c" class_code
	mov eax, 1 ; note
option list_off
db 1
option list_on
macro m
 nop
endm
m
#if 1 == 2
 db 7
#endif
rb 40
db 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,32,33
mov eax, \
 7
/* a
 b */ nop
foo
int3