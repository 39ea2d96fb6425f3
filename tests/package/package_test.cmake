# Installs the build and uses it as a stranger would (cmake -P script).
#
#   MODE=install  cmake --install into a scratch prefix, then configure and
#                 build the consumer project against it and run it
#   MODE=deb      configure and build the packaging tree (prefix /usr, no
#                 tests) in a scratch folder, make the Debian packages with
#                 cpack, unpack them with dpkg -x into a scratch root, check
#                 their layout, run the installed program and build the
#                 consumer against the unpacked development package
#   MODE=lintian  run lintian on the packages MODE=deb made; any error or
#                 warning fails. Without lintian the test is skipped, except
#                 under CI (CI=true), where a missing lintian is a failure.
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

# The configure command of a project with the build's generator, compiler
# and build type.
function(configure_command out source binary)
  set(command "${CMAKE_COMMAND}" -S "${source}" -B "${binary}" ${ARGN})
  if(GENERATOR)
    list(APPEND command -G "${GENERATOR}")
  endif()
  if(CXX_COMPILER)
    list(APPEND command "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}")
  endif()
  if(BUILD_TYPE)
    list(APPEND command "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}")
  endif()
  set(${out} ${command} PARENT_SCOPE)
endfunction()

# Builds the consumer project against the package under `prefix` and runs
# a translation with it in-process.
function(build_and_run_consumer prefix)
  configure_command(configure "${SOURCE_DIR}/tests/package" "${SCRATCH}/consumer"
                    "-DCMAKE_PREFIX_PATH=${prefix}")
  run_step("configuring the consumer" ${configure})
  run_step("building the consumer" "${CMAKE_COMMAND}" --build "${SCRATCH}/consumer")
  execute_process(
    COMMAND "${SCRATCH}/consumer/consumer" examples/orders.pvx + examples/common.pvx
            "${SCRATCH}/consumer.abnf"
    WORKING_DIRECTORY "${SOURCE_DIR}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the consumer failed (${status}):\n${out}\n${err}")
  endif()
  expect_grammar("${SCRATCH}/consumer.abnf")
endfunction()

# A gzip file made with -n: no file name (flags byte 0) and no time stamp.
function(expect_gzip_without_name path)
  expect_file("${path}")
  file(READ "${path}" head LIMIT 8 HEX)
  if(NOT head MATCHES "^1f8b0800(00000000)$")
    message(FATAL_ERROR "${path} is not gzip -n output (header ${head})")
  endif()
endfunction()

if(MODE STREQUAL "lintian")
  find_program(LINTIAN lintian)
  if(NOT LINTIAN)
    if("$ENV{CI}" STREQUAL "true")
      message(FATAL_ERROR "lintian is not installed; install the Debian package lintian")
    endif()
    message("SKIPPED: lintian is not installed")
    return()
  endif()
  file(GLOB debs "${SCRATCH}/deb/*.deb")
  if(NOT debs)
    message(FATAL_ERROR "no packages in ${SCRATCH}/deb: the test package.deb makes them")
  endif()
  execute_process(COMMAND "${LINTIAN}" --display-info --pedantic ${debs}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message("lintian ${debs}:\n${out}${err}")
  # Lintian complains about running as root on its standard error; only its
  # findings count.
  if(out MATCHES "(^|\n)[EW]: ")
    message(FATAL_ERROR "lintian reports errors or warnings")
  endif()
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "lintian failed (${status})")
  endif()
  return()
endif()

file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")

if(MODE STREQUAL "install")
  set(prefix "${SCRATCH}/prefix")
  run_step("installation" "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")
  foreach(installed bin/pvx2abnf share/man/man1/pvx2abnf.1.gz share/doc/pvx2abnf/copyright
                    include/pvx2abnf/app/run.h include/pvx2abnf/model/model.h
                    lib/cmake/pvx2abnf/pvx2abnfConfig.cmake
                    lib/cmake/pvx2abnf/pvx2abnfGenerate.cmake)
    expect_file("${prefix}/${installed}")
  endforeach()

  build_and_run_consumer("${prefix}")

