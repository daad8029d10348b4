# Cross build for IBM Z Linux with Debian's g++-s390x-linux-gnu: a
# big-endian processor, where any byte-order assumption shows.  The tests
# run under qemu-user (package qemu-user).
#
#   cmake -S . -B build-s390x -DROMWEAVE_GTEST_SOURCE=/usr/src/googletest \
#         -DCMAKE_TOOLCHAIN_FILE=packaging/s390x-linux-gnu.cmake

set(CMAKE_SYSTEM_PROCESSOR s390x)
set(ROMWEAVE_CROSS_TRIPLET s390x-linux-gnu)
set(ROMWEAVE_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
