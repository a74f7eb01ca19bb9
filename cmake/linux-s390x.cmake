# 64-bit IBM Z Linux (big-endian): cross-built with Debian's g++-s390x-linux-gnu,
# its tests run under qemu-s390x (user mode):
#   cmake --preset s390x
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(REELMAKE_CROSS_TRIPLE s390x-linux-gnu)
set(REELMAKE_QEMU_CPU s390x)
set(REELMAKE_CPU_NAME s390x)
set(REELMAKE_DEBIAN_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
