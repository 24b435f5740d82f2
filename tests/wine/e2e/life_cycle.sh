#!/usr/bin/env bash
# The service's life across several monitor runs on a clean prefix: first start, close
# (the service stays and publishes), a second start with the service running (no start
# request, a new announcement), a monitor-like process killed while it holds the
# command mutex, a stop with no monitor open, and a user's start that finds the
# service installed but stopped.
#
#   life_cycle.sh QUELLCORE_EXE PROBE_EXE      (run by tools/wine-run --xvfb)
source "$(dirname "$0")/common.sh"
trap finish EXIT

readonly SERVICE_STOPPED=1 SERVICE_RUNNING=4

# Waits until the region shows this monitor's announcement consumed by the service.
expect_announced() {
  local pid=$1 what=$2
  for _ in $(seq 30); do
    probe region >/dev/null
    [ "$(val monitor_pid)" = "$pid" ] && [ "$(val command)" = 0 ] && break
    [ "$(val stuck)" = 1 ] && break
    sleep 0.2
  done
  probe region
  expect "$what: announced id in the region" "$(val monitor_pid)" = "$pid"
  expect "$what: announced threshold" "$(val threshold)" = 40
  expect "$what: announcement consumed (command bits back to 0)" "$(val command)" = 0
}

expect_publishing() {
  probe clear-ready
  sleep 2.5
  probe region
  expect "$1: the service publishes" "$(val flags)" = 1
}

say "1. first start on a clean prefix"
keep_session
probe service
expect "not installed before the first start" "$(val state)" = 0
start_monitor
probe wait-window present 60 || fail "the first window did not open"
probe service
expect "service running" "$(val state)" = $SERVICE_RUNNING
service_pid=$(val pid)
probe config
expect "registered: the copy in Program Files" "$(rest path)" = "$registered_path"
probe window
first=$(val pid)
expect_announced "$first" "first monitor"
probe watch 4
expect "the first monitor takes snapshots" "$(val takes)" -ge 1

say "2. the window is closed"
probe exit-and-wait 10
expect "exit code 0" "$(val exit)" = 0
expect "ended within about 3 s (ms)" "$(val ms)" -le 6000
wait_last_monitor
expect "wine64 reports exit code 0" "$?" = 0
probe service
expect "service keeps running" "$(val state)" = $SERVICE_RUNNING
expect_publishing "window closed"

say "3. second start with the service running"
probe mark 0 0
start_monitor
probe wait-window present 60 || fail "the second window did not open"
probe window
second=$(val pid)
expect "a new monitor process" "$second" != "$first"
expect_announced "$second" "second monitor"
probe service
expect "no start request: the same service process runs on" "$(val pid)" = "$service_pid"
probe processes
expect "one service and one monitor process" "$(val quellcore_processes)" = 2

say "6. a monitor killed while it holds the command mutex does not stall the service"
coproc holder { "$QC_WINE" "$probe_exe" hold-command-mutex 55 60 2>/dev/null; }
read -r -t 20 held <&"${holder[0]}" || held=""
holder_pid=$(sed -n 's/.*pid=\([0-9]*\).*/\1/p' <<<"$held" | tr -d '\r')
expect "the holder took the command mutex" "${holder_pid:-none}" != none
# While the mutex is held the service waits at its command step and publishes nothing;
# the monitor's polls still take what was published before.
sleep 1.5
probe watch-snapshots 3
expect "service held up while the mutex is held" "$(val publishes)" = 0
probe kill "$holder_pid" || fail "could not kill the holder"
probe watch 5
expect "service publishes again after the holder died" "$(val publishes)" -ge 2
expect "the dead holder's command was taken" "$(val command)" = 0
probe service
expect "service still running" "$(val state)" = $SERVICE_RUNNING
probe exit-and-wait 10
expect "second monitor exits with 0" "$(val exit)" = 0

say "5. stopped while no monitor runs, then a user's start"
probe stop-service
probe wait-service $SERVICE_STOPPED 10 || fail "the service did not stop"
expect "stopped within about one cycle (ms)" "$(val ms)" -le 3000
probe config
expect "registration left as it was" "$(rest path)" = "$registered_path"
start_monitor
probe wait-window present 60 || fail "the third window did not open"
probe service
expect "service running again" "$(val state)" = $SERVICE_RUNNING
expect "a new service process" "$(val pid)" != "$service_pid"
probe processes
expect "one service and one monitor process" "$(val quellcore_processes)" = 2
probe window
third=$(val pid)
expect_announced "$third" "third monitor"
probe watch 4
expect "the third monitor takes snapshots" "$(val takes)" -ge 1
screenshot third_start
probe exit-and-wait 10
expect "third monitor exits with 0" "$(val exit)" = 0

probe stop-service
probe wait-service $SERVICE_STOPPED 10 || fail "the service did not stop at the end"
