#!/usr/bin/env bash
# The short soak: 40 transfers of seed 1 (SOAK_SEEDS, SOAK_TRANSFERS) from
# sx and python3-xmodem to rx over a line that the relay damages, every
# capture read with --receiver and judged against the sender's bytes and
# rx's file.  Any disagreement fails the step and keeps its capture and
# story in build-soak/cases/.  It runs the tool as built, never under the
# sanitizers, an emulator or valgrind: a peer's timing is part of the test.
set -euo pipefail
cd "$(dirname "$0")/.."
. .ci/install-missing.sh
install_missing cmake g++ make python3 lrzsz python3-xmodem

# The README's build, in build; only the tool is needed.
cmake -S . -B build >/dev/null
cmake --build build -j2 --target romweave

/usr/bin/python3 tests/interop/soak.py --seeds "${SOAK_SEEDS:-1}" \
  --transfers "${SOAK_TRANSFERS:-40}" --jobs 8 --tool build/romweave \
  --out build-soak
