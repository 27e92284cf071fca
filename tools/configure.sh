#!/usr/bin/env bash
# Configures the cross build in the given folder. The payload inputs come from the environment
# variables PIVORA_INSTALLER_DIR and PIVORA_WMFDIST when they are set; unset, the demo payload.
# With PIVORA_SIGN_CERT and PIVORA_SIGN_KEY (PEM files) the product is signed with Authenticode.
# --x64 configures the 64-bit flavour (x86_64 compilers), which is never signed.
#   tools/configure.sh [--x64] <build dir> [more cmake arguments...]
set -eu
toolchain=mingw-i686
if [ "$1" = --x64 ]; then
  toolchain=mingw-x86_64; shift
  PIVORA_SIGN_CERT="" PIVORA_SIGN_KEY=""
fi
build=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
args=(-S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" -DCMAKE_BUILD_TYPE=Release
      -DPIVORA_INSTALLER_DIR="${PIVORA_INSTALLER_DIR:-}" -DPIVORA_WMFDIST="${PIVORA_WMFDIST:-}"
      -DPIVORA_SIGN_CERT="${PIVORA_SIGN_CERT:-}" -DPIVORA_SIGN_KEY="${PIVORA_SIGN_KEY:-}")
mkdir -p "$build"
cmake "${args[@]}" "$@" >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
