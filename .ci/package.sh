#!/usr/bin/env bash
# CI step: build the Debian package and check it (control fields, file
# list, dpkg -i, a run of the installed tool, dpkg -r).  Run as root from
# anywhere; installs the Debian packages it needs when they are missing.
set -eu
cd "$(dirname "$0")/.."

. .ci/install-missing.sh

# dpkg-dev brings dpkg-shlibdeps, which fills in the Depends line; CPack
# uses file(1) to find the binaries it hands to it.
install_missing cmake make g++ dpkg-dev file gzip

# Built with the hardening flags Debian builds its own packages with.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS

build=build-deb
rm -rf "$build"
# Linked against the shared C library, as Debian's own packages are.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DROMWEAVE_BUILD_TESTS=OFF \
  -DROMWEAVE_STATIC=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$build" -j2 >/dev/null
(cd "$build" && cpack -G DEB)
dpkg-deb --info "$build"/romweave_*.deb
packaging/check-deb.sh "$build"/romweave_*.deb "$build/mkcapture"
