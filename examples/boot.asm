; boot.asm - a 16-bit boot sector. The BIOS loads it at 0000:7C00h and runs
; it; it writes a greeting and the sum of a table, which it adds up when it
; runs, to the screen, then halts.
;
;   build/qrn_asm -q -binary examples/boot.asm boot.bin
;   qemu-system-i386 -nographic -drive format=raw,file=boot.bin
;
; With -nographic the BIOS copies the screen to the terminal; Ctrl-A X
; leaves qemu.
; It prints the text in examples/boot.txt.

struc ITEM
count   dw ?
price   dw ?
ends

; putc: the character in al to the screen, through the BIOS
macro putc
        mov ah, 0Eh
        mov bx, 7
        int 10h
endm

section "boot" class_code
.use16
org 7C00h
disp 7C00h

start:
        xor ax, ax
        mov ds, ax
        mov ss, ax
        mov sp, 7C00h
        cld
        invoke print_text, addr greeting
        invoke order_total, addr order, ORDER_ITEMS
        invoke print_number, ax
halt:   hlt
        jmp halt

; text: a NUL-ended string
proc print_text
uses si
arg text
        mov si, [text]
        lodsb
        .while al != 0
                push ax
                putc
                pop ax
                lodsb
        .endw
        ret
endp

; items, count -> ax: the sum of count * price
proc order_total
uses bx si
arg items count
        mov si, [items]
        mov cx, [count]
        xor bx, bx
        .while cx != 0
                mov ax, [si+ITEM.count]
                mul word [si+ITEM.price]
                add bx, ax
                add si, ITEM
                dec cx
        .endw
        mov ax, bx
        ret
endp

; value: printed in decimal, then a line end
proc print_number
uses si
arg value
local digits[4]
        lea si, [digits]
        add si, 7
        mov byte [si], 0
        mov ax, [value]
        mov cx, 10
        .repeat
                xor dx, dx
                div cx
                add dl, '0'
                dec si
                mov [si], dl
        .until ax == 0
        invoke print_text, si
        invoke print_text, addr line_end
        ret
endp

greeting        db "Hello from qrn_asm", 13, 10, "The table adds up to ", 0
line_end        db 13, 10, 0
order           ITEM { 3, 250 }
                ITEM { 2, 199 }
                ITEM { 12, 25 }
ORDER_ITEMS     equ ($-order)/ITEM

org 7C00h+510
        dw 0AA55h
