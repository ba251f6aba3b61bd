# Writes OUTPUT, CHANGELOG.md in the form of a Debian change log, which Debian's tools read:
# a "## X.Y.Z (YYYY-MM-DD)" heading becomes an entry, each "- " item a "  * " one, wrapped to
# fit 80 columns. Entries are dated at noon, each a minute before the one above it, so that two
# releases of one day still come in order.
# A semicolon would split CMake's lists: it stands as <semicolon> until written out.
file(READ ${CHANGELOG} text)
string(REPLACE ";" "<semicolon>" text "${text}")
string(REPLACE "\n" ";" lines "${text}")
set(out "")
set(entry "")
set(item "")
set(older 0)

# Appends the item gathered so far to `out`, wrapped.
macro(flush_item)
  if(item)
    string(REPLACE " " ";" words "${item}")
    set(line "  *")
    foreach(word IN LISTS words)
      string(LENGTH "${line} ${word}" width)
      if(width GREATER 78)
        string(APPEND out "${line}\n")
        set(line "   ")
      endif()
      string(APPEND line " ${word}")
    endforeach()
    string(APPEND out "${line}\n")
    set(item "")
  endif()
endmacro()

foreach(line IN LISTS lines)
  if(line MATCHES "^## ([0-9.]+) \\(([0-9-]+)\\)")
    flush_item()
    execute_process(COMMAND date -R -u -d "${CMAKE_MATCH_2} 12:00 ${older} minutes ago"
                    OUTPUT_VARIABLE when OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    math(EXPR older "${older} + 1")
    string(APPEND out "${entry}mkani (${CMAKE_MATCH_1}) unstable; urgency=medium\n\n")
    set(entry "\n -- ${MAINTAINER}  ${when}\n\n")
  elseif(entry AND line MATCHES "^- (.*)")
    flush_item()
    set(item "${CMAKE_MATCH_1}")
  elseif(item AND line MATCHES "^  +(.*)")
    string(APPEND item " ${CMAKE_MATCH_1}")
  endif()
endforeach()
flush_item()
string(REPLACE "<semicolon>" ";" out "${out}${entry}")
file(WRITE ${OUTPUT} "${out}")
