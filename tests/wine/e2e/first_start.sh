#!/usr/bin/env bash
# A user's first start on a clean prefix and everything the window offers, as a user
# sees it: started from the Downloads folder, the service installed from its own copy in
# Program Files and started, Start-menu and Startup-folder shortcuts, the window handed
# over to the installed copy, which spares the busy program in front; the Graph page with grid, threshold line
# and takes, the Status page, the slider's clamp, a second start, help, About, Stop and
# Start Service from the Status page, closing with File, Exit, a newer copy from Downloads
# taking the installed copy's place, a sign-in that starts it into the notification area,
# and the window again with the display at 150 %.
#
#   first_start.sh QUELLCORE_EXE PROBE_EXE      (run by tools/wine-run --xvfb)
source "$(dirname "$0")/common.sh"
trap finish EXIT

readonly SERVICE_STOPPED=1 SERVICE_RUNNING=4
readonly IDM_ABOUT=104 IDM_HELP=116

# From the last `probe window`: the client area's width and height, the tab strip's
# height, the slider's width, the graph area's width and height.
window_sizes() {
  local cw ch th sw gw gh
  IFS=, read -r _ _ cw ch <<<"$(val client)"
  IFS=, read -r _ _ _ th <<<"$(val tab_rect)"
  IFS=, read -r _ _ sw _ <<<"$(val slider_rect)"
  IFS=, read -r _ _ gw gh <<<"$(val graph_rect)"
  echo "$cw $ch $th $sw $gw $gh"
}
# The service button's place and size in client coordinates, from the last `probe window`.
button_box() {
  local cx cy x y w h
  IFS=, read -r cx cy _ _ <<<"$(val client)"
  IFS=, read -r x y w h <<<"$(val button_rect)"
  echo "$((x - cx)) $((y - cy)) $w $h"
}
# expect_150 WHAT AT_100 AT_150 SLACK: AT_150 is AT_100 at 144 DPI, rounded as Windows
# rounds, give or take SLACK pixels.
expect_150() {
  local off=$(($3 - ($2 * 144 + 48) / 96))
  expect "$1 at 150 %: $3 against $2 at 100 % (off by)" "${off#-}" -le "$4"
}

# The user's Downloads folder, a real one inside the prefix (Wine links it to the home folder).
start_from_downloads() {
  local profile
  profile=$("$QC_WINE" winepath -u "$("$QC_WINE" cmd /c echo %USERPROFILE% 2>/dev/null | tr -d '\r')" 2>/dev/null)
  downloads="$profile/Downloads"
  [ -L "$downloads" ] && rm "$downloads"
  mkdir -p "$downloads"
  cp "$exe" "$downloads/quellcore.exe"
  exe="$downloads/quellcore.exe"
}
# expect_installed_window WHAT: the window's process runs the installed copy.
expect_installed_window() {
  probe window
  probe image "$(val pid)"
  expect "$1: the window runs the installed copy" "$(rest image)" = "$installed_path"
}

say "clean prefix: no service yet"
keep_session
probe service
expect "service not installed before the first start" "$(val state)" = 0

say "first start, from the Downloads folder"
start_from_downloads
start_monitor
probe wait-window present 60 || fail "the window did not open"
wait_last_monitor
expect "the start from Downloads ends with 0 once the installed copy's window is up" "$?" = 0
expect_installed_window "first start"
link=$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -not -ipath '*/StartUp/*' -name Quellcore.lnk 2>/dev/null)
expect "one Start-menu shortcut" "$(grep -c . <<<"$link")" = 1
probe shortcut "$(winpath "$link")"
expect "the shortcut opens the installed copy" "$(rest target)" = "$installed_path"
startup=$(find "$WINEPREFIX/drive_c/ProgramData" -ipath '*/StartUp/Quellcore.lnk' 2>/dev/null)
expect "one shortcut in the common Startup folder" "$(grep -c . <<<"$startup")" = 1
probe shortcut "$(winpath "$startup")"
expect "it starts the installed copy at sign-in" "$(rest target)" = "$installed_path"
expect "minimized (7): into the notification area" "$(val show)" = 7
probe config
expect "service type own process" "$(val type)" = 16
expect "demand start" "$(val start)" = 3
expect "normal error control" "$(val error)" = 1
expect "runs as LocalSystem" "$(val account)" = LocalSystem
expect "registered: the copy in Program Files, quoted" "$(rest path)" = "$registered_path"
cmp -s "$exe" "$installed_exe"
expect "the copy is byte-identical" "$?" = 0
probe service
expect "service running after the first start" "$(val state)" = $SERVICE_RUNNING
expect "the service runs the copy" "$(rest image)" = "$installed_path"
service_pid=$(val pid)
copy_stamp=$(stat -c %i.%Y "$installed_exe")
probe processes
expect "one service and one monitor process" "$(val quellcore_processes)" = 2
probe window
monitor=$(val pid)
window=$(val window)
expect "one main window" "$(val count)" = 1
expect "Graph tab selected" "$(val tab)" = 0
expect "slider starts at 40" "$(val slider)" = 40
expect "slider shown on the Graph page" "$(val slider_visible)" = 1
expect "no service button on the Graph page" "$(rest buttons)" = ""
read -r -a sizes_100 <<<"$(window_sizes)"