elseif(MODE STREQUAL "deb")
  if(NOT CPACK)
    set(CPACK cpack)
  endif()
  # Packages are made from a tree configured for /usr, as Debian's tools
  # configure it, so that GNUInstallDirs picks the multiarch folders.
  set(tree "${SCRATCH}/build")
  configure_command(configure "${SOURCE_DIR}" "${tree}" -DCMAKE_INSTALL_PREFIX=/usr
                    -DQRV_TESTS=OFF)
  run_step("configuring the packaging tree" ${configure})
  run_step("building the packaging tree" "${CMAKE_COMMAND}" --build "${tree}" -j2)
  run_step("cpack" "${CPACK}" -G DEB --config "${tree}/CPackConfig.cmake" -B "${SCRATCH}/deb")
  file(GLOB debs RELATIVE "${SCRATCH}/deb" "${SCRATCH}/deb/*.deb")
  list(SORT debs)
  if(NOT debs MATCHES "^pvx2abnf-dev_0\\.91_[a-z0-9]+\\.deb;pvx2abnf_0\\.91_[a-z0-9]+\\.deb$")
    message(FATAL_ERROR "cpack made other packages than pvx2abnf and pvx2abnf-dev: ${debs}")
  endif()
  list(GET debs 0 dev_deb)
  list(GET debs 1 program_deb)
  run_step("reading the control fields" dpkg-deb -f "${SCRATCH}/deb/${program_deb}" Package Version)
  if(NOT step_output MATCHES "Package: pvx2abnf\n" OR NOT step_output MATCHES "Version: 0\\.91")
    message(FATAL_ERROR "unexpected control fields:\n${step_output}")
  endif()
  run_step("reading the control fields" dpkg-deb -f "${SCRATCH}/deb/${dev_deb}" Package Depends)
  if(NOT step_output MATCHES "Package: pvx2abnf-dev\n" OR
     NOT step_output MATCHES "Depends: pvx2abnf \\(= 0\\.91\\)")
    message(FATAL_ERROR "unexpected control fields:\n${step_output}")
  endif()

  set(root "${SCRATCH}/root")
  run_step("dpkg -x" dpkg -x "${SCRATCH}/deb/${program_deb}" "${root}")
  run_step("dpkg -x" dpkg -x "${SCRATCH}/deb/${dev_deb}" "${root}")
  run_step("dpkg-architecture" dpkg-architecture -qDEB_HOST_MULTIARCH)
  string(STRIP "${step_output}" triplet)
  foreach(package pvx2abnf pvx2abnf-dev)
    expect_file("${root}/usr/share/doc/${package}/copyright")
    expect_gzip_without_name("${root}/usr/share/doc/${package}/changelog.gz")
    file(READ "${root}/usr/share/doc/${package}/copyright" copyright)
    if(NOT copyright MATCHES "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")
      message(FATAL_ERROR "the copyright file of ${package} is not in the machine-readable format")
    endif()
  endforeach()
  expect_gzip_without_name("${root}/usr/share/man/man1/pvx2abnf.1.gz")
  expect_file("${root}/usr/lib/${triplet}/cmake/pvx2abnf/pvx2abnfConfig.cmake")
  expect_file("${root}/usr/lib/${triplet}/cmake/pvx2abnf/pvx2abnfGenerate.cmake")
  expect_file("${root}/usr/lib/${triplet}/libpvx2abnf_core.a")
  expect_file("${root}/usr/include/pvx2abnf/app/run.h")

  set(program "${root}/usr/bin/pvx2abnf")
  expect_file("${program}")
  run_step("reading the program's sections" readelf -S --wide "${program}")
  if(step_output MATCHES "\\.debug_|\\.symtab")
    message(FATAL_ERROR "the packaged program is not stripped")
  endif()
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
  build_and_run_consumer("${root}/usr")

else()
  message(FATAL_ERROR "package test: unknown MODE ${MODE}")
endif()
