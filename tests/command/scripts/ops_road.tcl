# The road of one request: a GDSII layout loaded into a library, a working
# cell and area, booleans into temporary layers (numbered 16384 down), the
# echo with reportDegree, and temporary layers as inputs: datatype 1 copies,
# datatype 0 moves.
#
# Flat layout (nm): layer {1 0}: (0,0)-(100,50) and the leaf's (0,0)-(30,40)
# placed at (200,0) turned 90 degrees: (160,0)-(200,30). Layer {2 0}:
# (50,0)-(150,50) and the leaf's (0,20)-(30,60) placed: (140,0)-(180,30).
fconfigure stdout -buffering line
source [file join [lindex $argv 1] ops_layout.tcl]
package require velmar
gds_write road.gds {
  {top {{box 1 0 0 0 100 50} {box 2 0 50 0 150 50} {sref leaf 200 0 90 0}}}
  {leaf {{box 1 0 0 0 30 40} {box 2 0 0 20 30 60}}}
}
make_library lib road.gds

API a
set t [a cget -tech]
a OpenLibrary lib 0
puts "SetArea: [a SetArea top 0 0 0 0]"
puts "area in database units: [a GetPureAreaX1] [a GetPureAreaY1]\
 [a GetPureAreaX2] [a GetPureAreaY2]"

$t configure -reportDegree 1
puts "AND returned [a AND 1 0 2 0]"
$t configure -reportDegree 0
set results [list AND 16384]
lappend results OR [a OR 1 0 2 0]
lappend results XOR [a XOR 1 0 2 0]
lappend results DIFF [a DIFF 1 0 2 0]
lappend results OR1 [a OR 1 0]
lappend results AND1 [a AND 1 0]
puts "layers: $results"

# A temporary layer given with datatype 1 is copied and stays; with
# datatype 0 it is moved and left empty.
$t configure -reportDegree 1
puts "copy: [a OR 16384 1]"
puts "move: [a OR 16384 0]"
puts "after the move: [a OR 16384 1]"
lappend results {AND moved} 16377
a configure -_edge 1
puts "edge pieces: [a OR 1 0]"
a configure -_edge 0
$t configure -reportDegree 0

# The newest layer leaves the vector when reset: its number comes back.
a ResetTempLayer 16375
puts "next layer: [a GetTempLayer]"

foreach {name layer} $results {
  set f [string map {" " _} [string tolower $name]].txt
  puts "$name {$layer 0}: SavePoly [a SavePoly $layer 0 $f]: [poly_summary $f]"
}
# Closing writes nothing that UpdateLibrary did not; the loaded cells go.
a CloseLibraries
