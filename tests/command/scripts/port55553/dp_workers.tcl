# Worker scripts that take their working cell and area from the job server
# on port 55553 (the test program velmar_job_server, given as the third
# argument): the two-job file served to one worker, then sixty jobs shared
# by four workers running at the same time, and a worker that finds no
# server. Every velmar run is a child process; this script prints only the
# results.
package require velmar
set scripts [lindex $argv 1]
set server [lindex $argv 2]
source [file join $scripts .. .. .. .. examples gdsgen.tcl]
set velmar [info nameofexecutable]

# Cells 0..3 are A, B, C and D.
gdsgen::begin LIB
foreach name {A B C D} {
  gdsgen::structure $name
  gdsgen::rect 1 0 0 0 100 100
  gdsgen::endstructure
}
gdsgen::write cells.gds
set f [open setup.tcl w]
puts $f {
  package require velmar
  file mkdir lib
  API a
  a OpenLibrary lib 0
  a LoadGds cells.gds 0 ""
  a UpdateLibrary
}
close $f
exec $velmar setup.tcl

# A worker: takes jobs until there is none and writes one line per job
# (working cell, area in database units) into the file named by its
# argument.
set f [open worker.tcl w]
puts $f {
  package require velmar
  API a
  a OpenLibrary lib 0
  a LoadLibraryInfo
  set out [open [lindex $argv 0] w]
  while {[a GetDPArea 127.0.0.1]} {
    puts $out "[a GetWorkingCell] [a GetPureAreaX1] [a GetPureAreaY1] [a GetPureAreaX2] [a GetPureAreaY2]"
  }
  close $out
}
close $f

# Starts the server on a job file and returns its channel once it listens.
proc startServer {jobs} {
  global server
  set chan [open "|[list $server $jobs]" r]
  gets $chan line
  puts "server: $line"
  return $chan
}
proc finishServer {chan} {
  gets $chan line
  puts "server: $line"
  if {[catch {close $chan} message]} { puts "server failed: $message" }
}
proc readLines {file} {
  set f [open $file]
  set lines [split [string trim [read $f]] \n]
  close $f
  return $lines
}

# --- The two-job file ----------------------------------------------------------
set f [open two.jobs w]
puts $f "3 0 0 1000 1000 3 1000 0 2000 1000"
close $f
set chan [startServer two.jobs]
exec $velmar worker.tcl one.txt
finishServer $chan
puts "worker received:"
foreach line [readLines one.txt] { puts "  $line" }

# --- Sixty jobs, four workers ---------------------------------------------------
set f [open sixty.jobs w]
set expected {}
for {set i 0} {$i < 60} {incr i} {
  set job [list [expr {$i % 4}] [expr {$i * 10}] [expr {-$i}] [expr {$i * 10 + 5}] [expr {2147483647 - $i}]]
  puts $f $job
  lappend expected [lreplace $job 0 0 [lindex {A B C D} [expr {$i % 4}]]]
}
close $f
set chan [startServer sixty.jobs]
set workers {}
for {set k 0} {$k < 4} {incr k} {
  lappend workers [open "|[list $velmar worker.tcl w$k.txt]" r]
}
foreach w $workers {
  read $w
  if {[catch {close $w} message]} { puts "worker failed: $message" }
}
finishServer $chan
set received {}
set busy 0
for {set k 0} {$k < 4} {incr k} {
  set lines [readLines w$k.txt]
  set received [concat $received [lsearch -all -inline -not $lines {}]]
}
puts "four workers received [llength $received] jobs;\
  [expr {[lsort $received] eq [lsort $expected] ? "each job of the file exactly once" : "NOT the jobs of the file"}]"

# --- No server ------------------------------------------------------------------------
set f [open alone.tcl w]
puts $f {
  package require velmar
  API a
  a OpenLibrary lib 0
  a SetArea B 10 20 30 40
  set r [a GetDPArea 127.0.0.1]
  puts "= GetDPArea $r: cell [a GetWorkingCell], area [a GetPureAreaX1] [a GetPureAreaY1] [a GetPureAreaX2] [a GetPureAreaY2]"
  set r [a GetDPArea 999.1.1.1]
  puts "= GetDPArea of a bad address $r: cell [a GetWorkingCell], area [a GetPureAreaX1] [a GetPureAreaY1] [a GetPureAreaX2] [a GetPureAreaY2]"
}
close $f
foreach line [split [exec $velmar alone.tcl] \n] {
  if {[string match "= *" $line]} { puts $line }
}
