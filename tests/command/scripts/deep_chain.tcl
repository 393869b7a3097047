# A chain of 100,000 nested cells with one shape in the innermost: loading
# it, OR over the top cell (flat and hierarchical, the hierarchical result
# stored with SaveDB), the library update, and the stored result and the
# chain read again in a new process. Every walk over the hierarchy must
# reach the bottom with memory of its own, never with one call per level.
# The placed shape is computed here independently, by applying the
# placements of all levels to its vertices.
#
# Every velmar run is a child process; this script prints only the results.
package require velmar
set scripts [lindex $argv 1]
source [file join $scripts .. .. .. examples gdsgen.tcl]
source [file join $scripts child_helpers.tcl]
source [file join $scripts polygon_files.tcl]
set levels 100000

# The leaf shape: an L of area 600.
set leaf {0 0 30 0 30 10 10 10 10 40 0 40}

# Placement of c(i-1) in c(i) (c(levels) is "top"): offset, angle, reflect.
proc placement {i} {
  list [expr {3 + $i % 5}] [expr {($i % 3) - 1}] \
      [expr {$i % 7 == 0 ? 90 : 0}] [expr {$i % 11 == 0}]
}

gdsgen::begin CHAIN
gdsgen::structure c0
gdsgen::boundary 1 0 $leaf
gdsgen::endstructure
for {set i 1} {$i <= $levels} {incr i} {
  gdsgen::structure [expr {$i == $levels ? "top" : "c$i"}]
  lassign [placement $i] x y angle reflect
  gdsgen::sref c[expr {$i - 1}] $x $y $angle $reflect
  gdsgen::endstructure
}
gdsgen::write chain.gds

# The leaf's vertices in the top cell: each level reflects about the x axis,
# turns counter-clockwise, then moves.
set placed {}
foreach {px py} $leaf {
  for {set i 1} {$i <= $levels} {incr i} {
    lassign [placement $i] x y angle reflect
    if {$reflect} { set py [expr {-$py}] }
    if {$angle == 90} { lassign [list [expr {-$py}] $px] px py }
    set px [expr {$px + $x}]
    set py [expr {$py + $y}]
  }
  lappend placed [list $px $py]
}
set expected [lsort $placed]

# The vertices of the polygons of a polygon text file ("" when there is no
# file), sorted, and their area (shoelace).
proc readPolygons {file} {
  if {![file exists $file]} { return [list 0 {}] }
  set twice 0
  set vertices {}
  foreach pts [polygonFileRings $file] {
    lassign [lrange $pts end-1 end] qx qy
    foreach {x y} $pts {
      incr twice [expr {$qx * $y - $x * $qy}]
      set qx $x
      set qy $y
      lappend vertices [list $x $y]
    }
  }
  return [list [expr {abs($twice) / 2}] [lsort $vertices]]
}

proc report {what file} {
  global expected
  lassign [readPolygons $file] area vertices
  puts "$what: area $area, vertices [expr {$vertices eq $expected ? "as placed" : "DIFFERENT: $vertices"}]"
}

file mkdir lib
run {
  API a
  a OpenLibrary lib 0
  a LoadGds chain.gds 0 ""
  a SetArea top 0 0 0 0
  a SavePoly [a OR 1 0] 0 flat.txt
  a configure -hierarchical 1
  a SavePoly [a OR 1 0] 0 hierarchical.txt
  a SaveDB [a OR 1 0] 0 2 0
  a UpdateLibrary
  a CloseLibraries
}
report "OR over the top" flat.txt
report "OR over the top, hierarchical" hierarchical.txt

# Read again in a new process: the stored result in the top cell, and the
# chain itself, loaded cell by cell on the way down.
run {
  API a
  a OpenLibrary lib 0
  a SetArea top 0 0 0 0
  a SavePoly [a OR 2 0] 0 stored.txt
  a SavePoly [a OR 1 0] 0 reopened.txt
  a configure -hierarchical 1
  a SavePoly [a OR 1 0] 0 reopened_hierarchical.txt
  a CloseLibraries
}
report "stored in the top cell" stored.txt
report "OR over the reopened chain" reopened.txt
report "OR over the reopened chain, hierarchical" reopened_hierarchical.txt
