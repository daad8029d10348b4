#!/usr/bin/env bash
# Measures romweave against a plain copy of the same capture, and its peak
# memory on a 1-block and a 2,097,152-block capture, and checks every output.
#
#   bench/run.sh [--runs N] [--record]    the table; exit 1 if a target is missed
#   bench/run.sh --large                  one capture carrying just over 4 GiB
#
# Builds a Release romweave and mkcapture in build-bench/ (or
# $ROMWEAVE_BENCH_BUILD), writes its captures to a temporary folder under
# $TMPDIR (default /tmp) and removes it afterwards.  Exit status: 0 every
# target held, 1 a target was missed, 2 wrong output or no way to measure.

set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ROMWEAVE_BENCH_BUILD:-$root/build-bench}
runs=7
record=false
large=false

usage() {
  echo "usage: bench/run.sh [--runs N] [--record] | --large" >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case $1 in
    --runs)
      if ! { [ $# -ge 2 ] && [[ $2 =~ ^[0-9]+$ ]] && [ "$2" -ge 5 ]; }; then
        echo "bench: --runs needs a number of at least 5" >&2
        exit 2
      fi
      runs=$2
      shift 2
      ;;
    --record) record=true; shift ;;
    --large) large=true; shift ;;
    *) usage ;;
  esac
done

die() {
  echo "bench: $*" >&2
  exit 2
}

# --- tools -------------------------------------------------------------------

