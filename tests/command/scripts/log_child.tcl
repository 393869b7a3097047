# Run by tech_api_objects.tcl: opens a log, prints, closes it and prints on.
package require velmar
# Messages of the package go straight to standard output: keep puts in step.
fconfigure stdout -buffering line
API a
puts "open: [a OpenLog log.txt]"
a Print "logged line\n"
[a cget -tech] CreateHammerRule
a CloseLog
a Print "after the log\n"
puts "open bad: [a OpenLog no/such/dir/log.txt]"
a Print "still not logged\n"
