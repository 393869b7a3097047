# Helper of the script tests that run velmar as a child process (sourced;
# not a test itself).

# Runs the script in a new velmar process, the one running this script (as
# run.tcl in the current folder, after "package require velmar"), and
# returns what it printed; ends this script with status 1 when the child
# fails.
proc run {script} {
  set f [open run.tcl w]
  puts $f "package require velmar\n$script"
  close $f
  if {[catch {exec [info nameofexecutable] run.tcl} out]} {
    puts "velmar failed: [string range $out end-400 end]"
    exit 1
  }
  return $out
}
