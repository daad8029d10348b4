#!/usr/bin/env bash
# CI step: cross-builds romweave.exe with mingw-w64, checks that it needs no
# DLL beyond those Windows ships, and runs the end-to-end tests against it
# under Wine; then the unit tests, the fuzz seed replay and the seed check,
# cross-built too, under Wine.  Run as root from anywhere; installs the
# Debian packages it needs when they are missing.
#
# ROMWEAVE_HOST_BUILD names the Linux build folder that holds the tests
# (default: build, as .ci/run leaves it); it is configured and brought up to
# date here, so the step also runs alone.
set -eu
cd "$(dirname "$0")/.."
. .ci/install-missing.sh

# googletest holds GoogleTest's sources, built here for Windows.
install_missing cmake make g++ libgtest-dev g++-mingw-w64-x86-64 wine64 \
  googletest groff-base

step "cross build"
cross=build-mingw
cmake -S . -B "$cross" --no-warn-unused-cli -DROMWEAVE_BUILD_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE=packaging/mingw-w64-x86_64.cmake \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$cross" -j2 --target romweave >/dev/null
exe=$PWD/$cross/romweave.exe

# The .exe must run alone: no runtime DLL of the compiler may be imported.
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
for dll in $dlls; do
  case $(echo "$dll" | tr 'A-Z' 'a-z') in
    kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | shell32.dll) ;;
    *)
      echo "windows.sh: romweave.exe imports $dll" >&2
      exit 1
      ;;
  esac
done
step "romweave.exe imports only:" $dlls

step "unit tests for Windows"
units=build-mingw-tests
cmake -S . -B "$units" -DCMAKE_TOOLCHAIN_FILE=packaging/mingw-w64-x86_64.cmake \
  -DROMWEAVE_GTEST_SOURCE=/usr/src/googletest >/dev/null
cmake --build "$units" -j2 >/dev/null

step "end-to-end tests under Wine"
host=${ROMWEAVE_HOST_BUILD:-build}
cmake -S . -B "$host" -DROMWEAVE_WINDOWS_EXE="$exe" >/dev/null
cmake --build "$host" -j2 --target e2e_tests >/dev/null
# One wineserver for the whole run, started once the prefix is made and
# every process of its making has ended: a server that exits between two
# runs of the tool, or restarts while the prefix is made, races with the
# next start, which then fails ("wine client error ... Connection reset by
# peer").  A first run under that server starts Wine's background services,
# so that they do not hold on to the output of a test.  Such a race is
# Wine's, not the tool's (which gives the same result on every run), so a
# shard that still meets one is run again, up to three times in all.
export WINEPREFIX="$(cd "$host" && pwd)/packaging/wineprefix" WINEDEBUG=-all
# Wine turns the Linux arguments and file names into Windows characters by
# the locale's character set: only a UTF-8 locale hands the tool every name
# as it was given, whatever locale the CI machine has.
export LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
mkdir -p "$WINEPREFIX"
"$wine" "$exe" >/dev/null 2>&1 || true
"$wineserver" -w
"$wineserver" -p
trap '"$wineserver" -k 2>/dev/null || true' EXIT
"$wine" "$exe" >/dev/null 2>&1 || true
ctest --test-dir "$host" -L wine -j2 --no-tests=error --output-on-failure \
  --repeat until-pass:3
# The same server and prefix, which the tests find in the environment.
step "unit tests under Wine"
ctest --test-dir "$units" -j2 --no-tests=error --output-on-failure \
  --repeat until-pass:3
step "done"
