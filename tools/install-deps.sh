#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing; extra
# package names given as arguments (make bench's) are installed the same way, but only
# wished for: a missing one is reported and the command goes on.
# wine32, which runs the 32-bit release build through WoW64, comes with the i386
# architecture, and only where the kernel runs 32-bit programs (tools/x86-runs tries one).
#
# A package index can fail to download for hours (a mirror in sync), so a failed
# `apt-get update` is reported and the install goes on from the lists already there. Only
# a package the build cannot do without fails the command, with its name. When wine32
# cannot be had, the reason is kept where tools/x86-runs reads it, and the i386
# architecture is taken away again if nothing of it came, so later updates still work.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
state=${QC_DEPS_STATE:-$here/../build/deps}
wine32_reason_file=$state/wine32-unavailable

needed=(
  cmake g++ make pkg-config python3
  clang-14 libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64
  xvfb xauth xdotool imagemagick
  fp-utils
  wixl msitools
  python3-pefile
)
wished=("$@")

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing_of() {
  local p
  for p in "$@"; do installed "$p" || printf '%s\n' "$p"; done
}

updated=0
apt_update() {
  [ $updated = 1 ] && return 0
  updated=1
  if ! "${sudo_cmd[@]}" apt-get update -qq >"$state/apt-update.log" 2>&1; then
    echo "install-deps: apt-get update failed; installing from the package lists already here:"
    grep -E '^(E|W):' "$state/apt-update.log" | head -3 | sed 's/^/  /'
  fi
}

# All at once first (one resolver run); when that fails, one by one, to name what failed.
# Leaves the packages still missing in `still_missing`.
still_missing=()
install_missing() {
  local missing p
  mapfile -t missing < <(missing_of "$@")
  still_missing=()
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "installing: ${missing[*]}"
  apt_update
  if ! "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >"$state/apt-install.log" 2>&1; then
    for p in "${missing[@]}"; do
      "${sudo_cmd[@]}" apt-get install -y -qq "$p" >>"$state/apt-install.log" 2>&1
    done
  fi
  mapfile -t still_missing < <(missing_of "${missing[@]}")
}

mkdir -p "$state"

install_missing "${needed[@]}"
if [ ${#still_missing[@]} -gt 0 ]; then
  echo "install-deps: could not install ${still_missing[*]}, which the build and the tests need" >&2
  exit 1
fi
if [ ${#wished[@]} -gt 0 ]; then
  install_missing "${wished[@]}"
  [ ${#still_missing[@]} -gt 0 ] && echo "install-deps: could not install ${still_missing[*]}; going on without them"
fi

if installed wine32:i386; then
  rm -f "$wine32_reason_file"
  exit 0
fi
if ! reason=$(bash "$here/x86-runs" --kernel); then
  echo "install-deps: no wine32: $reason; the x86 Wine tests will be skipped"
  exit 0
fi

# A failure an hour old is not tried again on every make: the index takes hours to heal.
if [ -n "$(find "$wine32_reason_file" -mmin -60 2>/dev/null)" ]; then
  echo "install-deps: no wine32: $(cat "$wine32_reason_file") (tried within the hour); the x86 Wine tests will be skipped"
  exit 0
fi

echo "installing: wine32 (the i386 architecture added first)"
added_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386 && added_i386=1
fi
updated=0
apt_update
if "${sudo_cmd[@]}" apt-get install -y -qq wine32:i386 >"$state/apt-install.log" 2>&1 && installed wine32:i386; then
  rm -f "$wine32_reason_file"
  exit 0
fi

why=$(grep -E '^E:' "$state/apt-install.log" | head -1 | sed 's/^E: *//')
reason="wine32 could not be installed (${why:-apt-get install failed})"
if grep -qE '^(E|W):.*i386' "$state/apt-update.log" 2>/dev/null; then
  reason="$reason; the i386 package index could not be fetched"
fi
# Also when an earlier run added it: an i386 index that cannot be fetched fails every update.
if { [ $added_i386 = 1 ] || grep -qE '^(E|W):.*i386' "$state/apt-update.log" 2>/dev/null; } &&
   ! dpkg-query -W -f='${Architecture} ${Status}\n' 2>/dev/null | grep -q '^i386 .* installed$'; then
  "${sudo_cmd[@]}" dpkg --remove-architecture i386
fi
printf '%s\n' "$reason" >"$wine32_reason_file"
echo "install-deps: no wine32: $reason; the x86 Wine tests will be skipped"
exit 0
