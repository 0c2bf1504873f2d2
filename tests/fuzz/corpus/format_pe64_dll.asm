4section "code" class_code
section "exp" class_exports
section "bss" class_bss
section "rel" class_relocs
section "code"
.use64
zeta: mov eax, 1
ret
alpha: lea rax, [store]
ret
mid: mov rax, [ptrs]
ret
export zeta
export alpha
export mid
ptrs dq alpha, zeta
section "bss"
min_size 2000h
store rq 16
