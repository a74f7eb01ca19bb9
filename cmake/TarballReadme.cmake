# Run by CPack once the tarball's files are in place: its README goes at the
# top of the folder, where someone who unpacks it looks first. An install
# into a prefix (cmake --install) leaves it out, so none lands in ~/.local.
file(COPY_FILE "${CPACK_REELMAKE_README}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/README")
