# Cell edits: creating, renaming, placing (in all eight orientations),
# replacing and removing cells, checked in the running process and, after
# UpdateLibrary, in new processes that read the library back; then every
# failure of the edits, each in a process of its own, with its message and
# exit status.
#
# Every velmar run is a child process. A child prints its results on lines
# that begin with "= "; of a failing case everything after its set-up is
# shown.
package require velmar
set scripts [lindex $argv 1]
source [file join $scripts .. .. .. examples gdsgen.tcl]
source [file join $scripts polygon_files.tcl]
source [file join $scripts child_helpers.tcl]

# L: an L-shaped leaf on layer 1; B: a square leaf on layer 2. Two roots:
# top places L and B, top2 places B and L; C is a third leaf that top2
# places too.
set lShape {0 0 300 0 300 100 100 100 100 200 0 200}
gdsgen::begin LIB
gdsgen::structure L
gdsgen::boundary 1 0 $lShape
gdsgen::endstructure
gdsgen::structure B
gdsgen::rect 2 0 0 0 50 50
gdsgen::endstructure
gdsgen::structure C
gdsgen::rect 2 0 0 0 80 40
gdsgen::endstructure
gdsgen::structure top
gdsgen::sref L 0 0
gdsgen::sref B 1000 0
gdsgen::sref B 2000 0
gdsgen::endstructure
gdsgen::structure top2
gdsgen::sref B 0 0
gdsgen::sref L 500 500
gdsgen::sref C 900 900
gdsgen::endstructure
gdsgen::write edits.gds

# Runs script in a new velmar process; its status and what it printed
# after "--- ready".
proc child {script} { childRun child.tcl $script }

# Runs script and prints its "= " lines; any other status than 0 is shown.
proc results {title script} {
  lassign [child $script] status out
  puts "=== $title"
  foreach line [split $out \n] {
    if {[string match "= *" $line]} { puts $line }
  }
  if {$status != 0} { puts "status $status:\n$out" }
}

# Runs a case that is expected to fail and prints its output and status.
proc case {title script} {
  lassign [child $script] status out
  puts "=== $title (status $status)"
  if {$out ne ""} { puts $out }
}

# A fresh library holding edits.gds, written back.
set fresh {
  file delete -force lib
  file mkdir lib
  a OpenLibrary lib 0
  a LoadGds edits.gds 0 ""
  a UpdateLibrary
}
# The library as written, read back into a new process.
set reopen {
  a OpenLibrary lib 0
  a LoadLibraryInfo
}

# --- Creating and renaming ---------------------------------------------------
results "CreateCell and RenameCell" "$fresh
  set before \[a TotalCell]
  set id \[a CreateCell NEW]
  puts \"= CreateCell NEW returns \$id, TotalCell was \$before and is \[a TotalCell]\"
  puts \"= GetCellId NEW \[a GetCellId NEW]\"
  puts \"= RenameCell B BOX returns \[a RenameCell B BOX]\"
  puts \"= GetCellId B \[a GetCellId B], BOX \[a GetCellId BOX]\"
  puts \"= RenameCell BOX BOX returns \[a RenameCell BOX BOX], GetCellId BOX \[a GetCellId BOX]\"
  a UpdateLibrary
"
results "the names read back" "$reopen
  puts \"= cell 5 is \[a GetCellName 5], GetCellId NEW \[a GetCellId NEW]\"
  puts \"= GetCellId B \[a GetCellId B], BOX \[a GetCellId BOX], TotalCell \[a TotalCell]\"
"
set f [open lib/names]
puts "names file: [string map {\n " "} [string trim [read $f]]]"
close $f

