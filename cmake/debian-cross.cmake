# Cross-building for another Debian architecture on a Debian machine: Debian's cross compilers
# (crossbuild-essential-<arch>) and the multiarch -dev packages of that architecture (installed by
# `scripts/bootstrap --arch <arch>`). Included by the per-architecture toolchain files, which set
# VELMORA_CROSS_TRIPLET, VELMORA_CROSS_PROCESSOR and VELMORA_CROSS_QEMU first.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${VELMORA_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${VELMORA_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VELMORA_CROSS_TRIPLET}-g++)
# Multiarch: the target's libraries and package configurations live in /usr/lib/<triplet>, its headers in
# /usr/include and /usr/include/<triplet> (searched by Debian's cross compilers), so no sysroot.
set(CMAKE_LIBRARY_ARCHITECTURE ${VELMORA_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# pkg-config reads the target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${VELMORA_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
# Qt's host tools (moc) come from the build machine's Qt packages.
set(QT_HOST_PATH /usr)
execute_process(COMMAND dpkg-architecture -qDEB_BUILD_MULTIARCH OUTPUT_VARIABLE _build_multiarch
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${_build_multiarch}/cmake)
# Test programs run under qemu-user with the multiarch dynamic loader and C library (libc6:<arch>), the
# ones the -dev packages were built against. The cross toolchain's copies in /usr/<triplet> are another
# build of the C library: a loader from one with the libc of the other hangs at the first thread.
set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMORA_CROSS_QEMU})
