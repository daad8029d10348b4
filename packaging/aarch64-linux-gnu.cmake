# Cross build for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; the
# tests run under qemu-user (package qemu-user).  No SSE2 there, so the
# sound-block checksum takes its plain loop.
#
#   cmake -S . -B build-aarch64 -DROMWEAVE_GTEST_SOURCE=/usr/src/googletest \
#         -DCMAKE_TOOLCHAIN_FILE=packaging/aarch64-linux-gnu.cmake

set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ROMWEAVE_CROSS_TRIPLET aarch64-linux-gnu)
set(ROMWEAVE_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
