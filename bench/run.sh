#!/usr/bin/env bash
# Measures romweave against dd and cat on the same captures, its reading as
# an XMODEM receiver (--receiver) against the plain one and on inputs made to
# slow it down, and its peak memory; checks every output.
#
#   bench/run.sh [--runs N] [--record]    the table; N at least 5, default 7
#   bench/run.sh --large                  one capture carrying just over 4 GiB
#
# Targets, each the median of N runs (latency: 3N; the slow inputs: N, but
# at least 11) after one warm-up, the two sides alternating and every output
# of both removed before each run:
#   throughput, 2,097,152 blocks (264 MiB capture)   <= 1.25 x dd bs=64K
#   latency, 2,048 blocks (264 KiB capture)          <= 1.0 x cat
#   peak resident memory, 2,097,152 blocks and 1     equal within 1 MiB
#   --receiver, the same 264 MiB capture             <= 1.05 x without it
#   --receiver, 64 MiB of each slow input below      <= 10 x a sound 64 MiB
#     capture with its check (the CRC for the CRC inputs, else the checksum)
#   --receiver's peak resident memory, slow inputs   within 1 MiB of 1 block
#
# The slow inputs, each of them exactly 64 MiB:
#   SOH (0x01) repeated
#   a sound checksum frame, then 01 01 FE repeated; the same with 02 01 FE
#   a sound CRC frame, then 01 01 FE repeated; the same with 02 01 FE
#   checksum frames numbered 1, 2, ... back to back, every checksum wrong
# Each must fail at its first damaged frame: status 3, that frame's fault
# message last, and the destination the plain reading leaves there.
#
# Builds a Release romweave and mkcapture in build-bench/ (or
# $ROMWEAVE_BENCH_BUILD) and writes the captures to a temporary folder under
# $TMPDIR (default /tmp), removed afterwards.  --record writes the table and
# the machine to bench/RESULTS.md.  Exit status: 0 every target met,
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
# A source's name as messages show it: a to z raised, nothing else changed.
shown_name() { printf '%s' "$1" | LC_ALL=C tr '[:lower:]' '[:upper:]'; }

# receiver_note CAPTURE CHECK: the note a receiver's run prints on a sound
# capture without EOT whose frames end in CHECK (sum or crc).
receiver_note() {
  local kind=
  if [ "$2" = crc ]; then kind='frames with a CRC-16; '; fi
  printf 'Note: %s, read as an XMODEM receiver: %sno EOT at its end, so the transfer may not have finished.' \
    "$(shown_name "$1")" "$kind"
}

# check_romweave BLOCKS IMAGE [NOTE]: the run that just ended exited 0,
# printed one progress line a block and one more, then the size line, wrote
# nothing to standard error but NOTE, if given, as one line, and left
# exactly the image behind.
check_romweave() {
  local blocks=$1 bytes=$(($1 * 128)) note=${3:-} lines
  [ "$status" = 0 ] || die "$blocks blocks: romweave exited with $status"
  if [ -z "$note" ]; then
    [ ! -s "$err" ] || die "$blocks blocks: standard error says '$(head -n 1 "$err")'"
  else
    if [ "$(cat "$err")" != "$note" ] || [ "$(wc -l <"$err")" != 1 ]; then
      die "$blocks blocks: standard error says '$(head -n 1 "$err")', expected '$note'"
    fi
  fi
  lines=$(wc -l <"$log")
  [ "$lines" = $((blocks + 2)) ] ||
    die "$blocks blocks: $lines lines of output, expected $((blocks + 2))"
  [ "$(tail -n 2 "$log")" = "$(progress_line "$bytes")"$'\n'"$(size_line "$bytes")" ] ||
    die "$blocks blocks: output ends in '$(tail -n 2 "$log" | tr '\n' '|')'"
  [ "$(stat -c %s "$out")" = "$bytes" ] ||
    die "$blocks blocks: destination is $(stat -c %s "$out") bytes, expected $bytes"
  cmp -s "$out" "$2" || die "$blocks blocks: destination differs from the image"
}

