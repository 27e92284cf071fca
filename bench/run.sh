#!/usr/bin/env bash
# The payload benchmark: builds what it needs in build-bench (the host payload tool, two test
# programs carrying a 4 MiB and a 64 MiB payload as resource 207), then under Wine times
# UnpackResource and ExtractArchive inside the program, and on the same bytes the Linux
# references: cp of the archive, and dd bs=1K (one read and one write call per 1,024 bytes,
# which is how the extraction copies by design). Every timed step starts from the same state:
# its inputs in the page cache, its outputs deleted, and nothing dirty of the step before (sync
# before each program run and each reference; inside the program what a step wrote is flushed
# before the next one starts). Every figure is the median of its runs, printed with their range
# and the runs themselves. The unpacking is timed with the payload's checksum and, in a program
# without it, unchecked, in the same repetitions. The checked program times both steps with the
# run's log open and without it, twice each in every run (on, off, off, on or the mirror), side
# by side; log_cost_unpack= and log_cost_extract= are log on / log off. Wine does not honour the
# log's FILE_FLAG_WRITE_THROUGH, so what one line costs is also timed as written and flushed to
# the disk, and what that would add to each step is printed.
# The last three lines are unpack_vs_cp=, extract_vs_dd1k= and private_growth_kib=; the line
# unpack_unchecked_vs_cp= before them is the same ratio without the checksum.
# It measures the 32-bit flavour where this machine can run it, else the 64-bit one (build-bench-x64);
# PIVORA_ARCH=x86 or x64 chooses.
# PIVORA_BENCH_SIZES (MiB, separated by semicolons; default "4;64") sets the payloads built; the
# timed runs take the largest, the memory figures compare the smallest with it.
# PIVORA_BENCH_BASE=<commit> builds the benchmark of that commit's sources too (in <build>/base)
# and runs its checked program in every repetition beside this one, against the same references:
# base_unpack_vs_cp= and base_extract_vs_dd1k= then come before the last lines.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
reps=${PIVORA_BENCH_REPS:-5}

if [ "${1:-}" != --measure ]; then
  "$root/tools/install-deps.sh"
  source "$root/tools/flavours.sh"
  if [ "$want_x86" = yes ]; then
    export PIVORA_BENCH_FLAVOUR="32-bit" build="$root/build-bench" toolchain=mingw-i686
  else
    export PIVORA_BENCH_FLAVOUR="64-bit" build="$root/build-bench-x64" toolchain=mingw-x86_64
  fi
  mkdir -p "$build"
  sizes=${PIVORA_BENCH_SIZES:-4;64}
  configure() {   # <source root> <build folder>
    cmake -S "$1/bench" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$1/cmake/$toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
          -DPIVORA_BENCH_SIZES="$sizes" >"$2/configure.log" 2>&1 || { cat "$2/configure.log"; exit 1; }
    cmake --build "$2" -j"$(nproc)" >"$2/build.log" 2>&1 || { tail -40 "$2/build.log"; exit 1; }
  }
  configure "$root" "$build"
  rm -rf "$build/base"
  if [ -n "${PIVORA_BENCH_BASE:-}" ]; then
    mkdir -p "$build/base/src"
    git -C "$root" archive "$PIVORA_BENCH_BASE" | tar -x -C "$build/base/src"
    configure "$build/base/src" "$build/base"
  fi
  exec "$root/tools/with-wine.sh" "$build" "$0" --measure
fi

# --- Inside the Wine session of tools/with-wine.sh -----------------------------------------
build=$PIVORA_BUILD_DIR
sizes=$(sed -n 's/^PIVORA_BENCH_SIZES:[A-Z]*=//p' "$build/CMakeCache.txt" | tr ';' '\n' | sort -n)
small=$(echo "$sizes" | head -n 1) large=$(echo "$sizes" | tail -n 1)
base=""; [ -d "$build/base" ] && base="$build/base"
run="$build/run"
rm -rf "$run"
mkdir -p "$run"

