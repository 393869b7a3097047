# Helper of the script tests that read the polygon text files velmar writes
# (sourced; not a test itself).

# The polygons of a polygon text file, each as its flat list of coordinates
# x1 y1 x2 y2 ...
proc polygonFileRings {file} {
  set f [open $file]
  set words [regexp -all -inline -- {-?[0-9]+} [read $f]]
  close $f
  set rings {}
  set i 0
  set n [llength $words]
  while {$i < $n} {
    set count [lindex $words $i]
    incr i
    lappend rings [lrange $words $i [expr {$i + 2 * $count - 1}]]
    incr i [expr {2 * $count}]
  }
  return $rings
}
