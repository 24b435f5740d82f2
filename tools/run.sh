#!/usr/bin/env bash
# make run: starts Quellcore under Wine exactly as a user would (no arguments).
#
#   tools/run.sh BUILD_DIR        (build/x86, the release executable, or build/x64)
#
# Either build runs in a 64-bit prefix, the x86 one through WoW64 as on 64-bit Windows.
# The Wine prefix lives in BUILD_DIR/run-prefix (made on first use) and the executable
# is copied to the build's Program Files\Quellcore in it. The first start installs
# the service QuellcoreSvc there, starts it and opens the window. Beside it runs a demo
# load, cpu-hog.exe: one thread that keeps a processor busy, for Quellcore to hold down.
#
# With a usable DISPLAY the window appears there and this returns once it is closed.
# Without one, a private Xvfb is used: Quellcore runs for about half a minute, the
# slider moves from 40 to 70 half way, the Graph and Status tabs are saved as
# screenshots under BUILD_DIR/run-screenshots, and the window is closed through
# File, Exit. Either way the load and the service are then stopped and the prefix's Wine
# (and the private Xvfb) shut down, so nothing is left running.
set -u

[ $# -eq 1 ] && [ -d "$1" ] || { echo "usage: tools/run.sh BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
exe=$build/quellcore.exe
# The end-to-end tests' probe doubles as the demo load and moves the slider headless.
probe_exe=$build/tests/wine/e2e/qc_e2e_probe.exe
for file in "$exe" "$probe_exe"; do
  [ -f "$file" ] || { echo "run: $file is missing; build it first" >&2; exit 1; }
done

# The PE header's machine field: 014c for x86, 8664 for x86-64.
pe_offset=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$exe" | tr -d ' ')
# Wine's own tools (wineboot, sc, net, the idle console) run as on 64-bit Windows.
wine64=/usr/lib/wine/wine64
program_files='Program Files'
if [ "$machine" = 014c ]; then
  reason=$("$(dirname "$0")/x86-runs") || { echo "run: $exe is 32-bit x86, but $reason" >&2; exit 1; }
  # The wrapper picks the 32-bit loader for the 32-bit programs.
  wine=/usr/bin/wine
  program_files='Program Files (x86)'
  echo "run: $exe is the 32-bit x86 release build; it runs through WoW64 in a 64-bit prefix"
else
  wine=$wine64
  echo "run: $exe is the x86-64 build"
fi
export WINEPREFIX=$build/run-prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No .NET or Gecko installers: Quellcore needs neither, and they would ask to download.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
install_dir="$WINEPREFIX/drive_c/$program_files/Quellcore"
win_exe="C:\\$program_files\\Quellcore\\quellcore.exe"
load_dir="$WINEPREFIX/drive_c/Demo"
win_load='C:\Demo\cpu-hog.exe'
shots=$build/run-screenshots
# Half at the slider's start (the load's share of about 50 is under the limit of 60:
# green), half at 70 (limit 30: held and drawn red). The graph takes a column every 3 s.
run_seconds=30
window_wait_seconds=60
exit_wait_seconds=15

xvfb_pid=""
monitor_pid=""
keeper_pid=""
load_pid=""

shutdown_wine() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
}

