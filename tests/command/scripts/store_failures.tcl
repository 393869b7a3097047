# Preconditions and soft failures of the library, loading and storing
# commands. Each case runs in a process of its own; its output (process
# sizes masked) and exit status are printed.
package require velmar
set scripts [lindex $argv 1]
source [file join $scripts .. .. .. examples gdsgen.tcl]
source [file join $scripts child_helpers.tcl]

gdsgen::begin LIB
gdsgen::structure top
gdsgen::rect 1 0 0 0 100 100
gdsgen::rect 2 0 50 50 150 150
gdsgen::endstructure
gdsgen::write small.gds

proc case {title script} {
  lassign [childRun case.tcl $script] status out
  puts "=== $title (status $status)"
  if {$out ne ""} { puts $out }
}

# A library with top as the working cell (its output is left out).
set ready {
  file delete -force lib
  file mkdir lib
  a OpenLibrary lib 0
  a LoadGds small.gds 0 ""
  a SetArea top 0 0 0 0
  puts "--- ready"
}

# --- Ending with status 1 --------------------------------------------------
case "SaveDB without a library" { a SaveDB 16384 0 5 0 }
case "SaveDB without an area" {
  file mkdir lib
  a OpenLibrary lib 0
  a SaveDB 16384 0 5 0
}
case "SaveDB with the working cell of another library" "$ready
  a OpenLibrary other 0
  a SaveDB 16384 0 5 0
"
case "SavePoly clipping without a library" "$ready
  a SetArea top 0 0 50 50
  \[a cget -tech] configure -areaMargin 10
  set t \[a OR 1 0]
  a CloseLibrary
  a SavePoly \$t 0 x.txt
"
case "CopyTempDB without a library" { a CopyTempDB top }
case "LoadGds without a library" { a LoadGds small.gds 0 "" }
case "LoadPoly without a library" { a LoadPoly p.txt top 1 0 }
case "LoadLibraryInfo without a library" { a LoadLibraryInfo }
case "LoadLibraryInfos without a library" { a LoadLibraryInfos }
case "LoadLibraryAll without a library" { a LoadLibraryAll 1 }
case "UpdateLibrary without a library" { a UpdateLibrary }
case "ChangeDBUnit without a library" { a ChangeDBUnit 1.0 }
case "ScaleOut without a library" { a ScaleOut 1.0 }

# --- Soft failures: 0 or a message, and the script goes on ----------------
case "refused stores" "$ready
  set t \[a OR 1 0]
  a SetTempDB temp.db
  puts \"library layer: \[a SaveDB 1 0 5 0]\"
  puts \"no such temporary layer: \[a SaveDB 16000 0 5 0]\"
  puts \"target layer 300: \[a SaveDB \$t 0 300 0]\"
  puts \"target datatype -1: \[a SaveDB \$t 0 5 -1]\"
  puts \"temporary database not open: \[a SaveDB \$t 0 5 0]\"
  puts \"SavePoly of a library layer: \[a SavePoly 1 0 x.txt]\"
  puts \"SavePoly into a missing folder: \[a SavePoly \$t 0 no/such/x.txt]\"
  a OpenTempDB
  puts \"after OpenTempDB: \[a SaveDB \$t 0 5 0]\"
  puts \"the source is consumed: \[a SavePoly \$t 0 x.txt] \[file exists x.txt]\"
"
case "refused loads" "$ready
  puts \"missing GDSII file: \[a LoadGds none.gds 0 {}]\"
  puts \"\\nunknown cell: \[a LoadPoly p.txt nope 1 0]\"
  puts \"missing polygon file: \[a LoadPoly p.txt top 1 0]\"
  a ChangeDBUnit 0
  a ChangeDBUnit -2
  file mkdir empty
  a SetLibrary 1
  a OpenLibrary empty 0
  puts \"library without files: \[a LoadLibraryInfo]\"
  puts \"whole library without files: \[a LoadLibraryAll 0]\"
"
case "temporary database problems" "$ready
  a SetTempDB missing/temp.db
  a OpenTempDB
  a CopyTempDB top
  a SetTempDB temp.db
  a AppendBinaries temp.db temp.db
  a AppendBinaries temp.db none.db
  a CopyTempDB nope
  puts {}
"

# --- The road of one store with reports ------------------------------------
case "storing with reports" "$ready
  set t \[a OR 1 0 2 0]
  set u \[a AND 1 0 2 0]
  puts \"results \$t \$u\"
  \[a cget -tech] configure -reportDegree 1
  a SetTempDB temp.db
  a OpenTempDB
  puts \"SaveDB: \[a SaveDB \$t 0 5 0]\"
  a configure -hierarchical 1
  puts \"SaveDB: \[a SaveDB \$u 0 6 0]\"
  puts \"stored layers keep their numbers; next: \[a GetTempLayer]\"
  a CloseTempDB
  a CopyTempDB {}
  a UpdateLibrary
  a CloseLibraries
"
