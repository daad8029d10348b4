#!/bin/sh
# A ROMWEAVE_RUNNER for the end-to-end tests: runs the tool under valgrind
# and writes to standard error, which fails the test, every memory error,
# every leak and every file the tool left open at exit (descriptors it
# inherited are not its own, and valgrind leaves out 0 to 2).  The tool's
# exit status is passed on, except that findings with no standard error to
# show them on end the run with status 125.
#
# Valgrind logs to descriptor 9: a --log-file would be opened on the lowest
# free descriptor, which is standard output when a test closes it, and the
# tool would write its lines into the log instead of finding it closed.
#
# .ci/valgrind.sh shows how to use it.
log=$(mktemp) || exit 125
exec 9>"$log" || exit 125
valgrind --quiet --error-exitcode=125 --leak-check=full \
  --show-leak-kinds=all --errors-for-leak-kinds=all --track-fds=yes \
  --log-fd=9 "$@"
status=$?
exec 9>&-
findings=$(awk '
  /Open [^ ]+( [^ ]+)? descriptor [0-9]+/ { pending = $0; next }
  pending != "" { if ($0 !~ /<inherited from parent>/) print "left open:" pending; pending = "" }
  / (Invalid|Conditional|Syscall param|Mismatched|Source and destination)/ { print }
  /(definitely|indirectly|possibly) lost in|still reachable in/ { print }
' "$log")
if [ "$status" -eq 125 ]; then findings=$(cat "$log"); fi
rm -f "$log"
if [ -n "$findings" ]; then
  printf '%s\n' "$findings" >&2 || exit 125
fi
exit "$status"
