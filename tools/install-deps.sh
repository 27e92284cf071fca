#!/usr/bin/env bash
# Installs what the build and the tests need on Debian, and nothing when all of it is there:
# the mingw-w64 i686 cross compilers, Wine with its 32-bit part, Xvfb, CMake, the GoogleTest
# sources, a Japanese font for the dialogs, and the signing and PE tools.
set -eu
packages=(cmake g++ make g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          zlib1g-dev libz-mingw-w64-dev
          wine wine32:i386 wine64 xvfb xauth googletest fonts-ipafont-gothic osslsigncode openssl
          python3 python3-pefile util-linux locales)

# Wine names files on the Linux side in the locale's character set: without ja_JP.UTF-8 a
# Japanese file or folder name cannot be made at all; en_US.UTF-8 is the locale of the sessions
# of code page 1252, whose tests use names beyond it.
make_locale() {
  for name in ja_JP en_US; do
    locale -a 2>/dev/null | grep -qix "$name.utf8" && continue
    echo "install-deps: generating the $name.UTF-8 locale" >&2
    localedef -i "$name" -f UTF-8 "$name.UTF-8"
  done
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  make_locale
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}" >&2
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "${missing[@]}"
make_locale
