# What a build does with the grammar (cmake -P script):
#   - the first build makes the grammar; a build without changes does not;
#   - a change of the main source, of a library or of a directive file makes
#     it again, a change of an unrelated file does not;
#   - a build fails while the sources have errors or the generator reports
#     an ERROR: note, also when it is repeated, and succeeds again once they
#     are mended.
#
#   GENERATOR=<name>  the project tests/package/generate with that CMake
#                     generator, against the installed package in PREFIX
#   GENERATOR=make    the make rule of README.md, with the program BINARY;
#                     also, a library dropped from the rule and deleted
#                     does not stop make
#
# Variables: SOURCE_DIR, SCRATCH, GENERATOR, PREFIX or BINARY.

foreach(var SOURCE_DIR SCRATCH GENERATOR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "generate test: ${var} is not set")
  endif()
endforeach()

if(GENERATOR STREQUAL "Ninja")
  find_program(NINJA NAMES ninja ninja-build)
  if(NOT NINJA)
    if("$ENV{CI}" STREQUAL "true")
      message(FATAL_ERROR "ninja is not installed; install the Debian package ninja-build")
    endif()
    message("SKIPPED: ninja is not installed")
    return()
  endif()
endif()

set(sources "${SCRATCH}/sources")
set(build "${SCRATCH}/build")
set(grammar "${build}/grammars/orders.abnf")
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${sources}")
foreach(name orders.pvx orders.pvxcfg common.pvx)
  configure_file("${SOURCE_DIR}/examples/${name}" "${sources}/${name}" COPYONLY)
endforeach()
file(WRITE "${sources}/unrelated.pvx" "pavex module unrelated;\nbool Flag;\n")

# The make rule of README.md, with the translator's console kept out of the
# way; the library is named in a variable so that it can be dropped.
set(makefile [=[
LIBRARIES = + common.pvx
grammars/orders.abnf: orders.pvx common.pvx
	@mkdir -p grammars
	@echo "Generating ABNF grammar $@"
	@"$(PVX2ABNF)" --exit-code --error-format=gcc --depfile=$@.d orders.pvx $(LIBRARIES) $@
.DELETE_ON_ERROR:
-include grammars/orders.abnf.d
]=])

if(GENERATOR STREQUAL "make")
  set(build "${sources}")
  set(grammar "${sources}/grammars/orders.abnf")
  file(WRITE "${sources}/Makefile" "${makefile}")
  set(build_command make -C "${sources}" "PVX2ABNF=${BINARY}")
else()
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}/tests/package/generate" -B "${build}"
            -G "${GENERATOR}" "-DCMAKE_PREFIX_PATH=${PREFIX}" "-DSOURCES=${sources}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "configuring with ${GENERATOR} failed (${status}):\n${out}\n${err}")
  endif()
  set(build_command "${CMAKE_COMMAND}" --build "${build}")
endif()

# One build; `expect` is "made", "kept" or "failed".
function(build_expecting expect why)
  # File times must move on between a change and the build that sees it.
  execute_process(COMMAND "${CMAKE_COMMAND}" -E sleep 0.05)
  execute_process(COMMAND ${build_command}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${out}" "Generating ABNF grammar" at)
  if(expect STREQUAL "failed")
    if(status EQUAL 0)
      message(FATAL_ERROR "${GENERATOR}, ${why}: the build succeeded:\n${out}\n${err}")
    endif()
  elseif(NOT status EQUAL 0)
    message(FATAL_ERROR "${GENERATOR}, ${why}: the build failed (${status}):\n${out}\n${err}")
  elseif(expect STREQUAL "made" AND at EQUAL -1)
    message(FATAL_ERROR "${GENERATOR}, ${why}: the grammar was not made again:\n${out}")
  elseif(expect STREQUAL "kept" AND NOT at EQUAL -1)
    message(FATAL_ERROR "${GENERATOR}, ${why}: the grammar was made again:\n${out}")
  endif()
  set(build_output "${out}" PARENT_SCOPE)
endfunction()

function(append file text)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E sleep 0.05)
  file(APPEND "${sources}/${file}" "${text}")