# check_fault INPUT: the receiver's run on slow input INPUT that just ended
# exited 3 and left standard output, standard error and the destination
# byte for byte as INPUT.log, INPUT.err and INPUT.out, written with it, say.
check_fault() {
  local name
  name=$(basename "$1")
  [ "$status" = 3 ] || die "$name: romweave exited with $status, expected 3"
  cmp -s "$log" "$1.log" ||
    die "$name: output ends in '$(tail -n 1 "$log")', expected '$(tail -n 1 "$1.log")'"
  cmp -s "$err" "$1.err" ||
    die "$name: standard error says '$(head -n 1 "$err")', expected '$(head -n 1 "$1.err")'"
  [ "$(stat -c %s "$out")" = "$(stat -c %s "$1.out")" ] ||
    die "$name: destination is $(stat -c %s "$out") bytes, expected $(stat -c %s "$1.out")"
  cmp -s "$out" "$1.out" || die "$name: destination differs from the expected bytes"
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
# that keeps romweave's log would; dd's statistics are its log.  romweave
# runs under whatever measuring command is in wrapper (none but to measure
# memory).
wrapper=()
run_romweave() { "${wrapper[@]}" "$romweave" "$@" "$out" >"$log" 2>"$err"; }
run_dd() { dd if="$1" of="$out" bs=64K >"$log" 2>"$err"; }
run_cat() { cat "$1" >"$out" 2>"$err"; }

# The runs that are timed, each once and checked, leaving its time in us.
# copied REFERENCE CAPTURE: dd or cat copies the capture.
copied() {
  timed "$1" "$2"
  if [ "$status" != 0 ] || ! cmp -s "$out" "$2"; then die "$1 did not copy $2"; fi
}
# converted CAPTURE BLOCKS IMAGE: romweave reads the sound capture.
converted() {
  timed run_romweave "$1"
  check_romweave "$2" "$3"
}
# received CAPTURE BLOCKS IMAGE CHECK: romweave --receiver reads the sound
# capture, whose frames end in CHECK (sum or crc).
received() {
  timed run_romweave --receiver "$1"
  check_romweave "$2" "$3" "$(receiver_note "$1" "$4")"
}
# failed INPUT: romweave --receiver reads slow input INPUT to its fault.
failed() {
  timed run_romweave --receiver "$1"
  check_fault "$1"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# alternate COUNT FIRST... -- SECOND...: one warm-up of each, then COUNT
# rounds of FIRST and SECOND once each; both are timed runs above.  Leaves
# the medians in first_us and second_us.
alternate() {
  local count=$1 i first=() second=() first_times=() second_times=()
  shift
  while [ "$1" != -- ]; do
    first+=("$1")
    shift
  done
  shift
  second=("$@")
  for ((i = 0; i <= count; i++)); do
    "${first[@]}"
    if ((i > 0)); then first_times+=("$us"); fi
    "${second[@]}"
    if ((i > 0)); then second_times+=("$us"); fi
  done
  first_us=$(printf '%s\n' "${first_times[@]}" | median)
  second_us=$(printf '%s\n' "${second_times[@]}" | median)
}

# peak_rss RUN...: the peak resident set of one timed run of romweave
# above (checked, but for the large file's), in KiB, from /usr/bin/time -v, left in rss_kib.
peak_rss() {
  wrapper=(/usr/bin/time -v -o "$report")
  "$@"
  wrapper=()
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
  # Checked below, where the image is made again.
  peak_rss timed run_romweave "$work/large.cap"
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

# --- the slow inputs ---------------------------------------------------------

python=/usr/bin/python3
slow_size=$((64 << 20))
# Sound captures of about that size, read with --receiver as the slow
# inputs' yardstick: one with the checksum, one with the CRC.
declare -A sound_blocks=([sum]=$((slow_size / 132)) [crc]=$((slow_size / 133)))
slow_names=()
declare -A slow_check slow_text

# make_slow_inputs: writes the slow inputs, 64 MiB each, after the 1-block
# captures one.cap and one-crc.cap.
make_slow_inputs() {
  "$python" - "$work" "$slow_size" <<'PYTHON'
import os, sys
work, size = sys.argv[1], int(sys.argv[2])

def write(name, head, pattern):
    body = pattern * ((size - len(head)) // len(pattern) + 1)
    with open(os.path.join(work, name), "wb") as f:
        f.write(head + body[:size - len(head)])

def read(name):
    with open(os.path.join(work, name), "rb") as f:
        return f.read()

write("soh.cap", b"", b"\x01")
for check in ("sum", "crc"):
    first = read("one.cap" if check == "sum" else "one-crc.cap")
    write(check + "-soh.cap", first, b"\x01\x01\xfe")
    write(check + "-stx.cap", first, b"\x02\x01\xfe")
# Frames 1 to 255 and 0, each carrying bytes 0 to 127 and their sum plus 1.
data = bytes(range(128))
frames = b"".join(bytes([1, n % 256, 255 - n % 256]) + data +
                  bytes([(sum(data) + 1) % 256]) for n in range(1, 257))
write("damaged.cap", b"", frames)
PYTHON
}

# slow_input NAME CHECK TEXT ADDRESS MESSAGE DATA: the slow input
# $work/NAME, shown as TEXT, read against the sound capture with CHECK (sum
# or crc).  Its run prints a progress line for each address from 0 to
# ADDRESS, then its name and MESSAGE; a note on standard error that its
# frames end in a CRC where CHECK is crc, nothing else; and leaves the bytes
# of the file DATA.  Writes these beside it for check_fault.
slow_input() {
  local cap=$work/$1 address
  slow_names+=("$1")
  slow_check[$1]=$2
  slow_text[$1]=$3
  for ((address = 0; address <= $4; address += 128)); do
    progress_line "$address"
    echo
  done >"$cap.log"
  echo "$(shown_name "$cap"): $5" >>"$cap.log"
  : >"$cap.err"
  if [ "$2" = crc ]; then
    echo "Note: $(shown_name "$cap"), read as an XMODEM receiver: frames with a CRC-16." >"$cap.err"
  fi
  cp "$6" "$cap.out"
}

# The receiver's reading of the sound capture with CHECK, a timed run.
received_sound() {
  received "$work/sound-$1.cap" "${sound_blocks[$1]}" "$work/sound-$1.img" "$1"
}

# --- the table ---------------------------------------------------------------

[ -x "$python" ] || die "$python is missing (Debian package python3)"
[ "$(free_bytes)" -ge $((2 * 1073741824)) ] ||
  die "needs about 2 GiB free under ${TMPDIR:-/tmp}, and there are $(gib "$(free_bytes)")"
load_before=$(load_average)
echo "Writing captures..."
big=2097152 small=2048
"$mkcapture" --image "$work/big.img" "$big" "$work/big.cap"
"$mkcapture" --image "$work/small.img" "$small" "$work/small.cap"
"$mkcapture" --image "$work/one.img" 1 "$work/one.cap"
"$mkcapture" --crc --image "$work/one-crc.img" 1 "$work/one-crc.cap"
"$mkcapture" --image "$work/sound-sum.img" "${sound_blocks[sum]}" "$work/sound-sum.cap"
"$mkcapture" --crc --image "$work/sound-crc.img" "${sound_blocks[crc]}" "$work/sound-crc.cap"
make_slow_inputs
# Each fails at the first frame after the sound one, if any, as no sound
# frame follows: 01 01 01 is block 1 with a wrong complement, 01 01 FE and
# 02 01 FE are block 1 where block 2 is due, and a damaged frame leaves its
# data, as the plain reading does with a wrong checksum.
head -c 131 "$work/damaged.cap" | tail -c 128 >"$work/damaged.data"
damaged_sum=$((127 * 128 / 2 % 256))
slow_input soh.cap sum "SOH repeated" 0 "Got 1 instead of 254 Inv. Block No" /dev/null
slow_input sum-soh.cap sum "a checksum frame, then 01 01 FE repeated" 128 \
  "Got 1 instead of 2 Block No" "$work/one.img"
slow_input sum-stx.cap sum "a checksum frame, then 02 01 FE repeated" 128 \
  "Got 1 instead of 2 Block No" "$work/one.img"
slow_input crc-soh.cap crc "a CRC frame, then 01 01 FE repeated" 128 \
  "Got 1 instead of 2 Block No" "$work/one-crc.img"
slow_input crc-stx.cap crc "a CRC frame, then 02 01 FE repeated" 128 \
  "Got 1 instead of 2 Block No" "$work/one-crc.img"
slow_input damaged.cap sum "checksum frames 1, 2, ..., every checksum wrong" 0 \
  "Got $(((damaged_sum + 1) % 256)) instead of $damaged_sum as checksum" "$work/damaged.data"

echo "Throughput: $big blocks, $runs runs each..."
alternate "$runs" copied run_dd "$work/big.cap" -- converted "$work/big.cap" "$big" "$work/big.img"
thr_ref=$first_us thr_rw=$second_us

latency_runs=$((runs * 3))
echo "Latency: $small blocks, $latency_runs runs each..."
alternate "$latency_runs" copied run_cat "$work/small.cap" -- \
  converted "$work/small.cap" "$small" "$work/small.img"
lat_ref=$first_us lat_rw=$second_us

echo "Receiver: $big blocks, without and with --receiver, $runs runs each..."
alternate "$runs" converted "$work/big.cap" "$big" "$work/big.img" -- \
  received "$work/big.cap" "$big" "$work/big.img" sum
rcv_plain=$first_us rcv_rw=$second_us

slow_runs=$((runs < 11 ? 11 : runs))
declare -A slow_us slow_ref_us
for name in "${slow_names[@]}"; do
  echo "Receiver: $name against a sound capture, $slow_runs runs each..."
  alternate "$slow_runs" received_sound "${slow_check[$name]}" -- failed "$work/$name"
  slow_ref_us[$name]=$first_us slow_us[$name]=$second_us
done

echo "Memory: 1 and $big blocks, and --receiver on 1 block and the slow inputs, $runs runs each..."
rss_one=() rss_big=() rss_rcv_one=()
declare -A rss_slow
for ((i = 0; i < runs; i++)); do
  peak_rss converted "$work/one.cap" 1 "$work/one.img"
  rss_one+=("$rss_kib")
  peak_rss converted "$work/big.cap" "$big" "$work/big.img"
  rss_big+=("$rss_kib")
  peak_rss received "$work/one.cap" 1 "$work/one.img" sum
  rss_rcv_one+=("$rss_kib")
  for name in "${slow_names[@]}"; do
    peak_rss failed "$work/$name"
    rss_slow[$name]+=" $rss_kib"
  done
done
mem_one=$(printf '%s\n' "${rss_one[@]}" | median)
mem_big=$(printf '%s\n' "${rss_big[@]}" | median)
mem_rcv_one=$(printf '%s\n' "${rss_rcv_one[@]}" | median)
# The slow input with the largest median.
mem_slow=0 mem_slow_name=
for name in "${slow_names[@]}"; do
  # shellcheck disable=SC2086  # the list splits into one figure a line
  rss_kib=$(printf '%s\n' ${rss_slow[$name]} | median)
  if ((rss_kib > mem_slow)); then mem_slow=$rss_kib mem_slow_name=$name; fi
done
load_after=$(load_average)

table="| case | romweave | reference | ratio | target | result |
|---|---|---|---|---|---|"
missed=

# time_row NAME CASE US REFERENCE_US REFERENCE LIMIT TARGET DIGITS: adds to
# the table the row of a time target, romweave's US at most LIMIT times the
# reference's; NAME joins missed if it is missed.  Times in ms with DIGITS
# decimals.
time_row() {
  local line
  line=$(awk -v c="$2" -v t="$3" -v r="$4" -v ref="$5" -v l="$6" -v target="$7" -v d="$8" '
    BEGIN {
      ms = "%." d "f ms"
      printf "| %s | " ms " | " ms " (%s) | %.2f | %s | %s |", c, t / 1000, r / 1000,
        ref, t / r, target, t <= l * r ? "pass" : "FAIL"
    }')
  table+=$'\n'$line
  if [[ $line != *"| pass |" ]]; then missed+=" $1"; fi
}

# memory_row NAME CASE KIB REFERENCE_KIB: adds the row of a memory target,
# romweave's KIB within 1 MiB of a 1-block run's.
memory_row() {
  local line
  line=$(awk -v c="$2" -v m="$3" -v o="$4" '
    BEGIN {
      printf "| %s | %.2f MiB | %.2f MiB (1 block) | %+.2f MiB | within 1 MiB | %s |", c,
        m / 1024, o / 1024, (m - o) / 1024, m - o <= 1024 && o - m <= 1024 ? "pass" : "FAIL"
    }')
  table+=$'\n'$line
  if [[ $line != *"| pass |" ]]; then missed+=" $1"; fi
}

time_row throughput "throughput: 2,097,152 blocks (264 MiB capture) to a file" \
  "$thr_rw" "$thr_ref" "dd bs=64K" 1.25 "<= 1.25 x dd" 1
time_row latency "latency: 2,048 blocks (264 KiB capture) to a file" \
  "$lat_rw" "$lat_ref" cat 1.0 "<= 1.0 x cat" 2
memory_row memory "peak resident memory: 2,097,152 blocks against 1 block" "$mem_big" "$mem_one"
time_row receiver "--receiver: the same 2,097,152 blocks" \
  "$rcv_rw" "$rcv_plain" "without --receiver" 1.05 "<= 1.05 x without" 1
for name in "${slow_names[@]}"; do
  if [ "${slow_check[$name]}" = crc ]; then sound="sound, CRC"; else sound="sound, checksum"; fi
  time_row "$name" "--receiver, 64 MiB: ${slow_text[$name]}" \
    "${slow_us[$name]}" "${slow_ref_us[$name]}" "$sound" 10 "<= 10 x sound" 1
done
memory_row receiver-memory \
  "peak resident memory, --receiver: the slow inputs (largest: ${slow_text[$mem_slow_name]}) against 1 block" \
  "$mem_slow" "$mem_rcv_one"

busy=$(awk -v l="$load_before" 'BEGIN { if (l >= 0.5) print " Measured alongside other load on the machine." }')
notes=$(
  machine
  echo "- Medians of $runs timed runs (latency: $latency_runs; the slow inputs:" \
    "$slow_runs) after one warm-up; romweave and the reference alternate, every" \
    "output of both (standard output and error included) removed before each" \
    "run, and every run checked."
  echo "- Slow inputs: $slow_size bytes each, every one read to its fault. Sound" \
    "captures: ${sound_blocks[sum]} blocks with the checksum ($((sound_blocks[sum] * 132))" \
    "bytes) and ${sound_blocks[crc]} with the CRC ($((sound_blocks[crc] * 133)) bytes)," \
    "without EOT, the note saying so checked; the CRC inputs are timed against the" \
    "CRC capture, the others against the checksum one."
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
  echo "bench: every target met"
  exit 0
fi
echo "bench: target missed:$missed (the others met)"
[ -z "$busy" ] || echo "bench: the machine was busy: rerun when it is idle"
exit 1
