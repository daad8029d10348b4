#!/bin/sh
# Checks a romweave .deb: its control fields and file list, then installs
# it, checks its copyright and changelog, runs the installed tool on sample
# captures, and removes it again.
#
#   packaging/check-deb.sh PACKAGE.deb MKCAPTURE
#
# MKCAPTURE is the sample-capture writer from the same build.  Needs root
# (dpkg -i); refuses to touch a romweave that was installed beforehand.
set -eu

fail() {
  echo "check-deb: $*" >&2
  exit 1
}

[ $# -eq 2 ] || fail "usage: check-deb.sh PACKAGE.deb MKCAPTURE"
deb=$1
mkcapture=$2
[ -f "$deb" ] || fail "no such package: $deb"
[ -x "$mkcapture" ] || fail "no such program: $mkcapture"
mkcapture=$(cd "$(dirname "$mkcapture")" && pwd)/$(basename "$mkcapture")
[ "$(id -u)" -eq 0 ] || fail "dpkg -i needs root"

field() { dpkg-deb --field "$deb" "$1"; }

# Control fields.
[ "$(field Package)" = romweave ] || fail "package name is '$(field Package)'"
version=$(field Version)
[ -n "$version" ] || fail "no version"
[ "$(field Section)" = utils ] || fail "section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no maintainer"
depends=$(field Depends)
# Filled in from the libraries the binary links; at least the C library.
case "$depends" in
  *libc6*) ;;
  *) fail "Depends lacks libc6: '$depends'" ;;
esac
description=$(field Description)
[ "$(printf '%s\n' "$description" | wc -l)" -ge 3 ] ||
  fail "description has no long text: '$description'"

# File list: exactly the program, its page, the copyright and the
# changelog, nothing else.
files=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $NF }' | sort)
expected=$(printf '%s\n' ./usr/bin/romweave \
  ./usr/share/doc/romweave/changelog.gz ./usr/share/doc/romweave/copyright \
  ./usr/share/man/man1/romweave.1.gz)
if [ "$files" != "$expected" ]; then
  printf 'check-deb: files in the package:\n%s\nexpected:\n%s\n' \
    "$files" "$expected" >&2
  exit 1
fi
dpkg-deb --contents "$deb" | grep -q '^-rwxr-xr-x root/root .* \./usr/bin/romweave$' ||
  fail "usr/bin/romweave is not an executable owned by root"

if dpkg-query --show --showformat='${Status}' romweave 2>/dev/null |
    grep -q 'installed'; then
  fail "romweave is already installed; remove it first"
fi

work=$(mktemp -d)
installed=no
cleanup() {
  if [ "$installed" = yes ]; then dpkg --remove romweave >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

# Minimal images may keep dpkg from unpacking manual pages and documents;
# these are part of what is checked.
dpkg --install --path-include='/usr/share/man/man1/romweave.1.gz' \
  --path-include='/usr/share/doc/romweave/*' "$deb"
installed=yes
[ "$(command -v romweave)" = /usr/bin/romweave ] ||
  fail "romweave is not /usr/bin/romweave on PATH"
[ -f /usr/share/man/man1/romweave.1.gz ] || fail "manual page not installed"
gzip -dc /usr/share/man/man1/romweave.1.gz | grep -q '^\.SH "EXIT STATUS"' ||
  fail "installed manual page is not the romweave page"
doc=/usr/share/doc/romweave
grep -q '^License: MIT$' "$doc/copyright" || fail "$doc/copyright names no MIT licence"
# The changelog's latest entry is the package's version.
gzip -dc "$doc/changelog.gz" | head -n 1 | grep -qF "romweave ($version) " ||
  fail "changelog does not start with version $version"

# Two sources, one raw and one in the calculator wrapper, whose images join
# into one; run from PATH, as a user would.
cd "$work"
"$mkcapture" --image part1.img 3 part1.cap
"$mkcapture" --wrap --first 3 --image part2.img 2 part2.hp
cat part1.img part2.img >expected.img
status=0
romweave part1.cap part2.hp rom.bin >stdout 2>stderr || status=$?
cat >expected.out <<'EOF'
Checking Address 00000...
Checking Address 00080...
Checking Address 00100...
Checking Address 00180...
Checking Address 00180...
Checking Address 00200...
Checking Address 00280...
ROM size = 00280h = 0KB
EOF
[ "$status" -eq 0 ] || fail "installed romweave exited with $status"
[ ! -s stderr ] || fail "installed romweave wrote to stderr: $(cat stderr)"
cmp expected.out stdout || fail "unexpected output: $(cat stdout)"
cmp expected.img rom.bin || fail "image differs from the captures' data"

status=0
romweave part1.cap >stdout || status=$?
[ "$status" -eq 4 ] || fail "a single name gave status $status, not 4"
answer=$(romweave --version) || fail "romweave --version failed"
[ "$answer" = "romweave $version" ] ||
  fail "romweave --version says '$answer', the package $version"
cd /

dpkg --remove romweave
installed=no
[ ! -e /usr/bin/romweave ] || fail "/usr/bin/romweave left after dpkg -r"
[ ! -e /usr/share/man/man1/romweave.1.gz ] || fail "page left after dpkg -r"
[ ! -e /usr/share/doc/romweave ] || fail "/usr/share/doc/romweave left after dpkg -r"
echo "check-deb: $deb is sound"
