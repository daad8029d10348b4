#!/usr/bin/env bash
# The whole test suite once more, with the tool and the tests built with
# AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer in
# build-asan/.  The first finding ends the process that made it, which
# fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."
. .ci/install-missing.sh
install_missing cmake g++ make libgtest-dev

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

cmake -S . -B build-asan -DROMWEAVE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-asan -j2
ctest --test-dir build-asan --no-tests=error --output-on-failure
