# Run by ops_preconditions.tcl: evaluates one case in a fresh shell.
#   velmar ops_case_child.tcl SCRIPTS_DIR BODY
fconfigure stdout -buffering line
package require velmar
source [file join [lindex $argv 0] ops_layout.tcl]
API a
set t [a cget -tech]
eval [lindex $argv 1]
puts "not ended"
