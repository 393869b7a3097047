# Helper of the script tests of object and class commands (sourced; not a
# test itself).

# Evaluates each command of the list at global level and prints it with its
# result: "ok: RESULT" or "error: MESSAGE".
proc run {cases} {
  foreach c $cases {
    set code [catch {uplevel #0 $c} result]
    if {$code} {
      puts "$c\n  error: $result"
    } else {
      puts "$c\n  ok: $result"
    }
  }
}
