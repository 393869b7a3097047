# End to end: a generated two-level GDSII layout (arrays, rotated and
# mirrored placements) is loaded; OR, AND, XOR and DIFF over the whole top
# cell are written with SavePoly and their areas compared with an
# independent rasterisation of the layout's rectangles; the results are
# stored into the top cell (hierarchically and through the temporary
# database), the library is written back and reopened in a new process,
# where the stored layers must cover the same areas. A larger layout checks
# the set identities between the four operations.
#
# Every velmar run is a child process; this script prints only the results.
package require velmar
set scripts [lindex $argv 1]
source [file join $scripts .. .. .. examples gdsgen.tcl]
source [file join $scripts child_helpers.tcl]
source [file join $scripts polygon_files.tcl]

# --- Independent areas -----------------------------------------------------

# Areas covered by the union, the intersection, the exclusive or and the
# difference of two box lists: the plane is cut at every box side and each
# cut cell is classified by the boxes covering it (2-D difference counts
# and prefix sums).
proc rasterAreas {boxesA boxesB} {
  set xs {}
  set ys {}
  foreach b [concat $boxesA $boxesB] {
    lassign $b x1 y1 x2 y2
    lappend xs $x1 $x2
    lappend ys $y1 $y2
  }
  set xs [lsort -integer -unique $xs]
  set ys [lsort -integer -unique $ys]
  set nx [llength $xs]
  set ny [llength $ys]
  set i 0
  foreach x $xs { set ix($x) $i; incr i }
  set i 0
  foreach y $ys { set iy($y) $i; incr i }
  foreach name {A B} boxes [list $boxesA $boxesB] {
    set grid [lrepeat [expr {$nx * $ny}] 0]
    foreach b $boxes {
      lassign $b x1 y1 x2 y2
      foreach {x y d} [list $ix($x1) $iy($y1) 1 $ix($x2) $iy($y1) -1 \
                            $ix($x1) $iy($y2) -1 $ix($x2) $iy($y2) 1] {
        set k [expr {$y * $nx + $x}]
        lset grid $k [expr {[lindex $grid $k] + $d}]
      }
    }
    for {set y 0} {$y < $ny} {incr y} {
      for {set x 0} {$x < $nx} {incr x} {
        set k [expr {$y * $nx + $x}]
        set v [lindex $grid $k]
        if {$x > 0} { incr v [lindex $grid [expr {$k - 1}]] }
        if {$y > 0} { incr v [lindex $grid [expr {$k - $nx}]] }
        if {$x > 0 && $y > 0} { incr v [expr {-[lindex $grid [expr {$k - $nx - 1}]]}] }
        lset grid $k $v
      }
    }
    set cover($name) $grid
  }
  set or 0; set and 0; set xor 0; set diff 0
  for {set y 0} {$y < $ny - 1} {incr y} {
    set h [expr {[lindex $ys [expr {$y + 1}]] - [lindex $ys $y]}]
    for {set x 0} {$x < $nx - 1} {incr x} {
      set k [expr {$y * $nx + $x}]
      set a [expr {[lindex $cover(A) $k] > 0}]
      set b [expr {[lindex $cover(B) $k] > 0}]
      if {!$a && !$b} continue
      set area [expr {([lindex $xs [expr {$x + 1}]] - [lindex $xs $x]) * $h}]
      incr or $area
      if {$a && $b} { incr and $area } else { incr xor $area }
      if {$a && !$b} { incr diff $area }
    }
  }
  return [dict create OR $or AND $and XOR $xor DIFF $diff]
}

# Twice the signed area of every polygon of a polygon text file (shoelace),
# halved; 0 when the file does not exist (an empty result writes none).
proc fileArea {file} {
  if {![file exists $file]} { return 0 }
  set twice 0
  foreach pts [polygonFileRings $file] {
    lassign [lrange $pts end-1 end] px py
    foreach {x y} $pts {
      incr twice [expr {$px * $y - $x * $py}]
      set px $x
      set py $y
    }
  }
  return [expr {$twice / 2}]
}

# --- The small layout: areas against the rasterisation ---------------------

