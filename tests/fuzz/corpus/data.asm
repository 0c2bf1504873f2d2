0section "d" class_data
db "hi", 0
dw 1, 2
dd lbl
lbl: dq -1
rb 4
real8 1.5
