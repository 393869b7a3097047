# Working cell and area: choosing them by name or as the first root, the
# area taken from the cell's box, the failures that return 0, the report
# every areaReportIter-th area, the cell, root and leaf queries, and the
# operation-layer sets and layer map.
fconfigure stdout -buffering line
source [file join [lindex $argv 1] ops_layout.tcl]
package require velmar
gds_write area.gds {
  {top {{box 1 0 -50 -20 100 50} {sref mid 200 0 0 0} {aref leaf 0 100 3 2 40 50}}}
  {mid {{box 2 0 0 0 30 40} {sref leaf 0 0 180 0}}}
  {leaf {{box 1 0 0 0 10 10}}}
  {spare {{box 7 3 0 0 5 5}}}
}
gds_write other.gds {
  {top {{box 1 0 0 0 10 10}}}
}
make_library lib area.gds
make_library lib2 other.gds

API a
set t [a cget -tech]
a OpenLibrary lib 0
puts "first root: [a SetArea {} 0 0 1000 1000]"
puts "working cell [a GetWorkingCell], area [a GetAreaX1] [a GetAreaY1]\
 [a GetAreaX2] [a GetAreaY2]"
puts "cell box: [a SetArea top 0 0 0 0]"
puts "area [a GetAreaX1] [a GetAreaY1] [a GetAreaX2] [a GetAreaY2]"
puts "unknown cell: [a SetArea nosuch 0 0 10 10]"
puts "area kept: [a GetPureAreaX1] [a GetPureAreaY1] [a GetPureAreaX2]\
 [a GetPureAreaY2], working cell [a GetWorkingCell]"

puts "cells [a TotalCell], roots [a TotalRoot], leaves [a TotalLeaf]"
for {set i 0} {$i < [a TotalCell]} {incr i} {
  puts "  cell $i: [a GetCellName $i], id [a GetCellId [a GetCellName $i]]"
}
for {set i 0} {$i < [a TotalRoot]} {incr i} {
  puts "  root $i: [a GetRootName $i]"
}
puts "  beyond the tables: {[a GetCellName 99]} {[a GetRootName 99]}\
 [a GetCellId nosuch]"
set leaf [a GetFirstLeaf]
while {$leaf ne ""} {
  puts "  leaf $leaf"
  a configure -areaIter 2 -areaReportIter 0
  a SetArea $leaf 0 0 0 0
  set leaf [a GetNextLeaf]
}
puts "layers: {1 0} [a LayerExist 1 0], {7 3} [a LayerExist 7 3],\
 {3 0} [a LayerExist 3 0], {6 259} [a LayerExist 6 259]"

# The report of the area: every areaReportIter-th, the first ones always.
foreach {iter every} {5 2 6 2 3 0 1 0} {
  a configure -areaIter $iter -areaReportIter $every
  puts "areaIter $iter areaReportIter $every:"
  a SetArea top 0 0 10 10
}

# A second library without the cell: the slot is named in the message.
a SetLibrary 1
a OpenLibrary lib2 0
a SetLibrary 0
a configure -areaIter 1
puts "cell missing in slot 1: [a SetArea mid 0 0 10 10]"
puts "cell in both: [a SetArea top 0 0 10 10]"
a SetLibrary 1
puts "slot 1 working cell: [a GetWorkingCell]"

a AddLayerMap 1 0 2 0
a AddLayerMap 1 0 3 0
a AddLayerMap 1 300 3 0
a AddOpLayer 5 0
a AddOpLayer2 -1 0
