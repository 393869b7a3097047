# SIZING through the shell: growing and shrinking a layer whose shapes come
# from two cells (abutting rectangles size as their union), a shape shrunk
# away, a missing layer, no clipping to the area box even with areaMargin,
# and the hierarchical mode, where the result is cut to the area's
# operation layers sized alike.
#
# Layout (nm): layer {1 0}: (0,0)-(100,50) in top and the leaf's
# (0,0)-(100,50) placed at (100,0), together (0,0)-(200,50). Layer {2 0}:
# (0,0)-(60,50). Layer {3 0}: (0,0)-(10,10).
fconfigure stdout -buffering line
source [file join [lindex $argv 1] ops_layout.tcl]
package require velmar
gds_write sizing.gds {
  {top {{box 1 0 0 0 100 50} {box 2 0 0 0 60 50} {box 3 0 0 0 10 10}
        {sref leaf 100 0 0 0}}}
  {leaf {{box 1 0 0 0 100 50}}}
}
make_library lib sizing.gds

API a
set t [a cget -tech]
a OpenLibrary lib 0
a SetArea top 0 0 0 0

$t configure -reportDegree 1
set results [list grown [a SIZING 1 0 10]]
puts "missing layer: [a SIZING 9 0 10]"
$t configure -reportDegree 0
lappend results shrunk [a SIZING 1 0 -10]
lappend results {shrunk away} [a SIZING 3 0 -5]
# A temporary layer is sized as it is (moved in with datatype 0).
lappend results {grown twice} [a SIZING [a SIZING 2 0 5] 0 5]

# An area inside the shapes with a margin: the sized shapes reach beyond
# the area box and are kept whole.
$t configure -areaMargin 5
a SetArea top 0 0 30 30
lappend results {beyond the area} [a SIZING 2 0 10]
$t configure -areaMargin 0
a SetArea top 0 0 0 0

# Hierarchical: cut to the operation layers, sized by the same amount.
a configure -hierarchical 1
a AddOpLayer 1 0
lappend results {hier shrunk} [a SIZING 1 0 -10]
a ResetOpLayers
a AddOpLayer 2 0
lappend results {hier grown, cut to {2 0}} [a SIZING 1 0 10]
a configure -hierarchical 0

foreach {name layer} $results {
  set f [string map {" " _ "," "" "\{" "" "\}" ""} $name].txt
  puts "$name {$layer 0}: [a SavePoly $layer 0 $f] [poly_summary $f]"
}
a CloseLibraries
