# velmar demo: makes a small two-level layout (a cell of random rectangles
# on layers {1 0} and {2 0}, placed in a top cell singly, rotated, mirrored
# and as arrays), loads it into a new library, runs the four polygon
# booleans over the whole top cell, writes each result to a polygon text
# file, stores the intersection back into the top cell as layer {10 0}, and
# prints what the operations produced.
#
#   velmar examples/demo.tcl ?work-folder?     (default: demo_out)
package require velmar
fconfigure stdout -buffering line
set here [file dirname [file normalize [info script]]]
source [file join $here gdsgen.tcl]
set work [expr {$argc > 0 ? [lindex $argv 0] : "demo_out"}]
file mkdir $work
cd $work

# The layout: placements {x y angle mirrored} or, for arrays,
# {x y angle mirrored columns rows column-step-x column-step-y row-step-x
# row-step-y} (nanometres; 1 database unit = 1 nm).
set placements {
  {0 0 0 0}
  {5000 4000 90 0}
  {9000 4000 180 1}
  {0 6000 0 0 3 2 4200 0 0 4200}
}
gdsgen::randomLayout demo.gds 2024 40 4000 30 12000 50 900 $placements

# A new library, every run from scratch.
file delete -force lib {*}[glob -nocomplain *.txt]
file mkdir lib
API api
api OpenLog demo.log
api OpenLibrary lib 0
api LoadGds demo.gds 0 ""
api SetArea top 0 0 0 0

# Polygons, vertices and area (nm^2) of a polygon text file.
proc summary {file} {
  if {![file exists $file]} { return [list 0 0 0] }
  set f [open $file]
  set words [regexp -all -inline -- {-?[0-9]+} [read $f]]
  close $f
  set polygons 0
  set vertices 0
  set twice 0
  set i 0
  while {$i < [llength $words]} {
    set n [lindex $words $i]
    set pts [lrange $words [expr {$i + 1}] [expr {$i + 2 * $n}]]
    incr i [expr {2 * $n + 1}]
    incr polygons
    incr vertices $n
    lassign [lrange $pts end-1 end] px py
    foreach {x y} $pts {
      incr twice [expr {$px * $y - $x * $py}]
      set px $x
      set py $y
    }
  }
  return [list $polygons $vertices [expr {$twice / 2}]]
}

set results {}
foreach op {OR AND XOR DIFF} {
  set layer [api $op 1 0 2 0]
  set file [string tolower $op].txt
  api SavePoly $layer 0 $file
  lappend results $op $layer $file
}
# The intersection once more, stored into the top cell as layer {10 0}.
api configure -hierarchical 1
api SaveDB [api AND 1 0 2 0] 0 10 0
api UpdateLibrary

set report [list "\nWhat the operations produced (written to [pwd]):"]
lappend report [format "  %-5s %-9s %-9s %9s %9s %14s" op layer file polygons vertices "area (nm^2)"]
foreach {op layer file} $results {
  lassign [summary $file] polygons vertices area
  lappend report [format "  %-5s %-9s %-9s %9d %9d %14d" $op "{$layer 0}" $file $polygons $vertices $area]
}
lappend report "  AND is stored in cell top as layer {10 0}: LayerExist 10 0 = [api LayerExist 10 0]"
api CloseLibraries
api CloseLog
puts [join $report \n]
