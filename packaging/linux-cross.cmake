# What the cross builds for other Linux processors share; included by
# aarch64-linux-gnu.cmake and s390x-linux-gnu.cmake, which set
# ROMWEAVE_CROSS_TRIPLET (Debian's compiler prefix and library folder) and
# ROMWEAVE_QEMU (the qemu-user program that runs the result).

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${ROMWEAVE_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ROMWEAVE_CROSS_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${ROMWEAVE_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest starts the test programs under qemu-user, whose -L finds the
# target's shared C library in Debian's cross folder.  The tests start the
# tool with the emulator alone, the tool being linked statically.
find_program(ROMWEAVE_QEMU_PROGRAM ${ROMWEAVE_QEMU})
if(ROMWEAVE_QEMU_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ROMWEAVE_QEMU_PROGRAM} -L
                                    /usr/${ROMWEAVE_CROSS_TRIPLET})
endif()
