# Every Tech attribute reads back its default through Tech_<attr>_get, and
# a set command stores what a get returns; the rule-list attributes hand
# out list handles.
package require velmar
# Messages of the package go straight to standard output: keep puts in step.
fconfigure stdout -buffering line

set attrs {
  reportDegree reportCount maxVertice maxSize areaMargin areaMargin2
  ignoreText less lesseq greater greatereq eq neq less2 lesseq2 greater2
  greatereq2 eq2 neq2 biasRules endcapRules biasMinLength biasCornerGuard
  biasDiff biasShortMode biasMergeMode endcapMinLength hammerSideAdjust
  flattenSize splitSize explodeRate sparseRate overlapRate geoLevel
  transmittance backTrans phase backPhase
}
puts "attributes: [llength $attrs]"
set t [new_Tech]
foreach a $attrs {
  puts "$a [Tech_${a}_get $t]"
}

puts "== set and get"
foreach {a v} {
  reportDegree 1 maxVertice 200 less2 7 neq2 0 ignoreText true
  ignoreText 0 transmittance 0.25 backTrans 2 splitSize -5
} {
  Tech_${a}_set $t $v
  puts "$a $v -> [Tech_${a}_get $t]"
}

puts "== the embedded Tech of an API starts with the same defaults"
set api [new_API]
set e [API_tech_get $api]
puts "embedded: [string match _*_p_Tech $e]"
set same 1
set fresh [new_Tech]
foreach a $attrs {
  if {$a in {biasRules endcapRules}} continue
  if {[Tech_${a}_get $e] ne [Tech_${a}_get $fresh]} { set same 0; puts "differs: $a" }
}
puts "same defaults: $same"
