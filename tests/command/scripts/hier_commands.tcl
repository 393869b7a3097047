# The hierarchy commands through the shell, each case in a process of its
# own (its output and exit status shown): a whole hierarchy handling run with
# every pass header, summary, statistics and level line; the report-only
# margins and what they write; the single-root refusal; sizes in a library
# of 0.5 database units per nanometre; the hierarchical inverse; the cell
# lists; removing environment layers; flattening listed cells; and every
# precondition that ends the process.
#
# Layout (nm): top holds a square of its own on {1 0} (0,0)-(40,40), leaf
# at (50,0) and (100,0) turned by 90 degrees, a 2 x 2 array of leaf from
# (0,100) at pitch 60, and blk at (200,0). leaf: {1 0} (0,0)-(30,30) and
# {2 0} (10,10)-(50,20), reaching into its neighbours. blk: leaf at (0,0)
# and (25,0), overlapping.
fconfigure stdout -buffering line
set scripts [lindex $argv 1]
source [file join $scripts ops_layout.tcl]
gds_write hier.gds {
  {top {{box 1 0 0 0 40 40} {sref leaf 50 0 0 0} {sref leaf 100 0 90 0}
        {aref leaf 0 100 2 2 60 60} {sref blk 200 0 0 0}}}
  {leaf {{box 1 0 0 0 30 30} {box 2 0 10 10 50 20}}}
  {blk {{sref leaf 0 0 0 0} {sref leaf 25 0 0 0}}}
}
gds_write twotops.gds {
  {a {{box 1 0 0 0 10 10}}}
  {b {{box 1 0 0 0 20 20}}}
}
# 0.5 database units per nanometre: a database unit of 2 nm. tiny is one
# unit (2 nm) wide.
gdsgen::begin HALF 0.002 2e-9
gdsgen::structure top
gdsgen::rect 1 0 0 0 100 100
gdsgen::sref tiny 200 0
gdsgen::endstructure
gdsgen::structure tiny
gdsgen::rect 1 0 0 0 1 50
gdsgen::endstructure
gdsgen::write half.gds

file mkdir lib
make_library lib hier.gds
make_library twotops twotops.gds
make_library half half.gds

# A case ends the process with its library loaded: the leak check of the
# address sanitizer would count the library's memory.
if {[info exists env(ASAN_OPTIONS)]} {
  append env(ASAN_OPTIONS) :detect_leaks=0
} else {
  set env(ASAN_OPTIONS) detect_leaks=0
}

proc run {what body} {
  global scripts
  set code 0
  if {[catch {exec [info nameofexecutable] \
                 [file join $scripts ops_case_child.tcl] $scripts $body} out opts]} {
    set ec [dict get $opts -errorcode]
    if {[lindex $ec 0] eq "CHILDSTATUS"} {set code [lindex $ec 2]} else {set code $ec}
  }
  regsub {\n?child process exited abnormally$} $out {} out
  regsub -all {[0-9]+ kbytes allocated} $out {N kbytes allocated} out
  puts "=== $what: exit status $code"
  puts $out
}

# Every file of a library directory with its contents.
proc snapshot {dir} {
  set out {}
  foreach f [lsort [glob -nocomplain -directory $dir *]] {
    set h [open $f rb]
    lappend out [file tail $f] [read $h]
    close $h
  }
  return $out
}
proc compare {before after} {
  foreach {name bytes} $before {
    if {![dict exists $after $name]} {
      puts "  $name: removed"
    } elseif {[dict get $after $name] ne $bytes} {
      puts "  $name: changed"
    } else {
      puts "  $name: unchanged"
    }
  }
  foreach {name bytes} $after {
    if {![dict exists $before $name]} {puts "  $name: new"}
  }
}

file copy lib run
run "HierarchyHandling, areaMargin 10" {
  $t configure -areaMargin 10
  a OpenLibrary run 0
  a HierarchyHandling
}

