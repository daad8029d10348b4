# What the Windows cross builds share; included by mingw-w64-x86_64.cmake
# and mingw-w64-i686.cmake, which set CMAKE_SYSTEM_PROCESSOR,
# ROMWEAVE_MINGW_PREFIX (Debian's compiler prefix and library folder) and
# ROMWEAVE_WINE_NAMES (the Wine loaders that run the result, best first).

set(CMAKE_SYSTEM_NAME Windows)

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
# and wine32 leave their loaders off PATH, in /usr/lib/wine).
find_program(ROMWEAVE_WINE NAMES ${ROMWEAVE_WINE_NAMES} PATHS /usr/lib/wine)
if(ROMWEAVE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ROMWEAVE_WINE})
endif()
