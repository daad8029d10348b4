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

set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ROMWEAVE_MINGW_PREFIX x86_64-w64-mingw32)
set(ROMWEAVE_WINE_NAMES wine wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