say "the link connects and announces"
probe watch 3
expect "announcement consumed" "$(val command)" = 0
expect "announced threshold" "$(val threshold)" = 40
expect "announced this monitor's id" "$(val monitor_pid)" = "$monitor"

say "a second reader takes every snapshot, and the window's graph still takes a column at each poll"
# The service publishes about every 1.2 s and the window polls every 3 s; a loaded machine
# stretches both a little.
probe columns 12
echo "figure: beside the window, a second reader took $(val taken) snapshots in 12 s; the graph took $(val columns) columns"
expect "the second reader took the snapshots of 12 s" "$(val taken)" -ge 5
expect "the window's graph took a column at each of its polls meanwhile" "$(val columns)" -ge 3

say "the installed copy's window spares a busy program in front"
probe slider 100
background_probe front busy-front 20
out=$(first_line_of front); front=$(val pid)
expect "the busy program's window is in front" "$(val front)" = 1
sleep 5  # the claim and the level reach the service, and a pass spares it
probe hogs 5
expect "the service spares the program in front" "$(val spared)" = "$front"
expect "and never holds it" "$(grep -c "\b$front\b" <<<"$(val held)")" = 0
kill "${background_pids[-1]}" 2>/dev/null
probe slider 40

say "Graph page"
check_graph_page graph 40 || fail "Graph page: grid on black and the threshold line at 40"

say "Status page"
show_tab status
probe window
expect "Status tab selected" "$(val tab)" = 1
expect "slider hidden on the Status page" "$(val slider_visible)" = 0
expect "only Stop Service shown while the service runs" "$(rest buttons)" = "Stop Service"
screenshot status
read -r -a button_100 <<<"$(button_box)"
IFS=, read -r cx cy _ _ <<<"$(val client)"
python3 "$here/pixels.py" status "$QC_ARTIFACTS/status.png" "$cx" "$cy" || fail "Status page: plain page with its text"
show_tab graph
probe window
expect "back on the Graph tab" "$(val tab)" = 0
expect "slider shown again" "$(val slider_visible)" = 1

say "slider: a drag inside the range is kept, a drag to 10 comes back to 40"
probe window
IFS=, read -r sx sy _ sh <<<"$(val slider_rect)"
# Thumb centre on the screen for a position: the channel leaves 13 pixels at each end.
thumb_y() { echo $((sy + 13 + $1 * (sh - 26) / 100)); }
drag_slider() {
  xdotool mousemove $((sx + 13)) "$(thumb_y "$1")" mousedown 1
  sleep 0.3
  xdotool mousemove $((sx + 13)) $(($(thumb_y "$1") + ($(thumb_y "$2") - $(thumb_y "$1")) / 2))
  sleep 0.3
  xdotool mousemove $((sx + 13)) "$(thumb_y "$2")"
  sleep 0.3
  xdotool mouseup 1
  sleep 1
}
probe mark 77 "$monitor"
drag_slider 40 70
probe window
kept=$(val slider)
expect "slider dragged to about 70" "$kept" -ge 67
expect "slider dragged to about 70" "$kept" -le 73
probe region
expect "the dragged value was sent" "$(val threshold)" = "$kept"
drag_slider "$kept" 10
probe window
expect "slider dragged to 10 comes back to 40" "$(val slider)" = 40
probe region
expect "the clamped value 40 was sent" "$(val threshold)" = 40

