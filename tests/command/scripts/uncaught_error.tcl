# A binding error that the script does not catch ends the shell with
# status 1 after what the script printed before.
package require velmar
puts before
Tech_splitSize_get nosuchobject
puts after
