#!/usr/bin/env bash
# Builds PivoraSetup.exe with its payload and runs it under Wine.
#   ./run.sh          build, then run the setup: in a real window when a display is there;
#                     without one, under Xvfb with every window answered by its default and a
#                     screenshot of each window saved to <build>/walkthrough/
#   ./run.sh build    only build
#   PIVORA_DPI=144 ./run.sh   the same at 144 DPI (150 % display scaling); the screenshots then go
#                     to <build>/walkthrough-144dpi/
# The shipped program is the 32-bit build/PivoraSetup.exe. Where this machine cannot run 32-bit
# code, the 64-bit flavour of the same sources (build-x64/PivoraSetup.exe) is built and run
# instead. PIVORA_ARCH=x86 or x64 chooses the flavour.
set -eu
cd "$(dirname "$0")"
tools/install-deps.sh
source tools/flavours.sh

mkdir -p build
tools/configure.sh build
cmake --build build -j"$(nproc)" --target PivoraSetup walkthrough
echo "built: $(pwd)/build/PivoraSetup.exe (32-bit, the one that ships)"
if [ "$want_x86" = yes ]; then
  dir=build
  why="the 32-bit program, as it ships ($x86_why)"
else
  dir=build-x64
  mkdir -p build-x64
  tools/configure.sh --x64 build-x64
  cmake --build build-x64 -j"$(nproc)" --target PivoraSetup walkthrough
  echo "built: $(pwd)/build-x64/PivoraSetup.exe (64-bit flavour of the same sources)"
  why="the 64-bit flavour: $x86_why"
  [ -n "${PIVORA_ARCH:-}" ] && why="the 64-bit flavour, as PIVORA_ARCH=x64 asks"
fi
[ "${1:-}" = build ] && exit 0
echo "run.sh: running $why"

if [ -n "${DISPLAY:-}" ]; then
  PIVORA_USE_DISPLAY=1 tools/with-wine.sh "$dir" wine "$dir/PivoraSetup.exe"
  exit 0
fi

# No display: a walkthrough under Xvfb that answers every window with its default and keeps a
# screenshot of each, in order.
shots=walkthrough${PIVORA_DPI:+-${PIVORA_DPI}dpi}
rm -rf "$dir/$shots"
tools/with-wine.sh "$dir" bash -c '
  dir=$1 shots=$2
  wine "$dir/walkthrough.exe" "$dir/PivoraSetup.exe" "$(winepath -w "$dir/$shots")" >"$dir/walkthrough.log" 2>&1
  rc=$?
  grep -a -v "^ALSA\|^wine:" "$dir/walkthrough.log" | tr -d "\r" |
    while read -r line; do
      case "$line" in *.png) echo "$(winepath -u "$line")" ;; *) echo "$line" ;; esac
    done
  exit $rc' walkthrough "$dir" "$shots"
echo "screenshots of the walkthrough: $(pwd)/$dir/$shots/"
