; win32_console.asm - a 32-bit Windows console program (PE32). It greets,
; then lists the prime numbers below 60 and how many there are, through
; the kernel32 functions GetStdHandle, WriteFile and ExitProcess.
;
;   build/qrn_asm -q -pe32 -console examples/win32_console.asm win32_console.exe
;   wine win32_console.exe
;
; It prints the text in examples/win32_console.txt (with CR LF line ends).
; PE32 programs need 32-bit wine (wine32).

STD_OUTPUT_HANDLE equ -11
LIMIT             equ 60

struc TALLY
found   dd ?
last    dd ?
ends

; say text: writes a string that db defined with a <name>_length beside it
macro say
marg text:req
        invoke write_text, addr text, &text_length
endm

section "code" class_code
.use32

proc write_text
uses ebx
arg text length
local written
        invoke GetStdHandle, STD_OUTPUT_HANDLE
        mov ebx, eax
        invoke WriteFile, ebx, [text], [length], addr written, 0
        ret
endp

; number: written in decimal after a blank
proc write_number
uses ebx
arg number
local digits[4]
        lea ebx, [digits]
        add ebx, 16
        mov eax, [number]
        mov ecx, 10
        .repeat
                xor edx, edx
                div ecx
                add dl, '0'
                dec ebx
                mov [ebx], dl
        .until eax == 0
        dec ebx
        mov byte [ebx], ' '
        lea edx, [digits]
        add edx, 16
        sub edx, ebx
        invoke write_text, ebx, edx
        ret
endp

; candidate -> eax: 1 when it is a prime, else 0
proc is_prime
uses ebx esi
arg candidate
        mov esi, [candidate]
        xor eax, eax
        .if esi >= 2
                mov ebx, 2
                mov eax, ebx
                mul ebx
                .while eax <= esi
                        mov eax, esi
                        xor edx, edx
                        div ebx
                        .if edx == 0
                                xor eax, eax
                                ret
                        .endif
                        inc ebx
                        mov eax, ebx
                        mul ebx
                .endw
                mov eax, 1
        .endif
        ret
endp

start:
        say greeting
        say primes
        mov dword [tally.found], 0
        mov esi, 2
        .while esi < LIMIT
                invoke is_prime, esi
                .if eax == 1
                        inc dword [tally.found]
                        mov [tally.last], esi
                        invoke write_number, esi
                .endif
                inc esi
        .endw
        say line_end
        say count
        invoke write_number, [tally.found]
        say line_end
        say largest
        invoke write_number, [tally.last]
        say line_end
        invoke ExitProcess, 0
entry start

section "data" class_data
greeting        db "Hello from qrn_asm, in a PE32 console program", 13, 10
greeting_length equ $-greeting
primes          db "Primes below 60:"
primes_length   equ $-primes
count           db "How many:"
count_length    equ $-count
largest         db "The largest:"
largest_length  equ $-largest
line_end        db 13, 10
line_end_length equ $-line_end
tally           TALLY ?

section "imports" class_imports
import_dll kernel32.dll
import GetStdHandle
import WriteFile
import ExitProcess
