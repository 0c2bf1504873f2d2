; A small flat binary: 32-bit code that sums a table, and its data.
;   qrn_asm -binary examples/hello.asm hello.bin

count   equ 4

section "code" class_code
.use32

start:
        mov esi, table
        xor eax, eax
        mov ecx, count
next:
        add eax, [esi]
        add esi, 4
        sub ecx, 1
        cmp ecx, 0
        mov [result], eax
        nop

section "data" class_data

message db "Hello from qrn_asm", 13, 10, 0
table   dd 1, 2, 3, 4
result  dd ?
