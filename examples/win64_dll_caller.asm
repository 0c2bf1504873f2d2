; win64_dll_caller.asm - a 64-bit Windows console program (PE32+) that calls
; gcd and lcm in win64_dll.dll (win64_dll.asm) for a table of pairs.
;
;   build/qrn_asm -q -pe64 -dll examples/win64_dll.asm win64_dll.dll
;   build/qrn_asm -q -pe64 -console examples/win64_dll_caller.asm win64_dll_caller.exe
;   wine win64_dll_caller.exe
;
; It prints the text in examples/win64_dll_caller.txt (with CR LF line ends).
; The say macro, write_text and write_number are in examples/console64.inc.

struc PAIR
first   dq ?
second  dq ?
ends

section "code" class_code
.use64

include "examples/console64.inc"

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
