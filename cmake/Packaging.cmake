# What `cmake --install` puts where, and the release packages made from it by
# CPack: a .deb on Debian, a .zip for Windows.

find_program(REELMAKE_GZIP gzip)
find_program(REELMAKE_GROFF groff)
set(manual ${PROJECT_SOURCE_DIR}/doc/reelmake.1)
set(packaged ${CMAKE_BINARY_DIR}/packaged)

if(WIN32)
  # A manual that needs no man: plain text, without overstriking.
  if(NOT REELMAKE_GROFF)
    message(FATAL_ERROR "groff (Debian package groff-base) is needed for the manual in the Windows package")
  endif()
  add_custom_command(OUTPUT ${packaged}/reelmake.txt
    COMMAND ${CMAKE_COMMAND} -E make_directory ${packaged}
    COMMAND ${REELMAKE_GROFF} -man -Tascii -P-cbou ${manual} > ${packaged}/reelmake.txt
    DEPENDS ${manual} VERBATIM)
  add_custom_target(reelmake_manual ALL DEPENDS ${packaged}/reelmake.txt)
  install(FILES ${packaged}/reelmake.txt README.md CHANGELOG.md DESTINATION .)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
else()
  # Debian keeps manual pages and changelogs compressed, and the licence as
  # the package's copyright file.
  if(NOT REELMAKE_GZIP)
    message(FATAL_ERROR "gzip is needed to install the manual page")
  endif()
  add_custom_command(OUTPUT ${packaged}/reelmake.1.gz ${packaged}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${packaged}
    COMMAND ${REELMAKE_GZIP} -9nc ${manual} > ${packaged}/reelmake.1.gz
    COMMAND ${REELMAKE_GZIP} -9nc ${PROJECT_SOURCE_DIR}/CHANGELOG.md > ${packaged}/changelog.gz
    DEPENDS ${manual} ${PROJECT_SOURCE_DIR}/CHANGELOG.md VERBATIM)
  add_custom_target(reelmake_manual ALL DEPENDS ${packaged}/reelmake.1.gz ${packaged}/changelog.gz)
  configure_file(cmake/copyright.in ${packaged}/copyright @ONLY)
  install(FILES ${packaged}/reelmake.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${packaged}/changelog.gz ${packaged}/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME reelmake)
set(CPACK_PACKAGE_VENDOR "The reelmake developers")
set(CPACK_PACKAGE_CONTACT "The reelmake developers <reelmake@users.noreply.invalid>")
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
  set(CPACK_SYSTEM_NAME windows-x86_64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The release build links statically: the package depends on nothing.
endif()
include(CPack)
