# Installs the build and uses it as a stranger would (cmake -P script).
#
#   MODE=install  cmake --install into a scratch prefix, then configure and
#                 build the consumer project against it and run it
#   MODE=deb      cpack -G DEB into a scratch folder, unpack the package with
#                 dpkg -x into a scratch root and run the installed program
#
# Variables: MODE, SOURCE_DIR, BUILD_DIR, SCRATCH, GENERATOR, CXX_COMPILER,
# BUILD_TYPE, CPACK.

foreach(var MODE SOURCE_DIR BUILD_DIR SCRATCH)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "package test: ${var} is not set")
  endif()
endforeach()

function(run_step what)
  execute_process(COMMAND ${ARGN}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${ARGN}\n${out}\n${err}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

function(expect_file path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "missing after installation: ${path}")
  endif()
endfunction()

# The translation of the bundled example must be a whole grammar.
function(expect_grammar path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "the translation of the bundled example wrote no ${path}")
  endif()
  file(READ "${path}" grammar)
  foreach(piece "; Created by pavex2abnf\n; From: examples/orders.pvx\n"
                "\nOrderRequest = \n" "\nCustomer = LBRCE \n"
                "\nextension-params    = extension-param *( WS extension-param )\n")
    string(FIND "${grammar}" "${piece}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${path} lacks the text:\n${piece}")
    endif()
  endforeach()
endfunction()

file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")

if(MODE STREQUAL "install")
  set(prefix "${SCRATCH}/prefix")
  run_step("installation" "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")
  foreach(installed bin/pvx2abnf share/man/man1/pvx2abnf.1
                    include/pvx2abnf/app/run.h include/pvx2abnf/model/model.h
                    lib/cmake/pvx2abnf/pvx2abnfConfig.cmake)
    expect_file("${prefix}/${installed}")
  endforeach()

  set(configure "${CMAKE_COMMAND}" -S "${SOURCE_DIR}/tests/package" -B "${SCRATCH}/consumer"
      "-DCMAKE_PREFIX_PATH=${prefix}")
  if(GENERATOR)
    list(APPEND configure -G "${GENERATOR}")
  endif()
  if(CXX_COMPILER)
    list(APPEND configure "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}")
  endif()
  if(BUILD_TYPE)
    list(APPEND configure "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}")
  endif()
  run_step("configuring the consumer" ${configure})
  run_step("building the consumer" "${CMAKE_COMMAND}" --build "${SCRATCH}/consumer")

  execute_process(
    COMMAND "${SCRATCH}/consumer/consumer" examples/orders.pvx + examples/common.pvx
            "${SCRATCH}/orders.abnf"
    WORKING_DIRECTORY "${SOURCE_DIR}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the consumer failed (${status}):\n${out}\n${err}")
  endif()
  expect_grammar("${SCRATCH}/orders.abnf")

elseif(MODE STREQUAL "deb")
  if(NOT CPACK)
    set(CPACK cpack)
  endif()
  run_step("cpack" "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${SCRATCH}/deb")
  file(GLOB debs "${SCRATCH}/deb/*.deb")
  list(LENGTH debs count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "cpack made ${count} .deb files: ${debs}")
  endif()
  run_step("reading the package's control fields" dpkg-deb -f "${debs}" Package Version Depends)
  if(NOT step_output MATCHES "Package: pvx2abnf\n" OR NOT step_output MATCHES "Version: 0\\.91")
    message(FATAL_ERROR "unexpected control fields:\n${step_output}")
  endif()

  set(root "${SCRATCH}/root")
  run_step("dpkg -x" dpkg -x "${debs}" "${root}")
  expect_file("${root}/usr/share/man/man1/pvx2abnf.1")
  expect_file("${root}/usr/lib/cmake/pvx2abnf/pvx2abnfConfig.cmake")
  expect_file("${root}/usr/include/pvx2abnf/app/run.h")

  set(program "${root}/usr/bin/pvx2abnf")
  expect_file("${program}")
  run_step("pvx2abnf -?" "${program}" -?)
  if(NOT step_output MATCHES "^pvx2abnf version 0\\.91\n\n\n +Pavex 2 ABNF Converter")
    message(FATAL_ERROR "unexpected usage text:\n${step_output}")
  endif()
  execute_process(
    COMMAND "${program}" examples/orders.pvx + examples/common.pvx "${SCRATCH}/orders.abnf"
    WORKING_DIRECTORY "${SOURCE_DIR}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out MATCHES "\n0 error\\(s\\), 0 warning\\(s\\)\n")
    message(FATAL_ERROR "the installed program failed (${status}):\n${out}\n${err}")
  endif()
  expect_grammar("${SCRATCH}/orders.abnf")

else()
  message(FATAL_ERROR "package test: unknown MODE ${MODE}")
endif()
