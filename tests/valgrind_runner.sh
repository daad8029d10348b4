#!/bin/sh
# A ROMWEAVE_RUNNER for the end-to-end tests: runs the tool under valgrind
# and writes to standard error, which fails the test, every memory error,
# every leak and every file the tool left open at exit (descriptors it
# inherited are not its own).  The tool's exit status is passed on.
#
# .ci/valgrind.sh shows how to use it.
log=$(mktemp) || exit 125
valgrind --quiet --error-exitcode=125 --leak-check=full \
  --show-leak-kinds=all --errors-for-leak-kinds=all --track-fds=yes \
  --log-file="$log" "$@"
status=$?
awk '
  /Open [^ ]+( [^ ]+)? descriptor [0-9]+/ { pending = $0; next }
  pending != "" { if ($0 !~ /<inherited from parent>/) print "left open:" pending; pending = "" }
  / (Invalid|Conditional|Syscall param|Mismatched|Source and destination)/ { print }
  /(definitely|indirectly|possibly) lost in|still reachable in/ { print }
' "$log" >&2
if [ "$status" -eq 125 ]; then cat "$log" >&2; fi
rm -f "$log"
exit "$status"
