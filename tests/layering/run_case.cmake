# Runs the layering check on one tree and checks its verdict:
#   cmake -DCHECK=<check script> -DROOT=<tree> -DLAYERS=<file>
#         -DFAULT=<expected fault line, a regex; empty when the tree is clean>
#         -P run_case.cmake
# A clean tree must pass; any other must fail with the fault line and with
# no other fault.
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${ROOT} -DLAYERS=${LAYERS} -P ${CHECK}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(out "${out}${err}")
if(FAULT STREQUAL "")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the check failed on a clean tree:\n${out}")
  endif()
else()
  if(rc EQUAL 0)
    message(FATAL_ERROR "the check passed a tree with a wrong include:\n${out}")
  endif()
  if(NOT out MATCHES "${FAULT}")
    message(FATAL_ERROR "the check failed without the expected fault line:\n${out}")
  endif()
  if(NOT out MATCHES "layering: 1 include\\(s\\) against")
    message(FATAL_ERROR "the check reported other faults than the planted one:\n${out}")
  endif()
endif()
message("${out}")
