#!/usr/bin/env bash
# The Windows Installer package on a clean prefix: what an install with /qn puts in
# place, the Start-menu shortcut's target started as a user, an uninstall after the
# window closed, an install over an older package (one entry, one service, this
# version), and an uninstall that leaves nothing of Quellcore behind.
#
#   package.sh QUELLCORE_EXE PROBE_EXE PACKAGE OLDER_PACKAGE   (run by tools/wine-run --xvfb)
source "$(dirname "$0")/common.sh"
trap finish EXIT

package=$3
older=$4
version=$(basename "$package" | sed 's/^Quellcore-\(.*\)-x[0-9]*\.msi$/\1/')
readonly SERVICE_STOPPED=1 SERVICE_RUNNING=4
# Shortcuts stay inside the prefix: no menu entries on the Linux desktop.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"

# Wine's own tools run as on 64-bit Windows: 64-bit msiexec installs either package and
# the uninstaller lists both registry views. An x86 package keeps its entry in the
# 32-bit view.
msi() { "$QC_WINE64" msiexec "$1" "$(winpath "$2")" /qn; }
# The installed-programs entries named Quellcore, one product code per line.
entries() { "$QC_WINE64" uninstaller --list 2>/dev/null | tr -d '\r' | sed -n 's/|||Quellcore$//p'; }
registry_view=/reg:64
[ "$QC_ARCH" = x86 ] && registry_view=/reg:32
# reg_value KEY NAME: one value's data in the package's registry view.
reg_value() {
  "$QC_WINE64" reg query "$1" /v "$2" $registry_view 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
shortcut() { find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name Quellcore.lnk 2>/dev/null; }
folder_present() { [ -e "$(dirname "$installed_exe")" ] && echo yes || echo no; }

say "install"
keep_session
msi /i "$package"
expect "the package installs" "$?" = 0
cmp -s "$exe" "$installed_exe"
expect "quellcore.exe in Program Files, byte-identical" "$?" = 0
probe config
expect "service type own process" "$(val type)" = 16
expect "demand start" "$(val start)" = 3
expect "normal error control" "$(val error)" = 1
expect "runs as LocalSystem" "$(val account)" = LocalSystem
expect "registered with the installed file" "$(rest path | tr -d '"')" = "$installed_path"
# The package starts the service once, so its first start grants users start and stop
# before anyone uses the shortcut; it also quotes its registered path then.
probe service
expect "the package started the service" "$(val state)" = $SERVICE_RUNNING
probe config
expect "the service quoted its registered path" "$(rest path)" = "$registered_path"
probe stop-service
probe wait-service $SERVICE_STOPPED 10 || fail "the service did not stop"
link=$(shortcut | grep -v -i '/StartUp/')
expect "one Start-menu shortcut" "$(grep -c . <<<"$link")" = 1
probe shortcut "$(winpath "$link")"
target=$(rest target)
expect "the shortcut opens the installed file" "$target" = "$installed_path"
startup=$(shortcut | grep -i '/StartUp/')
expect "one Startup-folder shortcut" "$(grep -c . <<<"$startup")" = 1
probe shortcut "$(winpath "$startup")"
expect "it starts the installed file at sign-in, minimized (7)" "$(val show) $(rest target)" = "7 $installed_path"

say "the shortcut's target started as a user, the service stopped as after a reboot"
exe=$target
start_monitor
probe wait-window present 60 || fail "the window did not open"
probe service
expect "the service was started" "$(val state)" = $SERVICE_RUNNING
expect "it runs the installed file" "$(rest image)" = "$installed_path"
probe processes
expect "one service and one monitor process" "$(val quellcore_processes)" = 2
probe exit-and-wait 10
expect "the window closed with exit code 0" "$(val exit)" = 0

say "uninstall while the service runs"
msi /x "$package"
expect "the package uninstalls" "$?" = 0
probe wait-service 0 10
expect "the service was stopped and removed" "$(val state)" = 0
probe processes
expect "no Quellcore process" "$(val quellcore_processes)" = 0
expect "no shortcut" "$(shortcut)" = ""
expect "no installed-programs entry" "$(entries)" = ""
# Windows Installer waits for the stop before it removes files (the package asks it to);
# Wine's does not, so the file may still have been running when its turn came.
echo "note: Program Files\\Quellcore left by this uninstall under Wine: $(folder_present)"

say "the older package, then this one over it"
msi /i "$older"
expect "the older package installs" "$?" = 0
# It started its service; Wine's installer would replace the running file without
# waiting for the stop the upgrade asks for.
probe stop-service
probe wait-service $SERVICE_STOPPED 10 || fail "the older package's service did not stop"
msi /i "$package"
expect "this package installs over it" "$?" = 0
product=$(entries)
expect "one installed-programs entry" "$(wc -w <<<"$product")" = 1
uninstall_key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"
expect "the entry's name" "$(reg_value "$uninstall_key" DisplayName)" = Quellcore
expect "the entry's version" "$(reg_value "$uninstall_key" DisplayVersion)" = "$version"
icon=$("$QC_WINE64" reg query 'HKCR\Installer\Products' /s 2>/dev/null | tr -d '\r' |
  sed -n 's/^ *ProductIcon *REG_SZ *//p')
cmp -s "$("$QC_WINE" winepath -u "$icon" 2>/dev/null)" "$QC_SOURCE_DIR/monitor/quellcore.ico"
expect "the entry's icon is Quellcore's" "$?" = 0
probe service
expect "one service, started by the package" "$(val state)" = $SERVICE_RUNNING

say "uninstall"
# Wine's installer does not wait for the stop it asks for before it removes files; the
# stop beforehand lets this uninstall show that everything goes.
probe stop-service
probe wait-service $SERVICE_STOPPED 10 || fail "the service did not stop"
msi /x "$package"
expect "the package uninstalls" "$?" = 0
probe service
expect "no service" "$(val state)" = 0
expect "no Quellcore folder in Program Files" "$(folder_present)" = no
expect "no shortcut" "$(shortcut)" = ""
expect "no installed-programs entry" "$(entries)" = ""
