#!/usr/bin/env bash
# The set-up script on a machine whose package index is broken: a stand-in apt-get fails
# every update on the i386 index and cannot install wine32, stand-in dpkg tools keep the
# architectures in a file and report every other package installed. The script must exit 0,
# say why there is no wine32, take the i386 architecture away again, and tools/x86-runs must
# give the same reason. A needed package that cannot be had must fail it, by name.
set -u
top=$(cd "$(dirname "$0")/../../.." && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/state"
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }

cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
case "$1" in
  update) echo "E: Failed to fetch http://deb.example/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (1234 != 5678). Mirror sync in progress?" >&2; exit 100 ;;
  install) for p in "$@"; do case "$p" in wine32:i386|$QC_STUB_REFUSE)
      echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;; esac; done
    shift; for p in "$@"; do case "$p" in -*) ;; *) echo "$p" >>"$QC_STUB/installed" ;; esac; done ;;
esac
STUB
cat >"$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
pkg=${@: -1}
case "$*" in *Architecture*) exit 0 ;; esac
case "$pkg" in wine32:i386|$QC_STUB_MISSING) grep -qx "$pkg" "$QC_STUB/installed" 2>/dev/null || exit 1 ;; esac
echo "install ok installed"
STUB
cat >"$work/bin/dpkg" <<'STUB'
#!/usr/bin/env bash
case "$1" in
  --print-foreign-architectures) cat "$QC_STUB/arches" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$QC_STUB/arches" ;;
  --remove-architecture) grep -vx "$2" "$QC_STUB/arches" >"$QC_STUB/arches.new"; mv "$QC_STUB/arches.new" "$QC_STUB/arches" ;;
esac
STUB
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH" QC_STUB=$work QC_DEPS_STATE=$work/state QC_ASSUME_X86_KERNEL=1
export QC_STUB_REFUSE=none QC_STUB_MISSING=cpulimit

out=$(bash "$top/tools/install-deps.sh" cpulimit 2>&1); rc=$?
echo "$out"
check "exits 0 on a broken index" '[ $rc = 0 ]'
check "says the update failed" 'grep -q "apt-get update failed" <<<"$out"'
check "a wished package is installed all the same" 'grep -qx cpulimit "$work/installed"'
check "says in one line why there is no wine32" '[ $(grep -c "no wine32: wine32 could not be installed.*i386 package index" <<<"$out") = 1 ]'
check "the i386 architecture is taken away again" '! grep -qx i386 "$work/arches" 2>/dev/null'
reason=$(bash "$top/tools/x86-runs"); xrc=$?
check "x86-runs gives the reason" '[ $xrc = 1 ] && grep -q "wine32 could not be installed" <<<"$reason"'
out=$(bash "$top/tools/install-deps.sh" 2>&1); rc=$?
check "a failure within the hour is not tried again" '[ $rc = 0 ] && grep -q "tried within the hour" <<<"$out" && ! grep -q "^installing: wine32" <<<"$out"'

out=$(QC_STUB_REFUSE=wixl QC_STUB_MISSING=wixl bash "$top/tools/install-deps.sh" 2>&1); rc=$?
check "a needed package that cannot be had fails, by name" '[ $rc != 0 ] && grep -q "could not install wixl" <<<"$out"'
out=$(QC_STUB_REFUSE=gnuplot-nox QC_STUB_MISSING=gnuplot-nox bash "$top/tools/install-deps.sh" gnuplot-nox 2>&1); rc=$?
check "a wished package that cannot be had does not" '[ $rc = 0 ] && grep -q "could not install gnuplot-nox; going on" <<<"$out"'
exit $fail
