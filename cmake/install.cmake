# Installation and the Debian package.
#
#   cmake --install build                       # binaries, man pages and bash completion under the prefix
#   (cd build && cpack -G DEB)                  # build/ttyprog_<version>_<arch>.deb, installing under /usr
#
# The package's dependencies are computed by dpkg-shlibdeps from the installed binaries, so building
# the .deb needs dpkg-dev and file (.ci/deb.sh installs both when missing).
# Linux only: a Windows build has neither man pages nor bash completion, nor a .deb.
if(WIN32)
  return()
endif()

include(GNUInstallDirs)

install(TARGETS ttyprog ttyprog-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../man/ttyprog.1 ${CMAKE_CURRENT_LIST_DIR}/../man/ttyprog-sim.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../completion/ttyprog.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME ttyprog)

set(TTYPROG_PACKAGE_MAINTAINER "ttyprog maintainers <ttyprog@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ttyprog)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TTYPROG_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drive a device programmer on a serial port")
set(CPACK_PACKAGE_DESCRIPTION
    "ttyprog erases a microcontroller through a programmer on a serial port, writes and verifies\
 its program memory from Intel HEX, reads it back as a hex dump, and writes or reads its user ID\
 and configuration word. ttyprog-sim plays the programmer on a pseudo-terminal, so everything\
 can be tried without hardware.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TTYPROG_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
