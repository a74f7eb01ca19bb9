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

# A package's folder: the top of the tarball and of the zip.
if(WIN32)
  set(CPACK_SYSTEM_NAME windows-${CMAKE_SYSTEM_PROCESSOR})
elseif(REELMAKE_CPU_NAME)
  # A cross build's (cmake/linux-*.cmake), named as its users call the CPU.
  set(CPACK_SYSTEM_NAME linux-${REELMAKE_CPU_NAME})
else()
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(FOLDER ${PROJECT_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_FILE_NAME ${FOLDER})

if(WIN32)
  # Every text in the zip is a .txt file with CR LF line ends: the manual in
  # its Windows form (the page without what holds on POSIX systems only, as
  # plain text without overstriking), a README for Windows users that names
  # the folder the zip unpacks to, the changelog and the licence.
  if(NOT REELMAKE_GROFF)
    message(FATAL_ERROR "groff (Debian package groff-base) is needed for the manual in the Windows package")
  endif()
  add_custom_command(OUTPUT ${packaged}/reelmake.lf
    COMMAND ${CMAKE_COMMAND} -E make_directory ${packaged}
    COMMAND ${REELMAKE_GROFF} -man -rW1 -Tascii -P-cbou ${manual} > ${packaged}/reelmake.lf
    DEPENDS ${manual} VERBATIM)
  configure_file(packaging/README-windows.txt.in ${packaged}/README.lf @ONLY)
  set(texts)
  foreach(text ${packaged}/reelmake.lf:reelmake ${packaged}/README.lf:README
               ${PROJECT_SOURCE_DIR}/CHANGELOG.md:CHANGELOG ${PROJECT_SOURCE_DIR}/LICENSE:LICENSE)
    string(REGEX MATCH "^(.*):([^:]*)$" unused ${text})
    set(windows_text ${packaged}/${CMAKE_MATCH_2}.txt)
    add_custom_command(OUTPUT ${windows_text}
      COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_MATCH_1} -DOUTPUT=${windows_text}
              -P ${PROJECT_SOURCE_DIR}/cmake/CrLf.cmake
      DEPENDS ${CMAKE_MATCH_1} ${PROJECT_SOURCE_DIR}/cmake/CrLf.cmake VERBATIM)
    list(APPEND texts ${windows_text})
  endforeach()
  add_custom_target(reelmake_manual ALL DEPENDS ${texts})
  install(FILES ${texts} DESTINATION .)
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
  install(FILES examples/Makefile examples/README.md examples/code.asm examples/code.bin
                examples/loader.bas examples/loader.bin
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

  if(REELMAKE_DEBIAN_PACKAGE)
    # Debian keeps changelogs compressed, the upstream one as changelog.gz and
    # the package's own, in Debian's format, as changelog.Debian.gz (made here
    # from CHANGELOG.md), and the licence as the machine-readable copyright
    # file. Its README is for the installed program.
    set(debian_revision 1)
    # The Debian packages made so far, newest first, and this one: 1.1.0's
    # had no Debian revision, and 1.0.0 had no package. A new version's
    # predecessor joins the list.
    set(debian_packages ${PROJECT_VERSION}-${debian_revision})
    foreach(earlier 1.2.0-1 1.1.0)
      string(REGEX REPLACE "-[^-]*$" "" upstream ${earlier})
      if(upstream VERSION_LESS PROJECT_VERSION)
        list(APPEND debian_packages ${earlier})
      endif()
    endforeach()
    set(debian_changelog ${PROJECT_SOURCE_DIR}/packaging/debian-changelog.sh)
    add_custom_command(OUTPUT ${packaged}/changelog.gz ${packaged}/changelog.Debian.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${packaged}
      COMMAND ${REELMAKE_GZIP} -9nc ${PROJECT_SOURCE_DIR}/CHANGELOG.md > ${packaged}/changelog.gz
      COMMAND sh ${debian_changelog} ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_NAME}
              ${CPACK_PACKAGE_CONTACT} ${debian_packages} > ${packaged}/changelog.Debian
      COMMAND ${REELMAKE_GZIP} -9nf ${packaged}/changelog.Debian
      DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${debian_changelog} VERBATIM)
    list(APPEND documents ${packaged}/changelog.gz ${packaged}/changelog.Debian.gz)
    configure_file(cmake/copyright.in ${packaged}/copyright @ONLY)
    install(FILES ${packaged}/changelog.gz ${packaged}/changelog.Debian.gz ${packaged}/copyright
            DESTINATION ${CMAKE_INSTALL_DOCDIR})
    install(FILES packaging/README-debian DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README)
  else()
    install(FILES CHANGELOG.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
    # The tarball's README is for someone who has the program, not the source.
    configure_file(packaging/README-tarball.in ${packaged}/README @ONLY)
    set(CPACK_REELMAKE_README ${packaged}/README)
    set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/TarballReadme.cmake)
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
  # reelmake-VERSION-linux-ARCH.tar.gz: a folder with its README, bin/,
  # share/man/ and share/doc/, to use where it is or to copy into a prefix.
  set(CPACK_GENERATOR TGZ)
endif()
include(CPack)
