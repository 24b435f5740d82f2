#!/usr/bin/env bash
# Builds Quellcore's Windows Installer package from package/quellcore.wxs with wixl:
#
#   tools/make-msi.sh x86|x64 QUELLCORE_EXE OUT_DIR [VERSION]
#                                   writes OUT_DIR/Quellcore-<version>-<arch>.msi
#   tools/make-msi.sh --version     prints the version the packages carry
#
# The version is the resource script's PRODUCTVERSION, its first three numbers (the ones
# Windows Installer compares). VERSION overrides it, for a test package of another version.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
resource_script=$root/monitor/quellcore.rc

product_version() {
  sed -n 's/^PRODUCTVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *[0-9]*.*$/\1.\2.\3/p' \
    "$resource_script"
}

usage() {
  echo "usage: tools/make-msi.sh x86|x64 QUELLCORE_EXE OUT_DIR [VERSION] | --version" >&2
  exit 2
}

if [ "${1:-}" = --version ]; then
  product_version
  exit 0
fi
[ $# -ge 3 ] || usage
arch=$1
exe=$2
out=$3
version=${4:-$(product_version)}
case "$arch" in x86 | x64) ;; *) usage ;; esac
[ -n "$version" ] || { echo "make-msi: no PRODUCTVERSION in $resource_script" >&2; exit 1; }
[ -f "$exe" ] || { echo "make-msi: $exe is missing; build it first" >&2; exit 1; }

# wixl takes the files from the folder it runs in, under the names the source gives.
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
cp "$exe" "$staging/quellcore.exe"
cp "$root/monitor/quellcore.ico" "$staging/quellcore.ico"
name=Quellcore-$version-$arch.msi
(cd "$staging" && wixl -a "$arch" -D Version="$version" -D Arch="$arch" -o "$name" \
  "$root/package/quellcore.wxs")
# wixl leaves a shortcut's Show out: the Startup-folder shortcut starts minimized
# (SW_SHOWMINNOACTIVE), so a sign-in opens the monitor into the notification area.
(cd "$staging" && msibuild "$name" -q "UPDATE Shortcut SET ShowCmd = 7 WHERE Shortcut = 'StartupShortcut'")
mkdir -p "$out"
mv "$staging/$name" "$out/$name"
echo "$out/$name"
