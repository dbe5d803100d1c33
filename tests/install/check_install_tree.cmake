# Installs the build into a scratch prefix and checks what a user gets: the program where the
# shell finds it, running, and the manual page where man looks, rendering without a warning.
# Given: BUILD_DIR, PREFIX, PROGRAM and MANUAL_PAGE (relative to PREFIX; MANUAL_PAGE may be
# empty), RUN_PROGRAM (whether this machine can run it) and GROFF (empty when not installed).

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

if(NOT EXISTS "${PREFIX}/${PROGRAM}")
  message(FATAL_ERROR "not installed: ${PROGRAM}")
endif()
if(RUN_PROGRAM)
  execute_process(COMMAND "${PREFIX}/${PROGRAM}" RESULT_VARIABLE status OUTPUT_VARIABLE output)
  if(NOT status EQUAL 0 OR NOT output MATCHES "\nUsage: ")
    message(FATAL_ERROR "the installed program does not print its usage text (status ${status})")
  endif()
endif()

if(MANUAL_PAGE)
  if(NOT EXISTS "${PREFIX}/${MANUAL_PAGE}")
    message(FATAL_ERROR "not installed: ${MANUAL_PAGE}")
  endif()
  if(GROFF)
    execute_process(COMMAND "${GROFF}" -man -Tutf8 -ww -z "${PREFIX}/${MANUAL_PAGE}"
                    RESULT_VARIABLE status ERROR_VARIABLE warnings)
    if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
      message(FATAL_ERROR "the manual page does not render cleanly:\n${warnings}")
    endif()
  endif()
endif()
