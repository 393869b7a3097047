# Tech and API objects through their object commands: cget and configure
# of attributes, the rule methods, copying a Tech into an API, and the API
# methods of messages, slots, counters and the log.
package require velmar
# Messages of the package go straight to standard output: keep puts in step.
fconfigure stdout -buffering line

source [file join [lindex $argv 1] command_cases.tcl]

puts "== Tech rules"
run {
  {Tech t}
  {t SetBias 5}
  {t SetHammerRange 0}
  {t CreateBiasRule}
  {t configure -less 10 -greater 2}
  {t SetBiasRange 0}
  {t SetBiasRange 4}
  {t SetBias 5}
  {t CreateHammerRule}
  {t SetHammer 2 30}
  {t SetHammer 3 30}
  {t ResetBiasRules}
  {t SetBias 1}
  {string match _*_p_SList [t cget -endcapRules]}
  {t configure -biasRules [t cget -endcapRules]}
  {t SetBias 6}
  {t configure -biasRules NULL}
}

puts "== API attributes"
run {
  {API a}
  {a cget -areaReportIter}
  {a cget -_not}
  {a cget -hostName}
  {a configure -_not 1 -_edge 2 -hierarchical 3 -areaIter 4 -areaReportIter 5 -dpId 6}
  {list [a cget -_not] [a cget -_edge] [a cget -hierarchical] [a cget -areaIter] [a cget -areaReportIter] [a cget -dpId]}
  {a configure -hostName myhost -ipaddr 10.0.0.1 -_dpFile jobs.txt}
  {list [a cget -hostName] [a cget -ipaddr] [a cget -_dpFile]}
  {a configure -hostName ab}
  {a cget -hostName}
  {string match _*_p_Tech [a cget -tech]}
  {[a cget -tech] cget -splitSize}
}

puts "== copying a Tech into an API"
run {
  {Tech u}
  {u configure -splitSize 77 -backTrans 0.5}
  {u CreateBiasRule}
  {a configure -tech u}
  {u configure -splitSize 1}
  {u ResetBiasRules}
  {[a cget -tech] cget -splitSize}
  {[a cget -tech] cget -backTrans}
  {[a cget -tech] SetBias 9}
  {u -delete}
  {[a cget -tech] SetBias 10}
  {API_tech_set a [new_Tech]}
  {[a cget -tech] cget -splitSize}
  {[a cget -tech] SetBias 11}
}

puts "== messages, slots and counters"
run {
  {a Print "50%% done, %d %s kept\n"}
  {a ReportCount}
  {a ExistLibrary 0}
  {a ExistLibrary 10}
  {a SetLibrary 3}
  {a SetLibrary 10}
  {a SetLibrary -1}
}

puts "== log"
# The log runs in a child shell whose output is read back here, so that the
# elapsed-time line can be masked in both the output and the log file.
set child [file join [lindex $argv 1] log_child.tcl]
set out [exec [info nameofexecutable] $child]
set f [open log.txt]
set text [read $f]
close $f
foreach v {out text} {
  regsub -all {Elapsed total [0-9]+ seconds} [set $v] {Elapsed total N seconds} $v
  regsub -all -line {^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}$} [set $v] {<DATE>} $v
}
puts "child output:\n$out"
puts "== log file"
puts $text
