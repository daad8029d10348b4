#!/usr/bin/env bash
# Builds the release artifacts of the commit checked out, into one folder:
#
#   romweave-VERSION.tar.gz                 the sources (git archive)
#   romweave_VERSION_ARCH.deb               the Debian package
#   romweave-VERSION-windows-x86_64.zip     romweave.exe for 64-bit Windows,
#                                           README, LICENSE and the manual
#                                           page as plain text
#   romweave-VERSION-windows-x86.zip        the same for 32-bit Windows
#   romweave-VERSION-linux-ARCH.tar.gz      the static binary, README,
#                                           LICENSE and the manual page
#   romweave-VERSION-web.zip                the page that runs the tool in a
#                                           browser, with LICENSE and the
#                                           manual page as plain text
#   SHA256SUMS
#
#   packaging/release.sh [FOLDER]           FOLDER: build-release/dist
#
# Everything is built from the committed tree (changes not committed are
# left out, with a warning), in build-release/ beside it, and dated by the
# commit: two runs on one commit give the same bytes.  VERSION is the one
# in CMakeLists.txt.  CPACK_PACKAGE_CONTACT in the environment names the
# package's maintainer.  Needs git, cmake, make, g++, dpkg-dev, file,
# groff-base, zip, g++-mingw-w64-x86-64, g++-mingw-w64-i686 and
# emscripten; installs nothing.
set -euo pipefail

fail() {
  echo "release: $*" >&2
  exit 1
}

[ $# -le 1 ] || fail "usage: packaging/release.sh [FOLDER]"
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-build-release/dist}

for tool in git cmake make g++ x86_64-w64-mingw32-g++ i686-w64-mingw32-g++ \
    dpkg-buildflags dpkg-shlibdeps file groff zip gzip tar sha256sum readelf \
    emcmake node; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done
git rev-parse --verify -q HEAD >/dev/null || fail "not in a git checkout"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: changes not committed are left out of the release" >&2
fi

# Nothing may depend on the time, the time zone, the locale or the umask
# of the run.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C.UTF-8
umask 022

work=$root/build-release
src=$work/src
# Each Windows the release serves: the name its zip gives it, the
# processor of its toolchain file and its build folder.
windows_targets=("x86_64 x86_64 build-mingw" "x86 i686 build-mingw32")
rm -rf "$src" "$work/build-deb" "$work/build-static" "$work/build-mingw" \
  "$work/build-mingw32" "$work/build-web"
mkdir -p "$src" "$out"
out=$(cd "$out" && pwd)
git archive --format=tar HEAD | tar -x -C "$src"

# Paths of the build machine stay out of the binaries.
prefix_map="-ffile-prefix-map=$src=. -ffile-prefix-map=$work=."
quiet() {
  local log
  log=$(mktemp)
  "$@" >"$log" 2>&1 || { cat "$log" >&2; rm -f "$log"; fail "failed: $*"; }
  rm -f "$log"
}

# The static binary, for the Linux tarball.  Configured first: its cache
# gives the version that names every artifact.
static=$work/build-static
quiet env CXXFLAGS="$prefix_map" LDFLAGS=-s \
  cmake -S "$src" -B "$static" -DCMAKE_BUILD_TYPE=Release \
  -DROMWEAVE_BUILD_TESTS=OFF -DROMWEAVE_STATIC=ON
quiet cmake --build "$static" -j2 --target romweave mkcapture
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$static/CMakeCache.txt")
[ -n "$version" ] || fail "no version in $static/CMakeCache.txt"
case $(readelf -l "$static/romweave") in
  *INTERP*) fail "$static/romweave is not linked statically" ;;
esac
# The binary shipped must run: a two-block capture gives its image back.
"$static/mkcapture" --image "$static/smoke.img" 2 "$static/smoke.cap"
quiet "$static/romweave" "$static/smoke.cap" "$static/smoke.bin"
cmp -s "$static/smoke.img" "$static/smoke.bin" || fail "static romweave gives a wrong image"

# The Debian package, linked against the shared C library and built with
# the hardening flags Debian builds its own packages with.
deb_build=$work/build-deb
(
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS) $prefix_map"
  LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
  export CXXFLAGS LDFLAGS
  quiet cmake -S "$src" -B "$deb_build" -DCMAKE_BUILD_TYPE=Release \
    -DROMWEAVE_BUILD_TESTS=OFF -DROMWEAVE_STATIC=OFF \
    ${CPACK_PACKAGE_CONTACT:+"-DCPACK_PACKAGE_CONTACT=$CPACK_PACKAGE_CONTACT"}
  quiet cmake --build "$deb_build" -j2 --target romweave
  cd "$deb_build" && quiet cpack -G DEB
)
deb=$(cd "$deb_build" && ls romweave_"$version"_*.deb)

