; win64_dll_caller.asm - a 64-bit Windows console program (PE32+) that calls
; gcd and lcm in win64_dll.dll (win64_dll.asm) for a table of pairs.
;
;   build/qrn_asm -q -pe64 -dll examples/win64_dll.asm win64_dll.dll
;   build/qrn_asm -q -pe64 -console examples/win64_dll_caller.asm win64_dll_caller.exe
;   wine win64_dll_caller.exe
;
; It prints the text in examples/win64_dll_caller.txt (with CR LF line ends).

STD_OUTPUT_HANDLE equ -11

struc PAIR
first   dq ?
second  dq ?
ends

; say text: writes a string that db defined with a <name>_length beside it
macro say
marg text:req
        invoke write_text, addr text, &text_length
endm

section "code" class_code
.use64

; rcx: the text, rdx: its length
proc write_text win64
uses rbx
arg text length
local written
        mov [text], rcx
        mov [length], rdx
        invoke GetStdHandle, STD_OUTPUT_HANDLE
        invoke WriteFile, rax, [text], [length], addr written, 0
        ret
endp

; rcx: a number, written in decimal after a blank
proc write_number win64
uses rbx
local digits[3]
        mov rax, rcx
        lea rbx, [digits]
        add rbx, 24
        mov ecx, 10
        .repeat
                xor edx, edx
                div rcx
                add dl, '0'
                dec rbx
                mov [rbx], dl
        .until rax == 0
        dec rbx
        mov byte [rbx], ' '
        lea rdx, [digits]
        add rdx, 24
        sub rdx, rbx
        invoke write_text, rbx, rdx
        ret
endp

proc main win64
uses rbx rsi
        say greeting
        lea rbx, [pairs]
        mov esi, PAIRS
        .while esi != 0
                say pair
                invoke write_number, [rbx+PAIR.first]
                invoke write_number, [rbx+PAIR.second]
                say gcd_is
                invoke gcd, [rbx+PAIR.first], [rbx+PAIR.second]
                invoke write_number, rax
                say lcm_is
                invoke lcm, [rbx+PAIR.first], [rbx+PAIR.second]
                invoke write_number, rax
                say line_end
                add rbx, PAIR
                dec esi
        .endw
        say calls
        invoke lcm_calls
        invoke write_number, rax
        say line_end
        invoke ExitProcess, 0
        ret
endp
entry main

section "data" class_data
greeting        db "Hello from qrn_asm, calling win64_dll.dll", 13, 10
greeting_length equ $-greeting
pair            db "pair"
pair_length     equ $-pair
gcd_is          db ": gcd"
gcd_is_length   equ $-gcd_is
lcm_is          db ", lcm"
lcm_is_length   equ $-lcm_is
calls           db "calls of lcm:"
calls_length    equ $-calls
line_end        db 13, 10
line_end_length equ $-line_end
pairs           PAIR { 84, 36 }
                PAIR { 21, 6 }
                PAIR { 17, 5 }
PAIRS           equ ($-pairs)/PAIR

section "imports" class_imports
import_dll kernel32.dll
import GetStdHandle
import WriteFile
import ExitProcess
import_dll win64_dll.dll
import gcd
import lcm
import lcm_calls
