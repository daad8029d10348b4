#!/usr/bin/env bash
# Measures romweave against dd and cat on the same captures, and its peak
# memory on a 1-block and a 2,097,152-block capture, and checks every output.
#
#   bench/run.sh [--runs N] [--record]    the table; N at least 5, default 7
#   bench/run.sh --large                  one capture carrying just over 4 GiB
#
# Targets, each the median of N runs (latency: 3N) after one warm-up, the
# two sides alternating and every output of both removed before each run:
#   throughput, 2,097,152 blocks (264 MiB capture)   <= 1.25 x dd bs=64K
#   latency, 2,048 blocks (264 KiB capture)          <= 1.0 x cat
#   peak resident memory, 2,097,152 blocks and 1     equal within 1 MiB
#
# Builds a Release romweave and mkcapture in build-bench/ (or
# $ROMWEAVE_BENCH_BUILD) and writes the captures to a temporary folder under
# $TMPDIR (default /tmp), removed afterwards.  --record writes the table and
# the machine to bench/RESULTS.md.  Exit status: 0 the three targets met,
# 1 a target missed, 2 wrong output or no way to measure.

# shellcheck source-path=SCRIPTDIR/.. disable=SC2317  # the run_ functions go through timed
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ROMWEAVE_BENCH_BUILD:-$root/build-bench}
runs=7
record=false
large=false

die() { echo "bench: $*" >&2; exit 2; }

while [ $# -gt 0 ]; do
  case $1 in
    --runs)
      if ! { [ $# -ge 2 ] && [[ $2 =~ ^[0-9]+$ ]] && [ "$2" -ge 5 ]; }; then
        die "--runs needs a number of at least 5"
      fi
      runs=$2
      shift
      ;;
    --record) record=true ;;
    --large) large=true ;;
    *) die "usage: bench/run.sh [--runs N] [--record] | --large" ;;
  esac
  shift
done

# Peak memory is read from GNU time.
if [ ! -x /usr/bin/time ]; then
  # shellcheck source=.ci/install-missing.sh
  . "$root/.ci/install-missing.sh"
  install_missing time >&2 || true
  [ -x /usr/bin/time ] || die "/usr/bin/time is missing (Debian package time)"
fi

echo "Building Release in $build..."
if ! build_log=$(cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DROMWEAVE_BUILD_TESTS=OFF 2>&1 &&
  cmake --build "$build" --target romweave mkcapture -j2 2>&1); then
  echo "$build_log" >&2
  die "build failed"
fi
romweave=$build/romweave
mkcapture=$build/mkcapture

