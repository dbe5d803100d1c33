# Renders a manual page as plain text with CR LF line ends, for Notepad: no overstriking and no
# escape sequences, only the characters a plain ASCII terminal would show. Given: GROFF, PAGE
# (the man page) and OUTPUT (the text file to write). A page that groff warns about fails the
# build, as the installed pages fail their test: nothing else reads it before a user does.
execute_process(COMMAND "${GROFF}" -man -Tascii -ww -P-c -P-b -P-u "${PAGE}"
                OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR text STREQUAL "" OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff could not render ${PAGE} cleanly (${status}):\n${warnings}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
