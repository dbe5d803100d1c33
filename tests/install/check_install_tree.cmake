# Installs the build into a scratch prefix and checks what a user gets: the programs where the
# shell finds them, running, and their compressed manual pages where man looks, rendering without a
# warning. Given: BUILD_DIR, PREFIX, PROGRAM, MANUAL_PAGE, VIEWER and VIEWER_MANUAL_PAGE (all
# relative to PREFIX), and GROFF (empty when groff is not installed; the pages are then only
# checked for presence).

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

foreach(file IN ITEMS "${PROGRAM}" "${MANUAL_PAGE}" "${VIEWER}" "${VIEWER_MANUAL_PAGE}")
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# Without arguments the program prints its usage text, with status 2 (CMake drops the carriage
# returns).
execute_process(COMMAND "${PREFIX}/${PROGRAM}" RESULT_VARIABLE status OUTPUT_VARIABLE output)
if(NOT status EQUAL 2 OR NOT output MATCHES "\nUsage: ")
  message(FATAL_ERROR "the installed program does not print its usage text (status ${status})")
endif()

execute_process(COMMAND "${PREFIX}/${VIEWER}" --version RESULT_VARIABLE status
                OUTPUT_VARIABLE output)
if(NOT status EQUAL 0 OR NOT output MATCHES "^treemeter-view [0-9]")
  message(FATAL_ERROR "the installed viewer does not print its version (status ${status})")
endif()

if(GROFF)
  foreach(page IN ITEMS "${MANUAL_PAGE}" "${VIEWER_MANUAL_PAGE}")
    execute_process(COMMAND gzip -dc "${PREFIX}/${page}"
                    COMMAND "${GROFF}" -man -Tutf8 -ww -z
                    RESULTS_VARIABLE statuses ERROR_VARIABLE warnings)
    if(NOT statuses STREQUAL "0;0" OR NOT warnings STREQUAL "")
      message(FATAL_ERROR "${page} does not render cleanly (${statuses}):\n${warnings}")
    endif()
  endforeach()
endif()
