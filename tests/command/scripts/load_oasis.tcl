# LoadOasis: its report, the prefix, the operation-layer filter and the
# layer map, a load into a library that holds a GDSII load (both intact
# after UpdateLibrary and reopening in another process), a missing file and
# the refusal of a CBLOCK, which leaves the library's files unchanged.
fconfigure stdout -buffering line
set scripts [lindex $argv 1]
source [file join $scripts ops_layout.tcl]
source [file join $scripts oasis_layout.tcl]
package require velmar

set cells {
  {leaf {{rect 1 0 0 0 100 100} {rect 2 0 0 0 50 50}}}
  {top {{place leaf 200 200} {row leaf 0 1000 3 300} {rect 3 0 0 0 2000 2000}}}
}
oas_write a.oas $cells
oas_write bad.oas [list {other {{rect 1 0 0 0 10 10} {cblock}}}]
gds_write base.gds {
  {gleaf {{box 5 0 0 0 10 10}}}
  {gtop {{sref gleaf 20 20 0 0}}}
}

proc slurp {path} {
  set f [open $path]
  fconfigure $f -translation binary
  set data [read $f]
  close $f
  return $data
}
proc names {api} {
  set names {}
  for {set i 0} {$i < [$api TotalCell]} {incr i} { lappend names [$api GetCellName $i] }
  return $names
}
# Area of a layer over a cell's box, through SavePoly.
proc area {api cell layer} {
  $api SetArea $cell 0 0 0 0
  set t [$api OR $layer 0]
  file delete area.txt
  $api SavePoly $t 0 area.txt
  return [poly_summary area.txt]
}

puts "=== into a library holding a GDSII load"
make_library lib base.gds
API a
a OpenLibrary lib 0
puts "result [a LoadOasis a.oas {}]"
a UpdateLibrary
puts "cells: [names a]"

puts "=== reopened in another process"
set f [open check.tcl w]
puts $f {
  source [file join [lindex $argv 0] ops_layout.tcl]
  package require velmar
  API c
  c configure -areaIter 2 -areaReportIter 0
  c OpenLibrary lib 0
  c LoadLibraryInfo
  foreach {cell layer} {top 1 top 2 top 3 leaf 1 gtop 5} {
    c SetArea $cell 0 0 0 0
    set t [c OR $layer 0]
    file delete area.txt
    c SavePoly $t 0 area.txt
    puts "$cell layer $layer: [poly_summary area.txt]"
  }
}
close $f
puts [exec [info nameofexecutable] check.tcl $scripts | grep -E "layer|ERROR"]

puts "=== prefix, operation layers and layer map"
file mkdir lib2
API b
b OpenLibrary lib2 0
b AddOpLayer 1 0
b AddOpLayer 2 0
b AddLayerMap 2 0 7 0
puts "result [b LoadOasis a.oas p_]"
puts "cells: [names b]"

puts "=== missing file"
puts "result [a LoadOasis missing.oas {}]"

puts "=== CBLOCK"
set before {}
foreach name {names info parents} { lappend before [slurp lib/$name] }
puts "result [a LoadOasis bad.oas {}]"
set same 1
foreach name {names info parents} old $before {
  if {[slurp lib/$name] ne $old} { set same 0 }
}
puts "files unchanged: $same, cells: [names a]"