say "second start while the window is open, with another program in front"
"$QC_WINE" notepad &
other_pid=$!
for _ in $(seq 40); do
  probe window >/dev/null
  [ "$(val foreground)" = 0 ] && break
  sleep 0.5
done
probe window
expect "another program's window is in front" "$(val foreground)" = 0
start_monitor
expect_start_ends "second start"
probe window
expect "still one main window" "$(val count)" = 1
expect "the first window is the one shown" "$(val window)" = "$window"
expect "the first window is brought to the front" "$(val foreground)" = 1
probe service
expect "the second start opened the same service" "$(val pid)" = "$service_pid"
expect "the second start copied nothing" "$(stat -c %i.%Y "$installed_exe")" = "$copy_stamp"
expect "no staging file left" "$(ls "$installed_exe".new 2>/dev/null)" = ""
kill "$other_pid" 2>/dev/null
wait "$other_pid" 2>/dev/null

say "help"
probe help-files "$(winpath "$exe")"
before=$(val copies)
probe post $IDM_HELP
sleep 3
probe help-files "$(winpath "$exe")"
expect "the help command leaves a new .chm" "$(val copies)" = $((before + 1))
expect "every .chm is the embedded help, byte for byte" "$(val identical)" = "$(val copies)"
probe close-others
sleep 1

say "About box"
probe post $IDM_ABOUT
probe about present 10 || fail "About box did not open"
expect "About box owned by the main window" "$(val owner_is_main)" = 1
expect "About box has OK" "$(val ok_text)" = OK
expect "main window disabled while the box is open" "$(val main_enabled)" = 0
screenshot about
IFS=, read -r bx by bw bh <<<"$(val ok_rect)"
xdotool mousemove $((bx + bw / 2)) $((by + bh / 2)) click 1
probe about absent 5 || fail "OK did not close the About box"
expect "main window enabled again" "$(val main_enabled)" = 1
probe post $IDM_ABOUT
probe about present 10 || fail "About box did not open the second time"
xdotool key Escape
probe about absent 5 || fail "Esc did not close the About box"

say "Stop Service and Start Service from the Status page"
show_tab status
click_client $button_x $button_y
probe wait-service $SERVICE_STOPPED 35 || fail "Stop Service did not stop the service"
# A stopped service sends no snapshot, so the page changes at its next repaint.
show_tab graph
show_tab status
probe window
expect "only Start Service shown once stopped" "$(rest buttons)" = "Start Service"
screenshot status_stopped
probe mark 40 0
click_client $button_x $button_y
probe wait-service $SERVICE_RUNNING 35 || fail "Start Service did not start the service"
probe watch 7
expect "the new service process heard the monitor's announcement again" "$(val monitor_pid)" = "$monitor"
probe window
expect "Stop Service shown again after a snapshot's repaint" "$(rest buttons)" = "Stop Service"
show_tab graph
probe columns 7
expect "the graph takes snapshots again" "$(val columns)" -ge 1

say "close with File, Exit"
probe exit-and-wait 10
expect "the monitor ended" "$(val exited)" = 1
expect "exit code 0" "$(val exit)" = 0
expect "ended within about 3 s of File, Exit (ms)" "$(val ms)" -le 6000
probe service
expect "service keeps running after the window closed" "$(val state)" = $SERVICE_RUNNING
probe clear-ready
sleep 2.5
probe region
expect "service keeps publishing with no monitor" "$(val flags)" = 1

say "a newer copy from Downloads takes the installed copy's place and hands over to it"
probe service
old_service=$(val pid)
older=$exe
exe="$downloads/quellcore-newer.exe"
# One more in the file version's minor number; nothing else of the file changes.
python3 - "$older" "$exe" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.index(struct.pack("<I", 0xFEEF04BD)) + 8
struct.pack_into("<I", data, at, struct.unpack_from("<I", data, at)[0] + 1)
open(sys.argv[2], "wb").write(data)
PY
start_monitor
probe wait-window present 60 || fail "the window did not open after the newer copy's start"
wait_last_monitor
expect "the newer copy's start ends with 0" "$?" = 0
cmp -s "$exe" "$installed_exe"
expect "the installed copy is now the newer one, byte for byte" "$?" = 0
expect "the old copy set aside is gone" "$(ls "$installed_exe".old 2>/dev/null)" = ""
probe service
expect "the service runs again" "$(val state)" = $SERVICE_RUNNING
expect "a new service process, of the new copy" "$(val pid)" != "$old_service"
expect_installed_window "after the replacement"
probe exit-and-wait 10
exe=$older

