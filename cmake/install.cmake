# SPDX-License-Identifier: BSD-3-Clause
# Installing on Linux, as pcsc-lite and the CCID driver install: the libraries with their
# symbolic links, the public header as <ctkorvin/ctapi.h>, pkg-config and CMake package files,
# the two programs and their manual pages. A Debian package comes from the same rules (CPack).
#
#   cmake --preset release && cmake --build --preset release
#   cmake --install build/release --prefix /usr/local          # or
#   (cd build/release && cpack -G DEB)                          # ctkorvin_<version>_<arch>.deb
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# libctkorvin.so binds libmemlink.so and libpinlink.so, which lie beside it wherever it is put;
# nothing installed keeps a path into the build tree.
set_target_properties(ctkorvin PROPERTIES INSTALL_RPATH "$ORIGIN")
target_include_directories(ctkorvin INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS ctkorvin memlink pinlink EXPORT ctkorvin-targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/ctapi/ctapi.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ctkorvin
        COMPONENT development)
foreach(program inisync ctkorvin-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/man/inisync.1 ${PROJECT_SOURCE_DIR}/man/ctkorvin-cli.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/man/ctkorvin.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
        COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)

# pkg-config: the file finds its prefix from where it lies, so that the tree can be moved.
file(RELATIVE_PATH KV_PC_TO_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig"
     "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" KV_PC_TO_PREFIX "${KV_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/ctkorvin.pc.in ${PROJECT_BINARY_DIR}/ctkorvin.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ctkorvin.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

# CMake: find_package(ctkorvin) gives the target ctkorvin::ctkorvin.
set(KV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ctkorvin)
install(EXPORT ctkorvin-targets NAMESPACE ctkorvin:: DESTINATION ${KV_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ctkorvinConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/ctkorvinConfig.cmake
                              INSTALL_DESTINATION ${KV_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ctkorvinConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ctkorvinConfig.cmake
              ${PROJECT_BINARY_DIR}/ctkorvinConfigVersion.cmake DESTINATION ${KV_CMAKE_DIR}
        COMPONENT development)

# One Debian package with everything.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ctkorvin)
set(CPACK_PACKAGE_VENDOR "The ctkorvin developers")
set(CPACK_PACKAGE_CONTACT "The ctkorvin developers <ctkorvin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CT-API library for smart-card readers driven through PC/SC")
set(CPACK_PACKAGE_DESCRIPTION
    "ctkorvin gives applications that speak the CT-API (home-banking and health-card software) access to smart-card readers driven through PC/SC (pcsc-lite). It includes inisync, which records the attached readers in vezidide.ini, and ctkorvin-cli, to try a reader by hand.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libpcsclite1")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pcscd")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
