#!/usr/bin/env bash
# The payload benchmark: builds what it needs in build-bench (the host payload tool, two test
# programs carrying a 4 MiB and a 64 MiB payload as resource 207), then under Wine times
# UnpackResource and ExtractArchive inside the program, and on the same bytes the Linux
# references: cp of the archive, and dd bs=1K (one read and one write call per 1,024 bytes,
# which is how the extraction copies by design). Outputs are deleted before every timed run,
# the page cache is warm, every figure is the median of five runs. The unpacking is timed with
# the payload's checksum and, in a program without it, unchecked, in the same repetitions.
# The last three lines are unpack_vs_cp=, extract_vs_dd1k= and private_growth_kib=; the line
# unpack_unchecked_vs_cp= before them is the same ratio without the checksum.
# It measures the 32-bit flavour where this machine can run it, else the 64-bit one (build-bench-x64);
# PIVORA_ARCH=x86 or x64 chooses.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
reps=5

if [ "${1:-}" != --measure ]; then
  "$root/tools/install-deps.sh"
  source "$root/tools/flavours.sh"
  if [ "$want_x86" = yes ]; then
    export PIVORA_BENCH_FLAVOUR="32-bit" build="$root/build-bench" toolchain=mingw-i686
  else
    export PIVORA_BENCH_FLAVOUR="64-bit" build="$root/build-bench-x64" toolchain=mingw-x86_64
  fi
  mkdir -p "$build"
  cmake -S "$root/bench" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
  cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 || { tail -40 "$build/build.log"; exit 1; }
  exec "$root/tools/with-wine.sh" "$build" "$0" --measure
fi

# --- Inside the Wine session of tools/with-wine.sh -----------------------------------------
build=$PIVORA_BUILD_DIR
run="$build/run"
rm -rf "$run"
mkdir -p "$run"

windows_path() { printf 'Z:%s\\' "$(printf '%s' "$1" | tr / '\\')"; }
median() { tr ',' '\n' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
field() { sed -n "s/^$1=//p" "$2" | tr -d '\r'; }
now_ns() { date +%s%N; }

# One program run for each repetition, each followed by the references, so that whatever else
# the machine does meanwhile falls on both alike. Dirty pages of the run before are written out
# first (sync), the inputs are in the page cache.
bench() {   # <MiB> <output file> [program suffix]
  mkdir -p "$run/w$1"
  if ! wine "$build/payload_bench_$1${3:-}.exe" "$(windows_path "$run/w$1")" 1 >"$2" 2>"$run/bench.err"; then
    echo "payload_bench_$1${3:-} failed:" >&2
    cat "$2" "$run/bench.err" >&2
    exit 1
  fi
  # What the program wrote must be the payload, byte for byte.
  cmp -s "$run/w$1/PivoraSetup_IS.bin" "$build/payload$1.pk24" \
    || { echo "the unpacked archive of $1 MiB differs from the packed one" >&2; exit 1; }
  diff -r -q "$build/payload$1" "$run/w$1/out" >/dev/null \
    || { echo "the extracted files of $1 MiB differ from the payload folder" >&2; exit 1; }
}
elapsed_ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1e6 }'; }