endfunction()

build_expecting(made "first build")
if(NOT EXISTS "${grammar}" OR NOT EXISTS "${grammar}.d")
  message(FATAL_ERROR "${GENERATOR}: the first build wrote no grammar or no dependency file")
endif()
build_expecting(kept "nothing changed")

append(orders.pvx "// a comment\n")
build_expecting(made "the main source changed")
build_expecting(kept "nothing changed after the main source")

append(common.pvx "// a comment\n")
build_expecting(made "the library changed")
build_expecting(kept "nothing changed after the library")

append(orders.pvxcfg "# a comment\n")
build_expecting(made "the directive file changed")
build_expecting(kept "nothing changed after the directive file")

append(unrelated.pvx "// a comment\n")
build_expecting(kept "an unrelated file changed")

# Errors fail the build, and keep failing it until they are mended.
file(READ "${sources}/orders.pvx" good)
append(orders.pvx "struct Broken { int no-range; };\n")
build_expecting(failed "the main source has an error")
# The gcc form names the line of the whole file (the last one, after the
# leading text and both modules) and the column of the name.
file(READ "${sources}/orders.pvx" broken)
string(REGEX MATCHALL "\n" feeds "${broken}")
list(LENGTH feeds last_line)
if(NOT build_output MATCHES
   "orders\\.pvx:${last_line}:21: error: Integer 'no-range' missing constraint")
  message(FATAL_ERROR "${GENERATOR}: the error was not shown in gcc form:\n${build_output}")
endif()
build_expecting(failed "the error is still there")
execute_process(COMMAND "${CMAKE_COMMAND}" -E sleep 0.05)
file(WRITE "${sources}/orders.pvx" "${good}")
build_expecting(made "the error was mended")
build_expecting(kept "nothing changed after the mend")

# An ERROR: note of the generator fails the build although the grammar was
# written, and a repeated build fails again (Make deletes the grammar of a
# failed rule, Ninja runs a failed command again).
append(orders.pvx "struct Gap { void gap as ?; int<0..9> n; };\n")
build_expecting(failed "the generator reported an ERROR: note")
if(NOT build_output MATCHES "ERROR: void types can not be untagged")
  message(FATAL_ERROR "${GENERATOR}: the generator's note was not shown:\n${build_output}")
endif()
build_expecting(failed "the ERROR: note is still due")
execute_process(COMMAND "${CMAKE_COMMAND}" -E sleep 0.05)
file(WRITE "${sources}/orders.pvx" "${good}")
build_expecting(made "the ERROR: note was mended")

if(GENERATOR STREQUAL "make")
  # The dependency file still names the library; its empty rule keeps make
  # going once the library is dropped from the rule and deleted.
  file(READ "${sources}/orders.pvx" orders)
  string(REPLACE "import shop.common as cmn;" "" orders "${orders}")
  string(REGEX REPLACE "cmn::[A-Za-z-]+" "bool" orders "${orders}")
  file(WRITE "${sources}/orders.pvx" "${orders}")
  string(REPLACE "LIBRARIES = + common.pvx" "LIBRARIES =" makefile "${makefile}")
  string(REPLACE "orders.pvx common.pvx" "orders.pvx" makefile "${makefile}")
  file(WRITE "${sources}/Makefile" "${makefile}")
  file(REMOVE "${sources}/common.pvx")
  build_expecting(made "the library was dropped and deleted")
  file(READ "${grammar}.d" deps)
  if(deps MATCHES "common\\.pvx")
    message(FATAL_ERROR "the dependency file still names the deleted library:\n${deps}")
  endif()
else()
  # A library that the project still names but that is gone fails the build.
  file(REMOVE "${sources}/common.pvx")
  build_expecting(failed "the library was deleted")
endif()
