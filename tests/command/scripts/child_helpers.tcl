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

# Runs the script in a new velmar process (as file in the current folder,
# with API object a) and returns its exit status and what it printed after
# the line "--- ready" (everything when that line is absent), with process
# sizes masked. A failing child does not end this script.
proc childRun {file script} {
  set f [open $file w]
  puts $f "package require velmar\nfconfigure stdout -buffering line\nAPI a\n$script"
  close $f
  set status 0
  if {[catch {exec [info nameofexecutable] $file 2>@1} out options]} {
    set code [dict get $options -errorcode]
    if {[lindex $code 0] eq "CHILDSTATUS"} {
      set status [lindex $code 2]
    } else {
      set status "error: $out"
    }
  }
  regsub {\nchild process exited abnormally$} $out {} out
  # What the set-up printed is the same in every case.
  regsub {^.*--- ready\n} $out {} out
  regsub -all {Total Memory = [0-9]+ MBytes} $out {Total Memory = N MBytes} out
  regsub -all {[0-9]+ kbytes allocated} $out {N kbytes allocated} out
  return [list $status $out]
}
