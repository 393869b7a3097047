# Helpers of the script tests that run velmar as a child process and read
# the polygon text files it writes (sourced; not a test itself).

# Runs the script in a new velmar process (as run.tcl in the current
# folder, after "package require velmar") and returns what it printed; ends
# this script with status 1 when the child fails.
proc run {script} {
  global velmar
  set f [open run.tcl w]
  puts $f "package require velmar\n$script"
  close $f
  if {[catch {exec $velmar run.tcl} out]} {
    puts "velmar failed: [string range $out end-400 end]"
    exit 1
  }
  return $out
}

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
