; win64_console.asm - a 64-bit Windows console program (PE32+). It greets,
; then writes the first Fibonacci numbers below 1000, through the kernel32
; functions GetStdHandle, WriteFile and ExitProcess.
;
;   build/qrn_asm -q -pe64 -console examples/win64_console.asm win64_console.exe
;   wine win64_console.exe
;
; It prints the text in examples/win64_console.txt (with CR LF line ends).

STD_OUTPUT_HANDLE equ -11

struc PAIR
older   dq ?
newer   dq ?
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
local pair :PAIR
        say greeting
        say series
        mov qword [pair.older], 0
        mov qword [pair.newer], 1
        mov rax, [pair.newer]
        .while rax < 1000
                invoke write_number, rax
                mov rax, [pair.older]
                add rax, [pair.newer]
                mov rcx, [pair.newer]
                mov [pair.older], rcx
                mov [pair.newer], rax
        .endw
        say line_end
        invoke ExitProcess, 0
        ret
endp
entry main

section "data" class_data
greeting        db "Hello from qrn_asm, in a PE32+ console program", 13, 10
greeting_length equ $-greeting
series          db "Fibonacci numbers below 1000:"
series_length   equ $-series
line_end        db 13, 10
line_end_length equ $-line_end

section "imports" class_imports
import_dll kernel32.dll
import GetStdHandle
import WriteFile
import ExitProcess
