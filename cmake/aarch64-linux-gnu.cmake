# Cross-builds for 64-bit Arm Linux with Debian's aarch64-linux-gnu compilers. Programs built
# here run under qemu-aarch64 (Debian package qemu-user) on the C library and C++ library of
# the toolchain's own packages, so that no foreign-architecture package and no binfmt
# registration is needed to test them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(KEYREPORT_CROSS_PREFIX aarch64-linux-gnu)
# Debian's name for the architecture: the package's, and its presets' (arm64, deb-arm64).
set(KEYREPORT_DEBIAN_ARCHITECTURE arm64)
set(CMAKE_C_COMPILER ${KEYREPORT_CROSS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${KEYREPORT_CROSS_PREFIX}-g++)
set(CMAKE_STRIP ${KEYREPORT_CROSS_PREFIX}-strip)
set(CMAKE_OBJDUMP ${KEYREPORT_CROSS_PREFIX}-objdump)

set(KEYREPORT_CROSS_ROOT /usr/${KEYREPORT_CROSS_PREFIX})

# qemu-aarch64 -L ROOT opens ROOT/PATH in place of an absolute PATH wherever ROOT/PATH exists.
# With the cross folder itself as ROOT, the loader would still find a multiarch libc6:arm64
# in /lib/aarch64-linux-gnu, where it is installed, and pair it with the cross loader: a
# mixture that hangs. So the root is a folder of the build's own, in which the loader and
# the multiarch library folders lead to the cross libraries and the loader's cache is empty.
# A library the cross folder lacks (an arm64 Google Benchmark, say) is still found where its
# multiarch package put it, on the cross C library.
set(KEYREPORT_EMULATOR_ROOT ${CMAKE_BINARY_DIR}/emulator-root)
# Made once: a link made anew on each configure would be missing for a moment, and a test
# starting then would load the multiarch library.
if(NOT EXISTS ${KEYREPORT_EMULATOR_ROOT}/etc/ld.so.cache)
    file(MAKE_DIRECTORY ${KEYREPORT_EMULATOR_ROOT}/lib ${KEYREPORT_EMULATOR_ROOT}/usr/lib
         ${KEYREPORT_EMULATOR_ROOT}/etc)
    file(CREATE_LINK ${KEYREPORT_CROSS_ROOT}/lib/ld-linux-aarch64.so.1
         ${KEYREPORT_EMULATOR_ROOT}/lib/ld-linux-aarch64.so.1 SYMBOLIC)
    foreach(folder lib usr/lib)
        file(CREATE_LINK ${KEYREPORT_CROSS_ROOT}/lib
             ${KEYREPORT_EMULATOR_ROOT}/${folder}/${KEYREPORT_CROSS_PREFIX} SYMBOLIC)
    endforeach()
    # An empty cache is no cache: the loader goes by its folders. Made last, it marks the
    # root complete.
    file(TOUCH ${KEYREPORT_EMULATOR_ROOT}/etc/ld.so.cache)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;${KEYREPORT_EMULATOR_ROOT})

# Libraries and headers for the target: the cross root, and the multiarch folders where a
# foreign-architecture arm64 package (a Google Benchmark for arm64, say) puts its files.
set(CMAKE_FIND_ROOT_PATH ${KEYREPORT_CROSS_ROOT} /)
set(CMAKE_LIBRARY_ARCHITECTURE ${KEYREPORT_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
