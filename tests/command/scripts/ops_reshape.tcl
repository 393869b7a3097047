# Inverse and MergeLayers through the shell: the free space of the area
# (holes of the layer belong to it; an empty layer gives the area box; with
# areaMargin nothing reaches past the area), the union of the operation
# layers (every layer when none is set; a layer of datatype 200 is reported
# with its datatype), and their preconditions.
#
# Layout (nm), cell top: layer {1 0} (0,0)-(100,100) and (150,0)-(200,50);
# layer {2 0} (50,50)-(170,120); layer {5 200} (300,0)-(310,10); a leaf
# placed at (0,200) holds {1 0} (0,0)-(40,40).
fconfigure stdout -buffering line
set scripts [lindex $argv 1]
source [file join $scripts ops_layout.tcl]
source [file join $scripts child_helpers.tcl]
package require velmar
gds_write reshape.gds {
  {top {{box 1 0 0 0 100 100} {box 1 0 150 0 200 50} {box 2 0 50 50 170 120}
        {box 5 200 300 0 310 10} {sref leaf 0 200 0 0}}}
  {leaf {{box 1 0 0 0 40 40}}}
}
make_library lib reshape.gds

API a
set t [a cget -tech]
a OpenLibrary lib 0
a SetArea top -10 -10 320 250

# Each result is written at once: a polygon file is clipped to the area.
proc show {name layer} {
  set f [string map {" " _ "," "" "\{" "" "\}" ""} $name].txt
  puts "$name {$layer 0}: [a SavePoly $layer 0 $f] [poly_summary $f]"
}

$t configure -reportDegree 1
show inverse [a Inverse 1 0]
a AddOpLayer 1 0
a AddOpLayer 2 0
show {merge of {1 0} {2 0}} [a MergeLayers]
a ResetOpLayers
show {merge of every layer} [a MergeLayers]
$t configure -reportDegree 0
show {inverse of a missing layer} [a Inverse 9 0]
# Layer {1 0} less itself shrunk by 30: the square (0,0)-(100,100) becomes
# a frame around the hole (30,30)-(70,70), the others stay whole; the hole
# is free space.
set frame [a DIFF 1 0 [a SIZING 1 0 -30] 0]
show {inverse of a layer with holes} [a Inverse $frame 1]
# With a margin: an area inside the first square is covered, nothing is
# free; the free space of an area beside it stays inside the area.
$t configure -areaMargin 20
a SetArea top 10 10 60 60
show {inverse of a covered area} [a Inverse 1 0]
a SetArea top 90 40 160 60
show {inverse with a margin} [a Inverse 1 0]
a AddOpLayer 1 0
show {merge with a margin} [a MergeLayers]
a SetArea top 250 150 290 190
$t configure -reportDegree 1
show {merge of no shape} [a MergeLayers]
a CloseLibraries

# Preconditions: each ends the process with status 1.
foreach {what script} {
  "Inverse without a library" {a Inverse 1 0}
  "MergeLayers without a library" {a MergeLayers}
  "Inverse without a working area" {a OpenLibrary lib 0; a Inverse 1 0}
  "MergeLayers without a working area" {a OpenLibrary lib 0; a MergeLayers}
  "Inverse of a temporary layer that does not exist" {
    a OpenLibrary lib 0; a SetArea top 0 0 0 0; a Inverse 16000 0
  }
} {
  lassign [childRun case.tcl $script] status out
  puts "=== $what: exit status $status\n$out"
}
