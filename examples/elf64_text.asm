; elf64_text.asm - an ELF64 object with two functions of the System V
; convention (lin64) that the C program elf64_text.c calls; one of them
; calls the C library's puts in turn.
;
;   build/qrn_asm -q -elf64 examples/elf64_text.asm elf64_text.o
;   gcc -no-pie -o elf64_text examples/elf64_text.c elf64_text.o
;   ./elf64_text
;
; It prints the text in examples/elf64_text.txt.

LINE_ROOM equ 120

struc LINE
used    dq ?
text    rb LINE_ROOM
ends

; upper_case reg: a lower-case letter in the byte register reg to upper case
macro upper_case
marg reg:req
        .if reg >= 'a' && reg <= 'z'
                sub reg, 20h
        .endif
endm

section "text" class_code
.use64
extern puts lin64

; long rot13(char *text): rotates the letters of text by 13 in place and
; returns how many it rotated
proc rot13 lin64
        xor eax, eax
        mov cl, [rdi]
        .while cl != 0
                mov dl, cl
                or dl, 20h
                .if dl >= 'a' && dl <= 'z'
                        .if dl <= 'm'
                                add cl, 13
                        .else
                                sub cl, 13
                        .endif
                        mov [rdi], cl
                        inc rax
                .endif
                inc rdi
                mov cl, [rdi]
        .endw
        ret
endp

; void shout(const char *text): puts of text in capitals (at most 119
; characters of it)
proc shout lin64
uses rbx r12
local line :LINE
        lea rbx, [line.text]
        xor r12d, r12d
        mov al, [rdi]
        .while al != 0 && r12d < LINE_ROOM-1
                upper_case al
                mov [rbx+r12], al
                inc r12d
                mov al, [rdi+r12]
        .endw
        mov byte [rbx+r12], 0
        mov [line.used], r12
        invoke puts, addr line.text
        ret
endp

export rot13
export shout

; no executable stack: the linker reads this empty section
section ".note.GNU-stack" class_data
