#!/usr/bin/env bash
# The end-to-end tests once more with the tool run under valgrind (through
# tests/valgrind_runner.sh), which, unlike LeakSanitizer, also sees a file
# left open: every descriptor the tool opened and did not close.
set -euo pipefail
cd "$(dirname "$0")/.."
. .ci/install-missing.sh
install_missing cmake g++ make libgtest-dev valgrind

# The tests as the README builds them, and the tool linked dynamically in
# build-valgrind/: valgrind cannot follow the C library linked into a
# static binary, and reports its start-up code instead.
cmake -S . -B build >/dev/null
cmake --build build -j2
cmake -S . -B build-valgrind -DROMWEAVE_STATIC=OFF -DROMWEAVE_BUILD_TESTS=OFF >/dev/null
cmake --build build-valgrind -j2 --target romweave

# Only the end-to-end tests start the tool; the others run as they are.
# The tests of the Windows build (label wine) bring their own tool.
ROMWEAVE_BINARY="$PWD/build-valgrind/romweave" \
ROMWEAVE_RUNNER="$PWD/tests/valgrind_runner.sh" \
  ctest --test-dir build -LE wine -j2 --no-tests=error --output-on-failure
