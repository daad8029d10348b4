#!/usr/bin/env bash
# Installs the XMODEM sender that the interoperability tests drive: `sx`
# from lrzsz.  Under CI those tests fail rather than skip without it.
set -euo pipefail

if ! dpkg-query -W -f='${Status}' lrzsz 2>/dev/null | grep -q 'install ok installed'; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q --no-install-recommends lrzsz ||
    { apt-get update -q && apt-get install -y -q --no-install-recommends lrzsz; }
fi
command -v sx >/dev/null || command -v lsx >/dev/null ||
  { echo "lrzsz is installed but neither sx nor lsx is on PATH" >&2; exit 1; }
