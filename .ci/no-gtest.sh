#!/usr/bin/env bash
# CI step: the README's commands on a machine without GoogleTest, which
# must still build the tool and the demo, install it, and run the tests
# that need no GoogleTest.  GoogleTest is hidden in a mount namespace of
# this step's own (so it runs as root), where CI is unset: under CI a
# missing GoogleTest is an error.  The build goes to build-nogtest.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1-}" != --hidden ]; then
  . .ci/install-missing.sh
  install_missing cmake g++ make groff-base util-linux
  exec env -u CI unshare --mount --propagation private bash "$0" --hidden
fi

# Every folder of GoogleTest's headers, CMake package and sources, emptied;
# its static libraries alone would not be found without the headers.
multiarch=$(g++ -print-multiarch)
for folder in /usr/include/gtest /usr/include/gmock \
    "/usr/lib/$multiarch/cmake/GTest" /usr/src/googletest /usr/src/gtest \
    /usr/src/gmock; do
  if [ -d "$folder" ]; then mount -t tmpfs none "$folder"; fi
done
if [ -e /usr/include/gtest/gtest.h ]; then
  echo "no-gtest.sh: GoogleTest is still visible" >&2
  exit 1
fi

rm -rf build-nogtest
mkdir build-nogtest
log=build-nogtest/configure.log
cmake -S . -B build-nogtest >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
# The one message says which package to install.
grep -q 'libgtest-dev' "$log" || {
  cat "$log" >&2
  echo "no-gtest.sh: configuring said nothing of libgtest-dev" >&2
  exit 1
}
cmake --build build-nogtest --target demo >/dev/null
cmake --build build-nogtest -j2 >/dev/null
cmake --install build-nogtest --prefix build-nogtest/installed >/dev/null
ctest --test-dir build-nogtest --output-on-failure --no-tests=error
