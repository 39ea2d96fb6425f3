# Installation, the CMake package of the translator library and the Debian
# package. Included at the end of the top-level CMakeLists.txt.
#
#   cmake --install build --prefix /usr/local
#       bin/pvx2abnf, share/man/man1/pvx2abnf.1, lib/libpvx2abnf_core.a,
#       include/pvx2abnf/<component>/*.h and lib/cmake/pvx2abnf/
#   find_package(pvx2abnf) then gives the imported target pvx2abnf::core.
#   cpack -G DEB --config build/CPackConfig.cmake
#       the same files under /usr in a .deb.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(qrv_install_includedir ${CMAKE_INSTALL_INCLUDEDIR}/pvx2abnf)
set(qrv_install_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/pvx2abnf)

# Installed headers keep their folder layout, so "model/model.h" style
# includes work the same against the install as in the source tree.
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

install(TARGETS pvx2abnf
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS pvx2abnf_core EXPORT pvx2abnfTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${qrv_install_includedir})
foreach(component model qrvutil frontend postparse abnf app)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${component}/
    DESTINATION ${qrv_install_includedir}/${component}
    FILES_MATCHING PATTERN "*.h")
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/doc/pvx2abnf.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(EXPORT pvx2abnfTargets
  NAMESPACE pvx2abnf::
  DESTINATION ${qrv_install_cmakedir})
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
  DESTINATION ${qrv_install_cmakedir})

# Debian package: one package with the program, its manual page and the
# library with its headers and CMake package.
set(CPACK_PACKAGE_NAME pvx2abnf)
set(CPACK_PACKAGE_VENDOR "pvx2abnf developers")
set(CPACK_PACKAGE_CONTACT "pvx2abnf developers <pvx2abnf@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "translator from Pavex message definitions to RFC 2234 ABNF")
set(CPACK_PACKAGE_DESCRIPTION
  "pvx2abnf reads message definitions written in the Pavex definition language, checks them, resolves the references between definitions and modules, and writes an ABNF grammar of the messages' text encoding.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
include(CPack)
