# What `cmake --install` puts where, and the release package that CPack makes
# from it: a Debian package (REELMAKE_DEBIAN_PACKAGE, a dynamically linked
# build), a tarball for any other Linux (the statically linked release
# build), or a .zip for Windows.

option(REELMAKE_DEBIAN_PACKAGE
       "Install the documents as a Debian package keeps them, and have cpack make a .deb" OFF)
if(REELMAKE_DEBIAN_PACKAGE AND (WIN32 OR REELMAKE_STATIC))
  message(FATAL_ERROR "REELMAKE_DEBIAN_PACKAGE needs a Linux build with REELMAKE_STATIC OFF: "
                      "a Debian package links against the system's libraries")
endif()

find_program(REELMAKE_GZIP gzip)
find_program(REELMAKE_GROFF groff)
set(manual ${PROJECT_SOURCE_DIR}/doc/reelmake.1)
set(packaged ${CMAKE_BINARY_DIR}/packaged)
# The contact is also the Debian package's maintainer.
set(CPACK_PACKAGE_CONTACT "The reelmake developers <reelmake@users.noreply.invalid>")

if(WIN32)
  # A manual that needs no man: plain text, without overstriking. The
  # README is one for Windows users, with CR LF line ends.
  if(NOT REELMAKE_GROFF)
    message(FATAL_ERROR "groff (Debian package groff-base) is needed for the manual in the Windows package")
  endif()
  add_custom_command(OUTPUT ${packaged}/reelmake.txt
    COMMAND ${CMAKE_COMMAND} -E make_directory ${packaged}
    COMMAND ${REELMAKE_GROFF} -man -Tascii -P-cbou ${manual} > ${packaged}/reelmake.txt
    DEPENDS ${manual} VERBATIM)
  add_custom_target(reelmake_manual ALL DEPENDS ${packaged}/reelmake.txt)
  install(FILES ${packaged}/reelmake.txt packaging/README.txt CHANGELOG.md DESTINATION .)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
else()
  if(NOT REELMAKE_GZIP)
    message(FATAL_ERROR "gzip is needed to install the manual page")
  endif()
  add_custom_command(OUTPUT ${packaged}/reelmake.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${packaged}
    COMMAND ${REELMAKE_GZIP} -9nc ${manual} > ${packaged}/reelmake.1.gz
    DEPENDS ${manual} VERBATIM)
  set(documents ${packaged}/reelmake.1.gz)
  install(FILES ${packaged}/reelmake.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  if(REELMAKE_DEBIAN_PACKAGE)
    # Debian keeps changelogs compressed, the upstream one as changelog.gz and
    # the package's own, in Debian's format, as changelog.Debian.gz (made here
    # from CHANGELOG.md), and the licence as the machine-readable copyright file.
    set(debian_revision 1)
    set(debian_changelog ${PROJECT_SOURCE_DIR}/packaging/debian-changelog.sh)
    add_custom_command(OUTPUT ${packaged}/changelog.gz ${packaged}/changelog.Debian.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${packaged}
      COMMAND ${REELMAKE_GZIP} -9nc ${PROJECT_SOURCE_DIR}/CHANGELOG.md > ${packaged}/changelog.gz
      COMMAND sh ${debian_changelog} ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_NAME}
              ${debian_revision} ${CPACK_PACKAGE_CONTACT} > ${packaged}/changelog.Debian
      COMMAND ${REELMAKE_GZIP} -9nf ${packaged}/changelog.Debian
      DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${debian_changelog} VERBATIM)
    list(APPEND documents ${packaged}/changelog.gz ${packaged}/changelog.Debian.gz)
    configure_file(cmake/copyright.in ${packaged}/copyright @ONLY)
    install(FILES ${packaged}/changelog.gz ${packaged}/changelog.Debian.gz ${packaged}/copyright
            DESTINATION ${CMAKE_INSTALL_DOCDIR})
  else()
    install(FILES README.md CHANGELOG.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
  add_custom_target(reelmake_manual ALL DEPENDS ${documents})

  # strip keeps the .comment section (the compilers' version strings) and
  # .note; like Debian's own tools, a stripped install drops both.
  if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
    set(installed_program "\$ENV{DESTDIR}${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:reelmake>")
  else()
    set(installed_program
        "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:reelmake>")
  endif()
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                              \"${installed_program}\" COMMAND_ERROR_IS_FATAL ANY)
    endif()")
endif()

set(CPACK_PACKAGE_NAME reelmake)
set(CPACK_PACKAGE_VENDOR "The reelmake developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn binary files into ZX Spectrum tape images (TAP)")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "reelmake turns any binary file into a ZX Spectrum tape image in the TAP format:\n"
  "a headerless block (framed with flag and checksum, or raw), a BASIC program\n"
  "with an optional auto-start line, or a code file with a load address. It is\n"
  "meant for the builds of Spectrum software: a failed run says why, exits with\n"
  "status 1 and never leaves a damaged tape behind.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-${CMAKE_SYSTEM_PROCESSOR})
elseif(REELMAKE_DEBIAN_PACKAGE)
  # reelmake_VERSION-1_ARCH.deb, depending on the libraries that
  # dpkg-shlibdeps finds the program linked against. lintian accepts it with
  # one remark left, the info tag hardening-no-fortify-functions: the program
  # is built with _FORTIFY_SOURCE=2, but its only calls that glibc has checked
  # versions of, read() and realpath(), write through pointers to buffers
  # whose size the compiler cannot see, so there is nothing to check them by.
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${debian_revision})
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # A cross build's (cmake/linux-*.cmake): not the build machine's.
  if(REELMAKE_DEBIAN_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${REELMAKE_DEBIAN_ARCH})
  endif()
else()
  # reelmake-VERSION-linux-ARCH.tar.gz: a folder with bin/, share/man/ and
  # share/doc/, to use where it is or to unpack into a prefix.
  set(CPACK_GENERATOR TGZ)
  if(REELMAKE_CPU_NAME)
    set(CPACK_SYSTEM_NAME linux-${REELMAKE_CPU_NAME})
  else()
    set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
  endif()
endif()
include(CPack)
