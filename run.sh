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
cmake --build build -j"$(nproc)" --target PivoraSetup
echo "built: $(pwd)/build/PivoraSetup.exe"
[ "${1:-}" = build ] && exit 0

if [ -n "${DISPLAY:-}" ]; then
  PIVORA_USE_DISPLAY=1 tests/with-wine.sh build wine build/PivoraSetup.exe
else
  tests/with-wine.sh build wine build/PivoraSetup.exe
fi
