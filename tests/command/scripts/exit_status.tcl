# The script's own exit status is the shell's.
package require velmar
set t [Tech t]
puts "splitSize [t cget -splitSize]"
exit 3
