#!/usr/bin/env bash
# CI step: cross-builds romweave.exe with mingw-w64 for 64-bit and for
# 32-bit Windows, checks that each is a console program of its width that
# needs no DLL beyond those Windows ships, and runs the end-to-end tests
# against each under Wine of the same width; then the unit tests, the fuzz
# seed replay and the seed check, cross-built for each, under the same
# Wine.  Run as root from anywhere; installs the Debian packages it needs
# when they are missing (for 32-bit Wine, the i386 architecture too).
#
# ROMWEAVE_HOST_BUILD names the Linux build folder that holds the tests
# against the 64-bit .exe (default: build, as .ci/run leaves it); those
# against the 32-bit one are in build-wine32.  Both are configured and
# brought up to date here, so the step also runs alone.
set -euo pipefail
cd "$(dirname "$0")/.."
. .ci/install-missing.sh
fail() {
  echo "windows.sh: $*" >&2
  exit 1
}

# googletest holds GoogleTest's sources, built here for Windows.
install_missing cmake make g++ libgtest-dev g++-mingw-w64-x86-64 \
  g++-mingw-w64-i686 wine64 wine32:i386 googletest groff-base

# cross_build FOLDER PROCESSOR builds romweave.exe in FOLDER with the
# toolchain file for PROCESSOR.
cross_build() {
  cmake -S . -B "$1" --no-warn-unused-cli -DROMWEAVE_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="packaging/mingw-w64-$2.cmake" \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
  cmake --build "$1" -j2 --target romweave >/dev/null
}

# check_exe EXE MINGW_PREFIX FORMAT fails unless EXE is a console program
# in FORMAT (PE32 for 32-bit Windows, PE32+ for 64-bit) that runs alone:
# no runtime DLL of the compiler may be imported.
check_exe() {
  local header format subsystem dlls dll
  header=$("$2-objdump" -p "$1")
  format=$(sed -n 's/^Magic\s\+[0-9a-f]\+\s\+(\(.*\))$/\1/p' <<<"$header")
  subsystem=$(sed -n 's/^Subsystem\s\+[0-9a-f]\+\s\+(\(.*\))$/\1/p' <<<"$header")
  [ "$format" = "$3" ] || fail "$1 is ${format:-unknown}, not $3"
  [ "$subsystem" = "Windows CUI" ] ||
    fail "$1 is a ${subsystem:-unknown} program, not a console (Windows CUI) one"
  dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$header")
  for dll in $dlls; do
    case ${dll,,} in
      kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | shell32.dll) ;;
      *) fail "$1 imports $dll" ;;
    esac
  done
  step "$1: $format console program, imports only:" $dlls
}

step "cross builds"
cross=build-mingw
cross32=build-mingw32
cross_build "$cross" x86_64
cross_build "$cross32" i686
check_exe "$cross/romweave.exe" x86_64-w64-mingw32 PE32+
check_exe "$cross32/romweave.exe" i686-w64-mingw32 PE32
exe=$PWD/$cross/romweave.exe
exe32=$PWD/$cross32/romweave.exe

# Every test build names its Wine loader.  Only wine starts 32-bit
# programs; it starts 64-bit ones too, but by handing each on to wine64,
# which makes the 64-bit end-to-end tests take twice as long as under
# wine64 alone.  Debian keeps both in /usr/lib/wine, off PATH.
loader() {
  if [ -x "/usr/lib/wine/$1" ]; then
    echo "/usr/lib/wine/$1"
  else
    command -v "$1" || fail "no $1 found"
  fi
}
wine64=$(loader wine64)
wine32=$(loader wine)
wineserver=$(loader wineserver)

# unit_build FOLDER PROCESSOR WINE builds the unit tests, the fuzz seed
# replay and the seed check in FOLDER as Windows programs for PROCESSOR,
# which ctest starts with WINE.
unit_build() {
  cmake -S . -B "$1" -DCMAKE_TOOLCHAIN_FILE="packaging/mingw-w64-$2.cmake" \
    -DROMWEAVE_GTEST_SOURCE=/usr/src/googletest -DROMWEAVE_WINE="$3" >/dev/null
  cmake --build "$1" -j2 >/dev/null
}

