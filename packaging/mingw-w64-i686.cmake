# Cross build of romweave.exe for 32-bit Windows with Debian's mingw-w64
# compilers (package g++-mingw-w64-i686), for the machines and systems that
# cannot run the 64-bit one:
#
#   cmake -S . -B build-mingw32 -DROMWEAVE_BUILD_TESTS=OFF \
#         -DCMAKE_TOOLCHAIN_FILE=packaging/mingw-w64-i686.cmake
#   cmake --build build-mingw32 --target romweave
#
# Its tests run under 32-bit Wine (package wine32:i386, after dpkg
# --add-architecture i386) in a prefix made with WINEARCH=win32; wine64
# cannot start a 32-bit program, so only the wine loader will do.

set(CMAKE_SYSTEM_PROCESSOR i686)
set(ROMWEAVE_MINGW_PREFIX i686-w64-mingw32)
set(ROMWEAVE_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
