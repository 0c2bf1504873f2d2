0section "d" class_data
struc P
x dd ?
union
a db ?
b dq ?
endu
v rw 2
ends
p P { 1 , b = 2 , { 3 , 4 } }
q rs P, 2
enum E, 0, 3
A B
ende
dd P.v, p.x, A
