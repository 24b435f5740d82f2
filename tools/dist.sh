#!/usr/bin/env bash
# Collects the release executables after the release checks have passed on each:
#
#   tools/dist.sh X86_BUILD_DIR X64_BUILD_DIR [OUT_DIR]     (make dist: build/x86 build/x64 dist)
#
#   OUT_DIR/quellcore.exe        32-bit Windows (x86), the release target
#   OUT_DIR/x64/quellcore.exe    the same sources for 64-bit Windows
#   OUT_DIR/SHA256SUMS
#
# Each executable carries its help file, icons, manifest and every other resource, and
# imports only Windows system DLLs, so it is the whole product on its own.
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: tools/dist.sh X86_BUILD_DIR X64_BUILD_DIR [OUT_DIR]" >&2; exit 2; }
x86_exe=$1/quellcore.exe
x64_exe=$2/quellcore.exe
out=${3:-dist}
here=$(cd "$(dirname "$0")" && pwd)
checker=$here/../tests/wine/release/check_pe.py

for exe in "$x86_exe" "$x64_exe"; do
  [ -f "$exe" ] || { echo "dist: $exe is missing; build it first" >&2; exit 1; }
done
python3 "$checker" --arch x86 --objdump i686-w64-mingw32-objdump "$x86_exe"
python3 "$checker" --arch x64 --objdump x86_64-w64-mingw32-objdump "$x64_exe"

# Assemble next to the target and swap it in, so a failure never leaves half a folder.
staging=$(mktemp -d "${out%/}.staging.XXXXXX")
chmod 755 "$staging"
trap 'rm -rf "$staging"' EXIT
mkdir -p "$staging/x64"
cp "$x86_exe" "$staging/quellcore.exe"
cp "$x64_exe" "$staging/x64/quellcore.exe"
(cd "$staging" && sha256sum quellcore.exe x64/quellcore.exe > SHA256SUMS)
rm -rf "$out"
mv "$staging" "$out"
trap - EXIT
echo "dist: $out/quellcore.exe (x86) and $out/x64/quellcore.exe (x86-64)"
ls -l "$out/quellcore.exe" "$out/x64/quellcore.exe"
