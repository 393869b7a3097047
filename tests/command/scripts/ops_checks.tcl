# SPACE, WIDTH and ENC through the shell: echo, violation line, resulting
# layer and the counters in the update summary; SPACE of one layer and of
# two; WIDTH of one shape drawn at two places (one violation at each); ENC
# of an enclosed shape with margins below the rule and of a shape outside
# the enclosing layer; empty input; the area margin, which finds a
# violation across the area border and cuts it back to the area; the
# hierarchical mode; the wrong word counts of API_SPACE; and the checks
# that end the process (no library, no area, a negative amount).
#
# Layout (nm): {1 0} squares (0,0)-(10,10) and (14,0)-(24,10) (gap 4);
# {5 0} (27,0)-(35,10) (gap 3 to the second square); {2 0} the bar
# (0,30)-(40,33) of cell bar, placed at (0,0) and (100,0); {3 0}
# (0,50)-(40,90) enclosing {4 0} (3,53)-(37,87) (margins 3) and {4 0}
# (60,50)-(70,60) outside it; {6 0} the triangle (0,100)-(20,100)-(0,120)
# (its acute corners narrower than 5) and {7 0} (14,110)-(24,120), 2.8
# from the triangle's diagonal, to the right of the diagonal's lower end.
fconfigure stdout -buffering line
set scripts [lindex $argv 1]
source [file join $scripts ops_layout.tcl]
source [file join $scripts child_helpers.tcl]
package require velmar
gds_write checks.gds {
  {top {{box 1 0 0 0 10 10} {box 1 0 14 0 24 10} {box 5 0 27 0 35 10}
        {box 3 0 0 50 40 90} {box 4 0 3 53 37 87} {box 4 0 60 50 70 60}
        {poly 6 0 0 100 20 100 0 120} {box 7 0 14 110 24 120}
        {sref bar 0 0 0 0} {sref bar 100 0 0 0}}}
  {bar {{box 2 0 0 30 40 33}}}
}
make_library lib checks.gds

API a
set t [a cget -tech]
a OpenLibrary lib 0
a SetArea top 0 0 0 0

$t configure -reportDegree 1
set results [list {SPACE {1 0} 5} [API_SPACE a 1 0 5 2]]
lappend results {SPACE {1 0} {5 0} 5} [a SPACE 1 0 5 0 5 0]
lappend results {WIDTH {2 0} 5 kind 2} [a WIDTH 2 0 5 2]
lappend results {ENC {4 0} {3 0} 5} [API_Enc a 4 0 3 0 5 0]
puts "missing layer: [a SPACE 9 0 5 0]"
$t configure -reportDegree 0
lappend results {WIDTH {2 0} 5 kind 0} [API_WIDTH a 2 0 5 0]
lappend results {SPACE {1 0} 4: the gap at the rule} [a SPACE 1 0 4 0]
lappend results {ENC {4 0} {3 0} 0: the outside shape} [a Enc 4 0 3 0 0 2]
# 45-degree edges: the band checks find the acute corners and the square
# facing the diagonal.
foreach {what layer} [list {WIDTH {6 0} kind 0} [a WIDTH 6 0 5 0] \
                          {WIDTH {6 0} kind 2} [a WIDTH 6 0 5 2] \
                          {SPACE {6 0} {7 0}} [a SPACE 6 0 7 0 5 2] \
                          {SPACE {6 0} {7 0} at 2} [a SPACE 6 0 7 0 2 2]] {
  set f diag$layer.txt
  a SavePoly $layer 0 $f
  puts "$what: [lindex [poly_summary $f] 0] polygons"
}
a ReportCount

# The area holds the left square and part of the gap; the margin brings in
# the right square: the region is found and cut back to the area.
$t configure -areaMargin 20
a SetArea top 0 0 12 10
lappend results {SPACE across the area border} [a SPACE 1 0 5 2]
a SetArea top 0 0 5 5
$t configure -reportDegree 1
lappend results {SPACE wholly outside the area} [a SPACE 1 0 5 2]
$t configure -reportDegree 0
$t configure -areaMargin 0
a SetArea top 0 0 0 0

# Hierarchical: cut to the operation layer {1 0} grown by the distance.
a configure -hierarchical 1
a AddOpLayer 1 0
lappend results {hier SPACE {1 0} {5 0} 5} [a SPACE 1 0 5 0 5 2]
a configure -hierarchical 0

foreach {name layer} $results {
  set f [string map {" " _ "," "" "\{" "" "\}" "" ":" ""} $name].txt
  puts "$name {$layer 0}: [a SavePoly $layer 0 $f] [poly_summary $f]"
}
puts "5 words: [catch {API_SPACE a 1 0 5} msg] $msg"
puts "7 words: [catch {API_SPACE a 1 0 5 0 5} msg] $msg"
a UpdateLibrary
a CloseLibraries

set setup "set t \[a cget -tech\]\n"
foreach {what body} {
  "SPACE without a library" {a SPACE 1 0 5 0}
  "WIDTH without an area" {a OpenLibrary lib 0; a WIDTH 2 0 5 0}
  "negative SPACE" {a OpenLibrary lib 0; a SetArea top 0 0 0 0; $t configure -reportDegree 1; a SPACE 1 0 -5 0}
  "negative WIDTH" {a OpenLibrary lib 0; a SetArea top 0 0 0 0; a WIDTH 2 0 -1 2}
  "negative ENC" {a OpenLibrary lib 0; a SetArea top 0 0 0 0; a Enc 4 0 3 0 -5 0}
} {
  lassign [childRun case.tcl "$setup$body\nputs {not ended}"] status out
  puts "=== $what: exit status $status"
  puts $out
}
