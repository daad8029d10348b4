#!/usr/bin/env bash
# Installs the XMODEM sender that the interoperability tests drive, `sx`
# from lrzsz, and its receiver `rx`, which they check the tool's images
# against.  Under CI those tests fail rather than skip without them.
set -euo pipefail
cd "$(dirname "$0")/.."

. .ci/install-missing.sh
install_missing lrzsz
for program in sx rx; do
  command -v "$program" >/dev/null || command -v "l$program" >/dev/null ||
    { echo "lrzsz is installed but neither $program nor l$program is on PATH" >&2; exit 1; }
done
