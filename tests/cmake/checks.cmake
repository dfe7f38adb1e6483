# The checks of the CMake-script tests (add_tool_test.cmake, doc_example_test.cmake).

function(expect_equal what got want)
  if(NOT got STREQUAL want)
    message(FATAL_ERROR "${what}:\n  got:  [${got}]\n  want: [${want}]")
  endif()
endfunction()

function(expect_contains what text part)
  string(FIND "${text}" "${part}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${what}: [${part}] not in:\n${text}")
  endif()
endfunction()

# Runs the command; fails with its output unless it succeeds. Its standard output is left in
# run_output.
function(run_checked what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()
