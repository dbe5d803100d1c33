# The manual in the Windows package is written for Windows: plain text with CR LF line ends, its
# examples in cmd.exe and PowerShell with %TEMP%, and nothing of the Linux page (signals, locale
# variables, /tmp, man). Given: MANUAL (the rendered text file).
# Its bytes in hexadecimal, two digits each (a text read by file(READ) loses its carriage
# returns): a line feed (0a) whose byte before is not a carriage return (0d) is a bare one.
file(READ "${MANUAL}" hex HEX)
string(REGEX MATCH "^(..)*([^0].|0[^d])0a" bare_line_feed "${hex}")
if(bare_line_feed OR NOT hex MATCHES "0d0a")
  message(FATAL_ERROR "${MANUAL}: its lines do not all end with CR LF")
endif()
file(READ "${MANUAL}" text)
foreach(expected IN ITEMS "Treemeter.exe no 1GB 0 3 C:\\Users > %TEMP%\\users.tsv" "$env:TEMP"
                          "%ERRORLEVEL%" "$LASTEXITCODE")
  string(FIND "${text}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${MANUAL}: no \"${expected}\"")
  endif()
endforeach()
foreach(linux_only IN ITEMS "SIGPIPE" "LC_ALL" "/tmp" "man treemeter" "/srv")
  string(FIND "${text}" "${linux_only}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${MANUAL}: \"${linux_only}\" belongs to the Linux manual")
  endif()
endforeach()
