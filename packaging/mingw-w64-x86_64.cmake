# Cross build of romweave.exe for 64-bit Windows with Debian's mingw-w64
# compilers (package g++-mingw-w64-x86-64):
#
#   cmake -S . -B build-mingw -DROMWEAVE_BUILD_TESTS=OFF \
#         -DCMAKE_TOOLCHAIN_FILE=packaging/mingw-w64-x86_64.cmake
#   cmake --build build-mingw --target romweave
#
# The C++ and GCC runtimes are linked in, so the .exe needs nothing beyond
# the DLLs that come with Windows itself.  Where Wine is installed, the
# tests built this way run under it (CONTRIBUTING.md, "Windows").

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ROMWEAVE_MINGW_PREFIX x86_64-w64-mingw32)
# Debian ships each compiler in a -win32 and a -posix thread flavour, the
# plain name following whichever the machine chose.  GoogleTest needs the
# -posix one's std::mutex; the tool starts no thread, and its release
# build comes out byte for byte the same with either, so both use -posix
# and the result does not depend on the machine's choice.
set(CMAKE_C_COMPILER ${ROMWEAVE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ROMWEAVE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ROMWEAVE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ROMWEAVE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest starts the Windows test programs through Wine (Debian's wine64
# leaves it off PATH, in /usr/lib/wine).
find_program(ROMWEAVE_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(ROMWEAVE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ROMWEAVE_WINE})
endif()
