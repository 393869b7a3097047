# Run by ops_layout.tcl: loads a GDSII file into a new library directory.
#   velmar ops_load_child.tcl DIR GDS
package require velmar
lassign $argv dir gds
API a
a OpenLibrary $dir 0
if {![a LoadGds $gds 0 ""]} {exit 3}
a UpdateLibrary
a CloseLibrary
