# 32-bit ARM Linux (hard float): cross-built with Debian's g++-arm-linux-gnueabihf,
# its tests run under qemu-arm (user mode):
#   cmake --preset armhf
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(REELMAKE_CROSS_TRIPLE arm-linux-gnueabihf)
set(REELMAKE_QEMU_CPU arm)
set(REELMAKE_CPU_NAME armhf)
set(REELMAKE_DEBIAN_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
