# 64-bit ARM Linux: cross-built with Debian's g++-aarch64-linux-gnu,
# its tests run under qemu-aarch64 (user mode):
#   cmake --preset aarch64
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(REELMAKE_CROSS_TRIPLE aarch64-linux-gnu)
set(REELMAKE_QEMU_CPU aarch64)
set(REELMAKE_CPU_NAME aarch64)
set(REELMAKE_DEBIAN_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
