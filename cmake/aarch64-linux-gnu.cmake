# Toolchain for arm64 (64-bit Raspberry Pi OS, Debian arm64); see debian-cross.cmake.
set(VELMORA_CROSS_TRIPLET aarch64-linux-gnu)
set(VELMORA_CROSS_PROCESSOR aarch64)
set(VELMORA_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