set placements {
  {1000 0 0 0}
  {3000 1000 90 0}
  {2000 4000 180 0}
  {0 3000 270 1}
  {1000 -500 0 1}
  {4500 0 0 0 3 2 1200 0 0 1100}
  {9000 3000 90 0 2 2 0 1100 -1200 0}
}
set small [gdsgen::randomLayout small.gds 7 25 1000 20 4000 10 300 $placements]
set expected [rasterAreas [gdsgen::flatBoxes $small 1] [gdsgen::flatBoxes $small 2]]

file mkdir lib
run {
  API a
  a OpenLibrary lib 0
  a LoadGds small.gds 0 ""
  a SetArea top 0 0 0 0
  foreach op {OR AND XOR DIFF} {
    a SavePoly [a $op 1 0 2 0] 0 [string tolower $op].txt
  }
  # Stored into the working cell, and through the temporary database.
  a configure -hierarchical 1
  foreach op {OR AND XOR DIFF} layer {11 12 13 14} {
    a SaveDB [a $op 1 0 2 0] 0 $layer 0
  }
  a configure -hierarchical 0
  a SetTempDB temp.db
  a OpenTempDB
  foreach op {OR AND XOR DIFF} layer {21 22 23 24} {
    a SaveDB [a $op 1 0 2 0] 0 $layer 0
  }
  a CloseTempDB
  a CopyTempDB top
  a UpdateLibrary
  a CloseLibraries
}
foreach op {OR AND XOR DIFF} {
  set got [fileArea [string tolower $op].txt]
  set want [dict get $expected $op]
  puts "$op: area $got, rasterised $want [expr {$got == $want ? "ok" : "DIFFERENT"}]"
}

# Reopened in a new process: the stored layers cover the same areas.
run {
  API a
  a OpenLibrary lib 0
  a SetArea top 0 0 0 0
  foreach layer {11 12 13 14 21 22 23 24} {
    a SavePoly [a OR $layer 0] 0 stored$layer.txt
  }
}
foreach op {OR AND XOR DIFF} layer {11 12 13 14} copied {21 22 23 24} {
  set want [dict get $expected $op]
  set inCell [fileArea stored$layer.txt]
  set viaTemp [fileArea stored$copied.txt]
  puts "$op stored as {$layer 0}: $inCell, as {$copied 0} through the temporary database: $viaTemp\
        [expr {$inCell == $want && $viaTemp == $want ? "ok" : "DIFFERENT"}]"
}

# --- A larger layout: the set identities ------------------------------------

set placements {}
for {set i 0} {$i < 4} {incr i} {
  lappend placements [list [expr {20000 + 2500 * $i}] 0 [expr {90 * $i}] [expr {$i % 2}]]
}
lappend placements {0 20000 0 0 6 5 2100 0 0 2300}
lappend placements {20000 20000 90 1 4 3 0 2200 -2600 0}
gdsgen::randomLayout large.gds 11 250 2000 400 20000 1 400 $placements
file mkdir big
run {
  API a
  a OpenLibrary big 0
  a LoadGds large.gds 0 ""
  a SetArea top 0 0 0 0
  # (Each first SavePoly of a run starts its file; later ones append.)
  a SavePoly [a OR 1 0] 0 large_a.txt
  a SavePoly [a OR 2 0] 0 large_b.txt
  foreach op {OR AND XOR DIFF} {
    a SavePoly [a $op 1 0 2 0] 0 large_[string tolower $op].txt
  }
}
foreach name {a b or and xor diff} { set area($name) [fileArea large_$name.txt] }
puts "large: A $area(a), B $area(b), OR $area(or), AND $area(and)"
puts "OR + AND = A + B: [expr {$area(or) + $area(and) == $area(a) + $area(b)}]"
puts "XOR = OR - AND: [expr {$area(xor) == $area(or) - $area(and)}]"
puts "DIFF = A - AND: [expr {$area(diff) == $area(a) - $area(and)}]"
puts "AND below A and B: [expr {$area(and) > 0 && $area(and) < $area(a) && $area(and) < $area(b)}]"
