#!/usr/bin/env bash
# Script benchmark of the main road: a flat GDSII layout of N + N random
# rectangles (layers {1 0} and {2 0}, one top cell; N = 100,000 unless
# given) is generated, loaded into a new library, and the two layers are
# ANDed over the whole top cell; the result is stored into the temporary
# database and copied into the cell, and the library is written back; then
# layer {1 0} is sized by +50 and -50 nm and checked for SPACE and WIDTH
# at 200 nm, and the enclosure of {2 0} by {1 0} at 200 nm. The
# time of each step is printed at the end; velmar's own messages go to
# bench.log in the work folder.
#
#   bash bench/load_and_bench.sh [build-folder] [rectangles-per-layer]
#
# The build folder (default build/release) is configured and velmar built
# in Release when it holds no velmar yet.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build/release}")
count=${2:-100000}
velmar=$build/command/velmar
if [ ! -x "$velmar" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
  cmake --build "$build" -j "$(nproc)" --target velmar
fi

work=$(mktemp -d /tmp/velmar_bench_XXXXXX)
trap 'rm -rf "$work"' EXIT
cat > "$work/bench.tcl" <<'TCL'
package require velmar
lassign $argv root count
source [file join $root examples gdsgen.tcl]
set times {}
proc step {name script} {
  global times
  set t0 [clock milliseconds]
  set result [uplevel 1 $script]
  lappend times $name [expr {[clock milliseconds] - $t0}] $result
}

step "generate GDSII ($count + $count rectangles)" {
  # Extent 1 mm, sides 10 nm .. 4 um: each layer covers about 40 %.
  gdsgen::flatRandomLayout layout.gds 1 $count 1000000 10 4000
  format "%.1f MB" [expr {[file size layout.gds] / 1e6}]
}
file mkdir lib
API a
step "OpenLibrary, LoadGds" {
  a OpenLibrary lib 0
  a LoadGds layout.gds 0 ""
}
step "SetArea (whole top cell)" { a SetArea top 0 0 0 0 }
step "AND {1 0} {2 0}" {
  set layer [a AND 1 0 2 0]
  set layer
}
step "SaveDB into the temporary database" {
  a SetTempDB temp.db
  a OpenTempDB
  a SaveDB $layer 0 10 0
}
step "CloseTempDB, CopyTempDB, UpdateLibrary" {
  a CloseTempDB
  a CopyTempDB top
  a UpdateLibrary
}
step "OR {10 0} again from the library" { a OR 10 0 }
step "SIZING {1 0} +50" { a SIZING 1 0 50 }
step "SIZING {1 0} -50" { a SIZING 1 0 -50 }
step "SPACE {1 0} 200" { a SPACE 1 0 200 0 }
step "WIDTH {1 0} 200" { a WIDTH 1 0 200 0 }
step "ENC {2 0} {1 0} 200" { a Enc 2 0 1 0 200 0 }
a CloseLibraries

set f [open times.txt w]
foreach {name ms result} $times {
  puts $f [format "%-45s %8.3f s   %s" $name [expr {$ms / 1000.0}] $result]
}
close $f
TCL

cd "$work"
echo "velmar: $velmar, work folder $work"
"$velmar" bench.tcl "$root" "$count" > bench.log 2>&1 || { tail -20 bench.log; exit 1; }
grep -E "Total (saved polygons|output polygons)" bench.log | tail -3 || true
cat times.txt
