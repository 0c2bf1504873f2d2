; win64_console.asm - a 64-bit Windows console program (PE32+). It greets,
; then writes the first Fibonacci numbers below 1000, through the kernel32
; functions GetStdHandle, WriteFile and ExitProcess.
;
;   build/qrn_asm -q -pe64 -console examples/win64_console.asm win64_console.exe
;   wine win64_console.exe
;
; It prints the text in examples/win64_console.txt (with CR LF line ends).
; The say macro, write_text and write_number are in examples/console64.inc.

struc PAIR
older   dq ?
newer   dq ?
ends

section "code" class_code
.use64

include "examples/console64.inc"

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
