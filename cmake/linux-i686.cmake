# 32-bit x86 Linux: cross-built with Debian's g++-i686-linux-gnu,
# its tests run under qemu-i386 (user mode):
#   cmake --preset i686
set(CMAKE_SYSTEM_PROCESSOR i686)
set(REELMAKE_CROSS_TRIPLE i686-linux-gnu)
set(REELMAKE_QEMU_CPU i386)
set(REELMAKE_CPU_NAME i686)
set(REELMAKE_DEBIAN_ARCH i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
