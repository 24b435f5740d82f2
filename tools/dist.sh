#!/usr/bin/env bash
# Collects the release executables and builds their installer packages, after the
# release checks have passed on each:
#
#   tools/dist.sh X86_BUILD_DIR X64_BUILD_DIR [OUT_DIR]     (make dist: build/x86 build/x64 dist)
#
#   OUT_DIR/quellcore.exe                        32-bit Windows (x86), the release target
#   OUT_DIR/Quellcore-<version>-x86.msi          its Windows Installer package
#   OUT_DIR/x64/quellcore.exe                    the same sources for 64-bit Windows
#   OUT_DIR/x64/Quellcore-<version>-x64.msi      its package
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
package_checker=$here/../tests/wine/release/check_msi.py
version=$(bash "$here/make-msi.sh" --version)

for exe in "$x86_exe" "$x64_exe"; do
  [ -f "$exe" ] || { echo "dist: $exe is missing; build it first" >&2; exit 1; }
done
/usr/bin/python3 "$checker" --arch x86 "$x86_exe"
/usr/bin/python3 "$checker" --arch x64 "$x64_exe"

# Assemble next to the target and swap it in, so a failure never leaves half a folder.
staging=$(mktemp -d "${out%/}.staging.XXXXXX")
chmod 755 "$staging"
trap 'rm -rf "$staging"' EXIT
mkdir -p "$staging/x64"
cp "$x86_exe" "$staging/quellcore.exe"
cp "$x64_exe" "$staging/x64/quellcore.exe"
x86_msi=$(bash "$here/make-msi.sh" x86 "$x86_exe" "$staging")
x64_msi=$(bash "$here/make-msi.sh" x64 "$x64_exe" "$staging/x64")
python3 "$package_checker" --arch x86 --version "$version" --exe "$x86_exe" "$x86_msi"
python3 "$package_checker" --arch x64 --version "$version" --exe "$x64_exe" "$x64_msi"
(cd "$staging" && sha256sum quellcore.exe "${x86_msi#"$staging/"}" x64/quellcore.exe \
  "${x64_msi#"$staging/"}" > SHA256SUMS)
rm -rf "$out"
mv "$staging" "$out"
trap - EXIT
echo "dist: $out/quellcore.exe (x86) and $out/x64/quellcore.exe (x86-64), with their packages"
ls -l "$out/quellcore.exe" "$out/Quellcore-$version-x86.msi" "$out/x64/quellcore.exe" \
  "$out/x64/Quellcore-$version-x64.msi"
