#!/usr/bin/env bash
# Runs a command with the test environment of this project: a private 64-bit Wine prefix under
# the build folder (ANSI code page 932), one Xvfb display and one wineserver for the whole run,
# a small tmpfs mapped as drive T: for the low-space cases and a read-only one as R:, a disc drive
# X: (PIVORA_DISC_DRIVE). Everything started here is
# stopped again when the command ends.
# PIVORA_WINE_LOCALE=en_US.UTF-8 (or another locale) makes it a session of that locale's ANSI
# code page (1252 for en_US) with a prefix of its own, wineprefix-en_US: the code page holds for
# the whole session, and such a session may run inside another one.
# PIVORA_DPI=144 (or another value but 96) makes it a session at that DPI, with a prefix of its
# own (wineprefix-144dpi); it too may run inside another session.
#   tools/with-wine.sh <build dir> <command...>
set -u
build=$(cd "$1" && pwd); shift

locale=${PIVORA_WINE_LOCALE:-ja_JP.UTF-8}
suffix=""
[ "$locale" = ja_JP.UTF-8 ] || suffix="-${locale%%.*}"
western=$suffix
# Another DPI (PIVORA_DPI, below) is a session of its own too, in a prefix of its own; and so is
# a session named by PIVORA_WINE_SESSION (one that a test ends, as a restart of Windows does).
[ -n "${PIVORA_DPI:-}" ] && [ "$PIVORA_DPI" != 96 ] && suffix="$suffix-${PIVORA_DPI}dpi"
[ -n "${PIVORA_WINE_SESSION:-}" ] && suffix="$suffix-$PIVORA_WINE_SESSION"
export WINEPREFIX="$build/wineprefix$suffix"
export WINEARCH=win64
export WINEDEBUG=-all
{ export LC_ALL=$locale; } 2>/dev/null   # Wine takes the ANSI code page from it (932 for ja_JP)
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export PIVORA_BUILD_DIR="$build"

# The 64-bit flavour runs under 64-bit Wine alone. Debian's wine script (and the wineboot,
# winepath and reg scripts that call it) takes the 32-bit loader whenever wine32 is installed,
# which cannot even start on a machine that runs 64-bit user code only: a wine of our own that
# execs the 64-bit loader goes first on PATH.
if grep -q '^CMAKE_TOOLCHAIN_FILE:[A-Z]*=.*x86_64' "$build/CMakeCache.txt" 2>/dev/null; then
  mkdir -p "$build/wine64-bin"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' \
      >"$build/wine64-bin/$name"
    chmod +x "$build/wine64-bin/$name"
  done
  export PATH="$build/wine64-bin:$PATH"
fi

xvfb_pid=""
lowspace="$build/lowspace$suffix"
readonly_dir="$build/readonly$suffix"
roomy="$build/roomy$suffix"
disc="$build/disc$suffix"
windows_temp="$WINEPREFIX/drive_c/windows/temp"
cleanup() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -f "$WINEPREFIX/dosdevices/t:" "$WINEPREFIX/dosdevices/r:" "$WINEPREFIX/dosdevices/s:" \
        "$WINEPREFIX/dosdevices/x:"
  mountpoint -q "$lowspace" && umount "$lowspace"
  mountpoint -q "$roomy" && umount "$roomy"
  mountpoint -q "$readonly_dir" && umount "$readonly_dir"
  mountpoint -q "$windows_temp" && umount "$windows_temp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Display: a real one when the caller has it and asks for it, else a private Xvfb.
