0section "d" class_data
define T strcut "abcdef", 2, 3
db T
fw 3, 1234h
align 8
#store byte 0, 1
#load byte v, 1
db v
