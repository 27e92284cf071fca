# Sourced by ./run.sh, ./test.sh and bench/run.sh: which flavours of the program this machine can
# run. The shipped program is 32-bit (build/); the same sources also build as a 64-bit flavour
# (build-x64/) that runs under 64-bit Wine, for machines that cannot execute 32-bit code at all.
# PIVORA_ARCH=x86 or x64 restricts the choice to one flavour.
# Sets:
#   x86_runs      yes or no: tools/probe-x86.sh's answer
#   x86_why       its one-line reason
#   want_x86      yes when the 32-bit flavour is to be run (PIVORA_ARCH permitting)
#   want_x64      yes when the 64-bit flavour is to be run
# Ends the calling script when PIVORA_ARCH is not understood, or asks for x86 where it cannot run.
flavours_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if x86_why=$("$flavours_root/tools/probe-x86.sh"); then x86_runs=yes; else x86_runs=no; fi
case "${PIVORA_ARCH:-}" in
  "")  want_x86=$x86_runs; want_x64=yes ;;
  x86) want_x86=yes; want_x64=no
       if [ "$x86_runs" = no ]; then
         echo "PIVORA_ARCH=x86 asks for the 32-bit flavour, but it cannot run here: $x86_why" >&2
         exit 1
       fi ;;
  x64) want_x86=no; want_x64=yes ;;
  *)   echo "PIVORA_ARCH must be x86, x64 or unset (both where they can run), not '$PIVORA_ARCH'" >&2
       exit 1 ;;
esac
