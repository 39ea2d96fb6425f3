# Installation, the CMake package and the Debian packages. Included at the
# end of the top-level CMakeLists.txt.
#
#   cmake --install build --prefix /usr/local
#       bin/pvx2abnf, share/man/man1/pvx2abnf.1.gz, share/doc/pvx2abnf/,
#       the library, its headers and lib/cmake/pvx2abnf/ (the CMake package:
#       pvx2abnf::pvx2abnf, pvx2abnf_generate, pvx2abnf::core)
#   cpack -G DEB --config build/CPackConfig.cmake
#       pvx2abnf (program, manual page) and pvx2abnf-dev (library, headers,
#       CMake package), installing under /usr. The library and CMake files
#       go to the multiarch folder lib/<triplet> when the build was
#       configured with -DCMAKE_INSTALL_PREFIX=/usr (GNUInstallDirs).

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QRV_PACKAGE_CONTACT "pvx2abnf developers <pvx2abnf@example.org>" CACHE STRING
  "Maintainer of the Debian packages, as \"Name <address>\"")

set(qrv_install_includedir ${CMAKE_INSTALL_INCLUDEDIR}/pvx2abnf)
set(qrv_install_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/pvx2abnf)
set(qrv_doc_root ${CMAKE_INSTALL_DATAROOTDIR}/doc)

# The installed header keeps its folder, so "app/run.h" is included the same
# against the install as in the source tree.
target_include_directories(pvx2abnf_core PUBLIC
  $<INSTALL_INTERFACE:${qrv_install_includedir}>)
# The public headers are C++20; consumers need at least that.
target_compile_features(pvx2abnf_core PUBLIC cxx_std_20)
set_target_properties(pvx2abnf_core PROPERTIES EXPORT_NAME core)
# A library built with sanitizers needs their run-time libraries wherever it
# is linked, also in a consumer of the installed package.
if(QRV_SANITIZE)
  target_link_options(pvx2abnf_core INTERFACE -fsanitize=${qrv_sanitizers})
endif()

# ---- Files made at build time: compressed manual page, changelog, copyright ----
# Debian wants the manual page and the changelog compressed with gzip -9n
# (no name and no time stamp in the header, so builds are reproducible).
set(qrv_docs_dir ${PROJECT_BINARY_DIR}/docs)
configure_file(${PROJECT_SOURCE_DIR}/docs/changelog ${qrv_docs_dir}/changelog @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/docs/copyright ${qrv_docs_dir}/copyright @ONLY)
find_program(QRV_GZIP gzip)
if(QRV_GZIP)
  set(qrv_manpage ${qrv_docs_dir}/pvx2abnf.1.gz)
  set(qrv_changelog ${qrv_docs_dir}/changelog.gz)
  add_custom_command(OUTPUT ${qrv_manpage}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/pvx2abnf.1 ${qrv_docs_dir}/pvx2abnf.1
    COMMAND ${QRV_GZIP} -9nf ${qrv_docs_dir}/pvx2abnf.1
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/pvx2abnf.1
    COMMENT "Compressing the manual page" VERBATIM)
  add_custom_command(OUTPUT ${qrv_changelog}
    COMMAND ${CMAKE_COMMAND} -E copy ${qrv_docs_dir}/changelog ${qrv_docs_dir}/changelog.tmp
    COMMAND ${QRV_GZIP} -9nf ${qrv_docs_dir}/changelog.tmp
    COMMAND ${CMAKE_COMMAND} -E rename ${qrv_docs_dir}/changelog.tmp.gz ${qrv_changelog}
    DEPENDS ${qrv_docs_dir}/changelog
    COMMENT "Compressing the changelog" VERBATIM)
  add_custom_target(pvx2abnf_docs ALL DEPENDS ${qrv_manpage} ${qrv_changelog})
else()
  message(STATUS "gzip not found: the manual page and the changelog are installed uncompressed")
  set(qrv_manpage ${PROJECT_SOURCE_DIR}/docs/pvx2abnf.1)
  set(qrv_changelog ${qrv_docs_dir}/changelog)
endif()

# ---- The program (component runtime, package pvx2abnf) ----
install(TARGETS pvx2abnf EXPORT pvx2abnfTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${qrv_manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
install(FILES ${qrv_docs_dir}/copyright ${qrv_changelog}
  DESTINATION ${qrv_doc_root}/pvx2abnf COMPONENT runtime)

# ---- Library, headers, CMake package (component development, package pvx2abnf-dev) ----
install(TARGETS pvx2abnf_core EXPORT pvx2abnfTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  INCLUDES DESTINATION ${qrv_install_includedir})

# A stripped install (CPACK_STRIP_FILES, cmake --install --strip) also drops
# the debug information of the library and the compiler's .comment notes,
# as Debian's own packaging does.
if(CMAKE_STRIP)
  foreach(stripped pvx2abnf pvx2abnf_core)
    if(stripped STREQUAL "pvx2abnf")
      set(folder ${CMAKE_INSTALL_BINDIR})
      set(component runtime)
    else()
      set(folder ${CMAKE_INSTALL_LIBDIR})
      set(component development)
    endif()
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug --remove-section=.comment
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${folder}/$<TARGET_FILE_NAME:${stripped}>\"
          RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
          message(FATAL_ERROR \"strip failed on $<TARGET_FILE_NAME:${stripped}>\")
        endif()
      endif()" COMPONENT ${component})
  endforeach()
endif()
# Only the entry is public: app/run.h needs no other header of the library.
install(FILES ${PROJECT_SOURCE_DIR}/app/run.h
  DESTINATION ${qrv_install_includedir}/app
  COMPONENT development)
install(FILES ${qrv_docs_dir}/copyright ${qrv_changelog}
  DESTINATION ${qrv_doc_root}/pvx2abnf-dev COMPONENT development)

install(EXPORT pvx2abnfTargets
  NAMESPACE pvx2abnf::
  DESTINATION ${qrv_install_cmakedir}
  COMPONENT development)
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/pvx2abnfConfig.cmake.in
  ${PROJECT_BINARY_DIR}/pvx2abnfConfig.cmake
  INSTALL_DESTINATION ${qrv_install_cmakedir})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/pvx2abnfConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/pvx2abnfConfig.cmake
  ${PROJECT_BINARY_DIR}/pvx2abnfConfigVersion.cmake
  ${PROJECT_SOURCE_DIR}/cmake/pvx2abnfGenerate.cmake
  DESTINATION ${qrv_install_cmakedir}
  COMPONENT development)

# ---- Debian packages ----
set(CPACK_PACKAGE_NAME pvx2abnf)
set(CPACK_PACKAGE_VENDOR "pvx2abnf developers")
set(CPACK_PACKAGE_CONTACT "${QRV_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME pvx2abnf)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
"translator from Pavex message definitions to RFC 2234 ABNF
pvx2abnf reads message definitions written in the Pavex definition
language, checks them, resolves the references between definitions and
modules, and writes an ABNF grammar of the messages' text encoding.
Options for build scripts give a failing status on errors, dependency
files and diagnostics in gcc or JSON form.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME pvx2abnf-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "pvx2abnf (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
"translator from Pavex message definitions to ABNF - development files
The static translator library of pvx2abnf with its headers, and the CMake
package that provides the program as pvx2abnf::pvx2abnf and the function
pvx2abnf_generate, which makes a grammar during a build.")
include(CPack)
