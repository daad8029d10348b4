#!/usr/bin/env bash
# Measures romweave against dd and cat, its reading as an XMODEM receiver
# (--receiver) against the plain one, both readings on inputs made to slow
# them down, and its peak memory; or, with --against, another build of it.
# Every output of every run is checked.
#
#   bench/run.sh [--runs N] [--record]   the table; N at least 5, default 7
#   bench/run.sh [--runs N] --against OTHER_ROMWEAVE         N default 21
#   bench/run.sh --large                 one capture carrying just over 4 GiB
#
# Targets, each the median of N runs (latency: 3N; the slow inputs: N, but
# at least 11) after one warm-up, the sides alternating and every output
# removed before each run:
#   throughput, 2,097,152 blocks (264 MiB capture)   <= 1.25 x dd bs=64K
#   latency, 2,048 blocks (264 KiB capture)          <= 1.0 x cat
#   peak resident memory, 2,097,152 blocks and 1     equal within 1 MiB
#   --receiver, the same 264 MiB capture             <= 1.05 x without it
#   each slow input, with and without --receiver     <= 10 x --receiver on a sound
#                                                       capture of its size and check
#   peak resident memory, the slow inputs            within 1 MiB of 1 block
# The slow inputs, 64 MiB each: SOH (0x01) repeated; a block with a wrong
# checksum, then 01 01 FE repeated (the check still unknown); a sound
# checksum frame, then 01 01 FE repeated, or 02 01 FE; the same behind a
# sound CRC frame; checksum frames 1, 2, ..., every checksum wrong.  Each fails at its first
# damaged frame, or, without --receiver, at its first block that is not a
# sound checksum block (table below).
#
# --against OTHER: the built tool against OTHER, say a build of the commit
# before a refactoring, without and with --receiver, each run checked:
#   time, the 264 MiB capture                        <= 1.05 x OTHER
#   instructions (callgrind), 31,776 blocks (4 MiB)  <= 1.02 x OTHER
#   peak resident memory, the 264 MiB capture        within 1 MiB of OTHER
#
# Builds a Release romweave and mkcapture in build-bench/ (or
# $ROMWEAVE_BENCH_BUILD); mkcapture writes every input, in a temporary folder
# under $TMPDIR (default /tmp).  --record writes the table and the machine to
# bench/RESULTS.md.  Exit status: 0 every target met, 1 a target missed,
# 2 wrong output or no way to measure.

# shellcheck source-path=SCRIPTDIR/.. disable=SC2317  # run through alternate
set -euo pipefail
shopt -s lastpipe # expect, at the end of a pipe, keeps what it learns

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd) && root=$(dirname "$here")
build=${ROMWEAVE_BENCH_BUILD:-$root/build-bench}
runs='' record=false large=false other=''
die() { echo "bench: $*" >&2; exit 2; }
while [ $# -gt 0 ]; do
  case $1 in
    --runs)
      [[ ${2:-} =~ ^[0-9]+$ && $2 -ge 5 ]] || die "--runs needs a number of at least 5"
      runs=$2 && shift ;;
    --record) record=true ;;
    --large) large=true ;;
    --against)
      [[ -f ${2:-} && -x $2 ]] || die "--against needs a program to run"
      other=$(cd "$(dirname "$2")" && pwd)/$(basename "$2") && shift ;;
    *) die "usage: bench/run.sh [--runs N] [--record | --against OTHER_ROMWEAVE] | --large" ;;
  esac
  shift
done
[ -z "$other" ] || ! $record || die "--against records nothing"
if [ -n "$other" ]; then runs=${runs:-21}; else runs=${runs:-7}; fi

# Peak memory comes from GNU time, instructions from callgrind.
for need in time ${other:+valgrind}; do
  # shellcheck source=.ci/install-missing.sh
  [ -x "/usr/bin/$need" ] || { . "$root/.ci/install-missing.sh" && install_missing "$need" >&2; } || true
  [ -x "/usr/bin/$need" ] || die "/usr/bin/$need is missing (Debian package $need)"
