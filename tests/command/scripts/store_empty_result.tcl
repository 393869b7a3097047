# SavePoly of an empty result writes its file with no polygon in it: a file
# of that name from an earlier run must not read as the new result. Within
# a batch, where SavePoly appends, an empty result adds nothing and keeps
# what the batch wrote.
fconfigure stdout -buffering line
source [file join [lindex $argv 1] ops_layout.tcl]
package require velmar
gds_write s.gds {
  {top {{box 1 0 0 0 100 50}}}
}
make_library lib s.gds

proc size {path} { expr {[file exists $path] ? [file size $path] : "none"} }

API a
a configure -areaIter 2 -areaReportIter 0
a OpenLibrary lib 0
a SetArea top 0 0 0 0

set f [open old.txt w]
puts $f "4\n0 0\n10 0\n10 10\n0 10"
close $f
puts "old file: [poly_summary old.txt]"
puts "empty layer over it: [a SavePoly [a OR 7 0] 0 old.txt], [size old.txt] bytes,\
 [poly_summary old.txt]"
puts "empty layer into a new file: [a SavePoly [a OR 7 0] 0 new.txt], [size new.txt] bytes"

a SavePoly [a OR 1 0] 0 batch.txt
puts "batch: [poly_summary batch.txt]"
puts "empty layer appended: [a SavePoly [a OR 7 0] 0 batch.txt], [poly_summary batch.txt]"
puts "empty layer appended to a new file: [a SavePoly [a OR 7 0] 0 other.txt],\
 [size other.txt] bytes"
