; elf32_stats.asm - an ELF32 object with two cdecl functions that the C
; program elf32_stats.c calls: the count, sum, least and greatest value of
; an int array, and the vowels in a string.
;
;   build/qrn_asm -q -elf32 examples/elf32_stats.asm elf32_stats.o
;   gcc -m32 -no-pie -o elf32_stats examples/elf32_stats.c elf32_stats.o
;   ./elf32_stats
;
; It prints the text in examples/elf32_stats.txt.

; struct stats in elf32_stats.c
struc STATS
count   dd ?
sum     dd ?
least   dd ?
most    dd ?
ends

; vowel? character in al: ecx + 1 when it is one of "aeiou"
macro count_vowel
        .if al == 'a' || al == 'e' || al == 'i' || al == 'o' || al == 'u'
                inc ecx
        .endif
endm

section "text" class_code
.use32

; void table_stats(const int *values, int count, struct stats *result)
proc table_stats cdecl
uses ebx esi edi
arg values count result
        mov esi, [values]
        mov ecx, [count]
        mov edi, [result]
        mov [edi+STATS.count], ecx
        mov dword [edi+STATS.sum], 0
        mov dword [edi+STATS.least], 7FFFFFFFh
        mov dword [edi+STATS.most], 80000000h
        .while ecx != 0
                mov eax, [esi]
                add [edi+STATS.sum], eax
                mov ebx, [edi+STATS.least]
                .if signed eax < ebx
                        mov [edi+STATS.least], eax
                .endif
                mov ebx, [edi+STATS.most]
                .if signed eax > ebx
                        mov [edi+STATS.most], eax
                .endif
                add esi, 4
                dec ecx
        .endw
        ret
endp

; int count_vowels(const char *text)
proc count_vowels cdecl
uses esi
arg text
local seen
        mov esi, [text]
        xor ecx, ecx
        mov [seen], ecx
        mov al, [esi]
        .while al != 0
                inc dword [seen]
                or al, 20h              ; lower case
                count_vowel
                inc esi
                mov al, [esi]
        .endw
        mov eax, ecx
        ret
endp

export table_stats
export count_vowels

; no executable stack: the linker reads this empty section
section ".note.GNU-stack" class_data
