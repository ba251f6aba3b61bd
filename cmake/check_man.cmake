# Fails when groff has anything to say about the man page PAGE.
execute_process(COMMAND ${GROFF} -man -Tutf8 -ww -z ${PAGE} ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff on ${PAGE}:\n${warnings}")
endif()