bench 4 "$run/bench4.txt"
src="$run/w64/PivoraSetup_IS.bin"
cp_ms=() dd_ms=() unpack_ms=() unchecked_ms=() extract_ms=() bare_ms=() peak64=0
for i in $(seq "$reps"); do
  # With and without the checksum, taking turns at going first.
  order=(_unchecked ""); [ $((i % 2)) -eq 0 ] && order=("" _unchecked)
  for suffix in "${order[@]}"; do
    sync
    bench 64 "$run/bench64$suffix-$i.txt" "$suffix"
  done
  unchecked_ms+=("$(field unpack_ms "$run/bench64_unchecked-$i.txt")")
  unpack_ms+=("$(field unpack_ms "$run/bench64-$i.txt")")
  extract_ms+=("$(field extract_ms "$run/bench64-$i.txt")")
  bare_ms+=("$(field bare_copy_ms "$run/bench64-$i.txt")")
  peak=$(field private_peak_kib "$run/bench64-$i.txt")
  [ "$peak" -gt "$peak64" ] && peak64=$peak
  cat "$src" >/dev/null
  rm -f "$run/cp.bin"; sync
  t0=$(now_ns); cp "$src" "$run/cp.bin"; t1=$(now_ns)
  cp_ms+=("$(elapsed_ms "$t0" "$t1")")
  rm -f "$run/cp.bin" "$run/dd.bin"; sync
  t0=$(now_ns); dd if="$src" of="$run/dd.bin" bs=1K status=none; t1=$(now_ns)
  dd_ms+=("$(elapsed_ms "$t0" "$t1")")
  rm -f "$run/dd.bin"
done

list() { local IFS=,; echo "$*"; }
unpack=$(list "${unpack_ms[@]}" | median)
unchecked=$(list "${unchecked_ms[@]}" | median)
extract=$(list "${extract_ms[@]}" | median)
cp_median=$(list "${cp_ms[@]}" | median)
dd_median=$(list "${dd_ms[@]}" | median)
bare_median=$(list "${bare_ms[@]}" | median)
peak4=$(field private_peak_kib "$run/bench4.txt")
size=$(stat -c %s "$src")

echo "flavour: $PIVORA_BENCH_FLAVOUR program under Wine"
echo "payload: $(ls "$build/payload64" | wc -l) files, archive of $size bytes; medians of $reps runs (ms)"
printf '  %-26s %8.1f   (%s)\n' "UnpackResource" "$unpack" "$(list "${unpack_ms[@]}")"
printf '  %-26s %8.1f   (%s)\n' "UnpackResource, unchecked" "$unchecked" "$(list "${unchecked_ms[@]}")"
printf '  %-26s %8.1f   (%s)\n' "cp of the archive" "$cp_median" "$(list "${cp_ms[@]}")"
printf '  %-26s %8.1f   (%s)\n' "ExtractArchive" "$extract" "$(list "${extract_ms[@]}")"
printf '  %-26s %8.1f   (%s)\n' "dd bs=1K of the archive" "$dd_median" "$(list "${dd_ms[@]}")"
printf '  %-26s %8.1f   (%s)\n' "Win32 1K loop, for scale" "$bare_median" "$(list "${bare_ms[@]}")"
echo "private memory (PrivateUsage; Wine reports 0 there, so PagefileUsage), peak while unpacking"
echo "and extracting: 4 MiB payload $peak4 KiB, 64 MiB payload $peak64 KiB"
# The stub: the shipped 32-bit program (build/, made by ./run.sh) less its payload resources 203
# and 207, which is what every user downloads besides the payload.
if [ -f "$root/build/PivoraSetup.exe" ]; then
  /usr/bin/python3 - "$root/build/PivoraSetup.exe" <<'EOF'
import os, sys, pefile
pe = pefile.PE(sys.argv[1])
payload = sum(lang.data.struct.Size for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == 1001
              for res in kind.directory.entries if res.id in (203, 207) for lang in res.directory.entries)
stub = os.path.getsize(sys.argv[1]) - payload
print("stub (build/PivoraSetup.exe less resources 203 and 207): %d bytes, %.1f KiB" % (stub, stub / 1024))
EOF
fi
rm -rf "$run"
awk -v u="$unchecked" -v c="$cp_median" 'BEGIN { printf "unpack_unchecked_vs_cp=%.2f\n", u / c }'
awk -v u="$unpack" -v c="$cp_median" 'BEGIN { printf "unpack_vs_cp=%.2f\n", u / c }'
awk -v e="$extract" -v d="$dd_median" 'BEGIN { printf "extract_vs_dd1k=%.2f\n", e / d }'
echo "private_growth_kib=$((peak64 - peak4))"
