# Shared by the end-to-end scenarios: run under tools/wine-run --xvfb, which provides
# WINEPREFIX, DISPLAY, QC_ARCH, QC_WINE, QC_WINE64 and QC_ARTIFACTS. Arguments of a
# scenario: quellcore.exe and the probe, both of the build QC_ARCH names.
# shellcheck shell=bash

exe=$1
probe_exe=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
failures=0
monitor_pids=()
# The service's own copy, as the scenario sees it and as the manager has it registered.
# The prefix is 64-bit, so the x86 build's Program Files is the 32-bit one.
program_files='Program Files'
[ "$QC_ARCH" = x86 ] && program_files='Program Files (x86)'
installed_exe="$WINEPREFIX/drive_c/$program_files/Quellcore/quellcore.exe"
installed_path="C:\\$program_files\\Quellcore\\quellcore.exe"
registered_path="\"$installed_path\""

say() { echo "--- $*"; }

# probe ARGS...: runs the probe; its output line is kept in $out and echoed.
probe() {
  out=$("$QC_WINE" "$probe_exe" "$@" 2>/dev/null | tr -d '\r')
  local rc=${PIPESTATUS[0]}
  # Seen once under load: the probe process failed to start and said nothing at all.
  # A failed command that said nothing is asked once more; a real answer never is.
  if [ -z "$out" ] && [ "$rc" != 0 ]; then
    echo "probe $*: no answer (exit $rc), asked again"
    sleep 0.5
    out=$("$QC_WINE" "$probe_exe" "$@" 2>/dev/null | tr -d '\r')
    rc=${PIPESTATUS[0]}
  fi
  echo "probe $*: $out"
  return "$rc"
}

# winpath FILE: the Windows path under which Wine shows a Linux file.
winpath() { "$QC_WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# val KEY: the value of KEY=... in the last probe output.
val() { sed -n "s/.*\(^\| \)$1=\([^ ]*\).*/\2/p" <<<"$out"; }
# rest KEY: everything after KEY= to the end of the line (for texts with spaces).
rest() { sed -n "s/.*\(^\| \)$1=//p" <<<"$out"; }

fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# expect WHAT ACTUAL OP EXPECTED, with OP one of = != -le -ge -lt -gt
expect() {
  local what=$1 actual=$2 op=$3 wanted=$4 ok=1
  case "$op" in
    "=") [ "$actual" = "$wanted" ] || ok=0 ;;
    "!=") [ "$actual" != "$wanted" ] || ok=0 ;;
    *) [ -n "$actual" ] && [ "$actual" "$op" "$wanted" ] 2>/dev/null || ok=0 ;;
  esac
  if [ $ok = 1 ]; then echo "ok: $what ($actual $op $wanted)"; else fail "$what: got '$actual', want $op '$wanted'"; fi
}

