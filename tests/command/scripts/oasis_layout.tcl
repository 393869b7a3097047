# Helpers of the OASIS script tests (sourced; not a test itself).
#
#   oas_write PATH CELLS   writes an OASIS file (1000 database units per
#                          micron, table offsets in END). CELLS is a list of
#                          {name elements}; each element is one of
#                            {rect LAYER DATATYPE X Y WIDTH HEIGHT}
#                            {place NAME X Y}
#                            {row NAME X Y COUNT STEP}   (repetition type 2)
#                            {cblock}
#                          Cells are named by implicit CELLNAME records in
#                          list order and defined by reference number.

proc oas_u {v} {
  set out ""
  while {$v >= 128} {
    append out [binary format c [expr {($v & 127) | 128}]]
    set v [expr {$v >> 7}]
  }
  append out [binary format c $v]
}
proc oas_s {v} {
  if {$v < 0} { return [oas_u [expr {((-$v) << 1) | 1}]] }
  return [oas_u [expr {$v << 1}]]
}
proc oas_str {s} { return "[oas_u [string length $s]]$s" }

proc oas_write {path cells} {
  set out "%SEMI-OASIS\r\n"
  append out [oas_u 1] [oas_str 1.0] [oas_u 0] [oas_u 1000] [oas_u 1]
  set numbers {}
  set n 0
  foreach cell $cells {
    append out [oas_u 3] [oas_str [lindex $cell 0]]
    dict set numbers [lindex $cell 0] $n
    incr n
  }
  foreach cell $cells {
    append out [oas_u 13] [oas_u [dict get $numbers [lindex $cell 0]]]
    foreach e [lindex $cell 1] {
      switch [lindex $e 0] {
        rect {
          lassign $e - l d x y w h
          append out [oas_u 20] [binary format c 0x7b] [oas_u $l] [oas_u $d] \
            [oas_u $w] [oas_u $h] [oas_s $x] [oas_s $y]
        }
        place {
          lassign $e - name x y
          append out [oas_u 17] [binary format c 0xf0] [oas_u [dict get $numbers $name]] \
            [oas_s $x] [oas_s $y]
        }
        row {
          lassign $e - name x y count step
          append out [oas_u 17] [binary format c 0xf8] [oas_u [dict get $numbers $name]] \
            [oas_s $x] [oas_s $y] [oas_u 2] [oas_u [expr {$count - 2}]] [oas_u $step]
        }
        cblock {
          append out [oas_u 34] [oas_u 0] [oas_u 10] [oas_u 10]
        }
      }
    }
  }
  # END: 12 table offsets, 240 blanks of padding, validation scheme 0.
  append out [oas_u 2] [string repeat [oas_u 0] 12] [oas_str [string repeat " " 240]] [oas_u 0]
  set f [open $path wb]
  puts -nonewline $f $out
  close $f
}
