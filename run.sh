#!/usr/bin/env bash
# Builds PivoraSetup.exe with its payload and runs it under Wine.
#   ./run.sh          build, then run the setup: in a real window when a display is there;
#                     without one, under Xvfb with every window answered by its default and a
#                     screenshot of each window saved to build/walkthrough/
#   ./run.sh build    only build
set -eu
cd "$(dirname "$0")"
tools/install-deps.sh
mkdir -p build
tools/configure.sh build
cmake --build build -j"$(nproc)" --target PivoraSetup walkthrough
echo "built: $(pwd)/build/PivoraSetup.exe"
[ "${1:-}" = build ] && exit 0

if [ -n "${DISPLAY:-}" ]; then
  PIVORA_USE_DISPLAY=1 tests/with-wine.sh build wine build/PivoraSetup.exe
  exit 0
fi

# No display: a walkthrough under Xvfb that answers every window with its default and keeps a
# screenshot of each, in order.
rm -rf build/walkthrough
tests/with-wine.sh build bash -c '
  wine build/walkthrough.exe build/PivoraSetup.exe "$(winepath -w build/walkthrough)" >build/walkthrough.log 2>&1
  rc=$?
  grep -a -v "^ALSA\|^wine:" build/walkthrough.log | tr -d "\r" |
    while read -r line; do
      case "$line" in *.png) echo "$(winepath -u "$line")" ;; *) echo "$line" ;; esac
    done
  exit $rc'
echo "screenshots of the walkthrough: $(pwd)/build/walkthrough/"
