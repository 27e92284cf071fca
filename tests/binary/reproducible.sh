#!/usr/bin/env bash
# Builds the product a second time, from the same sources and payload inputs but in another
# folder, and compares the two executables byte for byte.
#   reproducible.sh <source dir> <first build dir>
set -u
src=$1
first=$2
second="$first/repro"
cache() { sed -n "s/^$1:[A-Z]*=//p" "$first/CMakeCache.txt"; }
rm -rf "$second"
mkdir -p "$second"
# The demo payload is built anew in the second folder; given payloads are the same files.
installer=$(cache PIVORA_INSTALLER_DIR); case "$installer" in "$first"/*) installer= ;; esac
wmfdist=$(cache PIVORA_WMFDIST); case "$wmfdist" in "$first"/*) wmfdist= ;; esac
PIVORA_INSTALLER_DIR="$installer" PIVORA_WMFDIST="$wmfdist" \
PIVORA_SIGN_CERT=$(cache PIVORA_SIGN_CERT) PIVORA_SIGN_KEY=$(cache PIVORA_SIGN_KEY) \
  "$src/tools/configure.sh" "$second" || exit 1
cmake --build "$second" -j"$(nproc)" --target PivoraSetup >"$second.build.log" 2>&1 ||
  { tail -30 "$second.build.log"; exit 1; }
if cmp "$first/PivoraSetup.exe" "$second/PivoraSetup.exe"; then
  echo "reproducible: $(sha256sum <"$first/PivoraSetup.exe" | cut -d' ' -f1)"
  rm -rf "$second" "$second.build.log"
else
  echo "the two builds differ"
  exit 1
fi
