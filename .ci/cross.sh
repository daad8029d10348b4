#!/usr/bin/env bash
# CI step: the whole test suite on other processors, cross-built with
# Debian's compilers and run under qemu-user: aarch64, which has no SSE2 and
# so takes the plain checksum loop, and s390x, which is big-endian.  The
# unit, end-to-end and interop tests and the fuzz seed replay all run
# there; the interop tests' sx stays a program of this machine.  Run as
# root from anywhere; installs the Debian packages it needs when they are
# missing.  ROMWEAVE_CROSS_TARGETS picks fewer targets.
set -euo pipefail
cd "$(dirname "$0")/.."

. .ci/install-missing.sh
# googletest holds GoogleTest's sources, built here for each target.
install_missing cmake make googletest qemu-user groff-base \
  g++-aarch64-linux-gnu g++-s390x-linux-gnu
.ci/interop.sh

for target in ${ROMWEAVE_CROSS_TARGETS:-aarch64 s390x}; do
  build=build-$target
  step "$target: build"
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="packaging/$target-linux-gnu.cmake" \
    -DROMWEAVE_GTEST_SOURCE=/usr/src/googletest >/dev/null
  cmake --build "$build" -j2 >/dev/null
  step "$target: tests under qemu-user"
  ctest --test-dir "$build" -j2 --no-tests=error --output-on-failure
done
step "done"
