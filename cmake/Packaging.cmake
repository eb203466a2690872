# Install rules and the Debian package.
#
#   cmake --install build/default [--prefix DIR]   program, man page and README
#   (cd build/default && cpack -G DEB)              lowtags_<version>_<arch>.deb
#
# Only the program and its documents are installed: the static library, the tests and the
# benchmarks stay in the build tree.

include(GNUInstallDirs)

install(TARGETS lowtags RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/lowtags.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "lowtags")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "lowtags developers")
set(CPACK_PACKAGE_CONTACT "lowtags developers <lowtags@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "fold the case of HTML tags in Shift_JIS pages and tidy their markup")
# The build type of the default preset keeps debug information; the package does not need it.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME "lowtags")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "lowtags developers <lowtags@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# lowtags_1.92_amd64.deb: the name apt and dpkg users expect.
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")

# dpkg-shlibdeps reads the libraries and versions the binary really needs off its dynamic
# symbols; CPack finds the binaries to hand it with `file`, and stops when that is missing.
# Without either, the fallback is what dpkg-shlibdeps finds for a build with g++ 12 on Debian 12.
find_program(LOWTAGS_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(LOWTAGS_FILE_UTILITY file)
mark_as_advanced(LOWTAGS_DPKG_SHLIBDEPS LOWTAGS_FILE_UTILITY)
if(LOWTAGS_DPKG_SHLIBDEPS AND LOWTAGS_FILE_UTILITY)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.3.1), libstdc++6 (>= 5)")
endif()

include(CPack)
