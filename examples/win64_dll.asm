; win64_dll.asm - a 64-bit Windows DLL (PE32+) that exports gcd and lcm;
; win64_dll_caller.asm is a program that calls them.
;
;   build/qrn_asm -q -pe64 -dll examples/win64_dll.asm win64_dll.dll
;   build/qrn_asm -q -pe64 -console examples/win64_dll_caller.asm win64_dll_caller.exe
;   wine win64_dll_caller.exe
;
; The program prints the text in examples/win64_dll_caller.txt (with CR LF
; line ends); it finds the DLL beside it.

section "code" class_code
.use64

; the loader's call: rcx the module, edx the reason; TRUE lets it load
proc dll_main win64
        mov eax, 1
        ret
endp

; rcx, rdx -> rax: their greatest common divisor (Euclid)
proc gcd win64
        mov rax, rcx
        .while rdx != 0
                mov rcx, rdx
                xor edx, edx
                div rcx
                mov rax, rcx
        .endw
        ret
endp

; rcx, rdx -> rax: their least common multiple
proc lcm win64
uses rbx rsi
        mov rbx, rcx
        mov rsi, rdx
        invoke gcd, rcx, rdx
        mov rcx, rax
        mov rax, rbx
        xor edx, edx
        div rcx
        mul rsi
        inc qword [calls]
        ret
endp

; -> rax: how often lcm was called
proc lcm_calls win64
        mov rax, [calls]
        ret
endp

section "data" class_data
calls   dq 0

section "exports" class_exports
export gcd
export lcm
export lcm_calls
entry dll_main

section "relocs" class_relocs
