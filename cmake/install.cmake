# Installation and the Debian package.
#
#   cmake --install build-tool                  # under the prefix (default /usr/local); the files
#                                               # it wrote are listed in build-tool/install_manifest.txt
#   cmake --workflow --preset deb               # build-deb/ttyprog_<version>_<arch>.deb, under /usr
#
# The package is made in a build tree of its own (build-deb/): packaging installs into a staging
# directory and writes that tree's install_manifest.txt, which must never overwrite the list of
# files an install from build-tool/ left under its prefix.
#
# What goes where, under the prefix (the FILES section of man/ttyprog.1 says the same):
#   bin/ttyprog, bin/ttyprog-sim
#   share/man/man1/ttyprog.1.gz, share/man/man1/ttyprog-sim.1.gz
#   share/bash-completion/completions/ttyprog
#   share/doc/ttyprog/copyright, share/doc/ttyprog/changelog.gz
#
# Man pages and the changelog are compressed at build time (gzip -9n: no name, no time stamp, so
# the package is the same from one build to the next). The package's dependencies are computed by
# dpkg-shlibdeps from the installed binaries, so building the .deb needs dpkg-dev and file
# (.ci/deb.sh installs both when missing, and lintian to check the result).
# Linux only: a Windows build has neither man pages nor bash completion, nor a .deb.
if(WIN32)
  return()
endif()

include(GNUInstallDirs)

set(TTYPROG_PACKAGE_MAINTAINER "ttyprog maintainers <ttyprog@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

# The compressed files, made in the build tree.
find_program(TTYPROG_GZIP gzip REQUIRED)
set(ttyprog_doc_dir ${CMAKE_BINARY_DIR}/installed-docs)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${ttyprog_doc_dir}/src/changelog @ONLY)
set(ttyprog_compressed)
foreach(source IN ITEMS ${CMAKE_SOURCE_DIR}/man/ttyprog.1 ${CMAKE_SOURCE_DIR}/man/ttyprog-sim.1
                        ${ttyprog_doc_dir}/src/changelog)
  get_filename_component(name ${source} NAME)
  set(compressed ${ttyprog_doc_dir}/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${ttyprog_doc_dir}/${name}
    COMMAND ${TTYPROG_GZIP} -9 -n -f ${ttyprog_doc_dir}/${name}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND ttyprog_compressed ${compressed})
endforeach()
add_custom_target(ttyprog_installed_docs ALL DEPENDS ${ttyprog_compressed})

install(TARGETS ttyprog ttyprog-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ttyprog_doc_dir}/ttyprog.1.gz ${ttyprog_doc_dir}/ttyprog-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/completion/ttyprog.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME ttyprog)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${ttyprog_doc_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ttyprog)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ttyprog)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TTYPROG_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drive a device programmer on a serial port")
set(CPACK_PACKAGE_DESCRIPTION  # lines of at most 79 characters, as the package shows them
    "ttyprog erases a microcontroller through a programmer on a serial port,
writes and verifies its program memory from Intel HEX, reads it back as a hex
dump, and writes or reads its user ID and configuration word. ttyprog-sim
plays the programmer on a pseudo-terminal, so everything can be tried without
hardware.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TTYPROG_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
