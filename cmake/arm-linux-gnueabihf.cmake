# Toolchain for armhf (32-bit Raspberry Pi OS, Debian armhf); see debian-cross.cmake.
set(VELMORA_CROSS_TRIPLET arm-linux-gnueabihf)
set(VELMORA_CROSS_PROCESSOR armv7l)
set(VELMORA_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
