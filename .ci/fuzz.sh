#!/usr/bin/env bash
# Fuzzes the wrapper probe, the block reader and the receiver's reading for
# FUZZ_SECONDS (60 by default), with the libFuzzer target built by clang in
# build-fuzz/.  Any crash, sanitizer finding, failed check, leak or hang
# fails the step and leaves the input that caused it in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
. .ci/install-missing.sh
install_missing cmake make clang-14 libclang-rt-14-dev

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DROMWEAVE_FUZZ=ON \
  -DROMWEAVE_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j2 --target decode_fuzzer make_seeds

# The committed seeds must be the ones the capture builder makes.
build-fuzz/fuzz/make_seeds --check fuzz/corpus

# New inputs go to a scratch corpus; the committed seeds are only read.
# Inputs may grow to 32 KiB: by default libFuzzer keeps them to the largest
# seed's size, and damage that reaches past the frame search's first 4 KiB
# span, with frames before and behind it, needs more room than that.
rm -rf build-fuzz/corpus build-fuzz/findings
mkdir -p build-fuzz/corpus build-fuzz/findings
status=0
build-fuzz/fuzz/decode_fuzzer -max_total_time="${FUZZ_SECONDS:-60}" \
  -timeout=10 -rss_limit_mb=2048 -max_len=32768 -dict=fuzz/romweave.dict \
  -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 \
  build-fuzz/corpus fuzz/corpus >build-fuzz/fuzz.log 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 80 build-fuzz/fuzz.log
  echo "fuzz: finding (status $status); input in build-fuzz/findings/:" >&2
  ls -l build-fuzz/findings >&2
  exit 1
fi
grep -E '^(INFO: seed corpus|#[0-9]+[[:space:]]+DONE|stat::)' build-fuzz/fuzz.log
