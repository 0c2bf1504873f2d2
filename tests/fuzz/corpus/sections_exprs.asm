0section "x" class_code min_size 10h
section "y" class_data
v = 8+(2*q)
q equ 5
real4 -0.25
dt 1
rw 2
du "ab"
section "x"
.use64
adc r9, -8
mov r12l, [rbx+v]