probe stop-service
probe wait-service $SERVICE_STOPPED 10 || fail "service did not stop at the end"

say "a sign-in: the Startup folder starts the installed copy into the notification area, and it starts the service"
wineserver -k
wineserver -w
keep_session
# With no option wineboot does the shell's after-log-in work: the Run keys and the Startup
# folder. Windows' shell runs the common Startup folder and starts a shortcut with its show
# command; Wine's runs only the user's folder, and its link object drops the show command
# (a shortcut saved with 7 starts with 1). So the user's folder gets what Windows makes of
# the shortcut checked above: its target, started minimized.
user_startup="$("$QC_WINE" winepath -u "$("$QC_WINE" cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null)/Microsoft/Windows/Start Menu/Programs/StartUp"
mkdir -p "$user_startup"
printf 'start "" /min "%s"\r\n' "$installed_path" >"$user_startup/quellcore.bat"
# The log-in's work follows a session that is up, as on Windows: seen once, a wineboot run
# while the new session still started left no trace of the start.
for _ in $(seq 20); do probe service >/dev/null && [ -n "$out" ] && break; sleep 0.5; done
timeout 60 "$QC_WINE64" wineboot >/dev/null 2>&1
probe wait-service $SERVICE_RUNNING 60 || fail "the sign-in start did not start the stopped service"
for _ in $(seq 40); do probe window >/dev/null && break; sleep 0.5; done
probe window
expect "a monitor runs after the sign-in" "$(val count)" = 1
expect "with no window shown" "$(val visible)" = 0
probe image "$(val pid)"
expect "it is the installed copy" "$(rest image)" = "$installed_path"
probe processes
expect "one service and one monitor process" "$(val quellcore_processes)" = 2
tray_icon || fail "no tray window"
# The tip follows the frames; the service has just started, so it is read again for a while.
for _ in $(seq 5); do
  xdotool mousemove 900 700
  sleep 0.3
  xdotool mousemove "$icon_x" "$icon_y"
  sleep 2
  probe tooltip tray
  [ "$(rest tip)" = "Quellcore: nothing held" ] && break
done
screenshot tray_tooltip
expect "the icon's tooltip says so" "$(rest tip)" = "Quellcore: nothing held"
xdotool click 3
sleep 1
screenshot tray_menu
xdotool key Escape
sleep 0.5
xdotool mousemove "$icon_x" "$icon_y" click 1
probe wait-window present 10 || fail "a click on the icon did not open the window"
probe end-session 15
expect "a sign-out: the monitor agrees" "$(val agreed)" = 1
expect "and ends as with Exit, with 0" "$(val exited) $(val exit)" = "1 0"

say "at 150 %: the window and its controls 1.5 times their size at 100 %, and sharp"
restart_wine_at_dpi 144
start_monitor
probe wait-window present 60 || fail "the window did not open at 150 %"
probe window
read -r -a sizes_150 <<<"$(window_sizes)"
names=("client width" "client height" "tab strip height" "slider width" "graph width" "graph height")
# The graph area is what the tab control leaves: its tabs' height follows the font,
# their margins stay as the control draws them, so a few pixels of slack.
slack=(0 0 0 0 6 6)
for i in "${!names[@]}"; do expect_150 "${names[$i]}" "${sizes_100[$i]}" "${sizes_150[$i]}" "${slack[$i]}"; done
screenshot graph_150
show_tab status 144
probe window
expect "Status page at 150 %" "$(rest buttons)" = "Stop Service"
read -r -a button_150 <<<"$(button_box)"
names=("button x" "button y" "button width" "button height")
for i in "${!names[@]}"; do expect_150 "${names[$i]}" "${button_100[$i]}" "${button_150[$i]}" 0; done
screenshot status_150