foreach margin {-1 -5} {
  file copy lib report$margin
  set before [snapshot report$margin]
  run "HierarchyHandling, areaMargin $margin" "
    \$t configure -areaMargin $margin
    a OpenLibrary report$margin 0
    a HierarchyHandling
  "
  puts "files after areaMargin $margin:"
  compare $before [snapshot report$margin]
}

set before [snapshot twotops]
run "HierarchyHandling on two top cells" {
  a OpenLibrary twotops 0
  a HierarchyHandling
}
puts "files after the refusal:"
compare $before [snapshot twotops]

run "sizes at 0.5 database units per nanometre" {
  $t configure -flattenSize 1 -splitSize 3 -explodeRate 0 -sparseRate 0
  a OpenLibrary half 0
  a HierarchyHandling
}

file copy lib inverse
run "HInverse 20 0 0" {
  a OpenLibrary inverse 0
  a SetArea top 0 0 0 0
  puts "LayerExist 20 0 before: [a LayerExist 20 0]"
  $t configure -reportDegree 1
  a HInverse 20 0 0
  puts "LayerExist 20 0 after: [a LayerExist 20 0]"
}

file copy lib lists
run "cell lists" {
  a OpenLibrary lists 0
  a ExcludeCell NOSUCH
  a ExplodeCell NOSUCH
  a FlattenCell NOSUCH
  a ExcludeCell leaf
  a ExcludeCell leaf
  a ResetExcludeCells
  a ExcludeCell blk
  a ExcludeCell blk
  a ExplodeCell blk
  a ResetExplodeCells
  a FlattenCell blk
  a ResetFlattenCells
  puts "flatten with an empty list:"
  a FlattenCells
  puts "(nothing)"
  $t configure -explodeRate 0 -sparseRate 0
  a HierarchyHandling
}

run "RemoveEnvLayers outside hierarchical mode, no library" {
  a RemoveEnvLayers
}

file copy lib flatten
run "FlattenCells" {
  a OpenLibrary flatten 0
  a FlattenCell blk
  a FlattenCells
  a FlattenCells
  a UpdateLibrary
  puts "cells: [a TotalCell], roots: [a TotalRoot] [a GetRootName 0]"
}

# Every precondition that ends the process.
foreach call {
  HierarchyHandling {HInverse 20 0 0} {ExcludeCell leaf} {ExplodeCell leaf}
  {FlattenCell leaf} ResetExcludeCells ResetExplodeCells ResetFlattenCells
  FlattenCells
} {
  run "$call without a library" "a $call"
}
run "RemoveEnvLayers in hierarchical mode without a library" {
  a configure -hierarchical 1
  $t configure -reportDegree 1
  a RemoveEnvLayers
}
foreach {layer datatype} {256 0 20 256 -1 0 20 -1} {
  run "HInverse $layer $datatype" "
    a OpenLibrary lib 0
    a HInverse $layer $datatype 0
  "
}

# End to end: the OR of both drawn layers over the whole top, before and
# after hierarchy handling (read back in a new process), loaded as two
# layers of one cell: their XOR is empty.
proc orOf {dir file} {
  run "OR of $dir" "
    a OpenLibrary $dir 0
    a SetArea top 0 0 0 0
    a SavePoly \[a OR 1 0 2 0] 0 $file
  "
}
file copy lib e2e
orOf e2e before.txt
run "HierarchyHandling for the end-to-end check" {
  $t configure -areaMargin 10
  a OpenLibrary e2e 0
  a HierarchyHandling
  a CloseLibrary
}
orOf e2e after.txt
puts "before: [poly_summary before.txt]"
puts "after:  [poly_summary after.txt]"
gds_write check.gds {{cmp {{box 9 0 0 0 1 1}}}}
make_library check check.gds
run "XOR of the two" {
  a OpenLibrary check 0
  a LoadPoly before.txt cmp 10 0
  a LoadPoly after.txt cmp 11 0
  a SetArea cmp 0 0 0 0
  a SavePoly [a XOR 10 0 11 0] 0 xor.txt
}
puts "xor: [poly_summary xor.txt]"
