#!/usr/bin/env bash
# Runs the velmar demo on a fresh Debian machine: installs the packages the
# build needs (apt-get, as root or through sudo), builds velmar in Release
# and runs examples/demo.tcl, which makes a small layout, loads it and
# prints what a few layer operations produced.
#
#   bash examples/run-demo.sh [work-folder]     (default: build/demo)
set -euo pipefail
cd "$(dirname "$0")/.."

PKGS="cmake g++ make tcl8.6-dev zlib1g-dev libgtest-dev libbenchmark-dev"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q $missing
fi

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "$(nproc)" --target velmar
work=${1:-build/demo}
mkdir -p "$work"
build/release/command/velmar examples/demo.tcl "$work"
