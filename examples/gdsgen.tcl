# gdsgen: a small GDSII Stream writer in plain Tcl, for making example and
# test layouts without another tool.
#
#   source gdsgen.tcl
#   gdsgen::begin LIB            ;# user unit 0.001, 1e-9 m per database unit
#   gdsgen::structure child
#   gdsgen::rect 1 0 0 0 100 100
#   gdsgen::endstructure
#   gdsgen::structure top
#   gdsgen::sref child 2000 0 90          ;# name x y ?angle? ?reflect?
#   gdsgen::aref child 3 2 0 0 200 0 0 300 ;# name cols rows x y colstep rowstep
#   gdsgen::endstructure
#   gdsgen::write layout.gds
#
# Placements follow the GDSII rules: the child is reflected about its x axis
# (when reflect is 1), then rotated counter-clockwise by angle degrees, then
# moved to (x, y). An array places element (c, r) at
# (x, y) + c * (colstep x, colstep y) + r * (rowstep x, rowstep y), the steps
# given in the parent's coordinates.
#
# gdsgen::randomLayout writes the two-level random layout that the demo,
# the end-to-end test and the benchmark use, and returns its placements so a
# caller can compute what the layout covers independently.

namespace eval gdsgen {
  variable chunks {}
  variable seed 1
}

# --- Records ------------------------------------------------------------------

proc gdsgen::record {type datatype {payload ""}} {
  variable chunks
  set n [expr {[string length $payload] + 4}]
  lappend chunks [binary format Scc $n $type $datatype]$payload
}

proc gdsgen::int16s {type args} {
  record $type 2 [binary format S* $args]
}

proc gdsgen::int32s {type args} {
  record $type 3 [binary format I* $args]
}

proc gdsgen::text {type text} {
  if {[::string length $text] % 2} { append text "\0" }
  record $type 6 $text
}

# An 8-byte GDSII real: sign bit, excess-64 base-16 exponent, 56-bit
# mantissa (values of at least 0 only).
proc gdsgen::real8 {v} {
  if {$v == 0} { return [binary format W 0] }
  set e 0
  while {$v >= 1.0} { set v [expr {$v / 16.0}]; incr e }
  while {$v < 0.0625} { set v [expr {$v * 16.0}]; incr e -1 }
  set m [expr {wide(round($v * 72057594037927936.0))}]
  if {$m >= 72057594037927936} { set m [expr {$m / 16}]; incr e }
  return [binary format W [expr {(($e + 64) << 56) | $m}]]
}

proc gdsgen::reals {type args} {
  set payload ""
  foreach v $args { append payload [real8 $v] }
  record $type 5 $payload
}

# --- Library frame --------------------------------------------------------------

proc gdsgen::begin {name {userUnit 0.001} {metersPerUnit 1e-9}} {
  variable chunks {}
  int16s 0x00 600
  int16s 0x01 2024 1 1 0 0 0 2024 1 1 0 0 0
  text 0x02 $name
  reals 0x03 $userUnit $metersPerUnit
}

proc gdsgen::structure {name} {
  int16s 0x05 2024 1 1 0 0 0 2024 1 1 0 0 0
  text 0x06 $name
}

proc gdsgen::endstructure {} { record 0x07 0 }

# --- Elements -------------------------------------------------------------------

proc gdsgen::boundary {layer datatype points} {
  record 0x08 0
  int16s 0x0D $layer
  int16s 0x0E $datatype
  lappend points [lindex $points 0] [lindex $points 1]
  int32s 0x10 {*}$points
  record 0x11 0
}

proc gdsgen::rect {layer datatype x1 y1 x2 y2} {
  boundary $layer $datatype [list $x1 $y1 $x2 $y1 $x2 $y2 $x1 $y2]
}

proc gdsgen::strans {angle reflect} {
  if {$angle == 0 && !$reflect} return
  int16s 0x1A [expr {$reflect ? 0x8000 : 0}]
  if {$angle != 0} { reals 0x1C $angle }
}

proc gdsgen::sref {name x y {angle 0} {reflect 0}} {
  record 0x0A 0
  text 0x12 $name
  strans $angle $reflect
  int32s 0x10 $x $y
  record 0x11 0
}

proc gdsgen::aref {name cols rows x y cx cy rx ry {angle 0} {reflect 0}} {
  record 0x0B 0
  text 0x12 $name
  strans $angle $reflect
  int16s 0x13 $cols $rows
  int32s 0x10 $x $y [expr {$x + $cols * $cx}] [expr {$y + $cols * $cy}] \
      [expr {$x + $rows * $rx}] [expr {$y + $rows * $ry}]
  record 0x11 0
}

proc gdsgen::write {file} {
  variable chunks
  record 0x04 0
  set f [open $file wb]
  puts -nonewline $f [join $chunks ""]
  close $f
  set chunks {}
}

# --- Random layouts -------------------------------------------------------------

# A fixed linear congruential generator, so that a seed gives the same
# layout with every Tcl.
proc gdsgen::startRandom {s} { variable seed [expr {$s & 0x7fffffff}] }
proc gdsgen::nextRandom {n} {
  variable seed
  set seed [expr {($seed * 1103515245 + 12345) & 0x7fffffff}]
  return [expr {($seed >> 8) % $n}]
}

