; hello64.asm - a Linux x86-64 program without the C library. It prints a
; greeting and what a small order costs, adding up its table when it runs,
; through the write system call, and ends through exit.
;
;   build/qrn_asm -q -elf64 examples/hello64.asm hello64.o
;   ld -o hello64 hello64.o
;   ./hello64
;
; It prints the text in examples/hello64.txt.

SYS_WRITE equ 1
SYS_EXIT  equ 60
STDOUT    equ 1

struc ITEM
count   dd ?
price   dd ?
ends

; print text, length: one write system call to standard output
macro print
marg text, length:req
        mov eax, SYS_WRITE
        mov edi, STDOUT
        lea rsi, [text]
        mov edx, length
        syscall
endm

section "text" class_code
.use64

; rdi: the first ITEM, esi: how many -> rax: the sum of count * price
proc order_total lin64
uses rbx
        xor ebx, ebx
        .while esi != 0
                mov eax, [rdi+ITEM.count]
                mul dword [rdi+ITEM.price]
                add ebx, eax
                add rdi, ITEM
                dec esi
        .endw
        mov eax, ebx
        ret
endp

; edi: a number, printed in decimal and followed by a line end
proc print_number lin64
uses rbx
local digits[3]
        mov eax, edi
        lea rbx, [digits]
        add rbx, 23
        mov byte [rbx], 10
        mov ecx, 10
        .repeat
                xor edx, edx
                div ecx
                add dl, '0'
                dec rbx
                mov [rbx], dl
        .until eax == 0
        lea rdx, [digits]
        add rdx, 24
        sub rdx, rbx
        print rbx, edx
        ret
endp

_start:
        print greeting, greeting_length
        invoke order_total, addr order, ORDER_ITEMS
        mov ebx, eax                    ; the system calls change rax
        print total, total_length
        invoke print_number, rbx
        .if ebx > 1000
                print large, large_length
        .endif
        mov eax, SYS_EXIT
        xor edi, edi
        syscall
entry _start

section "data" class_data
greeting        db "Hello from qrn_asm", 10
greeting_length equ $-greeting
large           db "That is a large order.", 10
large_length    equ $-large
total           db "The table adds up to "
total_length    equ $-total
order           ITEM { 3, 250 }
                ITEM { 2, 199 }
                ITEM { 12, 25 }
ORDER_ITEMS     equ ($-order)/ITEM
