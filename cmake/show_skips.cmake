# Prints each case that the last run of ctest in this build skipped, with the reason it gave
# (LOG: ctest's log of that run), so that a run without -V shows why too.
file(READ "${LOG}" log)
string(REGEX MATCHALL "\\[ RUN      \\] [^\n]*\n[^\n]*: Skipped\n[^\n]*" skips "${log}")
list(LENGTH skips count)
if(count EQUAL 0)
  message("No case was skipped.")
  return()
endif()
message("Skipped here, and why:")
foreach(skip IN LISTS skips)
  string(REGEX REPLACE "^\\[ RUN      \\] ([^\n]*)\n[^\n]*\n(.*)$" "  \\1: \\2" line "${skip}")
  message("${line}")
endforeach()