windows_path() { printf 'Z:%s\\' "$(printf '%s' "$1" | tr / '\\')"; }
median() { tr ',' '\n' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
range() { tr ',' '\n' | sort -g | awk 'NR == 1 { min = $1 } { max = $1 } END { printf "%.1f-%.1f", min, max }'; }
field() { sed -n "s/^$1=//p" "$2" | tr -d '\r'; }
now_ns() { date +%s%N; }
cached() { cat "$@" >/dev/null; }

# One program run for each repetition, each followed by the references, so that whatever else
# the machine does meanwhile falls on both alike. Before each, nothing is left dirty (sync) and
# its input is in the page cache.
bench() {   # <MiB> <output file> [program suffix [log order [build folder]]]
  local build=${5:-$build}
  local program="$build/payload_bench_$1${3:-}.exe"
  mkdir -p "$run/w$1"
  cached "$program"; sync
  if ! wine "$program" "$(windows_path "$run/w$1")" 1 ${4:-} >"$2" 2>"$run/bench.err"; then
    echo "payload_bench_$1${3:-} failed:" >&2
    cat "$2" "$run/bench.err" >&2
    exit 1
  fi
  # What the program wrote must be the payload, byte for byte.
  cmp -s "$run/w$1/PivoraSetup_IS.bin" "$build/payload$1.pk24" \
    || { echo "the unpacked archive of $1 MiB differs from the packed one" >&2; exit 1; }
  diff -r -q "$build/payload$1" "$run/w$1/out" >/dev/null \
    || { echo "the extracted files of $1 MiB differ from the payload folder" >&2; exit 1; }
  # With the log, its last run wrote a line for the resource and one for every entry.
  if [ -n "${4:-}" ]; then
    local lines expected=$(($(ls "$build/payload$1" | wc -l) + 1))
    lines=$(grep -c -E 'payload 207: .* bytes written|archive entry ".*" extracted' "$run/w$1/PivoraSetup-bench.log")
    [ "$lines" -eq "$expected" ] \
      || { echo "the run's log holds $lines lines of the payload; $expected expected" >&2; exit 1; }
  fi
}
elapsed_ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1e6 }'; }
# A reference command, timed from a synced start with its input cached and its output absent.
reference() {   # <output> <command...>
  local out=$1 t0 t1; shift
  cached "$src"; rm -f "$out"; sync
  t0=$(now_ns); "$@"; t1=$(now_ns)
  rm -f "$out"
  elapsed_ms "$t0" "$t1"
}

bench "$small" "$run/bench$small.txt"
src="$run/w$large/PivoraSetup_IS.bin"
cp_ms=() dd_ms=() unpack_ms=() unchecked_ms=() extract_ms=() bare_ms=() peak_large=0
unpack_log_ms=() extract_log_ms=() line_ms=() synced_ms=() base_unpack_ms=() base_extract_ms=()
for i in $(seq "$reps"); do
  # With and without the checksum (and the base commit's program), taking turns at going first;
  # with the log and without it inside the checked programs, taking turns too.
  order=(_unchecked "" ${base:+_base}); [ $((i % 2)) -eq 0 ] && order=(${base:+_base} "" _unchecked)
  log_order=log-last; [ $((i % 2)) -eq 0 ] && log_order=log-first
  for suffix in "${order[@]}"; do
    case "$suffix" in
      "") bench "$large" "$run/bench$large-$i.txt" "" "$log_order" ;;
      _base) bench "$large" "$run/bench${large}_base-$i.txt" "" "$log_order" "$base" ;;
      *) bench "$large" "$run/bench$large$suffix-$i.txt" "$suffix" ;;
    esac
  done
  out="$run/bench$large-$i.txt"
  unchecked_ms+=("$(field unpack_ms "$run/bench${large}_unchecked-$i.txt")")
  unpack_ms+=("$(field unpack_ms "$out")")
  extract_ms+=("$(field extract_ms "$out")")
  unpack_log_ms+=("$(field unpack_log_ms "$out")")
  extract_log_ms+=("$(field extract_log_ms "$out")")
  line_ms+=("$(field log_line_ms "$out")")
  synced_ms+=("$(field synced_line_ms "$out")")
  bare_ms+=("$(field bare_copy_ms "$out")")
  if [ -n "$base" ]; then
    base_unpack_ms+=("$(field unpack_ms "$run/bench${large}_base-$i.txt")")
    base_extract_ms+=("$(field extract_ms "$run/bench${large}_base-$i.txt")")
  fi
  peak=$(field private_peak_kib "$out")
  [ "$peak" -gt "$peak_large" ] && peak_large=$peak
  cp_ms+=("$(reference "$run/cp.bin" cp "$src" "$run/cp.bin")")
  dd_ms+=("$(reference "$run/dd.bin" dd if="$src" of="$run/dd.bin" bs=1K status=none)")
done

list() { local IFS=,; echo "$*"; }
unpack=$(list "${unpack_ms[@]}" | median)
unpack_log=$(list "${unpack_log_ms[@]}" | median)
unchecked=$(list "${unchecked_ms[@]}" | median)
extract=$(list "${extract_ms[@]}" | median)
extract_log=$(list "${extract_log_ms[@]}" | median)
cp_median=$(list "${cp_ms[@]}" | median)
dd_median=$(list "${dd_ms[@]}" | median)
bare_median=$(list "${bare_ms[@]}" | median)
line_median=$(list "${line_ms[@]}" | median)
synced_median=$(list "${synced_ms[@]}" | median)
entries=$(ls "$build/payload$large" | wc -l)
peak_small=$(field private_peak_kib "$run/bench$small.txt")
size=$(stat -c %s "$src")

