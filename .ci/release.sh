#!/usr/bin/env bash
# CI step: the Debian package built as the README says, checked by lintian
# and by a run of the installed tool; then the release built twice from the
# commit, which must give the same bytes.  Run as root from anywhere;
# installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() {
  echo "release.sh: $*" >&2
  exit 1
}

. .ci/install-missing.sh
# dpkg-dev brings dpkg-shlibdeps, which fills in the Depends line; CPack
# uses file(1) to find the binaries it hands to it.
install_missing cmake make g++ git dpkg-dev file gzip lintian zip groff-base \
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 emscripten nodejs

step "Debian package as the README builds it"
rm -rf build-deb
cmake -S . -B build-deb -DROMWEAVE_BUILD_TESTS=OFF -DROMWEAVE_STATIC=OFF >/dev/null
cmake --build build-deb -j2 >/dev/null && (cd build-deb && cpack -G DEB >/dev/null)
deb=$(ls build-deb/romweave_*.deb)
dpkg-deb --info "$deb"
lintian --allow-root --fail-on error,warning "$deb"
step "lintian: clean"
packaging/check-deb.sh "$deb" build-deb/mkcapture

step "release, twice"
rm -rf build-release/check-1 build-release/check-2
packaging/release.sh build-release/check-1
packaging/release.sh build-release/check-2 >/dev/null
(cd build-release/check-1 && ls) >build-release/check-1.list
(cd build-release/check-2 && ls) >build-release/check-2.list
cmp build-release/check-1.list build-release/check-2.list ||
  fail "the two releases hold different files"
[ "$(wc -l <build-release/check-1.list)" -eq 7 ] ||
  fail "the release holds $(wc -l <build-release/check-1.list) files, not 7"
while read -r file; do
  cmp "build-release/check-1/$file" "build-release/check-2/$file" ||
    fail "$file differs between two builds of one commit"
done <build-release/check-1.list
for dist in build-release/check-1 build-release/check-2; do
  (cd "$dist" && sha256sum --check --quiet SHA256SUMS) ||
    fail "$dist does not match its SHA256SUMS"
done
lintian --allow-root --fail-on error,warning build-release/check-1/romweave_*.deb
step "release: 7 files, the same bytes twice, lintian clean"
