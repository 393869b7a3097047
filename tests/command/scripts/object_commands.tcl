# Object commands and class commands: cget, configure, -this, -thisown,
# -acquire, -disown, -delete, the method list of an unknown method, and the
# forms of the class commands.
package require velmar

source [file join [lindex $argv 1] command_cases.tcl]

puts "== owning command made by the class command"
run {
  {set h [Tech t]}
  {string match _*_p_Tech $h}
  {llength [info commands $h]}
  {t cget -splitSize}
  {t cget -thisown}
  {expr {[t cget -this] eq $h}}
  {t configure -splitSize 10 -explodeRate 80}
  {list [t cget -splitSize] [t cget -explodeRate]}
  {t configure -splitSize 20 -bogus 1}
  {t cget -splitSize}
  {t configure -splitSize 30 -explodeRate}
  {t configure -splitSize}
  {t configure}
  {t cget -splitSize}
  {t configure -splitSize x}
  {t configure -ignoreText yes -transmittance 0.5}
  {list [t cget -ignoreText] [t cget -transmittance]}
  {t cget -bogus}
  {t cget}
  {t}
  {t Foo}
  {t SetHammer 1}
  {t CreateBiasRule}
  {t SetBias 5}
  {Tech_splitSize_get t}
  {t -delete}
  {info commands t}
  {Tech_splitSize_get $h}
}

puts "== non-owning command made by new_Tech"
run {
  {set p [new_Tech]}
  {$p cget -thisown}
  {$p cget -splitSize}
  {$p -delete}
  {info commands $p}
  {Tech_splitSize_get $p}
  {delete_Tech $p}
  {Tech_splitSize_get $p}
}

puts "== ownership moves"
run {
  {set q [new_Tech]}
  {$q -acquire}
  {$q cget -thisown}
  {$q -disown}
  {$q cget -thisown}
  {$q -acquire}
  {rename $q {}}
  {Tech_splitSize_get $q}
}

puts "== class command forms"
run {
  {set r [Tech]}
  {$r cget -thisown}
  {set s [Tech -args]}
  {$s cget -thisown}
  {Tech x y}
  {Tech x -this}
  {Tech -this}
  {Tech x -this $r}
  {x cget -thisown}
  {x configure -maxSize 5}
  {$r cget -maxSize}
  {x -delete}
  {Tech_maxSize_get $r}
  {Tech x -this NULL}
  {Tech x -this _0100000000000000_p_Tech}
  {Tech -this $s}
  {$s cget -maxSize}
}

puts "== API objects"
run {
  {API api}
  {api cget -areaReportIter}
  {api configure -areaIter 3 -_not 1}
  {list [api cget -areaIter] [api cget -_not]}
  {set tk [api cget -tech]}
  {$tk cget -splitSize}
  {$tk cget -thisown}
  {Tech model}
  {model configure -splitSize 7}
  {api configure -tech model}
  {$tk cget -splitSize}
  {api ExistLibrary 0}
  {api ExistLibrary}
  {Tech x -this api}
  {API y -this $tk}
  {$tk -acquire}
  {$tk cget -thisown}
  {api -delete}
  {$tk cget -splitSize}
}

puts "== a stale owning command and a new object at the same address"
run {
  {set h [Tech]}
  {delete_Tech $h}
  {set h2 [new_Tech]}
  {Tech_splitSize_set $h2 12}
  {$h -acquire}
  {rename $h {}}
  {Tech_splitSize_get $h2}
}