if [ -z "${PIVORA_USE_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
  n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "with-wine: making the Wine prefix $WINEPREFIX" >&2
  wineboot -i >"$build/wineboot.log" 2>&1
  wineserver -w
  # No window manager under Xvfb: without this Wine waits 2 s on every hidden window.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  # A crashing program ends at once instead of waiting in the debugger or a crash dialog.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1 /f >/dev/null 2>&1
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1
  wineserver -w
fi

# Drive X: is a disc drive, as the product's disc or a mounted disc image is: Wine gives a drive
# the type that HKLM\Software\Wine\Drives names, read when the server starts. Its folder stays
# writable for the tests, which lay out the media there (Wine reports the volume read-only). The
# value goes to the 64-bit view, where the mount manager reads it, whichever loader runs reg.
mkdir -p "$disc"
ln -sfn "$disc" "$WINEPREFIX/dosdevices/x:"
if ! awk '/^\[Software\\\\Wine\\\\Drives\]/ { drives = 1; next } /^\[/ { drives = 0 }
          drives && /^"x:"="cdrom"/ { found = 1 } END { exit !found }' "$WINEPREFIX/system.reg"; then
  wine reg add 'HKLM\Software\Wine\Drives' /v x: /t REG_SZ /d cdrom /reg:64 /f >/dev/null 2>&1
  wineserver -w
fi
export PIVORA_DISC_DRIVE='X:'

wineserver -p
# Every session, also in a prefix made before: the dialog fonts and the screen's DPI.
# Windows draws the dialogs and message boxes of a Japanese system in the proportional MS UI
# Gothic ("MS Shell Dlg" and "MS Shell Dlg 2" stand for it); Wine has no such font and would
# take a monospaced Japanese one, whose wider texts wrap where Windows' do not. The proportional
# IPAPGothic (fonts-ipafont-gothic) takes the place of all three, and outside the Japanese
# locale also of the Western dialog fonts, which have no Japanese glyphs.
# PIVORA_DPI=144 (or another value) sets the DPI, as a user's display scaling does (144 is
# 150 %); 96 otherwise.
{
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
  fonts=("MS Shell Dlg" "MS Shell Dlg 2" "MS UI Gothic")
  [ -n "$western" ] && fonts+=(Tahoma "Microsoft Sans Serif")
  for font in "${fonts[@]}"; do printf '"%s"="IPAPGothic"\n' "$font"; done
  printf '\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "${PIVORA_DPI:-96}"
} >"$build/session$suffix.reg"
wine reg import "Z:$(printf '%s' "$build/session$suffix.reg" | tr / '\\')" >/dev/null 2>&1
wine reg query 'HKLM\Software' >/dev/null 2>&1   # warm the server and the prefix once

# Low-space drive T: (50 MiB), for the free-space refusals.
mkdir -p "$lowspace"
if mount -t tmpfs -o size=50m tmpfs "$lowspace" 2>/dev/null; then
  ln -sfn "$lowspace" "$WINEPREFIX/dosdevices/t:"
  export PIVORA_LOWSPACE_DRIVE='T:'
else
  echo "with-wine: no tmpfs could be mounted; the low-space tests will be skipped" >&2
fi
# Drive S: (205 MiB): more free space than the 200 MiB that every run asks for, less than a
# payload of about 100 MiB needs (the archive, its files and wmfdist.exe), and small enough to
# fill up while a run writes there.
mkdir -p "$roomy"
if mount -t tmpfs -o size=205m tmpfs "$roomy" 2>/dev/null; then
  ln -sfn "$roomy" "$WINEPREFIX/dosdevices/s:"
  export PIVORA_ROOMY_DRIVE='S:'
fi
# Read-only drive R: (300 MiB free, nothing can be created on it), for the work directory that
# cannot be made.
mkdir -p "$readonly_dir"
if mount -t tmpfs -o size=300m,ro tmpfs "$readonly_dir" 2>/dev/null; then
  ln -sfn "$readonly_dir" "$WINEPREFIX/dosdevices/r:"
  export PIVORA_READONLY_DRIVE='R:'
fi

# The Windows temporary folder of the main test prefix as a tmpfs of 205 MiB, like drive S:: room
# for the 200 MiB that every run asks for, too little for a payload of about 100 MiB, where an
# elevated run falls back when the user's temporary folder is no place for it.
unset PIVORA_SMALL_WINDOWS_TEMP
if [ -z "$suffix" ] && grep -q '^PIVORA_BUILD_TESTS:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null &&
   mkdir -p "$windows_temp" && mount -t tmpfs -o size=205m tmpfs "$windows_temp" 2>/dev/null; then
  export PIVORA_SMALL_WINDOWS_TEMP=1
fi

# A temporary folder that Win32 would read as another, as a user's process can lay it out: the
# link leads to "t.", which Win32 reads as "t", where every name that a run could give its work
# directory was made in advance with a file planted in it. Made once, in the main test prefix
# only: the sessions of another code page or DPI run no test that uses it.
links="$WINEPREFIX/drive_c/pivora-links"
if [ -z "$suffix" ] && grep -q '^PIVORA_BUILD_TESTS:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null &&
   [ ! -e "$links/made" ]; then
  python3 - "$links" <<'EOF_LINKS'
import os, sys
root = sys.argv[1]
os.makedirs(os.path.join(root, "t."), exist_ok=True)
for name in ["exp%X.tmp" % n for n in range(0x10000)] + ["exp.tmp"]:
    folder = os.path.join(root, "t", name)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "version.dll"), "w") as planted:
        planted.write("planted")
if not os.path.islink(os.path.join(root, "link")):
    os.symlink("t.", os.path.join(root, "link"))
open(os.path.join(root, "made"), "w").close()
EOF_LINKS
fi
# An outer session's value names a folder of its own prefix, not of this one.
unset PIVORA_LINKED_TEMP
[ -e "$links/made" ] && export PIVORA_LINKED_TEMP='C:\pivora-links\link\'

"$@"