# --- Placing in all eight orientations ------------------------------------------
# Point (x, y) of the child under orientation o, then moved by (dx, dy).
proc placePoint {x y o dx dy} {
  switch $o {
    0 { set p [list $x $y] }
    1 { set p [list [expr {-$y}] $x] }
    2 { set p [list [expr {-$x}] [expr {-$y}]] }
    3 { set p [list $y [expr {-$x}]] }
    4 { set p [list [expr {-$x}] $y] }
    5 { set p [list [expr {-$y}] [expr {-$x}]] }
    6 { set p [list $x [expr {-$y}]] }
    7 { set p [list $y $x] }
  }
  lassign $p px py
  return [list [expr {$px + $dx}] [expr {$py + $dy}]]
}
# The vertices of a flat coordinate list as a sorted list of points.
proc pointSet {coords} {
  set points {}
  foreach {x y} $coords { lappend points [list $x $y] }
  return [lsort $points]
}
# Bounding box {x1 y1 x2 y2} of a list of points.
proc boxOf {points} {
  set xs {}
  set ys {}
  foreach p $points { lappend xs [lindex $p 0]; lappend ys [lindex $p 1] }
  set xs [lsort -integer $xs]
  set ys [lsort -integer $ys]
  return [list [lindex $xs 0] [lindex $ys 0] [lindex $xs end] [lindex $ys end]]
}

