# Every precondition of the working area, the temporary layers and the
# boolean and relational operations that ends the process: each case runs
# in a process of its own; its output and exit status are shown.
fconfigure stdout -buffering line
set scripts [lindex $argv 1]
source [file join $scripts ops_layout.tcl]
gds_write pre.gds {
  {top {{box 1 0 0 0 100 50} {box 2 0 50 0 150 50} {sref leaf 200 0 0 0}}}
  {leaf {{box 1 0 0 0 30 40}}}
}
make_library lib pre.gds
file mkdir empty

# A case ends the process at once, its library still loaded: under the
# address sanitizer the leak check at exit would count the library's memory
# (its pools are released at exit while it still points into them).
if {[info exists env(ASAN_OPTIONS)]} {
  append env(ASAN_OPTIONS) :detect_leaks=0
} else {
  set env(ASAN_OPTIONS) detect_leaks=0
}

# mask 1: the message after the unit tag of an "ERROR: UNIT: " line is
# not compared (it is the library's own).
proc run {what body {mask 0}} {
  global scripts
  set code 0
  if {[catch {exec [info nameofexecutable] \
                 [file join $scripts ops_case_child.tcl] $scripts $body} out opts]} {
    set ec [dict get $opts -errorcode]
    if {[lindex $ec 0] eq "CHILDSTATUS"} {set code [lindex $ec 2]} else {set code $ec}
  }
  regsub {\n?child process exited abnormally$} $out {} out
  if {$mask} {regsub -all -line {^(ERROR: [A-Za-z]+: ).*$} $out {\1<message>} out}
  puts "=== $what: exit status $code"
  puts $out
}

set area {a OpenLibrary lib 0; a SetArea top 0 0 0 0}

run "boolean without a library" {
  $t configure -reportDegree 1
  a AND 1 0 2 0
}
run "SetArea without a library" {a SetArea top 0 0 10 10}
run "query without a library" {a TotalCell}
run "boolean without a working area" {
  a OpenLibrary lib 0
  a XOR 1 0 2 0
}
run "relate without a working area" {
  a OpenLibrary lib 0
  a Relate 1 0 2 0
}
run "working cell of a library opened since" "$area
  a OpenLibrary empty 0
  a DIFF 1 0 2 0
"
run "relational selection on a library layer" "$area
  a SIN 1 0
"
run "relational selection on a layer that is no relational database" "$area
  a SOUT \[a OR 1 0\] 0
"
run "append of a library layer" {a Append 16384 0 1 0}
run "temporary layer that does not exist" "$area
  a OR 1 0
  a AND 16383 0 1 0
"
run "reset of a temporary layer that does not exist" {
  a GetTempLayer
  a ResetTempLayer 16384
  a ResetTempLayer 16384
}
run "next leaf without a working cell" {
  a OpenLibrary lib 0
  a GetNextLeaf
}
# Layer arguments that name no layer end the process like a temporary layer
# number above the last: a negative layer number (also as the second layer
# of a two-layer operation, which must not become a one-layer one), and a
# library layer whose datatype lies outside 0..255.
foreach {what call} {
  "negative first layer"                   {AND -1 0 1 0}
  "negative second layer"                  {AND 1 0 -1 0}
  "negative second layer of a relation"    {Relate 1 0 -5 0}
  "negative datatype"                      {OR 1 -1}
  "negative datatype of the second layer"  {DIFF 1 0 2 -3}
  "datatype above 255"                     {XOR 1 0 2 256}
} {
  run "layer argument: $what" "$area; puts \[a $call]"
}
# A temporary layer's datatype only chooses between moving and copying.
run "layer argument: temporary layer with a negative datatype" "$area
  set t \[a OR 1 0]
  puts \"\[a OR \$t -1] \[a OR \$t 0]\"
"
# An Error of the library (a damaged cell data file) inside a layer
# operation ends the process after its message.
file copy lib damaged
set f [open damaged/db1 r+]
fconfigure $f -translation binary
seek $f 10
puts -nonewline $f [string repeat \xff 40]
close $f
run "damaged cell data in a boolean" {
  a OpenLibrary damaged 0
  a SetArea top 0 0 0 0
  a AND 1 0 2 0
} 1
