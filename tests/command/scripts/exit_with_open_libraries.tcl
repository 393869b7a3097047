# Libraries left open, one of them by an API object the script deleted, and
# a log still registered: the process ends cleanly (status 0), and the
# library directory on disk is left as the last update wrote it.
package require velmar
fconfigure stdout -buffering line
set scripts [lindex $argv 1]
source [file join $scripts .. .. .. examples gdsgen.tcl]

gdsgen::begin LIB
gdsgen::structure top
gdsgen::rect 1 0 0 0 100 100
gdsgen::rect 2 0 50 50 150 150
gdsgen::endstructure
gdsgen::write small.gds

file mkdir libA libB
API kept
kept OpenLog run.log
kept OpenLibrary libA 0
puts "load A: [kept LoadGds small.gds 0 ""]"

API dropped
dropped OpenLibrary libB 0
puts "load B: [dropped LoadGds small.gds 0 ""]"
puts "area: [dropped SetArea top 0 0 0 0]"
set layer [dropped AND 1 0 2 0]
puts "AND into $layer"
rename dropped ""

puts "files: [lsort [glob -tails -directory libB *]]"
