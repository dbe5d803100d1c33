# Renders a manual page as plain text with CR LF line ends, for Notepad: no overstriking and no
# escape sequences, only the characters a plain ASCII terminal would show. Given: GROFF, PAGE
# (the man page) and OUTPUT (the text file to write).
execute_process(COMMAND "${GROFF}" -man -Tascii -P-c -P-b -P-u "${PAGE}"
                OUTPUT_VARIABLE text RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR text STREQUAL "")
  message(FATAL_ERROR "groff could not render ${PAGE} (${status})")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
