# pvx2abnf_generate(OUTPUT <file> SOURCE <main> [LIBRARIES <file>...] [OPTIONS <arg>...])
#
# Adds the custom command that translates SOURCE (with the LIBRARIES after
# "+") into the grammar OUTPUT. It runs the program with --exit-code, so the
# build fails when the sources have errors, and with a dependency file, so
# the grammar is made again when the main source, a library or one of their
# directive files changes, and not otherwise. OPTIONS are further long
# options, written before the input file.
#
# Relative SOURCE and LIBRARIES are taken from the current source folder,
# a relative OUTPUT from the current binary folder. The grammar is built
# when a target uses it, for example
#   pvx2abnf_generate(OUTPUT orders.abnf SOURCE orders.pvx LIBRARIES common.pvx)
#   add_custom_target(grammars ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/orders.abnf)
#
# Needs the executable target pvx2abnf::pvx2abnf (find_package(pvx2abnf), or
# this source tree added with add_subdirectory) and CMake 3.20 or later, the
# first to read dependency files with every generator.

function(pvx2abnf_generate)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "OUTPUT;SOURCE" "LIBRARIES;OPTIONS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "pvx2abnf_generate: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_OUTPUT OR NOT arg_SOURCE)
    message(FATAL_ERROR "pvx2abnf_generate: OUTPUT and SOURCE are required")
  endif()
  if(CMAKE_VERSION VERSION_LESS 3.20)
    message(FATAL_ERROR "pvx2abnf_generate needs CMake 3.20 or later")
  endif()
  if(NOT TARGET pvx2abnf::pvx2abnf)
    message(FATAL_ERROR "pvx2abnf_generate: the target pvx2abnf::pvx2abnf is not defined")
  endif()

  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(source "${arg_SOURCE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  set(inputs "${source}")
  set(library_args)
  foreach(library IN LISTS arg_LIBRARIES)
    get_filename_component(library "${library}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND inputs "${library}")
    list(APPEND library_args + "${library}")
  endforeach()
  set(depfile "${output}.d")

  get_filename_component(output_dir "${output}" DIRECTORY)
  file(MAKE_DIRECTORY "${output_dir}")
  file(RELATIVE_PATH shown "${CMAKE_BINARY_DIR}" "${output}")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND pvx2abnf::pvx2abnf --exit-code "--depfile=${depfile}" ${arg_OPTIONS}
            "${source}" ${library_args} "${output}"
    DEPENDS ${inputs} pvx2abnf::pvx2abnf
    DEPFILE "${depfile}"
    COMMENT "Generating ABNF grammar ${shown}"
    VERBATIM)
endfunction()

# pvx2abnf_check_compat(NAME <test> OLD <main> [OLD_LIBRARIES <file>...]
#                       NEW <main> [NEW_LIBRARIES <file>...]
#                       [MODE backward|forward|full] [OPTIONS <arg>...])
#
# Adds the test NAME that compares the definitions NEW with an older version
# of them, OLD (for instance those of the last release, taken from version
# control), with --compat=MODE (backward by default). The test fails on a
# break of that direction or on errors in either version; its output names
# each break with its witness message, which is also written into the
# folder NAME-witnesses of the current binary folder. Relative files are
# taken from the current source folder, for example
#   pvx2abnf_check_compat(NAME orders.compatible OLD release/orders.pvx
#                         NEW orders.pvx NEW_LIBRARIES common.pvx
#                         OLD_LIBRARIES release/common.pvx)
function(pvx2abnf_check_compat)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;OLD;NEW;MODE"
                        "OLD_LIBRARIES;NEW_LIBRARIES;OPTIONS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "pvx2abnf_check_compat: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_NAME OR NOT arg_OLD OR NOT arg_NEW)
    message(FATAL_ERROR "pvx2abnf_check_compat: NAME, OLD and NEW are required")
  endif()
  if(NOT arg_MODE)
    set(arg_MODE backward)
  endif()
  if(NOT arg_MODE MATCHES "^(backward|forward|full)$")
    message(FATAL_ERROR "pvx2abnf_check_compat: MODE is backward, forward or full: ${arg_MODE}")
  endif()
  if(NOT TARGET pvx2abnf::pvx2abnf)
    message(FATAL_ERROR "pvx2abnf_check_compat: the target pvx2abnf::pvx2abnf is not defined")
  endif()
  get_filename_component(old "${arg_OLD}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(new "${arg_NEW}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  set(old_args "--old=${old}")
  foreach(library IN LISTS arg_OLD_LIBRARIES)
    get_filename_component(library "${library}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND old_args "--old-lib=${library}")
  endforeach()
  set(new_args "${new}")
  foreach(library IN LISTS arg_NEW_LIBRARIES)
    get_filename_component(library "${library}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND new_args + "${library}")
  endforeach()
  set(witnesses "${CMAKE_CURRENT_BINARY_DIR}/${arg_NAME}-witnesses")
  file(MAKE_DIRECTORY "${witnesses}")
  add_test(NAME ${arg_NAME}
    COMMAND pvx2abnf::pvx2abnf -q --compat=${arg_MODE} ${old_args} "--witness-dir=${witnesses}"
            ${arg_OPTIONS} ${new_args})
endfunction()
