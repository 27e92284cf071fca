#!/usr/bin/env bash
# Can this machine run 32-bit Windows programs under Wine? Exit status 0 when it can, 1 when it
# cannot; either way one line on stdout says why. Some machines run 64-bit user code only (the
# kernel refuses an i386 ELF with "Exec format error"), and there the 32-bit Wine loader cannot
# start at all. The answer comes within seconds: every step is bounded by a time-out.
#   tools/probe-x86.sh
loader=/usr/lib/wine/wine
if [ ! -x "$loader" ]; then
  echo "no 32-bit Wine loader ($loader; the package wine32:i386 is missing)"
  exit 1
fi
out=$(timeout 20 "$loader" --version 2>&1 </dev/null)
rc=$?
if [ $rc -ne 0 ]; then
  case "$out" in
    # execvp hands an image the kernel refuses (ENOEXEC) to /bin/sh, which then fails on it.
    *"Exec format error"*|*"Syntax error"*|*"syntax error"*)
      echo "this machine cannot execute 32-bit x86 code (the kernel refuses the 32-bit Wine loader)" ;;
    *) [ $rc -eq 124 ] && echo "the 32-bit Wine loader did not answer within 20 s" \
                       || echo "the 32-bit Wine loader fails (exit status $rc: ${out%%$'\n'*})" ;;
  esac
  exit 1
fi
echo "the 32-bit Wine loader runs (${out%%$'\n'*})"
exit 0
