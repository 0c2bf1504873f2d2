; A small flat binary: 32-bit code and data sections.
;   qrn_asm -binary examples/hello.asm hello.bin

section "code" class_code
.use32

start:
        cld
        rep stosb
        nop

section "data" class_data

message_length equ 14
flags = 1
