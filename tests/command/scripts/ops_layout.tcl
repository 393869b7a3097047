# Helpers of the layer-operation script tests (sourced; not a test itself).
#
#   gds_write PATH CELLS   writes a GDSII file (database unit 1 nm, user unit
#                          1e-3). CELLS is a list of {name elements}; each
#                          element is one of
#                            {box LAYER DATATYPE X1 Y1 X2 Y2}
#                            {poly LAYER DATATYPE X1 Y1 X2 Y2 ...}
#                            {sref NAME X Y ANGLE MIRROR}
#                            {aref NAME X Y COLS ROWS DX DY}
#   make_library DIR GDS   loads GDS into a new library directory DIR in a
#                          child process (its messages are not shown).
#   poly_summary PATH      "N polygons, area A" of a polygon text file.

set ops_scripts_dir [file dirname [file normalize [info script]]]

source [file join $ops_scripts_dir .. .. .. examples gdsgen.tcl]
source [file join $ops_scripts_dir polygon_files.tcl]

proc gds_write {path cells} {
  gdsgen::begin OPS
  foreach cell $cells {
    lassign $cell name elements
    gdsgen::structure $name
    foreach e $elements {
      switch -- [lindex $e 0] {
        box {
          lassign $e - layer datatype x1 y1 x2 y2
          gdsgen::rect $layer $datatype $x1 $y1 $x2 $y2
        }
        poly {
          gdsgen::boundary [lindex $e 1] [lindex $e 2] [lrange $e 3 end]
        }
        sref {
          lassign $e - child x y angle mirror
          gdsgen::sref $child $x $y $angle $mirror
        }
        aref {
          lassign $e - child x y cols rows dx dy
          gdsgen::aref $child $cols $rows $x $y $dx 0 0 $dy
        }
      }
    }
    gdsgen::endstructure
  }
  gdsgen::write $path
}

proc make_library {dir gds} {
  file mkdir $dir
  set child [file join $::ops_scripts_dir ops_load_child.tcl]
  if {[catch {exec [info nameofexecutable] $child $dir $gds 2>@1} msg]} {
    puts "loading failed: $msg"
    exit 2
  }
}

proc poly_summary {path} {
  if {![file exists $path]} {return "no file"}
  set n 0
  set area2 0
  foreach pts [polygonFileRings $path] {
    set count [expr {[llength $pts] / 2}]
    for {set k 0} {$k < $count} {incr k} {
      set j [expr {($k + 1) % $count}]
      set xa [lindex $pts [expr {2 * $k}]]
      set ya [lindex $pts [expr {2 * $k + 1}]]
      set xb [lindex $pts [expr {2 * $j}]]
      set yb [lindex $pts [expr {2 * $j + 1}]]
      set area2 [expr {$area2 + $xa * $yb - $xb * $ya}]
    }
    incr n
  }
  return "$n polygons, area [expr {$area2 / 2.0}]"
}