done
echo "Building Release in $build..."
if ! log=$(cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DROMWEAVE_BUILD_TESTS=OFF 2>&1 &&
  cmake --build "$build" --target romweave mkcapture -j2 2>&1); then
  die "build failed: $log"
fi
tools=("$build/romweave" "$other") mkcapture=$build/mkcapture
work=$(mktemp -d "${TMPDIR:-/tmp}/romweave-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" # the inputs, named as the messages show them, and every run's out.*

gib() { awk -v b="$1" 'BEGIN { printf "%.1f GiB", b / 1073741824 }'; }
free_bytes() { df -P -B1 . | awk 'NR == 2 { print $4 }'; }
ms() { awk -v u="$1" -v d="$2" 'BEGIN { printf "%." d "f ms", u / 1000 }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
load_average() { cut -d ' ' -f 1 /proc/loadavg; }
load_before=$(load_average)
# A source's name as messages show it: a to z raised, nothing else changed.
shown_name() { printf '%s' "$1" | LC_ALL=C tr '[:lower:]' '[:upper:]'; }
note() { echo "Note: $(shown_name "$1"), read as an XMODEM receiver: $2."; }

# --- expected outputs, timed runs, rows ------------------------------------

# lines FROM TO: the progress lines of FROM, FROM + 128, ... TO (in two
# halves, as mawk prints no more than 32 bits in hex).
lines() {
  awk -v a="$1" -v z="$2" 'BEGIN { for (; a <= z; a += 128)
    if (h = int(a / 4294967296)) printf "Checking Address %X%08X...\n", h, a - h * 4294967296
    else printf "Checking Address %05X...\n", a }'
}
# What a clean run of BLOCKS blocks prints: a line a block, one more, the size.
sound_log() { lines 0 $(($1 * 128)) && printf 'ROM size = %05Xh = %uKB\n' $(($1 * 128)) $(($1 >> 3)); }

declare -A args want_status want_image
# expect CASE STATUS IMAGE STDERR ARGUMENT...: romweave ARGUMENT... must exit
# with STATUS, print what comes on standard input, nothing but STDERR on
# standard error, and leave IMAGE as its destination.
expect() {
  cat >"$1.log"
  if [ -n "$4" ]; then echo "$4"; fi >"$1.err"
  args[$1]=${*:5} want_status[$1]=$2 want_image[$1]=$3
}
# check CASE STATUS LOG ERR IMAGE: the run that just ended exited with STATUS
# and left standard output, standard error and destination as in LOG, ERR and IMAGE.
check() {
  [ "$status" = "$2" ] || die "$1: romweave exited with $status, expected $2"
  cmp -s out.log "$3" || die "$1: output ends in '$(tail -n 1 out.log)', expected '$(tail -n 1 "$3")'"
  cmp -s out.err "$4" || die "$1: standard error says '$(head -n 1 out.err)', expected '$(head -n 1 "$4")'"
  cmp -s out.bin "$5" || die "$1: the destination is not as expected ($(cmp out.bin "$5" 2>&1))"
}

# timed COMMAND...: removes every output, then runs COMMAND once; leaves its
# exit status in status and its wall time in us (microseconds), read from
# bash's own clock so that no process is started around it.
timed() {
  rm -f out.*
  status=0 us=${EPOCHREALTIME/[.,]/}
  "$@" || status=$?
  us=$((${EPOCHREALTIME/[.,]/} - us))
}
# Every side keeps its output in files, as a script keeping romweave's log
# would; romweave runs under the command in wrapper, if any.
wrapper=()
tool_run() { "${wrapper[@]}" "${tools[$1]}" "${@:2}" out.bin >out.log 2>out.err; }
dd_copy() { dd if="$1" of=out.bin bs=64K 2>out.err; }
cat_copy() { cat "$1" >out.bin 2>out.err; }
# Timed runs, checked: copied dd|cat CAPTURE; run CASE [TOOL], by the built
# tool (TOOL 0) or OTHER (1); measured CASE TOOL WRAPPER..., under WRAPPER.
copied() {
  timed "$1_copy" "$2"
  { [ "$status" = 0 ] && cmp -s out.bin "$2"; } || die "$1 did not copy $2"
}
run() {
  local words
  read -ra words <<<"${args[$1]}"
  timed tool_run "${2:-0}" "${words[@]}"
  check "$1${2:+ by ${tools[$2]}}" "${want_status[$1]}" "$1.log" "$1.err" "${want_image[$1]}"
}
measured() { wrapper=("${@:3}") && run "$1" "$2" && wrapper=(); }

# alternate COUNT SIDE...: one warm-up round, then COUNT rounds, each SIDE (a
# command and its words) once in each, in turn; leaves the median time of
# each in medians.
alternate() {
  local count=$1 i s side times=()
  shift
  for ((i = 0; i <= count; i++)); do
    for ((s = 1; s <= $#; s++)); do
      read -ra side <<<"${!s}"
      "${side[@]}"
      ((i == 0)) || times[s]+=" $us"
    done
  done
  medians=()
  # shellcheck disable=SC2086  # each list splits into its times
  for ((s = 1; s <= $#; s++)); do medians+=("$(median ${times[s]})"); done
}
# peak CASE [TOOL]: the median peak resident set of N runs, in KiB, in kib.
peak() {
  local i all=()
  for ((i = 0; i < runs; i++)); do
    measured "$1" "${2:-0}" /usr/bin/time -v -o out.time
    all+=("$(awk -F': *' '/Maximum resident set size/ { print $2 }' out.time)")
  done
  kib=$(median "${all[@]}")
}

table="| case | romweave | reference | ratio | target | result |
|---|---|---|---|---|---|"
missed=''
# ratio_row NAME CASE VALUE REFERENCE SHOWN SHOWN_REFERENCE LIMIT TARGET: the
# row of VALUE at most LIMIT times REFERENCE; NAME joins missed if it fails.
ratio_row() {
  table+=$'\n'$(awk -v c="$2" -v v="$3" -v r="$4" -v s="$5" -v sr="$6" -v l="$7" -v t="$8" 'BEGIN {
    printf "| %s | %s | %s | %.3f | %s | %s |", c, s, sr, v / r, t, v <= l * r ? "pass" : "FAIL" }')
  if [[ $table != *"| pass |" ]]; then missed+=" $1"; fi
}
# time_row NAME CASE SIDE REFERENCE LIMIT TARGET DIGITS: the time of
# alternate's SIDE against its first side's, REFERENCE.
time_row() {
  ratio_row "$1" "$2" "${medians[$3]}" "${medians[0]}" "$(ms "${medians[$3]}" "$7")" \
    "$(ms "${medians[0]}" "$7") ($4)" "$5" "$6"
}
# memory_row NAME CASE KIB REFERENCE_KIB REFERENCE: within 1 MiB.
memory_row() {
  table+=$'\n'$(awk -v c="$2" -v m="$3" -v o="$4" -v r="$5" 'BEGIN {
    printf "| %s | %.2f MiB | %.2f MiB (%s) | %+.2f MiB | within 1 MiB | %s |", c, m / 1024, o / 1024, r,
      (m - o) / 1024, m - o <= 1024 && o - m <= 1024 ? "pass" : "FAIL" }')
  if [[ $table != *"| pass |" ]]; then missed+=" $1"; fi
}

# finish NOTE...: prints the table, the machine and NOTEs (and with --record
# writes them down); exits 0 if every target was met.
finish() {
  local notes compiler
  compiler=$(awk -F= '/^CMAKE_CXX_COMPILER:/ { print $2 }' "$build/CMakeCache.txt")
  notes=$(
    echo "- Machine: $(nproc) cores, $(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo)," \
      "$(uname -sr), $(gib "$(awk '/MemTotal/ { print $2 * 1024 }' /proc/meminfo)") memory;" \
      "$(df -P -T . | awk 'NR == 2 { print $2 }') file system under ${TMPDIR:-/tmp}"
    echo "- Compiler: $("$compiler" --version | head -n 1); Release" \
      "($(awk -F= '/^CMAKE_CXX_FLAGS_RELEASE:/ { print $2 }' "$build/CMakeCache.txt")), linked" \
      "$(if ldd "${tools[0]}" >/dev/null 2>&1; then echo dynamic; else echo static; fi)"
    printf -- '- %s\n' "$@"
    echo "- 1-minute load average $load_before before and $(load_average) after (the benchmark adds about 1)."
  )
  printf '\n%s\n\n%s\n\n' "$table" "$notes"
  if $record; then
    printf "# Benchmark results\n\nLatest run of \`bench/run.sh\`, %s.\n\n%s\n\n%s\n" \
      "$(date -u '+%Y-%m-%d %H:%M UTC')" "$table" "$notes" >"$here/RESULTS.md"
    echo "Written to bench/RESULTS.md."
  fi
  if [ -z "$missed" ]; then echo "bench: every target met" && exit 0; fi
  echo "bench: target missed:$missed (the others met)"
  awk -v l="$load_before" 'BEGIN { if (l >= 0.5) print "bench: the machine was busy: rerun when it is idle" }'
  exit 1
}

# --- large-file mode -------------------------------------------------------

if $large; then
  # 2^25 + 8 blocks: 4 GiB and 1 KiB of data in a capture of about 4.1 GiB;
  # the capture, the destination and the log of 33 million progress lines.
  blocks=$((33554432 + 8)) && need=$((blocks * (132 + 128 + 29)))
  if [ "$(free_bytes)" -lt "$need" ]; then
    echo "Large-file mode skipped: it needs $(gib "$need") free, and there are $(gib "$(free_bytes)")."
    exit 0
  fi
  echo "Writing a capture of $blocks blocks ($(gib $((blocks * 132)))), converting it, checking the output..."
  "$mkcapture" "$blocks" large.cap
  wrapper=(/usr/bin/time -v -o out.time) && timed tool_run 0 large.cap
  # The log and image expected come through pipes: as files they would take 5 GiB more.
  check large.cap 0 <(sound_log "$blocks") /dev/null <("$mkcapture" --image /dev/stdout "$blocks" /dev/null)
  echo "Large-file mode passed: a capture of $(stat -c %s large.cap) bytes (past offsets 2 GiB and 4 GiB)" \
    "gave \"$(tail -n 1 out.log)\" and the image, in $(ms "$us" 0) with a peak resident set of" \
    "$(awk -F': *' '/Maximum resident/ { print $2 }' out.time) KiB."
  exit 0
fi

# capture NAME BLOCKS [--crc]: writes NAME.cap, a sound capture of BLOCKS
# blocks, and NAME.img, and expects them read with --receiver (NAME-r) and,
# with the checksum, without (NAME).
capture() {
  local no_eot="no EOT at its end, so the transfer may not have finished"
  "$mkcapture" ${3:+"$3"} --image "$1.img" "$2" "$1.cap"
  [ -n "${3:-}" ] || sound_log "$2" | expect "$1" 0 "$1.img" "" "$1.cap"
  sound_log "$2" | expect "$1-r" 0 "$1.img" "$(note "$1.cap" "${3:+frames with a CRC-16; }$no_eot")" \
    --receiver "$1.cap"
}
big=2097152
echo "Writing captures..."

# --- two builds compared -----------------------------------------------------

if [ -n "$other" ]; then
  capture big "$big"
  capture medium 31776
  for name in big big-r; do
    echo "Time and memory: romweave ${args[$name]}, against OTHER, $runs runs each..."
    alternate "$runs" "run $name 1" "run $name"
    time_row "time-$name" "time: romweave ${args[$name]} (2,097,152 blocks, 264 MiB)" 1 OTHER 1.05 "<= 1.05 x OTHER" 1
    peak "$name" 1 && other_kib=$kib && peak "$name"
    memory_row "memory-$name" "peak resident memory: romweave ${args[$name]}" "$kib" "$other_kib" OTHER
  done
  echo "Instructions: romweave and OTHER on a 4 MiB capture, under callgrind..."
  for name in medium medium-r; do
    for tool in 1 0; do
      measured "$name" $tool valgrind --tool=callgrind --callgrind-out-file=out.cg --log-file=out.vg
      count[tool]=$(awk '/^summary:/ { print $2 }' out.cg)
    done
    ratio_row "instructions-$name" "instructions: romweave ${args[$name]} (31,776 blocks, 4 MiB)" \
      "${count[0]}" "${count[1]}" "${count[0]}" "${count[1]} (OTHER)" 1.02 "<= 1.02 x OTHER"
  done
  finish "OTHER: $other" "Times: medians of $runs runs after one warm-up, the two alternating; memory:\
 medians of $runs runs; instructions: callgrind's count of one run. Every output removed before each run,\
 every run checked."
fi

# --- the table ---------------------------------------------------------------

[ "$(free_bytes)" -ge $((2 * 1073741824)) ] ||
  die "needs about 2 GiB free under ${TMPDIR:-/tmp}, and there are $(gib "$(free_bytes)")"
slow=$((64 << 20))
capture big "$big"
capture small 2048
capture one 1
capture one-crc 1 --crc
# The slow inputs' yardsticks: sound captures of about their size.
capture sound $((slow / 132))
capture sound-crc $((slow / 133)) --crc
"$mkcapture" --fill 01 --size "$slow" 0 soh.cap
# A first block whose checksum is wrong leaves the check unknown: every
# candidate behind it is tried with both.
"$mkcapture" --bad-check --fill 0101fe --size "$slow" 1 unknown.cap
for start in 01 02; do
  "$mkcapture" --fill "${start}01fe" --size "$slow" 1 "sum-$start.cap"
  "$mkcapture" --crc --fill "${start}01fe" --size "$slow" 1 "crc-$start.cap"
done
# Frames of bytes 0 to 127, whose checksum is 192: no frame start hides in
# them, nor in a wrong checksum of 193.
bytes=$(printf '%02x' {0..127})
"$mkcapture" --bad-check --data "$bytes" --size "$slow" $(((slow + 131) / 132)) damaged.cap
"$mkcapture" --data "$bytes" --image damaged.img 1 /dev/null
# The plain reading takes a CRC's high byte for the checksum.
crc_high=$(od -An -tu1 -j 131 -N 1 one-crc.cap | tr -d ' ') sum=$(od -An -tu1 -j 131 -N 1 one.cap | tr -d ' ')
as_is="capture; romweave --receiver reads it as it is."
crc_hint="Hint: the first block ends in the CRC-16 of its data: this is an XMODEM-CRC $as_is"
one_k_hint="Hint: 0x02 starts a 1K block: this is an XMODEM-1K $as_is"

# Each slow input: what it holds, the image both readings leave; with
# --receiver, the address of the last progress line, the fault message, the
# note; without, the same and the hint.  01 01 01 is block 1 with a wrong
# complement, 01 01 FE and 02 01 FE block 1 where block 2 is due.
slow_names=()
declare -A slow_text
while IFS='|' read -r name text image last message crc plain_last plain_message hint; do
  slow_names+=("$name") && slow_text[$name]=$text
  { lines 0 "$last" && echo "$(shown_name "$name.cap"): $message"; } |
    expect "$name-r" 3 "$image" "${crc:+$(note "$name.cap" "frames with a CRC-16")}" --receiver "$name.cap"
  { lines 0 "$plain_last" && echo "$(shown_name "$name.cap"): $plain_message"; } |
    expect "$name" 3 "$image" "$hint" "$name.cap"
done <<EOF
soh|SOH repeated|/dev/null|0|Got 1 instead of 254 Inv. Block No||0|Got 1 instead of 254 Inv. Block No|
unknown|a block with a wrong checksum, then 01 01 FE repeated|one.img|0|\
Got $(((sum + 1) & 255)) instead of $sum as checksum||0|Got $(((sum + 1) & 255)) instead of $sum as checksum|
sum-01|a checksum frame, then 01 01 FE repeated|one.img|128|Got 1 instead of 2 Block No||128|\
Got 1 instead of 2 Block No|
sum-02|a checksum frame, then 02 01 FE repeated|one.img|128|Got 1 instead of 2 Block No||128|No SOH|$one_k_hint
crc-01|a CRC frame, then 01 01 FE repeated|one-crc.img|128|Got 1 instead of 2 Block No|crc|0|\
Got $crc_high instead of $sum as checksum|$crc_hint
crc-02|a CRC frame, then 02 01 FE repeated|one-crc.img|128|Got 1 instead of 2 Block No|crc|0|\
Got $crc_high instead of $sum as checksum|$crc_hint
damaged|checksum frames 1, 2, ..., every checksum wrong|damaged.img|0|Got 193 instead of 192 as checksum||0|\
Got 193 instead of 192 as checksum|
EOF

echo "Throughput: $big blocks, $runs runs each..."
alternate "$runs" "copied dd big.cap" "run big"
time_row throughput "throughput: 2,097,152 blocks (264 MiB capture) to a file" 1 "dd bs=64K" 1.25 "<= 1.25 x dd" 1
echo "Latency: 2048 blocks, $((3 * runs)) runs each..."
alternate $((3 * runs)) "copied cat small.cap" "run small"
time_row latency "latency: 2,048 blocks (264 KiB capture) to a file" 1 cat 1.0 "<= 1.0 x cat" 2
echo "Receiver: $big blocks, without and with --receiver, $runs runs each..."
alternate "$runs" "run big" "run big-r"
time_row receiver "--receiver: the same 2,097,152 blocks" 1 "without --receiver" 1.05 "<= 1.05 x without" 1
slow_runs=$((runs < 11 ? 11 : runs))
for name in "${slow_names[@]}"; do
  echo "Slow input $name, with and without --receiver, against a sound capture, $slow_runs runs each..."
  if [[ $name == crc-* ]]; then sound=(sound-crc "sound, CRC"); else sound=(sound "sound, checksum"); fi
  alternate "$slow_runs" "run ${sound[0]}-r" "run $name-r" "run $name"
  time_row "$name-r" "--receiver, 64 MiB: ${slow_text[$name]}" 1 "${sound[1]}" 10 "<= 10 x sound" 1
  time_row "$name" "without --receiver, 64 MiB: ${slow_text[$name]}" 2 "${sound[1]}" 10 "<= 10 x sound" 1
done

echo "Memory: 1 and $big blocks, the slow inputs with and without --receiver, $runs runs each..."
declare -A rss
for name in one one-r big "${slow_names[@]}" "${slow_names[@]/%/-r}"; do peak "$name" && rss[$name]=$kib; done
worst=soh
for name in "${slow_names[@]}" "${slow_names[@]/%/-r}"; do ((rss[$name] <= rss[$worst])) || worst=$name; done
memory_row memory "peak resident memory: 2,097,152 blocks against 1 block" "${rss[big]}" "${rss[one]}" "1 block"
memory_row slow-memory "peak resident memory: the slow inputs, both readings (largest:\
 ${slow_text[${worst%-r}]}$([[ $worst != *-r ]] || echo ", --receiver"))" "${rss[$worst]}" "${rss[one-r]}" \
  "1 block, --receiver"
finish "References: $(dd --version | head -n 1), $(cat --version | head -n 1)" \
  "Medians of $runs timed runs (latency: $((3 * runs)); the slow inputs: $slow_runs) after one warm-up;\
 the sides alternate, every output removed before each run, every run checked." \
  "Slow inputs: $slow bytes each, every one read to its fault. Sound captures: $((slow / 132)) blocks with the\
 checksum and $((slow / 133)) with the CRC, without EOT, read with --receiver (the note saying so checked);\
 the CRC inputs are timed against the CRC capture, the others against the checksum one."
