# A GDSII load that fails part way (the file cut short) leaves the library
# as it was before: cell count, layer table and the index files on disk;
# cells it had in memory, modified or not, keep their contents. Data files
# the failed loads wrote stay unreferenced, and the next load takes the next
# free number. A load refused in the library head writes no data file.
fconfigure stdout -buffering line
source [file join [lindex $argv 1] ops_layout.tcl]
package require velmar

gds_write a.gds {
  {leafA {{box 1 0 0 0 100 100}}}
  {top {{box 2 0 0 0 500 500} {sref leafA 200 200 0 0}}}
}
# The second file adds layers 3..6 and cells, redefines leafA, and places
# leafC before defining it.
gds_write b.gds {
  {leaf2 {{box 3 0 0 0 50 50}}}
  {leafA {{box 4 0 0 0 300 300} {box 1 0 0 0 10 10}}}
  {newtop {{sref leafA 0 0 0 0} {sref leafC 1000 0 0 0} {sref leaf2 0 900 0 0} {box 5 0 0 0 40 40}}}
  {leafC {{box 6 0 0 0 20 20}}}
}

proc slurp {path {binary 1}} {
  set f [open $path]
  if {$binary} { fconfigure $f -translation binary }
  set data [read $f]
  close $f
  return $data
}

# Offsets of the records of a GDSII file: a list of {offset type}.
proc records {path} {
  set data [slurp $path]
  set list {}
  set at 0
  while {$at + 4 <= [string length $data]} {
    binary scan [string range $data $at [expr {$at + 3}]] Sucu length type
    lappend list [list $at $type]
    incr at $length
  }
  return $list
}

# Offset of the n-th (from 0) record of the given type, plus extra bytes.
proc recordAt {recs type n extra} {
  foreach r $recs {
    if {[lindex $r 1] == $type && [incr seen] > $n} { return [expr {[lindex $r 0] + $extra}] }
  }
  error "no record $type #$n"
}

set b [slurp b.gds]
set recs [records b.gds]
# type 3 UNITS, 8 BOUNDARY, 10 SREF, 16 XY, 4 ENDLIB
set cuts [list \
  "inside UNITS"                    [recordAt $recs 3 0 10] \
  "inside the first structure"      [recordAt $recs 8 0 6] \
  "inside the redefinition of leafA" [recordAt $recs 16 2 12] \
  "inside a placement of newtop"    [recordAt $recs 10 1 8] \
  "inside the last structure"       [recordAt $recs 16 6 4] \
  "inside ENDLIB"                   [expr {[string length $b] - 2}]]

proc cut {offset} {
  set f [open cut.gds wb]
  puts -nonewline $f [string range $::b 0 [expr {$offset - 1}]]
  close $f
}

make_library lib a.gds
API a
a configure -areaIter 2 -areaReportIter 0
a OpenLibrary lib 0
a LoadLibraryInfo
set files {}
foreach name {names info parents} { lappend files [slurp lib/$name] }

proc state {} {
  set layers {}
  foreach l {1 2 3 4 5 6 9} { lappend layers "$l:[a LayerExist $l 0]" }
  set names {}
  for {set i 0} {$i < [a TotalCell]} {incr i} { lappend names [a GetCellName $i] }
  a SetArea leafA 0 0 0 0
  set box "[a GetAreaX1] [a GetAreaY1] [a GetAreaX2] [a GetAreaY2]"
  return "cells [a TotalCell] {$names}, roots [a TotalRoot], layers $layers, leafA $box"
}
proc filesUnchanged {} {
  set same 1
  foreach name {names info parents} old $::files {
    if {[slurp lib/$name] ne $old} { set same 0; puts "  $name changed" }
  }
  return $same
}
# Area of a library layer over leafA (the cell's own shapes).
proc leafArea {layer} {
  a SetArea leafA 0 0 0 0
  set t [a OR $layer 0]
  file delete area.txt
  a SavePoly $t 0 area.txt
  a UpdateLibrary
  return [poly_summary area.txt]
}

puts "before: [state]"
set before [state]
foreach {what offset} $cuts {
  cut $offset
  puts "=== cut $what"
  set result [a LoadGds cut.gds 0 ""]
  puts "=== result $result, state unchanged: [expr {[state] eq $before}],\
 files unchanged: [filesUnchanged]"
}
puts "data files: [lsort -dictionary [glob -tails -directory lib db*]]"

# leafA holds an unsaved result on layer 9 when loads that redefine it fail.
a configure -hierarchical 1
a SetArea leafA 0 0 0 0
a SaveDB [a OR 1 0] 0 9 0
a configure -hierarchical 0
foreach {what offset} [lrange $cuts 4 9] {
  cut $offset
  puts "=== cut $what, result [a LoadGds cut.gds 0 {}]"
}
puts "leafA layer 9: [leafArea 9]; layer 1: [leafArea 1]"

# The whole file now loads as it does into a library that never saw a
# failed load.
puts "=== whole file"
puts "result [a LoadGds b.gds 0 {}]"
puts "after: [state]"
make_library fresh a.gds
API f
f OpenLibrary fresh 0
f LoadGds b.gds 0 ""
foreach name {names parents} {
  puts "$name as in a library without failed loads: [expr {[slurp lib/$name] eq [slurp fresh/$name]}]"
}
puts "data files: [lsort -dictionary [glob -tails -directory lib db*]]"
