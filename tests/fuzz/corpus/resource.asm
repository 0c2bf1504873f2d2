0section "r" class_rsrc
#define IDD 100
IDD dialogex 1, 2, 30, 40
style 80C00000h
caption "Été"
begin
control "OK", 7, "BUTTON", 50000000h, 5, 6, 7, 8, 0
end
200 menuex
begin
popup "F", 0
begin
menuitem "O", 101
menuitem 0
end
end
dd <rva m>, 4
m: emit_rsrc 200
emit_rsrc IDD