if [ ! -x /usr/bin/time ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "Installing Debian's time package for /usr/bin/time..."
    apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends \
      time >/dev/null || die "could not install the time package"
  else
    die "peak memory is read from /usr/bin/time -v, which is missing;" \
      "install it (Debian: apt-get install time)"
  fi
fi

echo "Building Release in $build..."
if ! log=$(cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DROMWEAVE_BUILD_TESTS=OFF 2>&1 &&
  cmake --build "$build" --target romweave mkcapture -j2 2>&1); then
  echo "$log" >&2
  die "build failed"
fi
romweave=$build/romweave
mkcapture=$build/mkcapture

work=$(mktemp -d "${TMPDIR:-/tmp}/romweave-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

free_bytes() { df -P -B1 "$work" | awk 'NR == 2 { print $4 }'; }
gib() { awk -v b="$1" 'BEGIN { printf "%.1f GiB", b / 1073741824 }'; }

# --- checks ------------------------------------------------------------------

size_line() {
  printf 'ROM size = %05Xh = %uKB' "$1" $(($1 >> 10))
}

# check_run BLOCKS STATUS LOG DESTINATION IMAGE: a clean run prints one
# progress line a block and one more at the end, then the size line, and
# leaves exactly the image behind.
check_run() {
  local blocks=$1 status=$2 log=$3 out=$4 image=$5
  local bytes=$((blocks * 128)) tail_lines lines
  [ "$status" = 0 ] || die "romweave exited with $status on $blocks blocks"
  lines=$(wc -l <"$log")
  [ "$lines" = $((blocks + 2)) ] ||
    die "$blocks blocks: $lines lines of output, expected $((blocks + 2))"
  tail_lines=$(tail -n 2 "$log")
  [ "$tail_lines" = "$(printf 'Checking Address %05X...\n%s' "$bytes" \
    "$(size_line "$bytes")")" ] ||
    die "$blocks blocks: output ends in '$tail_lines'"
  [ "$(stat -c %s "$out")" = "$bytes" ] ||
    die "$blocks blocks: destination is $(stat -c %s "$out") bytes, expected $bytes"
  cmp -s "$out" "$image" || die "$blocks blocks: destination differs from the image"
}

# --- timing ------------------------------------------------------------------

# Times are read from bash's own clock, $EPOCHREALTIME (seconds with six
# decimals), so that no process is started around the one measured.

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

status=0
run_romweave() { # CAPTURE DESTINATION LOG
  status=0
  "$romweave" "$1" "$2" >"$3" || status=$?
}
run_dd() { dd if="$1" of="$2" bs=64K 2>/dev/null; }
run_cat() { cat "$1" >"$2"; }

# time_pair CAPTURE BLOCKS IMAGE REFERENCE COUNT: one warm-up of each, then
# COUNT rounds that each time the reference and romweave once, every output
# removed beforehand.  Leaves the medians in ref_us and rw_us.
time_pair() {
  local cap=$1 blocks=$2 image=$3 reference=$4 count=$5 i s e
  local out=$work/out.bin log=$work/out.log copy=$work/copy.bin
  local ref_times=() rw_times=()
  for ((i = 0; i <= count; i++)); do
    rm -f "$copy"
    s=$EPOCHREALTIME; "$reference" "$cap" "$copy"; e=$EPOCHREALTIME
    if ((i > 0)); then ref_times+=($((${e/[.,]/} - ${s/[.,]/}))); fi
    rm -f "$out"
    s=$EPOCHREALTIME; run_romweave "$cap" "$out" "$log"; e=$EPOCHREALTIME
    if ((i > 0)); then rw_times+=($((${e/[.,]/} - ${s/[.,]/}))); fi
    # The warm-up and the last run are checked: what was timed was right.
    if ((i == 0 || i == count)); then
      check_run "$blocks" "$status" "$log" "$out" "$image"
      cmp -s "$copy" "$cap" || die "$reference did not copy $cap"
    fi
  done
  ref_us=$(printf '%s\n' "${ref_times[@]}" | median)
  rw_us=$(printf '%s\n' "${rw_times[@]}" | median)
  rm -f "$out" "$log" "$copy"
}

# Peak resident set size of one run in KiB, from /usr/bin/time -v, left in
# rss_kib.
peak_rss() { # CAPTURE BLOCKS IMAGE
  local out=$work/rss.bin log=$work/rss.log report=$work/rss.time
  rm -f "$out"
  status=0
  /usr/bin/time -v -o "$report" "$romweave" "$1" "$out" >"$log" || status=$?
  check_run "$2" "$status" "$log" "$out" "$3"
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
  bytes=$((blocks * 128))
  need=$((9 * 1073741824))
  have=$(free_bytes)
  if [ "$have" -lt "$need" ]; then
    echo "Large-file mode skipped: it needs about 9 GiB free under ${TMPDIR:-/tmp}," \
      "and there are $(gib "$have")."
    exit 0
  fi
  cap=$work/large.cap
  out=$work/large.bin
  echo "Writing a capture of $blocks blocks ($(gib $((blocks * 132))))..."
  "$mkcapture" "$blocks" "$cap"
  echo "Converting it..."
  report=$work/large.time
  s=$EPOCHREALTIME
  # The 33 million progress lines are counted, not kept: only the last two
  # and the one for the first block past 4 GiB of data are looked at.
  summary=$(/usr/bin/time -v -o "$report" "$romweave" "$cap" "$out" |
    awk '$0 == "Checking Address 100000000..." { at4g = NR }
         { before = last; last = $0 }
         END { print NR; print at4g; print before; print last }') || true
  e=$EPOCHREALTIME
  { read -r lines; read -r at4g; read -r before; read -r last; } <<<"$summary"
  rc=$(awk -F': *' '/Exit status/ { print $2 }' "$report")
  rss=$(awk -F': *' '/Maximum resident set size/ { print $2 }' "$report")
  [ "$rc" = 0 ] || die "romweave exited with $rc"
  [ "$lines" = $((blocks + 2)) ] || die "$lines lines of output, expected $((blocks + 2))"
  [ "$at4g" = $((33554432 + 1)) ] || die "no progress line for address 100000000"
  [ "$before" = "$(printf 'Checking Address %05X...' "$bytes")" ] ||
    die "last progress line is '$before'"
  [ "$last" = "$(size_line "$bytes")" ] || die "size line is '$last'"
  [ "$(stat -c %s "$out")" = "$bytes" ] ||
    die "destination is $(stat -c %s "$out") bytes, expected $bytes"
  echo "Comparing the destination with the image..."
  # The image is made again into the pipe rather than kept: that would take
  # another 4 GiB.
  "$mkcapture" --image /dev/stdout "$blocks" /dev/null | cmp - "$out" ||
    die "destination differs from the image"
  echo
  echo "Large-file mode passed: a capture of $(stat -c %s "$cap") bytes" \
    "(past offsets 2 GiB and 4 GiB) gave"
  echo "  $last"
  echo "  a destination of $bytes bytes equal to the image"
  echo "  in $(awk -v u=$((${e/[.,]/} - ${s/[.,]/})) 'BEGIN { printf "%.1f s", u / 1e6 }')" \
    "with a peak resident set of $rss KiB"
  exit 0
fi

# --- the table ---------------------------------------------------------------

need=$((3 * 1073741824 / 2))
have=$(free_bytes)
[ "$have" -ge "$need" ] ||
  die "needs about 1.5 GiB free under ${TMPDIR:-/tmp}, and there are $(gib "$have")"

load_before=$(load_average)
echo "Writing captures..."
big_blocks=2097152
small_blocks=2048
"$mkcapture" --image "$work/big.img" "$big_blocks" "$work/big.cap"
"$mkcapture" --image "$work/small.img" "$small_blocks" "$work/small.cap"
"$mkcapture" --image "$work/one.img" 1 "$work/one.cap"

echo "Throughput: $big_blocks blocks, $runs runs each..."
time_pair "$work/big.cap" "$big_blocks" "$work/big.img" run_dd "$runs"
thr_rw=$rw_us thr_ref=$ref_us

latency_runs=$((runs * 3))
echo "Latency: $small_blocks blocks, $latency_runs runs each..."
time_pair "$work/small.cap" "$small_blocks" "$work/small.img" run_cat "$latency_runs"
lat_rw=$rw_us lat_ref=$ref_us

echo "Memory: 1 and $big_blocks blocks, $runs runs each..."
peak_rss "$work/one.cap" 1 "$work/one.img"
peak_rss "$work/big.cap" "$big_blocks" "$work/big.img"
rss_one=() rss_big=()
for ((i = 0; i < runs; i++)); do
  peak_rss "$work/one.cap" 1 "$work/one.img"
  rss_one+=("$rss_kib")
  peak_rss "$work/big.cap" "$big_blocks" "$work/big.img"
  rss_big+=("$rss_kib")
done
mem_one=$(printf '%s\n' "${rss_one[@]}" | median)
mem_big=$(printf '%s\n' "${rss_big[@]}" | median)
load_after=$(load_average)

table=$(awk -v thr_rw="$thr_rw" -v thr_ref="$thr_ref" \
  -v lat_rw="$lat_rw" -v lat_ref="$lat_ref" \
  -v mem_one="$mem_one" -v mem_big="$mem_big" '
  function verdict(ok) { if (!ok) failed = 1; return ok ? "pass" : "FAIL" }
  BEGIN {
    print "| case | romweave | reference | ratio | target | result |"
    print "|---|---|---|---|---|---|"
    r = thr_rw / thr_ref
    printf "| throughput: 2,097,152 blocks (264 MiB capture) to a file | %.1f ms | %.1f ms (dd bs=64K) | %.2f | <= 2.0 x dd | %s |\n",
      thr_rw / 1000, thr_ref / 1000, r, verdict(r <= 2.0)
    r = lat_rw / lat_ref
    printf "| latency: 2,048 blocks (264 KiB capture) to a file | %.2f ms | %.2f ms (cat) | %.2f | <= 1.5 x cat | %s |\n",
      lat_rw / 1000, lat_ref / 1000, r, verdict(r <= 1.5)
    d = (mem_big - mem_one) / 1024
    printf "| peak resident memory: 2,097,152 blocks against 1 block | %.2f MiB | %.2f MiB (1 block) | %+.2f MiB | within 1 MiB | %s |\n",
      mem_big / 1024, mem_one / 1024, d, verdict(d <= 1 && d >= -1)
    exit failed
  }') && passed=true || passed=false

notes=$(
  machine
  echo "- Medians of $runs timed runs (latency: $latency_runs) after one warm-up;" \
    "romweave and the reference alternate, every output removed before each run."
  echo "- 1-minute load average $load_before before and $load_after after" \
    "(the benchmark itself adds about 1 on its own).$(
      awk -v l="$load_before" 'BEGIN { if (l >= 0.5) printf " Measured alongside other load on the machine." }')"
)

echo
echo "$table"
echo
echo "$notes"

if $record; then
  {
    echo "# Benchmark results"
    echo
    echo "Latest run of \`bench/run.sh\`, $(date -u '+%Y-%m-%d %H:%M UTC')."
    echo
    echo "$table"
    echo
    echo "$notes"
  } >"$here/RESULTS.md"
  echo
  echo "Written to bench/RESULTS.md."
fi

$passed || { echo "bench: a target was missed" >&2; exit 1; }