step "unit tests for Windows"
units=build-mingw-tests
units32=build-mingw32-tests
unit_build "$units" x86_64 "$wine64"
# CI's only build with 32-bit sizes and pointers, where a count or an
# offset that outgrows them would show.
unit_build "$units32" i686 "$wine32"

# The end-to-end tests are Linux programs that start the .exe under Wine.
step "end-to-end tests for Wine"
host=${ROMWEAVE_HOST_BUILD:-build}
host32=build-wine32
cmake -S . -B "$host" -DROMWEAVE_WINDOWS_EXE="$exe" \
  -DROMWEAVE_WINE="$wine64" >/dev/null
cmake --build "$host" -j2 --target e2e_tests >/dev/null
cmake -S . -B "$host32" -DROMWEAVE_WINDOWS_EXE="$exe32" \
  -DROMWEAVE_WINE="$wine32" >/dev/null
cmake --build "$host32" -j2 --target e2e_tests >/dev/null

# One wineserver per prefix for the whole of its runs, started once the
# prefix is made and every process of its making has ended: a server that
# exits between two runs of the tool, or restarts while the prefix is made,
# races with the next start, which then fails ("wine client error ...
# Connection reset by peer").  A first run under that server starts Wine's
# background services, so that they do not hold on to the output of a
# test.  Such a race is Wine's, not the tool's (which gives the same result
# on every run), so a shard that still meets one is run again, up to three
# times in all.
#
# Wine turns the Linux arguments and file names into Windows characters by
# the locale's character set: only a UTF-8 locale hands the tool every name
# as it was given, whatever locale the CI machine has.
export LC_ALL=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# start_wine PREFIX WINE EXE makes the prefix (the tests of a build find
# it in the build's packaging folder) and starts its server, warm.
start_wine() {
  export WINEPREFIX=$1
  mkdir -p "$WINEPREFIX"
  "$2" "$3" >/dev/null 2>&1 || true
  "$wineserver" -w
  "$wineserver" -p
  "$2" "$3" >/dev/null 2>&1 || true
}
trap '"$wineserver" -k 2>/dev/null || true' EXIT

# wine_tests BITS HOST UNITS WINE EXE: the end-to-end tests of the build
# HOST and the unit tests of the build UNITS, under a Wine of their own.
wine_tests() {
  step "end-to-end tests under $1-bit Wine"
  start_wine "$(cd "$2" && pwd)/packaging/wineprefix" "$4" "$5"
  ctest --test-dir "$2" -L wine -j2 --no-tests=error --output-on-failure \
    --repeat until-pass:3
  # The same server and prefix, which the tests find in the environment.
  step "unit tests under $1-bit Wine"
  ctest --test-dir "$3" -j2 --no-tests=error --output-on-failure \
    --repeat until-pass:3
  "$wineserver" -k 2>/dev/null || true
}
wine_tests 64 "$host" "$units" "$wine64" "$exe"
# A 32-bit prefix of its own: one made for 64-bit Windows would run the
# 32-bit .exe too, but as 64-bit Windows runs one (WoW64), not as a 32-bit
# Windows does.  32-bit Wine is itself an i386 program, which the kernel of
# some machines refuses to start ("Exec format error"); there the 32-bit
# build, made and checked above, is not run, and the log says so.
if "$wine32" --version >/dev/null 2>&1; then
  export WINEARCH=win32
  wine_tests 32 "$host32" "$units32" "$wine32" "$exe32"
else
  echo "windows.sh: this machine's kernel does not start i386 programs" \
    "($wine32 --version fails): the 32-bit Wine tests are not run" >&2
  step "32-bit Wine tests skipped: no i386 programs on this kernel"
fi
step "done"