# One measurement: its median, its range and every figure.
row() {   # <name> <median> <figures...>
  local name=$1 median=$2; shift 2
  printf '  %-28s %8.1f  %-13s (%s)\n' "$name" "$median" "$(list "$@" | range)" \
         "$(list "$@" | tr ',' '\n' | awk '{ printf "%s%.1f", (NR > 1 ? ", " : ""), $1 }')"
}
echo "flavour: $PIVORA_BENCH_FLAVOUR program under Wine"
echo "payload: $entries files, archive of $size bytes; $reps program runs (ms):"
printf '  %-28s %8s  %-13s %s\n' "" median min-max runs
row "UnpackResource" "$unpack" "${unpack_ms[@]}"
row "UnpackResource, log open" "$unpack_log" "${unpack_log_ms[@]}"
row "UnpackResource, unchecked" "$unchecked" "${unchecked_ms[@]}"
row "cp of the archive" "$cp_median" "${cp_ms[@]}"
row "ExtractArchive" "$extract" "${extract_ms[@]}"
row "ExtractArchive, log open" "$extract_log" "${extract_log_ms[@]}"
row "dd bs=1K of the archive" "$dd_median" "${dd_ms[@]}"
row "Win32 1K loop, for scale" "$bare_median" "${bare_ms[@]}"
if [ -n "$base" ]; then
  base_unpack=$(list "${base_unpack_ms[@]}" | median)
  base_extract=$(list "${base_extract_ms[@]}" | median)
  echo "the same steps in the program of $PIVORA_BENCH_BASE, in the same repetitions (ms):"
  row "UnpackResource" "$base_unpack" "${base_unpack_ms[@]}"
  row "ExtractArchive" "$base_extract" "${base_extract_ms[@]}"
fi
echo "the run's log off and on, side by side (median, min-max; ms):"
printf '  %-16s off %7.1f %-13s on %7.1f %s\n' \
  UnpackResource "$unpack" "$(list "${unpack_ms[@]}" | range)" "$unpack_log" "$(list "${unpack_log_ms[@]}" | range)" \
  ExtractArchive "$extract" "$(list "${extract_ms[@]}" | range)" "$extract_log" "$(list "${extract_log_ms[@]}" | range)"
# Wine opens the log without FILE_FLAG_WRITE_THROUGH: what the lines would cost where it is
# honoured is estimated from a line flushed to the disk.
awk -v l="$line_median" -v s="$synced_median" -v n="$entries" -v u="$unpack" -v e="$extract" 'BEGIN {
  printf "  a line of the log: %.4f ms as written here (not through: Wine ignores the flag), %.2f ms\n", l, s
  printf "  flushed to the disk; written through, 1 line would add %.1f%% to the unpacking and %d lines\n", 100 * s / u, n
  printf "  %.1f%% to the extraction\n", 100 * n * s / e }'
echo "private memory (PrivateUsage; Wine reports 0 there, so PagefileUsage), peak while unpacking"
echo "and extracting: $small MiB payload $peak_small KiB, $large MiB payload $peak_large KiB"
# The stub: the shipped 32-bit program (build/, made by ./run.sh) less its payload resources 203
# and 207, which is what every user downloads besides the payload.
if [ -f "$root/build/PivoraSetup.exe" ]; then
  /usr/bin/python3 - "$root/build/PivoraSetup.exe" <<'EOF'
import os, sys, pefile
pe = pefile.PE(sys.argv[1])
payload = sum(lang.data.struct.Size for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == 1001
              for res in kind.directory.entries if res.id in (203, 207) for lang in res.directory.entries)
stub = os.path.getsize(sys.argv[1]) - payload
print("stub (build/PivoraSetup.exe less resources 203 and 207): %d bytes, %.1f KiB; %s 90 KiB"
      % (stub, stub / 1024, "within" if stub <= 90 * 1024 else "over"))
EOF
fi
rm -rf "$run"
awk -v on="$unpack_log" -v off="$unpack" 'BEGIN { printf "log_cost_unpack=%.3f\n", on / off }'
awk -v on="$extract_log" -v off="$extract" 'BEGIN { printf "log_cost_extract=%.3f\n", on / off }'
awk -v u="$unchecked" -v c="$cp_median" 'BEGIN { printf "unpack_unchecked_vs_cp=%.2f\n", u / c }'
if [ -n "$base" ]; then
  awk -v u="$base_unpack" -v c="$cp_median" 'BEGIN { printf "base_unpack_vs_cp=%.2f\n", u / c }'
  awk -v e="$base_extract" -v d="$dd_median" 'BEGIN { printf "base_extract_vs_dd1k=%.2f\n", e / d }'
fi
awk -v u="$unpack" -v c="$cp_median" 'BEGIN { printf "unpack_vs_cp=%.2f\n", u / c }'
awk -v e="$extract" -v d="$dd_median" 'BEGIN { printf "extract_vs_dd1k=%.2f\n", e / d }'
echo "private_growth_kib=$((peak_large - peak_small))"
