#!/usr/bin/env bash
# Builds PivoraSetup.exe and every test, and runs all tests under Wine (private prefix in the
# build folder, Xvfb, ANSI code page 932). Installs what is missing first. Exit status: 0 only
# when all pass.
# Flavours: the 32-bit suite (build/) where this machine can run 32-bit code, and the 64-bit
# suite (build-x64/) always. Where 32-bit code cannot run, the shipped 32-bit file is still
# built and checked as a file (PE checks, reproducibility, signature, payload tool).
# PIVORA_ARCH=x86 or x64 runs one flavour only.
# The product is signed: with PIVORA_SIGN_CERT and PIVORA_SIGN_KEY when they are given, otherwise
# with a throw-away test certificate made here.
set -eu
cd "$(dirname "$0")"
tools/install-deps.sh
source tools/flavours.sh
# The 32-bit file checks need no execution: they run wherever the suite itself cannot.
files_x86=no
[ "${PIVORA_ARCH:-}" = "" ] && [ "$x86_runs" = no ] && files_x86=yes

if [ "$want_x86" = yes ] || [ "$files_x86" = yes ]; then
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
fi

passed=0 failed=0 ran=()
# Runs ctest with the given arguments and adds its counts to the totals.
suite() {   # <name> <log> <command...>
  local name=$1 log=$2; shift 2
  "$@" 2>&1 | tee "$log" || true
  local line p f t
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    echo "test.sh: the $name suite ended without a result" >&2
    failed=$((failed + 1))
    return
  fi
  f=$(echo "$line" | sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  t=$(echo "$line" | sed -E 's/.*failed out of ([0-9]+).*/\1/')
  passed=$((passed + t - f)) failed=$((failed + f))
  ran+=("$name ($((t - f)) of $t passed)")
}

if [ "$want_x86" = yes ]; then
  cmake --build build -j"$(nproc)"
  suite "32-bit" build/ctest.log tools/with-wine.sh build ctest --test-dir build --output-on-failure --timeout 900
elif [ "$files_x86" = yes ]; then
  cmake --build build -j"$(nproc)" --target PivoraSetup payloadtool
  suite "32-bit file checks" build/ctest.log \
    ctest --test-dir build --output-on-failure --timeout 900 -L host
fi
if [ "$want_x64" = yes ]; then
  mkdir -p build-x64
  tools/configure.sh --x64 build-x64 -DPIVORA_BUILD_TESTS=ON
  cmake --build build-x64 -j"$(nproc)"
  suite "64-bit" build-x64/ctest.log \
    tools/with-wine.sh build-x64 ctest --test-dir build-x64 --output-on-failure --timeout 900
fi

echo
if [ "$x86_runs" = yes ]; then
  echo "test.sh: 32-bit code runs here ($x86_why); ran: $(printf '%s; ' "${ran[@]}" | sed 's/; $//')"
elif [ "$files_x86" = yes ]; then
  echo "test.sh: 32-bit code cannot run here ($x86_why): the 32-bit PivoraSetup.exe was checked as a file only; ran: $(printf '%s; ' "${ran[@]}" | sed 's/; $//')"
else
  echo "test.sh: 32-bit code cannot run here ($x86_why); ran: $(printf '%s; ' "${ran[@]}" | sed 's/; $//')"
fi
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
