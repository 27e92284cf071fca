#!/bin/sh
# CTest's cross-compiling emulator: runs one Windows program under the Wine set up by
# tools/with-wine.sh. The output goes to a file first: programs that Wine starts for the tested
# program would otherwise keep CTest's pipe open long after the test has ended.
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-exec: run the tests through tools/with-wine.sh (or ./test.sh)" >&2
  exit 2
fi
out=$(mktemp "${PIVORA_BUILD_DIR:-/tmp}/wine-out.XXXXXX")
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit "$rc"
