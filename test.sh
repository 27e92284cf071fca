#!/usr/bin/env bash
# Builds PivoraSetup.exe and every test, and runs all tests under Wine (private prefix in build/,
# Xvfb, ANSI code page 932). Installs what is missing first. Exit status: 0 only when all pass.
set -eu
cd "$(dirname "$0")"
tools/install-deps.sh
mkdir -p build
tools/configure.sh build -DPIVORA_BUILD_TESTS=ON
cmake --build build -j"$(nproc)"
tests/with-wine.sh build ctest --test-dir build --output-on-failure --timeout 600
