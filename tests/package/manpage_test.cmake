# The manual page must format without a single warning (cmake -P script).
# Variables: MANPAGE. Without groff the test is skipped, except under CI
# (CI=true), where a missing formatter is a failure.

find_program(GROFF groff)
if(NOT GROFF)
  if("$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "groff is not installed; install the Debian package groff-base")
  endif()
  message("SKIPPED: groff is not installed")
  return()
endif()

execute_process(COMMAND "${GROFF}" -man -ww -z "${MANPAGE}"
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR NOT out STREQUAL "")
  message(FATAL_ERROR "groff -man -ww -z ${MANPAGE} (${status}):\n${out}${err}")
endif()

# Every section a reader looks for is present.
file(READ "${MANPAGE}" page)
foreach(section NAME SYNOPSIS DESCRIPTION OPTIONS ENVIRONMENT FILES "EXIT STATUS"
                DIAGNOSTICS EXAMPLES)
  if(NOT page MATCHES "\n\\.SH \"?${section}\"?\n")
    message(FATAL_ERROR "${MANPAGE} has no section ${section}")
  endif()
endforeach()