# romweave.exe for each Windows, and the name of its zip.  The linker dates
# it by SOURCE_DATE_EPOCH; it is stripped while linking, since strip would
# date it anew.
windows_zips=()
for target in "${windows_targets[@]}"; do
  read -r name processor folder <<<"$target"
  windows_zips+=("romweave-$version-windows-$name.zip")
  quiet env CXXFLAGS="$prefix_map" LDFLAGS=-s \
    cmake -S "$src" -B "$work/$folder" -DCMAKE_BUILD_TYPE=Release \
    -DROMWEAVE_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$src/packaging/mingw-w64-$processor.cmake"
  quiet cmake --build "$work/$folder" -j2 --target romweave
  # Each zip must hold the program for its own Windows.
  case $processor:$(file -b "$work/$folder/romweave.exe") in
    "x86_64:PE32+ executable (console) x86-64"*) ;;
    "i686:PE32 executable (console) Intel 80386"*) ;;
    *) fail "$work/$folder/romweave.exe is not a console program for $processor" ;;
  esac
done

# The page, built with Emscripten.
web=$work/build-web
quiet env CXXFLAGS="$prefix_map" \
  emcmake cmake -S "$src" -B "$web" -DCMAKE_BUILD_TYPE=Release
quiet cmake --build "$web" -j2 --target web

source_tgz=romweave-$version.tar.gz
linux_tgz=romweave-$version-linux-$(uname -m).tar.gz
web_zip=romweave-$version-web.zip
artifacts=("$source_tgz" "$deb" "${windows_zips[@]}" "$linux_tgz" "$web_zip")
for file in "${artifacts[@]}" SHA256SUMS; do rm -f "$out/$file"; done

git archive --format=tar --prefix="romweave-$version/" HEAD |
  gzip -9 -n >"$out/$source_tgz"
cp "$deb_build/$deb" "$out/$deb"

# Every file of a folder to archive gets the commit's time and a fixed mode.
stage=$work/stage
rm -rf "$stage"
settle() {
  chmod -R u=rwX,go=rX "$1"
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

dir=romweave-$version-linux-$(uname -m)
mkdir -p "$stage/$dir"
cp "$static/romweave" "$src/README.md" "$src/LICENSE" \
  "$static/packaging/romweave.1" "$stage/$dir/"
settle "$stage/$dir"
tar -C "$stage" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 \
  --group=0 --numeric-owner --format=gnu -cf - "$dir" |
  gzip -9 -n >"$out/$linux_tgz"

# Windows users get text files with CR LF line ends and .txt names.
crlf() { sed 's/$/\r/' "$1" >"$2"; }
# windows_zip ZIP FOLDER puts romweave.exe from the build FOLDER, the
# README, the licence and the manual page in ZIP, in a folder named as
# ZIP is.
windows_zip() {
  local dir=${1%.zip}
  mkdir -p "$stage/$dir"
  cp "$2/romweave.exe" "$stage/$dir/"
  crlf "$src/README.md" "$stage/$dir/README.txt"
  crlf "$src/LICENSE" "$stage/$dir/LICENSE.txt"
  groff -man -Tascii -P-cbu "$2/packaging/romweave.1" >"$stage/$dir/romweave.txt.lf"
  crlf "$stage/$dir/romweave.txt.lf" "$stage/$dir/romweave.txt"
  rm "$stage/$dir/romweave.txt.lf"
  settle "$stage/$dir"
  # -X leaves out the owner and the extra time fields; the files are named
  # in a fixed order.
  (cd "$stage" && zip -X -9 -q "$out/$1" "$dir/" "$dir/LICENSE.txt" \
    "$dir/README.txt" "$dir/romweave.exe" "$dir/romweave.txt")
}
for index in "${!windows_targets[@]}"; do
  read -r _ _ folder <<<"${windows_targets[$index]}"
  windows_zip "${windows_zips[$index]}" "$work/$folder"
done

# The page's folder, which works where it is unpacked: index.html opens it.
dir=romweave-$version-web
page_files=(index.html page.js romweave.js romweave.txt style.css)
mkdir -p "$stage/$dir"
for file in "${page_files[@]}"; do cp "$web/web/$file" "$stage/$dir/"; done
cp "$src/LICENSE" "$stage/$dir/LICENSE.txt"
settle "$stage/$dir"
(cd "$stage" && zip -X -9 -q "$out/$web_zip" "$dir/" "$dir/LICENSE.txt" \
  "${page_files[@]/#/$dir/}")

(cd "$out" && sha256sum "${artifacts[@]}" >SHA256SUMS)
rm -rf "$stage"
echo "release: romweave $version, commit $(git rev-parse --short HEAD), in $out:"
(cd "$out" && ls -l "${artifacts[@]}" SHA256SUMS)
