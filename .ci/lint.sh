#!/usr/bin/env bash
# The layout of romweave's own code, checked with clang-format, and static
# analysis with cppcheck and clang-tidy, configured by .clang-format,
# .cppcheck-suppressions and .clang-tidy.  Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
. .ci/install-missing.sh
install_missing cmake g++ make libgtest-dev cppcheck clang-tidy-14 clang-format-14 git

# Every C++ file as clang-format lays it out (.clang-format).
git ls-files '*.cc' '*.h' | xargs clang-format-14 --dry-run -Werror
echo "clang-format: clean"

# Only the compile commands are needed, not a build.
cmake -S . -B build-lint -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null

cppcheck --project=build-lint/compile_commands.json --std=c++17 \
  --enable=warning,style,performance,portability \
  --library=googletest --library=posix \
  --suppressions-list=.cppcheck-suppressions --inline-suppr \
  --error-exitcode=1 --quiet \
  --template='{file}:{line}: {severity} ({id}): {message}'
echo "cppcheck: clean"

grep -o '"file": *"[^"]*"' build-lint/compile_commands.json |
  sed 's/^"file": *"//; s/"$//' | sort -u >build-lint/files.txt
status=0
xargs -P 2 -n 1 clang-tidy-14 -p build-lint --quiet --warnings-as-errors='*' \
  <build-lint/files.txt >build-lint/clang-tidy.log 2>&1 || status=$?
# Leave out the counts of warnings in system headers, which are not shown.
grep -v '^[0-9]* warnings\? generated\.$' build-lint/clang-tidy.log || true
if [ "$status" -ne 0 ]; then
  echo "clang-tidy: findings above" >&2
  exit 1
fi
echo "clang-tidy: clean ($(wc -l <build-lint/files.txt) files)"
