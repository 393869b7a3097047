# Host queries: the host name as Tcl sees it, the loopback address of
# localhost, and a name that cannot be a host name (a label of 64
# characters), which ends the process with its message and status 1
# without asking the network.
package require velmar
API a
set name [a HostName]
puts "HostName is info hostname: [expr {$name eq [info hostname]}]"
puts "hostName attribute: [expr {[a cget -hostName] eq $name}]"
puts "GetIPAddress localhost: [a GetIPAddress localhost]"
puts "ipaddr attribute: [a cget -ipaddr]"
puts "GetIPAddress 127.0.0.1: [a GetIPAddress 127.0.0.1]"

set f [open long.tcl w]
puts $f "package require velmar\nAPI a\nputs \[a GetIPAddress [string repeat x 64].example\]\nputs {not reached}"
close $f
set status 0
if {[catch {exec [info nameofexecutable] long.tcl} out options]} {
  set status [lindex [dict get $options -errorcode] 2]
}
regsub {\n?child process exited abnormally$} $out {} out
puts "a label of 64 characters: \"$out\", status $status"
