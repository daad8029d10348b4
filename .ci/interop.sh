#!/usr/bin/env bash
# Installs the XMODEM sender that the interoperability tests drive: `sx`
# from lrzsz.  Under CI those tests fail rather than skip without it.
set -euo pipefail
cd "$(dirname "$0")/.."

. .ci/install-missing.sh
install_missing lrzsz
command -v sx >/dev/null || command -v lsx >/dev/null ||
  { echo "lrzsz is installed but neither sx nor lsx is on PATH" >&2; exit 1; }
