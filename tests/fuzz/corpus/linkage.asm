0section "c" class_code alias "text"
import_dll k.dll
import f [2] alias "g"
extern e
import_lib l.lib
start:
call f
export start alias "s"
entry start
alias x