# Later starts run a copy in the user's temporary folder, a place any user can write.
start_from_temp() {
  local temp copy
  temp=$("$QC_WINE" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
  copy="$("$QC_WINE" winepath -u "$temp" 2>/dev/null)/quellcore.exe"
  cp "$exe" "$copy"
  exe=$copy
}

# A user's start: no arguments. The pid of the wine64 process goes to monitor_pids.
start_monitor() {
  "$QC_WINE" "$exe" &
  monitor_pids+=($!)
}

# The Linux-side exit status of the last monitor started (the program's own code mod 256).
wait_last_monitor() {
  local pid=${monitor_pids[-1]}
  wait "$pid"
}

# A start that found a window open ends by itself: its exit code, or fails after 20 s.
expect_start_ends() {
  for _ in $(seq 40); do kill -0 "${monitor_pids[-1]}" 2>/dev/null || break; sleep 0.5; done
  if kill -0 "${monitor_pids[-1]}" 2>/dev/null; then fail "$1 did not end within 20 s"; return; fi
  wait_last_monitor
  expect "$1 exits with 0" "$?" = 0
}

screenshot() {
  import -window root "$QC_ARTIFACTS/$1.png"
  echo "screenshot: $QC_ARTIFACTS/$1.png"
}

# check_graph_page NAME THRESHOLD [MIN_RED_BAR_PIXELS]: a screenshot of the Graph page and
# what it shows: the grid on black, the threshold line where THRESHOLD puts it, and at
# least so many pixels of throttled processes' bars. 0 when all is there.
check_graph_page() {
  probe window >/dev/null
  local cx cy gw gh line_y
  IFS=, read -r cx cy _ _ <<<"$(val client)"
  IFS=, read -r _ _ gw gh <<<"$(val graph_rect)"
  line_y=$(python3 -c "import math; print(math.trunc((($2 - 1) * 0.01) * $gh) + 30)")
  screenshot "$1"
  python3 "$here/pixels.py" graph "$QC_ARTIFACTS/$1.png" "$cx" "$cy" "$gw" "$gh" "$line_y" ${3:-}
}

# tray_icon: moves the tray window that Wine's explorer draws (at the screen's top left,
# where windows open) aside, and leaves the screen place of its first icon in icon_x/icon_y.
tray_icon() {
  local tray
  tray=$(xdotool search --name '^Wine System Tray$' | head -1)
  [ -n "$tray" ] || return 1
  xdotool windowmove "$tray" 700 600
  sleep 0.5
  eval "$(xdotool getwindowgeometry --shell "$tray")"
  icon_x=$((X + HEIGHT / 2)) icon_y=$((Y + HEIGHT / 2))
}

# keys KEY...: each key as a user types it, to the main window, given the focus first.
keys() {
  local wid
  wid=$(xdotool search --name '^Quellcore$' | head -1)
  xdotool windowfocus --sync "$wid"
  for key in "$@"; do
    xdotool key --clearmodifiers "$key"
    sleep 0.3
  done
}

# click_client X Y: a left click at client coordinates of the main window.
click_client() {
  probe window >/dev/null
  local origin=$(val client)
  local ox=${origin%%,*} rest=${origin#*,}
  local oy=${rest%%,*}
  xdotool mousemove $((ox + $1)) $((oy + $2)) click 1
  sleep 0.5
}

# click_button [now]: a left click in the middle of the service button the Status page
# shows; with "now", no pause after it.
click_button() {
  probe window >/dev/null
  local x y w h
  IFS=, read -r x y w h <<<"$(val button_rect)"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
  [ "${1:-}" = now ] || sleep 0.5
}

# The tab strip lies at the top of the client area; these points hit "Graph" and "Status".
readonly graph_tab_x=20 status_tab_x=70 tab_y=10
# Both service buttons share one rectangle: (203, 38), 100 x 20.
readonly button_x=253 button_y=48

# show_tab graph|status [DPI]: the tabs' places scale with the window's DPI (96 at 100 %).
show_tab() {
  local dpi=${2:-96} x=$graph_tab_x
  [ "$1" = status ] && x=$status_tab_x
  click_client $(((x * dpi + 48) / 96)) $(((tab_y * dpi + 48) / 96))
}

# restart_wine_at_dpi DPI: the display's scale (96 is 100 %) is read when Wine starts, so
# the prefix's Wine is shut down, everything in it too, and the session kept again.
restart_wine_at_dpi() {
  "$QC_WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -k
  wineserver -w
  keep_session
}

# Wine ends a service's process as soon as no ordinary process is left (a desktop always
# has some), so one idle process keeps the session alive between the scenario's steps.
keep_session() {
  "$QC_WINE" "$probe_exe" idle 300 &
  keeper_pid=$!
}

# background_program NAME EXE ARGS...: a program in the background, its output in
# $QC_ARTIFACTS/NAME; background_probe NAME ARGS...: the probe so.
background_pids=()
background_program() {
  local name=$1 program=$2
  shift 2
  "$QC_WINE" "$program" "$@" >"$QC_ARTIFACTS/$name" 2>/dev/null &
  background_pids+=($!)
}
background_probe() { background_program "$1" "$probe_exe" "${@:2}"; }

# first_line_of NAME: waits up to 20 s for a background probe's first line.
first_line_of() {
  for _ in $(seq 100); do
    [ -s "$QC_ARTIFACTS/$1" ] && break
    sleep 0.2
  done
  head -1 "$QC_ARTIFACTS/$1" | tr -d '\r'
}

# Whatever happens, nothing of ours stays running: wine-run shuts the prefix's Wine down.
finish() {
  say "summary"
  for pid in "${monitor_pids[@]}" ${keeper_pid:-} "${background_pids[@]}"; do kill "$pid" 2>/dev/null; done
  echo "artifacts: $QC_ARTIFACTS"
  if [ "$failures" = 0 ]; then echo "PASSED"; exit 0; fi
  echo "$failures check(s) FAILED"
  exit 1
}
