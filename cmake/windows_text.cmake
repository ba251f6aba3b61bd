# Writes OUTPUT, the text file INPUT as Windows' Notepad reads it: every line ended by CR LF,
# which Notepad before Windows 10 needs to show lines at all, and, where the text is not plain
# ASCII, UTF-8's byte-order mark, by which Notepad on XP tells UTF-8 from the ANSI code page.
file(READ ${INPUT} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
if(NOT text MATCHES "\r\n$")
  string(APPEND text "\r\n")
endif()
if(text MATCHES "[^\t\r\n -~]")
  string(ASCII 239 187 191 bom)
  set(text "${bom}${text}")
endif()
file(WRITE ${OUTPUT} "${text}")
