# Helper of the script tests of object and class commands (sourced; not a
# test itself).

# Evaluates each command of the list at global level and prints it with its
# result: "ok: RESULT" or "error: MESSAGE", followed by the error code when
# withCode is set.
proc runCases {cases withCode} {
  foreach c $cases {
    set code [catch {uplevel #0 $c} result]
    if {!$code} {
      puts "$c\n  ok: $result"
    } elseif {$withCode} {
      puts "$c\n  error: $result\n  code:  $::errorCode"
    } else {
      puts "$c\n  error: $result"
    }
  }
}

proc run {cases} { runCases $cases 0 }
