# The method list that an API object command gives for an unknown method:
# the bound API methods in method-list order.
package require velmar
API api
catch {api Foo} msg
puts $msg
puts "methods: [expr {[llength $msg] - 11}]"
