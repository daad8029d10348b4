#!/usr/bin/env bash
# CI step: the page built with Emscripten in build-web, then its tests in
# headless Chromium and in headless Firefox, which compare it with the
# native build in build (built here, or brought up to date).  Run as root
# from anywhere; installs the Debian packages and the npm packages it needs.
set -euo pipefail
cd "$(dirname "$0")/.."

. .ci/install-missing.sh
install_missing cmake make g++ groff-base emscripten chromium firefox-esr nodejs
# NodeSource's nodejs brings npm; Debian's has it in a package of its own.
command -v npm >/dev/null || install_missing npm
step "installed"

cmake -S . -B build >/dev/null
cmake --build build -j2 --target romweave mkcapture >/dev/null
emcmake cmake -S . -B build-web >/dev/null
cmake --build build-web -j2 --target web >/dev/null
step "page built in build-web/web:"
(cd build-web/web && ls -l)

# The page has no file system: the program reaches the page's files only
# through platform/platform_web.cc.  A system call it imports (the POSIX
# platform file linked by mistake, or a C library stream) would run as an
# empty stub.  The glue names every import of the WebAssembly in one object
# (asmLibraryArg; wasmImports in later Emscriptens).
imports=$(grep -o '\(asmLibraryArg\|wasmImports\) *= *{[^}]*}' build-web/web/romweave.js) || {
  echo "romweave.js: no import object found" >&2
  exit 1
}
if grep -o '[A-Za-z_$]*\(__syscall_\|fd_\)[A-Za-z0-9_$]*' <<<"$imports"; then
  echo "romweave.js imports the system calls above" >&2
  exit 1
fi
step "romweave.js imports no system call"

(cd web/tests && npm ci --no-audit --no-fund)
step "test packages installed"
# One browser at a time, so that each one's time shows in the log.
for browser in chromium firefox; do
  (cd web/tests && ROMWEAVE_BROWSERS=$browser node --test tests.mjs)
  step "browser tests passed in $browser"
done
