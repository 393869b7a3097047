# Helpers of the layer-operation script tests (sourced; not a test itself).
#
#   gds_write PATH CELLS   writes a GDSII file (database unit 1 nm, user unit
#                          1e-3). CELLS is a list of {name elements}; each
#                          element is one of
#                            {box LAYER DATATYPE X1 Y1 X2 Y2}
#                            {sref NAME X Y ANGLE MIRROR}
#                            {aref NAME X Y COLS ROWS DX DY}
#   make_library DIR GDS   loads GDS into a new library directory DIR in a
#                          child process (its messages are not shown).
#   poly_summary PATH      "N polygons, area A" of a polygon text file.

set ops_scripts_dir [file dirname [file normalize [info script]]]

proc gds_record {type data} {
  return [binary format Su [expr {[string length $data] + 4}]][binary format Su $type]$data
}

proc gds_string {s} {
  if {[string length $s] % 2} {append s "\0"}
  return $s
}

# 8-byte GDSII reals of the values used here.
proc gds_real {name} {
  array set r {
    user  3E4189374BC6A7EF
    meter 3944B82FA09B5A53
    0     0000000000000000
    90    425A000000000000
    180   42B4000000000000
    270   4310E00000000000
  }
  return [binary format H16 $r($name)]
}

proc gds_write {path cells} {
  set dates [binary format S12 {107 10 2 0 0 0 107 10 2 0 0 0}]
  set out [gds_record 0x0002 [binary format S 600]]
  append out [gds_record 0x0102 $dates]
  append out [gds_record 0x0206 [gds_string OPS]]
  append out [gds_record 0x0305 "[gds_real user][gds_real meter]"]
  foreach cell $cells {
    lassign $cell name elements
    append out [gds_record 0x0502 $dates]
    append out [gds_record 0x0606 [gds_string $name]]
    foreach e $elements {
      switch -- [lindex $e 0] {
        box {
          lassign $e - layer datatype x1 y1 x2 y2
          append out [gds_record 0x0800 ""]
          append out [gds_record 0x0D02 [binary format S $layer]]
          append out [gds_record 0x0E02 [binary format S $datatype]]
          append out [gds_record 0x1003 [binary format I10 \
              [list $x1 $y1 $x2 $y1 $x2 $y2 $x1 $y2 $x1 $y1]]]
          append out [gds_record 0x1100 ""]
        }
        sref {
          lassign $e - child x y angle mirror
          append out [gds_record 0x0A00 ""]
          append out [gds_record 0x1206 [gds_string $child]]
          append out [gds_record 0x1A01 \
              [binary format S [expr {$mirror ? 0x8000 : 0}]]]
          append out [gds_record 0x1C05 [gds_real $angle]]
          append out [gds_record 0x1003 [binary format I2 [list $x $y]]]
          append out [gds_record 0x1100 ""]
        }
        aref {
          lassign $e - child x y cols rows dx dy
          append out [gds_record 0x0B00 ""]
          append out [gds_record 0x1206 [gds_string $child]]
          append out [gds_record 0x1302 [binary format S2 [list $cols $rows]]]
          append out [gds_record 0x1003 [binary format I6 [list $x $y \
              [expr {$x + $cols * $dx}] $y $x [expr {$y + $rows * $dy}]]]]
          append out [gds_record 0x1100 ""]
        }
      }
    }
    append out [gds_record 0x0700 ""]
  }
  append out [gds_record 0x0400 ""]
  set f [open $path wb]
  puts -nonewline $f $out
  close $f
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
  set f [open $path]
  set words [regexp -all -inline {\S+} [read $f]]
  close $f
  set n 0
  set area2 0
  set i 0
  while {$i < [llength $words]} {
    set count [lindex $words $i]
    incr i
    set pts [lrange $words $i [expr {$i + 2 * $count - 1}]]
    incr i [expr {2 * $count}]
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
