# The manual page must format without a single warning (cmake -P script).
# Variables: MANPAGE, BINARY (the program, whose --help lists the long
# options the page must describe). Without groff the test is skipped, except under CI
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

# Every long option that --help lists is described.
if(BINARY)
  execute_process(COMMAND "${BINARY}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${BINARY} --help failed (${status})")
  endif()
  string(REGEX MATCHALL "\n--[a-z-]+" options "${help}")
  if(NOT options)
    message(FATAL_ERROR "${BINARY} --help lists no long options:\n${help}")
  endif()
  foreach(option IN LISTS options)
    string(STRIP "${option}" option)
    string(REPLACE "-" "\\-" escaped "${option}")
    # An entry of its own: ".TP", then the option in bold, alone or with
    # its value.
    set(found FALSE)
    foreach(entry ".TP\n.B ${escaped}\n" ".TP\n.BI ${escaped}=" ".TP\n.BR ${escaped}=")
      string(FIND "${page}" "${entry}" at)
      if(NOT at EQUAL -1)
        set(found TRUE)
      endif()
    endforeach()
    if(NOT found)
      message(FATAL_ERROR "${MANPAGE} does not describe ${option}")
    endif()
  endforeach()
endif()
