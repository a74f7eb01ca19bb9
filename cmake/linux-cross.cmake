# What the Linux cross builds share; each target's toolchain file
# (linux-aarch64.cmake, linux-armhf.cmake, linux-i686.cmake,
# linux-s390x.cmake) sets
#   REELMAKE_CROSS_TRIPLE  the GNU triple of Debian's cross compiler
#   REELMAKE_QEMU_CPU      the CPU name of qemu-user's emulator for it
#   REELMAKE_CPU_NAME      the CPU as the tarball's name gives it
#   REELMAKE_DEBIAN_ARCH   the Debian architecture of the .deb
# and includes this file. Needs g++-TRIPLE, googletest and qemu-user-static
# (or qemu-user); binfmt_misc is not needed, the emulator is named here.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${REELMAKE_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${REELMAKE_CROSS_TRIPLE}-g++)

# Headers and libraries come only from the cross sysroot, programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${REELMAKE_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program, the tests' too, linked statically: qemu then needs no foreign
# C library, and qemu-i386 7.2 hangs in fork() of dynamically linked
# programs. A Debian package's build sets its own CMAKE_EXE_LINKER_FLAGS.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# ctest, gtest_discover_tests and the end-to-end tests run the programs under
# qemu-user, named here so that no binfmt_misc registration is needed.
find_program(REELMAKE_QEMU NAMES qemu-${REELMAKE_QEMU_CPU}-static qemu-${REELMAKE_QEMU_CPU})
if(REELMAKE_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${REELMAKE_QEMU})
endif()

# pkg-config does not follow CMAKE_FIND_ROOT_PATH: without this it would hand
# the build machine's libraries to the cross build.
set(ENV{PKG_CONFIG_LIBDIR} ${CMAKE_FIND_ROOT_PATH}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
