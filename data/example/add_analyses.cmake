# Saves the analyses listed in LIST (one `tabulix analyze` argument list a
# line, # starts a comment) into WORKSPACE with the TABULIX binary.
file(STRINGS ${LIST} lines)
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  separate_arguments(args UNIX_COMMAND "${line}")
  execute_process(
    COMMAND ${TABULIX} --locale en_US analyze ${WORKSPACE} ${args} --save
    RESULT_VARIABLE status
    OUTPUT_QUIET
    ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "example analysis `${line}` failed: ${err}")
  endif()
endforeach()