# Random rectangles on a grid: count boxes {x1 y1 x2 y2} inside
# [0, extent) x [0, extent), sides multiples of grid, from grid to maxSize.
proc gdsgen::randomBoxes {count extent grid maxSize} {
  set cells [expr {$extent / $grid}]
  set maxCells [expr {$maxSize >= 2 * $grid ? $maxSize / $grid : 1}]
  set boxes {}
  for {set i 0} {$i < $count} {incr i} {
    set w [expr {1 + [nextRandom $maxCells]}]
    set h [expr {1 + [nextRandom $maxCells]}]
    set x [expr {[nextRandom [expr {$cells > $w ? $cells - $w : 1}]] * $grid}]
    set y [expr {[nextRandom [expr {$cells > $h ? $cells - $h : 1}]] * $grid}]
    lappend boxes [list $x $y [expr {$x + $w * $grid}] [expr {$y + $h * $grid}]]
  }
  return $boxes
}

# Writes a two-level layout to file: cell "child" with childCount random
# rectangles on each of layers {1 0} and {2 0} inside childExtent, and cell
# "top" with topCount rectangles per layer inside topExtent plus
# placements of child: the list placements, each {x y angle reflect} or
# {x y angle reflect cols rows cx cy rx ry} for an array.
# Returns a dict: child1, child2, top1, top2 (box lists) and placements.
proc gdsgen::randomLayout {file seed childCount childExtent topCount topExtent
                           grid maxSize placements} {
  startRandom $seed
  set child1 [randomBoxes $childCount $childExtent $grid $maxSize]
  set child2 [randomBoxes $childCount $childExtent $grid $maxSize]
  set top1 [randomBoxes $topCount $topExtent $grid $maxSize]
  set top2 [randomBoxes $topCount $topExtent $grid $maxSize]
  begin RANDOM
  structure child
  foreach b $child1 { rect 1 0 {*}$b }
  foreach b $child2 { rect 2 0 {*}$b }
  endstructure
  structure top
  foreach b $top1 { rect 1 0 {*}$b }
  foreach b $top2 { rect 2 0 {*}$b }
  foreach p $placements {
    if {[llength $p] == 4} {
      lassign $p x y angle reflect
      sref child $x $y $angle $reflect
    } else {
      lassign $p x y angle reflect cols rows cx cy rx ry
      aref child $cols $rows $x $y $cx $cy $rx $ry $angle $reflect
    }
  }
  endstructure
  write $file
  return [dict create child1 $child1 child2 $child2 top1 $top1 top2 $top2 \
              placements $placements]
}

# The boxes of the layout returned by randomLayout on layer 1 or 2, with
# every placement of child flattened into top's coordinates (right angles
# only).
proc gdsgen::flatBoxes {layout layer} {
  set boxes [dict get $layout top$layer]
  foreach p [dict get $layout placements] {
    lassign $p x y angle reflect cols rows cx cy rx ry
    if {$cols eq ""} { lassign {1 1 0 0 0 0} cols rows cx cy rx ry }
    for {set c 0} {$c < $cols} {incr c} {
      for {set r 0} {$r < $rows} {incr r} {
        set ox [expr {$x + $c * $cx + $r * $rx}]
        set oy [expr {$y + $c * $cy + $r * $ry}]
        foreach b [dict get $layout child$layer] {
          lappend boxes [placeBox $b $ox $oy $angle $reflect]
        }
      }
    }
  }
  return $boxes
}

# A child box placed by reflect (about x), a right-angle rotation and an
# offset.
proc gdsgen::placeBox {box ox oy angle reflect} {
  lassign $box x1 y1 x2 y2
  set xs {}
  set ys {}
  foreach {px py} [list $x1 $y1 $x2 $y2] {
    if {$reflect} { set py [expr {-$py}] }
    switch -- [expr {int($angle) % 360}] {
      0 { set qx $px; set qy $py }
      90 { set qx [expr {-$py}]; set qy $px }
      180 { set qx [expr {-$px}]; set qy [expr {-$py}] }
      270 { set qx $py; set qy [expr {-$px}] }
      default { error "angle $angle is not a right angle" }
    }
    lappend xs [expr {$qx + $ox}]
    lappend ys [expr {$qy + $oy}]
  }
  # (The shell loads no script library, so min() and max() do not exist.)
  lassign [lsort -integer $xs] lx hx
  lassign [lsort -integer $ys] ly hy
  return [list $lx $ly $hx $hy]
}

# Writes a flat layout to file: one cell "top" with count random rectangles
# on each of layers {1 0} and {2 0} inside [0, extent) x [0, extent).
proc gdsgen::flatRandomLayout {file seed count extent grid maxSize} {
  startRandom $seed
  begin FLAT
  structure top
  foreach layer {1 2} {
    foreach b [randomBoxes $count $extent $grid $maxSize] {
      rect $layer 0 {*}$b
    }
  }
  endstructure
  write $file
}
