# Relational databases: Relate classifies two layers into a temporary
# layer; each selection copies from it into a new layer and leaves it as it
# was, so one database serves many selections. _not takes the complement
# among the same candidates, _edge gives single edges. Append joins two
# temporary layers.
#
# Layer {1 0}: a square inside the layer {2 0} square (0,0)-(100,100), one
# crossing its right side, one outside; layer {2 0} also has a square
# outside everything.
fconfigure stdout -buffering line
source [file join [lindex $argv 1] ops_layout.tcl]
package require velmar
gds_write rel.gds {
  {top {
    {box 2 0 0 0 100 100} {box 2 0 300 300 320 320}
    {box 1 0 20 20 40 40} {box 1 0 90 20 130 40} {box 1 0 200 0 210 10}
  }}
}
make_library lib rel.gds

API a
set t [a cget -tech]
a OpenLibrary lib 0
a configure -areaIter 2
a SetArea top 0 0 0 0

$t configure -reportDegree 1
set db [a Relate 1 0 2 0]
a configure -_not 1
puts "NOT SIN: [a SIN $db 7]"
a configure -_not 0
$t configure -reportDegree 0

set results [list "NOT SIN" 16383]
foreach op {SIN SIN2 SOUT SOUT2 INSIDE OUTSIDE OUTSIDE2 OVER OVER2 TIN TOUT
            ROR RAND RDIFF RDIFF2 RXOR} {
  lappend results $op [a $op $db 0]
}
# Edge by edge: the four edges of the inside square and the three pieces
# of the crossing square's edges that lie inside, as 2-point pieces.
a configure -_edge 1
$t configure -reportDegree 1
set edges [a SIN $db 0]
$t configure -reportDegree 0
a configure -_edge 0

# The database is still whole: the first selection once more.
lappend results "SIN again" [a SIN $db 0]
foreach {name layer} $results {
  set f [string map {" " _} [string tolower $name]].txt
  a SavePoly $layer 0 $f
  puts "$name {$layer 0}: [poly_summary $f]"
}

# Append: 16380 and the newest layer into one; the newest number returns.
set last [a GetTempLayer]
a ResetTempLayer $last
set x [a OR 1 0]
set y [a OR 2 0]
puts "Append $x $y: [a Append $x 0 $y 0], next layer [a GetTempLayer] (was $y)"
a SavePoly $x 0 joined.txt
puts "joined: [poly_summary joined.txt]"
