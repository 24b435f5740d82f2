#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing; extra
# package names given as arguments are installed the same way (make bench adds its own).
# wine32, which runs the 32-bit release build through WoW64, comes with the i386
# architecture, and only where the kernel runs 32-bit programs (tools/x86-runs tries one).
set -euo pipefail

packages=(
  cmake g++ make pkg-config python3
  clang-14 libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64
  xvfb xauth xdotool imagemagick
  fp-utils
  wixl msitools
  python3-pefile
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  exit 0
fi
if ! reason=$(bash "$(dirname "$0")/x86-runs" --kernel); then
  echo "install-deps: no wine32: $reason; the x86 Wine tests will be skipped"
  exit 0
fi
echo "installing: wine32 (the i386 architecture added first)"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq wine32:i386 >/dev/null