cleanup() {
  local pid
  for pid in $monitor_pid $keeper_pid $load_pid; do
    kill "$pid" 2>/dev/null
  done
  exec 8>&-
  shutdown_wine
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

service_state() {
  "$wine64" sc query QuellcoreSvc 2>/dev/null | tr -d '\r' | sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'
}

stop_service() {
  local before
  before=$(service_state)
  echo "run: service QuellcoreSvc after the window closed: ${before:-not installed}"
  if [ "$before" = RUNNING ] || [ "$before" = START_PENDING ]; then
    "$wine64" net stop QuellcoreSvc >/dev/null 2>&1
    # The service finishes its current cycle first (about a second).
    local state
    for _ in $(seq 20); do
      state=$(service_state)
      [ "$state" = STOP_PENDING ] || break
      sleep 0.5
    done
    echo "run: service QuellcoreSvc after stopping it: $state"
  fi
  stop_keeper
}

# Wine ends service processes as soon as no ordinary process is left, which never
# happens on a desktop. One idle process (a console waiting for a line that never comes)
# keeps the session, so the service outlives the window as it does on Windows.
# The line would come through a pipe that this script holds open; closing it ends the
# console program, and the pipe goes with this script in any case.
start_keeper() {
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  "$wine64" cmd /c "set /p _=" <"$fifo" >/dev/null 2>&1 &
  keeper_pid=$!
  exec 8>"$fifo"
  rm -f "$fifo"
}

stop_keeper() {
  exec 8>&-
  if [ -n "$keeper_pid" ]; then
    kill "$keeper_pid" 2>/dev/null
    wait "$keeper_pid" 2>/dev/null
  fi
  keeper_pid=""
}

display_usable() {
  [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1
}

prepare_prefix() {
  # A prefix left over from an interrupted run may still have its Wine up.
  shutdown_wine
  if [ ! -f "$WINEPREFIX/.quellcore-ready" ]; then
    echo "run: preparing the Wine prefix $WINEPREFIX (once)"
    rm -rf "$WINEPREFIX"
    DISPLAY= "$wine64" wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.quellcore-ready"
  fi
  mkdir -p "$install_dir" "$load_dir"
  cp "$exe" "$install_dir/quellcore.exe"
  cp "$probe_exe" "$load_dir/cpu-hog.exe"
}

start_load() {
  "$wine" "$win_load" busy 3600 >/dev/null 2>&1 &
  load_pid=$!
  echo "run: a demo load runs beside Quellcore: $win_load, one thread keeping a processor busy"
}

stop_load() {
  if [ -n "$load_pid" ]; then
    kill "$load_pid" 2>/dev/null
    wait "$load_pid" 2>/dev/null
    echo "run: the demo load cpu-hog.exe was stopped"
  fi
  load_pid=""
}

run_with_display() {
  echo "run: Quellcore is starting on $DISPLAY; close its window to finish"
  echo "run: move the slider above 50 to see Quellcore hold the demo load down (red columns)"
  start_keeper
  start_load
  "$wine" "$win_exe"
  echo "run: the monitor ended with exit code $?"
  stop_load
  stop_service
}

start_xvfb() {
  local fifo display_number=""
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 7 -screen 0 1024x768x24 -nolisten tcp 7>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  read -r -t 20 display_number <"$fifo"
  rm -f "$fifo"
  [ -n "$display_number" ] || { echo "run: Xvfb did not start" >&2; return 1; }
  export DISPLAY=:$display_number
}

# Screen position of the main window's top-left corner: "X Y".
window_origin() {
  local id
  id=$(xdotool search --onlyvisible --name '^Quellcore$' 2>/dev/null | head -1)
  [ -n "$id" ] || return 1
  xdotool getwindowgeometry --shell "$id" | tr '\n' ' ' | sed 's/.*X=\([0-9-]*\) Y=\([0-9-]*\).*/\1 \2/'
}

# Wine draws the menu bar inside the window; the tab strip lies right under it.
readonly menu_bar_height=19
readonly status_tab_x=70
readonly tab_strip_y=10
readonly file_menu_x=15

run_headless() {
  start_xvfb || return 1
  rm -rf "$shots"
  mkdir -p "$shots"
  echo "run: no usable DISPLAY; running Quellcore on a private Xvfb ($DISPLAY) for ${run_seconds}s"
  start_keeper
  start_load
  "$wine" "$win_exe" &
  monitor_pid=$!

  local waited=0
  until window_origin >/dev/null; do
    sleep 1
    waited=$((waited + 1))
    if [ $waited -ge $window_wait_seconds ] || ! kill -0 "$monitor_pid" 2>/dev/null; then
      echo "run: the Quellcore window did not appear" >&2
      return 1
    fi
  done
  echo "run: the window is up; service QuellcoreSvc: $(service_state)"
  sleep $((run_seconds / 2))
  "$wine" "$probe_exe" slider 70 >/dev/null 2>&1
  echo "run: slider moved to 70: processes above 30 % of the machine are now held (cpu-hog.exe turns red)"
  sleep $((run_seconds / 2))

  local x y
  read -r x y < <(window_origin)
  import -window root "$shots/graph.png"
  xdotool mousemove $((x + status_tab_x)) $((y + menu_bar_height + tab_strip_y)) click 1
  sleep 2
  import -window root "$shots/status.png"

  # File, Exit: open the File menu with a click and choose Exit by its mnemonic.
  xdotool mousemove $((x + file_menu_x)) $((y + menu_bar_height / 2)) click 1
  sleep 1
  xdotool key x
  local start=$SECONDS rc
  for _ in $(seq $((exit_wait_seconds * 2))); do
    kill -0 "$monitor_pid" 2>/dev/null || break
    sleep 0.5
  done
  if kill -0 "$monitor_pid" 2>/dev/null; then
    echo "run: File, Exit did not end the monitor within ${exit_wait_seconds}s" >&2
    return 1
  fi
  wait "$monitor_pid"
  rc=$?
  monitor_pid=""
  echo "run: closed through File, Exit; the monitor ended with exit code $rc after about $((SECONDS - start))s"
  stop_load
  stop_service
  echo "run: screenshots: $shots/graph.png (Graph tab) and $shots/status.png (Status tab)"
}

prepare_prefix
if display_usable; then
  run_with_display
else
  run_headless
fi
status=$?
cleanup
trap - EXIT
echo "run: Wine of $WINEPREFIX shut down${xvfb_pid:+, private Xvfb stopped}"
exit $status
