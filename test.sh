#!/usr/bin/env bash
# Builds PivoraSetup.exe and every test, and runs all tests under Wine (private prefix in build/,
# Xvfb, ANSI code page 932). Installs what is missing first. Exit status: 0 only when all pass.
# The product is signed: with PIVORA_SIGN_CERT and PIVORA_SIGN_KEY when they are given, otherwise
# with a throw-away test certificate made here.
set -eu
cd "$(dirname "$0")"
tools/install-deps.sh
mkdir -p build
if [ -z "${PIVORA_SIGN_CERT:-}" ]; then
  signing=$(pwd)/build/signing
  if [ ! -f "$signing/cert.pem" ]; then
    mkdir -p "$signing"
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Vantori Test Signing" \
      -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
      -keyout "$signing/key.pem" -out "$signing/cert.pem" 2>/dev/null
  fi
  export PIVORA_SIGN_CERT="$signing/cert.pem" PIVORA_SIGN_KEY="$signing/key.pem"
fi
tools/configure.sh build -DPIVORA_BUILD_TESTS=ON
cmake --build build -j"$(nproc)"
tests/with-wine.sh build ctest --test-dir build --output-on-failure --timeout 900
