section "d" class_data
struc L0
v db ?
ends
struc L1
v L0 ?
ends
struc L2
v L1 ?
ends
struc L3
v L2 ?
ends
struc L4
v L3 ?
ends
struc L5
v L4 ?
ends
struc L6
v L5 ?
ends
struc L7
v L6 ?
ends
struc L8
v L7 ?
ends
struc L9
v L8 ?
ends
struc L10
v L9 ?
ends
struc L11
v L10 ?
ends
struc L12
v L11 ?
ends
struc L13
v L12 ?
ends
struc L14
v L13 ?
ends
struc L15
v L14 ?
ends
struc L16
v L15 ?
ends
struc L17
v L16 ?
ends
struc L18
v L17 ?
ends
x L18 { { { { { { { { { { { { { { { { { { 1 } } } } } } } } } } } } } } } } } }
