# Start-up of the shell: the package, the read-only build variables, the
# type-table variable, and nothing else loaded or created.
puts "package require: [package require velmar]"
foreach v {Product CopyRight Version BuildDate} {
  puts "$v: [set $v]"
}
foreach v {Version Product CopyRight BuildDate} {
  set code [catch {set $v 2.0} msg]
  puts "set $v 2.0: $code {$msg}"
  puts "  afterwards: [set $v]"
}
puts "append Version: [catch {append Version x} msg] {$msg} [set Version]"
puts "type table: $swig_runtime_data_type_pointer2"
puts "type table is 16 lowercase hex digits:\
 [regexp {^[0-9a-f]{16}$} $swig_runtime_data_type_pointer2]"
puts "procs (no script library): [llength [info procs]]"
puts "rc file set: [info exists tcl_rcFileName]"
puts "object commands: [llength [info commands _*]]"
foreach c {API Tech new_API new_Tech delete_API delete_Tech} {
  puts "$c exists: [llength [info commands $c]]"
}
puts "Tech commands: [llength [info commands Tech_*]]"
puts "script arguments: $argc"
