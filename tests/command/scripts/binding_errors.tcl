# Errors of the command binding: word counts, argument types with their
# error codes, null handles, forged / capital-hex / wrong-class / stale
# handles, and the length limits of the character-array attributes.
package require velmar

source [file join [lindex $argv 1] command_cases.tcl]

# Runs each case at global level and prints its result or its error with
# the error code.
proc run {cases} { runCases $cases 1 }

set t [new_Tech]
set a [new_API]
# A live Tech whose address has a letter among its digits, and its handle
# written with capital letters.
set lettered [new_Tech]
for {set i 0} {$i < 1000 && ![regexp {[a-f]} [string range $lettered 1 16]]} {incr i} {
  set lettered [new_Tech]
}
set capital "_[string toupper [string range $lettered 1 16]]_p_Tech"
set forged _0100000000000000_p_Tech
set stale [new_Tech]
delete_Tech $stale
set s16 [string repeat x 16]
set s17 [string repeat x 17]
set s128 [string repeat x 128]
set s129 [string repeat x 129]
set s1024 [string repeat x 1024]
set s1025 [string repeat x 1025]

puts "== word counts"
run {
  {Tech_SetHammer $t 1}
  {Tech_SetHammer $t 1 2 3}
  {Tech_SetHammer}
  {Tech_splitSize_get}
  {Tech_splitSize_get $t 1}
  {new_Tech 1}
  {new_API x}
  {delete_Tech}
  {API_OpenLog $a}
  {API_Print $a one two}
}

puts "== argument types"
run {
  {Tech_splitSize_set $t x}
  {Tech_splitSize_set $t 1.5}
  {Tech_splitSize_set $t 2147483648}
  {Tech_splitSize_set $t -2147483649}
  {Tech_splitSize_set $t 18446744073709551615}
  {Tech_splitSize_get $t}
  {Tech_splitSize_set $t -2147483648}
  {Tech_splitSize_get $t}
  {Tech_splitSize_set $t 0x7fffffff}
  {Tech_splitSize_get $t}
  {Tech_ignoreText_set $t maybe}
  {Tech_ignoreText_set $t true}
  {Tech_ignoreText_get $t}
  {Tech_transmittance_set $t abc}
  {Tech_transmittance_set $t 0.25}
  {Tech_transmittance_get $t}
  {Tech_SetHammer $t 1 two}
  {Tech_biasRules_set $t $a}
  {Tech_biasRules_set $t nosuchcommand}
  {API_ExistLibrary $a x}
  {API_ExistLibrary $t 0}
  {API_tech_set $a $a}
}

puts "== null handles"
run {
  {Tech_biasRules_set $t NULL}
  {Tech_endcapRules_set $t NULL}
  {Tech_splitSize_set NULL 5}
  {Tech_ignoreText_set NULL 1}
  {Tech_transmittance_set NULL 1.0}
  {Tech_splitSize_set NULL x}
  {Tech_splitSize_get NULL}
  {Tech_CreateBiasRule NULL}
  {API_hostName_set NULL ab}
  {API_tech_set $a NULL}
  {delete_Tech NULL}
  {delete_API NULL}
}

puts "== handles"
run {
  {Tech_splitSize_get $t}
  {Tech_splitSize_get $a}
  {Tech_splitSize_get $lettered}
  {Tech_splitSize_get $capital}
  {Tech_splitSize_get $forged}
  {Tech_splitSize_get $stale}
  {delete_Tech $stale}
  {Tech_splitSize_get nosuchcommand}
  {Tech_splitSize_get {}}
  {Tech_splitSize_get {puts injected; list}}
  {Tech_splitSize_get {[puts injected]}}
  {delete_Tech [API_tech_get $a]}
  {Tech_splitSize_get [API_tech_get $a]}
}

puts "== character arrays"
run {
  {API_hostName_set $a $s128}
  {string length [API_hostName_get $a]}
  {API_hostName_set $a $s129}
  {string length [API_hostName_get $a]}
  {API_hostName_set $a ab}
  {API_hostName_get $a}
  {API_ipaddr_set $a $s16}
  {API_ipaddr_get $a}
  {API_ipaddr_set $a $s17}
  {API_ipaddr_set $a 10.0.0.1}
  {API_ipaddr_get $a}
  {API__dpFile_set $a $s1024}
  {string length [API__dpFile_get $a]}
  {API__dpFile_set $a $s1025}
  {string length [API__dpFile_get $a]}
  {API__dpFile_set $a {}}
  {API__dpFile_get $a}
}

puts "== API command forms"
run {
  {API_SetArea $a top 1 2 3}
  {API_SetArea $a top 1 2 3 4 5}
  {API_XOR $a one 0 2 0}
  {API_XOR $a 1 0 2}
  {API_AND $a one 0 2 0}
  {API_AND $a 1 0 2}
  {API_AND $t 1 0}
  {API_OR $a 1}
  {API_OR $a 1 0 2 0 5}
  {API_OR NULL 1 0}
  {API_SaveDB $a 16384 0 x 0}
  {API_SavePoly $a 16384 0}
  {API_ChangeDBUnit $a one}
}

puts "== object commands as self"
API myapi
Tech mytech
run {
  {API_ExistLibrary myapi 0}
  {Tech_splitSize_set mytech 7}
  {API_tech_set myapi mytech}
  {Tech_splitSize_get [API_tech_get myapi]}
  {API_ExistLibrary mytech 0}
}