work=$(mktemp -d "${TMPDIR:-/tmp}/romweave-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Every run, of either side, writes these and nothing else.
out=$work/out.bin log=$work/out.log err=$work/out.err report=$work/out.time

gib() { awk -v b="$1" 'BEGIN { printf "%.1f GiB", b / 1073741824 }'; }
free_bytes() { df -P -B1 "$work" | awk 'NR == 2 { print $4 }'; }
progress_line() { printf 'Checking Address %05X...' "$1"; }
size_line() { printf 'ROM size = %05Xh = %uKB' "$1" $(($1 >> 10)); }

# check_romweave BLOCKS IMAGE: the run that just ended exited 0, printed one
# progress line a block and one more, then the size line, wrote nothing to
# standard error, and left exactly the image behind.
check_romweave() {
  local blocks=$1 bytes=$(($1 * 128)) lines
  [ "$status" = 0 ] || die "$blocks blocks: romweave exited with $status"
  [ ! -s "$err" ] || die "$blocks blocks: standard error says '$(head -n 1 "$err")'"
  lines=$(wc -l <"$log")
  [ "$lines" = $((blocks + 2)) ] ||
    die "$blocks blocks: $lines lines of output, expected $((blocks + 2))"
  [ "$(tail -n 2 "$log")" = "$(progress_line "$bytes")"$'\n'"$(size_line "$bytes")" ] ||
    die "$blocks blocks: output ends in '$(tail -n 2 "$log" | tr '\n' '|')'"
  [ "$(stat -c %s "$out")" = "$bytes" ] ||
    die "$blocks blocks: destination is $(stat -c %s "$out") bytes, expected $bytes"
  cmp -s "$out" "$2" || die "$blocks blocks: destination differs from the image"
}

# --- timing ------------------------------------------------------------------

# timed COMMAND...: removes every output of both sides, then runs COMMAND
# once; leaves its exit status in status and its wall time, read from bash's
# own clock so that no process is started around it, in us (microseconds).
timed() {
  local s e
  rm -f "$out" "$log" "$err" "$report"
  status=0
  s=$EPOCHREALTIME
  "$@" || status=$?
  e=$EPOCHREALTIME
  us=$((${e/[.,]/} - ${s/[.,]/}))
}

# Both sides send standard output and standard error to files, as a script
# that keeps romweave's log would; dd's statistics are its log.
run_romweave() { "$romweave" "$1" "$out" >"$log" 2>"$err"; }
run_dd() { dd if="$1" of="$out" bs=64K >"$log" 2>"$err"; }
run_cat() { cat "$1" >"$out" 2>"$err"; }
run_rss() { /usr/bin/time -v -o "$report" "$romweave" "$1" "$out" >"$log" 2>"$err"; }

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# time_pair CAPTURE BLOCKS IMAGE REFERENCE COUNT: one warm-up of each, then
# COUNT rounds of the reference and romweave once each, every run checked.
# Leaves the medians in ref_us and rw_us.
time_pair() {
  local cap=$1 blocks=$2 image=$3 reference=$4 count=$5 i
  local ref_times=() rw_times=()
  for ((i = 0; i <= count; i++)); do
    timed "$reference" "$cap"
    if [ "$status" != 0 ] || ! cmp -s "$out" "$cap"; then
      die "$reference did not copy $cap"
    fi
    if ((i > 0)); then ref_times+=("$us"); fi
    timed run_romweave "$cap"
    check_romweave "$blocks" "$image"
    if ((i > 0)); then rw_times+=("$us"); fi
  done
  ref_us=$(printf '%s\n' "${ref_times[@]}" | median)
  rw_us=$(printf '%s\n' "${rw_times[@]}" | median)
}

# peak_rss CAPTURE BLOCKS IMAGE: the peak resident set of one checked run in
# KiB, from /usr/bin/time -v, left in rss_kib.
peak_rss() {
  timed run_rss "$1"
  check_romweave "$2" "$3"
  rss_kib=$(awk -F': *' '/Maximum resident set size/ { print $2 }' "$report")
}

machine() {
  local cpu compiler flags linkage
  cpu=$(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo)
  compiler=$(awk -F= '/^CMAKE_CXX_COMPILER:/ { print $2 }' "$build/CMakeCache.txt")
  flags=$(awk -F= '/^CMAKE_CXX_FLAGS_RELEASE:/ { print $2 }' "$build/CMakeCache.txt")
  if ldd "$romweave" >/dev/null 2>&1; then linkage=dynamic; else linkage=static; fi
  echo "- Machine: $(nproc) cores, ${cpu:-unknown CPU}, $(uname -sr), $(gib "$(awk '/MemTotal/ { print $2 * 1024 }' /proc/meminfo)") memory"
  echo "- Compiler: $("$compiler" --version | head -n 1)"
  echo "- Build: Release ($flags), linked $linkage"
  echo "- Files: $(df -P -T "$work" | awk 'NR == 2 { print $2 }') file system under ${TMPDIR:-/tmp}"
  echo "- References: $(dd --version | head -n 1), $(cat --version | head -n 1)"
}

load_average() { cut -d ' ' -f 1 /proc/loadavg; }

# --- large-file mode ---------------------------------------------------------

if $large; then
  # 2^25 + 8 blocks: 4 GiB and 1 KiB of data in a capture of about 4.1 GiB.
  blocks=$((33554432 + 8))
  # The capture, the destination and the log of 33 million progress lines.
  need=$((blocks * (132 + 128 + 29)))
  if [ "$(free_bytes)" -lt "$need" ]; then
    echo "Large-file mode skipped: it needs about $(gib "$need") free under" \
      "${TMPDIR:-/tmp}, and there are $(gib "$(free_bytes)")."
    exit 0
  fi
  echo "Writing a capture of $blocks blocks ($(gib $((blocks * 132))))..."
  "$mkcapture" "$blocks" "$work/large.cap"
  echo "Converting it..."
  timed run_rss "$work/large.cap"
  rss_kib=$(awk -F': *' '/Maximum resident set size/ { print $2 }' "$report")
  echo "Checking the output..."
  # The image is made again into a pipe: keeping it would take 4 GiB more.
  check_romweave "$blocks" <("$mkcapture" --image /dev/stdout "$blocks" /dev/null)
  [ "$(sed -n "$((33554432 + 1))p" "$log")" = "$(progress_line $((1 << 32)))" ] ||
    die "no progress line for address 100000000"
  printf '\nLarge-file mode passed: a capture of %s bytes (past offsets 2 GiB and 4 GiB)\n' \
    "$(stat -c %s "$work/large.cap")"
  printf 'gave "%s" and the image, in %s s with a peak resident set of %s KiB\n' \
    "$(tail -n 1 "$log")" "$(awk -v u="$us" 'BEGIN { printf "%.1f", u / 1e6 }')" "$rss_kib"
  exit 0
fi

# --- the table ---------------------------------------------------------------

[ "$(free_bytes)" -ge $((3 * 1073741824 / 2)) ] ||
  die "needs about 1.5 GiB free under ${TMPDIR:-/tmp}, and there are $(gib "$(free_bytes)")"
load_before=$(load_average)
echo "Writing captures..."
big=2097152 small=2048
"$mkcapture" --image "$work/big.img" "$big" "$work/big.cap"
"$mkcapture" --image "$work/small.img" "$small" "$work/small.cap"
"$mkcapture" --image "$work/one.img" 1 "$work/one.cap"

echo "Throughput: $big blocks, $runs runs each..."
time_pair "$work/big.cap" "$big" "$work/big.img" run_dd "$runs"
thr_rw=$rw_us thr_ref=$ref_us

latency_runs=$((runs * 3))
echo "Latency: $small blocks, $latency_runs runs each..."
time_pair "$work/small.cap" "$small" "$work/small.img" run_cat "$latency_runs"
lat_rw=$rw_us lat_ref=$ref_us

echo "Memory: 1 and $big blocks, $runs runs each..."
rss_one=() rss_big=()
for ((i = 0; i < runs; i++)); do
  peak_rss "$work/one.cap" 1 "$work/one.img"
  rss_one+=("$rss_kib")
  peak_rss "$work/big.cap" "$big" "$work/big.img"
  rss_big+=("$rss_kib")
done
mem_one=$(printf '%s\n' "${rss_one[@]}" | median)
mem_big=$(printf '%s\n' "${rss_big[@]}" | median)
load_after=$(load_average)

result=$(awk -v tr="$thr_rw" -v td="$thr_ref" -v lr="$lat_rw" -v lc="$lat_ref" \
  -v mb="$mem_big" -v mo="$mem_one" '
  function verdict(ok, name) { if (!ok) missed = missed " " name; return ok ? "pass" : "FAIL" }
  BEGIN {
    print "| case | romweave | reference | ratio | target | result |"
    print "|---|---|---|---|---|---|"
    printf "| throughput: 2,097,152 blocks (264 MiB capture) to a file | %.1f ms | %.1f ms (dd bs=64K) | %.2f | <= 1.25 x dd | %s |\n",
      tr / 1000, td / 1000, tr / td, verdict(tr <= 1.25 * td, "throughput")
    printf "| latency: 2,048 blocks (264 KiB capture) to a file | %.2f ms | %.2f ms (cat) | %.2f | <= 1.0 x cat | %s |\n",
      lr / 1000, lc / 1000, lr / lc, verdict(lr <= lc, "latency")
    printf "| peak resident memory: 2,097,152 blocks against 1 block | %.2f MiB | %.2f MiB (1 block) | %+.2f MiB | within 1 MiB | %s |\n",
      mb / 1024, mo / 1024, (mb - mo) / 1024, verdict(mb - mo <= 1024 && mo - mb <= 1024, "memory")
    print "missed:" missed
  }')
table=${result%$'\n'*}
missed=${result##*missed:}
busy=$(awk -v l="$load_before" 'BEGIN { if (l >= 0.5) print " Measured alongside other load on the machine." }')
notes=$(
  machine
  echo "- Medians of $runs timed runs (latency: $latency_runs) after one warm-up;" \
    "romweave and the reference alternate, every output of both (standard" \
    "output and error included) removed before each run, and every run checked."
  echo "- 1-minute load average $load_before before and $load_after after" \
    "(the benchmark itself adds about 1 on its own).$busy"
)

printf '\n%s\n\n%s\n\n' "$table" "$notes"
if $record; then
  printf "# Benchmark results\n\nLatest run of \`bench/run.sh\`, %s.\n\n%s\n\n%s\n" \
    "$(date -u '+%Y-%m-%d %H:%M UTC')" "$table" "$notes" >"$here/RESULTS.md"
  echo "Written to bench/RESULTS.md."
fi
if [ -z "$missed" ]; then
  echo "bench: the three targets met"
  exit 0
fi
echo "bench: target missed:$missed (the others met)"
[ -z "$busy" ] || echo "bench: the machine was busy: rerun when it is idle"
exit 1
