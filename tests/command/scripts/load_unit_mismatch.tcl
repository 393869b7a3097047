# A GDSII file whose database unit differs from that of a library that
# already holds cells is refused before anything changes: the cells keep
# their boxes in memory, after UpdateLibrary, and when a new process reads
# the library back. An empty library takes the file's unit.
fconfigure stdout -buffering line
package require velmar
set data [lindex $argv 0]
set fine [file join $data freepdk45_stdcells.gds]
set coarse [file join $data sky130_fd_sc_hd__dfxtp_1.gds]
foreach f [list $fine $coarse] {
  if {![file exists $f]} {
    puts "skipped: test data $f is missing"
    exit 77
  }
}

# Runs a script in a new velmar process and returns what it printed after
# the line "--- ready" (what comes before is set-up output).
proc child {script} {
  set f [open child.tcl w]
  puts $f "package require velmar\nfconfigure stdout -buffering line\nAPI a\n$script"
  close $f
  if {[catch {exec [info nameofexecutable] child.tcl 2>@1} out]} {
    puts "child failed: $out"
    exit 2
  }
  regsub {^.*--- ready\n} $out {} out
  return [string map [list $::data <DATA>] $out]
}

# The box of every cell in nanometres, one line per cell, in id order.
set areasProc {
  proc areas {} {
    a configure -areaIter 2 -areaReportIter 0
    set lines {}
    for {set i 0} {$i < [a TotalCell]} {incr i} {
      set name [a GetCellName $i]
      a SetArea $name 0 0 0 0
      lappend lines "$name [a GetAreaX1] [a GetAreaY1] [a GetAreaX2] [a GetAreaY2]"
    }
    return [join $lines \n]
  }
}

# The first load and the refused one in one process: the cells of the first
# are still in memory when the second is refused.
file mkdir lib
set out [child "$areasProc
  a OpenLibrary lib 0
  a LoadGds [list $fine] 0 {}
  set before \[areas]
  set f \[open before.txt w]; puts -nonewline \$f \$before; close \$f
  puts {--- ready}
  puts \"cells \[a TotalCell], DFF_X1: \[lrange \[lsearch -inline \[split \$before \\n] {DFF_X1 *}] 1 end]\"
  puts \"second load: \[a LoadGds [list $coarse] 0 {}]\"
  puts \"cells \[a TotalCell], layer {68 20} \[a LayerExist 68 20], areas unchanged: \[expr {\[areas] eq \$before}]\"
  a UpdateLibrary
  puts \"after UpdateLibrary, areas unchanged: \[expr {\[areas] eq \$before}]\"
"]
puts $out
set f [open before.txt]
set before [read $f]
close $f
puts "data files: [lsort [glob -tails -directory lib db*]]"

# A new process reads the library back.
set out [child "$areasProc
  a OpenLibrary lib 0
  a LoadLibraryInfo
  puts {--- ready}
  puts \[areas]
"]
puts "reopened, cells [llength [split $out \n]], areas unchanged: [expr {$out eq $before}]"

# An empty library takes the coarser unit of the second file.
file mkdir lib2
puts [child "
  a OpenLibrary lib2 0
  puts {--- ready}
  puts \"load into an empty library: \[a LoadGds [list $coarse] 0 {}]\"
  a configure -areaIter 2 -areaReportIter 0
  a SetArea sky130_fd_sc_hd__dfxtp_1 0 0 0 0
  puts \"area \[a GetAreaX1] \[a GetAreaY1] \[a GetAreaX2] \[a GetAreaY2]\"
"]
