#!/usr/bin/env bash
# Runs one velmar script test and compares it with its expected files.
#
#   run_script_test.sh VELMAR SCRIPT WORKDIR [ARG...]
#
# SCRIPT.tcl runs as `VELMAR SCRIPT.tcl ARG...` in a fresh, empty WORKDIR,
# with standard input from /dev/null. Next to the script:
#   NAME.out     expected standard output (required);
#   NAME.status  expected exit status (optional, default 0);
#   NAME.err     expected standard error (optional; compared only if present).
# A script that cannot run here (the shared test data is missing) prints
# why and exits with status 77: the test is then reported as skipped, with
# that text shown.
# Before the comparison, date lines as ctime writes them become "<DATE>" and
# every run of exactly 16 hexadecimal digits standing apart from other
# letters and digits (an address in a pointer string or in the type-table
# variable) becomes "<ADDR>", and the process size that closing a library
# reports ("Total Memory = %d MBytes") becomes "<N>".
set -u
velmar=$1 script=$2 workdir=$3
shift 3
base=${script%.tcl}
expected_status=0
if [ -f "$base.status" ]; then expected_status=$(tr -d ' \n\r' < "$base.status"); fi

rm -rf "$workdir" && mkdir -p "$workdir" || exit 2
cd "$workdir" || exit 2
"$velmar" "$script" "$@" < /dev/null > stdout.raw 2> stderr.raw
status=$?
if [ "$status" = 77 ] && [ "$expected_status" != 77 ]; then
  cat stdout.raw
  exit 77
fi

mask() {
  sed -E \
    -e 's/^(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}$/<DATE>/' \
    -e 's/(^|[^0-9A-Za-z])[0-9a-fA-F]{16}([^0-9A-Za-z]|$)/\1<ADDR>\2/g' \
    -e 's/^Total Memory = [0-9]+ MBytes$/Total Memory = <N> MBytes/' "$1"
}
mask stdout.raw > stdout.txt
mask stderr.raw > stderr.txt

fail=0
if ! diff -u "$base.out" stdout.txt; then
  echo "standard output differs from $base.out"
  fail=1
fi
if [ -f "$base.err" ] && ! diff -u "$base.err" stderr.txt; then
  echo "standard error differs from $base.err"
  fail=1
fi
if [ "$status" != "$expected_status" ]; then
  echo "exit status $status, expected $expected_status"
  echo "--- standard error:"; cat stderr.raw
  fail=1
fi
exit $fail
