#!/usr/bin/env bash
# The real service throttling a real program, as a user sees it: a busy program with one
# thread runs beside Quellcore on this two-processor machine. At the slider's 40 (its
# share of about 50 lies under the limit of 60) it is left alone; at 70 it is held in
# every cycle, runs well below its free rate and is drawn red; Stop Service gives it its
# full speed back at once.
#
#   throttle.sh QUELLCORE_EXE PROBE_EXE      (run by tools/wine-run --xvfb)
source "$(dirname "$0")/common.sh"

readonly SERVICE_STOPPED=1 SERVICE_RUNNING=4

# Every letter after the first two: a new level takes a cycle to arrive and one more
# to be selected on.
after_two() { echo "${1:2}"; }

# background_probe NAME ARGS...: a probe in the background, its output in $QC_ARTIFACTS/NAME.
background_probe() {
  local name=$1
  shift
  "$QC_WINE" "$probe_exe" "$@" >"$QC_ARTIFACTS/$name" 2>/dev/null &
  background_pids+=($!)
}
# first_line_of NAME: waits up to 20 s for the background probe's first line.
first_line_of() {
  for _ in $(seq 100); do
    [ -s "$QC_ARTIFACTS/$1" ] && break
    sleep 0.2
  done
  head -1 "$QC_ARTIFACTS/$1" | tr -d '\r'
}
background_pids=()
trap 'kill "${background_pids[@]}" 2>/dev/null; finish' EXIT

say "a busy program and Quellcore"
keep_session
background_probe busy busy 150
out=$(first_line_of busy)
busy_pid=$(val pid)
expect "the busy program runs" "${busy_pid:-none}" != none
start_monitor
probe wait-window present 60 || fail "the window did not open"
probe service
expect "service running" "$(val state)" = $SERVICE_RUNNING

say "at 40 the busy program is left alone"
probe window
expect "slider at 40" "$(val slider)" = 40
probe hogs 6
expect "no snapshot marks a throttled process" "$(val pattern | tr -d .)" = ""
probe cpu "$busy_pid" 3
free=$(val percent)
expect "the busy program runs freely (% of one processor)" "$free" -ge 40

say "at 70 it is held in every cycle"
probe slider 70
probe hogs 8
held=$(after_two "$(val pattern)")
expect "snapshots after the first two" "${#held}" -ge 4
expect "every one of them marks a throttled process" "$(tr -d H <<<"$held")" = ""
probe cpu "$busy_pid" 5
throttled=$(val percent)
echo "figure: free ${free} %, at 70 ${throttled} % of one processor ($((throttled * 100 / (free > 0 ? free : 1))) % of its free rate; the duty cycle aims at about 42 %)"
expect "held well below its free rate (% of one processor)" "$((throttled * 4))" -le "$((free * 3))"

say "the Graph page shows it red"
probe window
client=$(val client) graph=$(val graph_rect)
IFS=, read -r cx cy _ _ <<<"$client"
IFS=, read -r _ _ gw gh <<<"$graph"
line_y=$(python3 -c "import math; print(math.trunc(((70 - 1) * 0.01) * $gh) + 30)")
screenshot throttled
python3 "$here/pixels.py" graph "$QC_ARTIFACTS/throttled.png" "$cx" "$cy" "$gw" "$gh" "$line_y" 100 ||
  fail "Graph page: red columns of the throttled program"

say "Stop Service gives it its full speed back"
show_tab status
probe window
IFS=, read -r ox oy _ _ <<<"$(val client)"
background_probe recovery recovery "$busy_pid" 6
first_line_of recovery >/dev/null
sleep 0.5
xdotool mousemove $((ox + button_x)) $((oy + button_y))
stop_at=$(date +%s%3N)
xdotool click 1
wait "${background_pids[-1]}"
out=$(tail -1 "$QC_ARTIFACTS/recovery" | tr -d '\r')
free_at=$(val free_at)
expect "full speed again after Stop Service" "$free_at" -gt 0
# Negative when the stop landed after the last hold had ended: nothing held it again.
echo "figure: full speed $((free_at - stop_at)) ms after Stop Service"
expect "full speed within about 1.5 s of Stop Service (ms)" "$((free_at - stop_at))" -le 2500
probe wait-service $SERVICE_STOPPED 10 || fail "the service did not stop"