set place {}
set offsets {}
for {set o 0} {$o < 8} {incr o} {
  set dx [expr {1000 + 700 * $o}]
  set dy [expr {-500 + 300 * $o}]
  lappend offsets [list $dx $dy]
  append place "
    a CreateCell P$o
    a AddInstance L P$o $dx $dy $o
    a AddInstance L Q $dx $dy $o
    a SetArea P$o 0 0 0 0
    puts \"= P$o box \[a GetAreaX1] \[a GetAreaY1] \[a GetAreaX2] \[a GetAreaY2]\"
    a SavePoly \[a OR 1 0] 0 p$o.txt
  "
}
lassign [child "$fresh
  a CreateCell Q
  puts \"--- ready\"
  $place
  a SetArea Q 0 0 0 0
  puts \"= Q box \[a GetAreaX1] \[a GetAreaY1] \[a GetAreaX2] \[a GetAreaY2]\"
"] status out
puts "=== AddInstance in eight orientations (status $status)"
foreach line [split $out \n] { if {[string match "= *" $line]} { set got([lindex $line 1]) [lrange $line 3 end] } }
set all {}
for {set o 0} {$o < 8} {incr o} {
  lassign [lindex $offsets $o] dx dy
  set expected {}
  foreach {x y} $lShape { lappend expected [placePoint $x $y $o $dx $dy] }
  set expected [lsort $expected]
  set all [concat $all $expected]
  set rings [polygonFileRings p$o.txt]
  set vertices [expr {[llength $rings] == 1 && [pointSet [lindex $rings 0]] eq $expected ? "match" : "DIFFER ($rings)"}]
  set box [expr {$got(P$o) eq [boxOf $expected] ? "match" : "DIFFERS ($got(P$o))"}]
  puts "orientation $o: vertices $vertices, parent box $box"
}
puts "Q, all eight placed: box [expr {$got(Q) eq [boxOf $all] ? "is the union of the placed boxes" : "DIFFERS ($got(Q))"}]"

results "placing into a leaf" "$fresh
  puts \"= TotalLeaf \[a TotalLeaf]\"
  a AddInstance L B 100 100 0
  puts \"= after placing L into B: TotalLeaf \[a TotalLeaf]\"
  a UpdateLibrary
"
results "the placement read back" "$reopen
  a SetArea B 0 0 0 0
  puts \"= B box \[a GetAreaX1] \[a GetAreaY1] \[a GetAreaX2] \[a GetAreaY2], TotalLeaf \[a TotalLeaf]\"
  a SavePoly \[a OR 1 0] 0 b.txt
"
puts "B holds: [polygonFileRings b.txt]"

# Saves layer 2 of top and of top2 to top.txt and top2.txt.
set saveLayer2 {
  a SetArea top 0 0 0 0
  a SavePoly [a OR 2 0] 0 top.txt
  a SetArea top2 0 0 0 0
  a SavePoly [a OR 2 0] 0 top2.txt
}

# --- Replacing -----------------------------------------------------------------------
lassign [child "$fresh
  puts \"--- ready\"
  puts \"= no match: \[a ReplaceCell C L top]\"
  puts \"= two matches: \[a ReplaceCell B C top]\"
  puts \"= nothing below L: \[a ReplaceCell B C L]\"
  a UpdateLibrary
"] status out
puts "=== ReplaceCell (status $status)\n$out"
results "top after the replacement, read back" "$reopen
$saveLayer2
"
puts "top, layer 2: [lsort [polygonFileRings top.txt]]"
puts "top2 (not below top), layer 2: [lsort [polygonFileRings top2.txt]]"

# --- Removing ------------------------------------------------------------------------
lassign [child "$fresh\nputs \"--- ready\"\nputs \"= \[a RemoveCell B top]\"\nputs \"= GetCellId B \[a GetCellId B]\"\na UpdateLibrary"] status out
puts "=== RemoveCell B top (status $status)\n$out"
results "B below top removed, read back" "$reopen
$saveLayer2
  puts \"= GetCellId B \[a GetCellId B]\"
"
puts "top, layer 2: [polygonFileRings top.txt]; top2, layer 2: [lsort [polygonFileRings top2.txt]]"

# The roots go stale once top2 is placed in top: B must still leave top2.
lassign [child "$fresh\nputs \"--- ready\"\na AddInstance top2 top 10000 0 0\nputs \"= \[a RemoveCell B {}]\"\nputs \"= GetCellId B \[a GetCellId B], TotalCell \[a TotalCell]\"\na UpdateLibrary"] status out
puts "=== RemoveCell B {} (status $status)\n$out"
set f [open lib/names]
puts "names file: [string map {\n " "} [string trim [read $f]]]"
close $f
results "B removed, read back" "$reopen
  puts \"= GetCellId B \[a GetCellId B], TotalRoot \[a TotalRoot], root \[a GetRootName 0]\"
  a LoadLibraryAll 0
  a SetArea top 0 0 0 0
  a SavePoly \[a OR 2 0] 0 top.txt
"
puts "top, layer 2: [lsort [polygonFileRings top.txt]]"

# --- Failures -------------------------------------------------------------------------
foreach {title call} {
  "CreateCell without a library" {a CreateCell X}
  "RenameCell without a library" {a RenameCell X Y}
  "AddInstance without a library" {a AddInstance X Y 0 0 0}
  "ReplaceCell without a library" {a ReplaceCell X Y Z}
  "RemoveCell without a library" {a RemoveCell X ""}
} {
  case $title $call
}
foreach {title call} {
  "CreateCell of an existing name" {a CreateCell L}
  "CreateCell of an empty name" {a CreateCell ""}
  "CreateCell of a name with a newline" {a CreateCell "a\nb"}
  "CreateCell of the free-id marker" {a CreateCell empty}
  "RenameCell of an unknown cell" {a RenameCell X Y}
  "RenameCell to another cell's name" {a RenameCell L B}
  "RenameCell to an empty name" {a RenameCell L ""}
  "AddInstance of an unknown child" {a AddInstance X top 0 0 0}
  "AddInstance into an unknown parent" {a AddInstance L X 0 0 0}
  "AddInstance with orientation 8" {a AddInstance L top 0 0 8}
  "AddInstance with orientation -1" {a AddInstance L top 0 0 -1}
  "AddInstance of a cell into itself" {a AddInstance top top 0 0 0}
  "AddInstance of a cell into a cell below it" {a AddInstance top L 0 0 0}
  "AddInstance beyond the coordinate range" {a AddInstance L top 2147483600 0 0}
  "ReplaceCell of an unknown old cell" {a ReplaceCell X L top}
  "ReplaceCell by an unknown cell" {a ReplaceCell L X top}
  "ReplaceCell below an unknown parent" {a ReplaceCell L B X}
  "ReplaceCell placing a cell inside itself" {a ReplaceCell L top top}
  "RemoveCell of an unknown cell" {a RemoveCell X top}
  "RemoveCell below an unknown parent" {a RemoveCell L X}
} {
  case $title "$fresh\nputs \"--- ready\"\n$call\nputs \"not reached\""
}
