// The monitor's process-wide state and the whole-record snapshot hand-over.
#include "monitor/monitor_state.h"

#include <string.h>

#include "monitor/layout.h"

MonitorState g_monitor = {
    kTabGraph, 0, kThresholdLineStart, 1, 0, 0, UsageSnapshot{}, SharedLink{}, 0, 0, 0, 0, ServiceReport{}, 1,
    ForegroundClaim{}, 0,
};

void monitor_state_reset() {
  memset(&g_monitor, 0, sizeof(g_monitor));
  g_monitor.selected_tab = kTabGraph;
  g_monitor.threshold_line_y = kThresholdLineStart;
  // The first paint draws the still empty snapshot: nothing drawn, nothing moved.
  g_monitor.column_pending = 1;
  g_monitor.spare_front = 1;
}

void store_snapshot_copy(const UsageSnapshot* snapshot) {
  snapshot_copy_lock();
  memcpy(&g_monitor.snapshot_copy, snapshot, sizeof(UsageSnapshot));
  snapshot_copy_unlock();
}

void load_snapshot_copy(UsageSnapshot* out) {
  snapshot_copy_lock();
  memcpy(out, &g_monitor.snapshot_copy, sizeof(UsageSnapshot));
  snapshot_copy_unlock();
}

void store_service_report(const ServiceReport* report) {
  snapshot_copy_lock();
  g_monitor.report = *report;
  snapshot_copy_unlock();
}

ServiceReport load_service_report() {
  snapshot_copy_lock();
  const ServiceReport report = g_monitor.report;
  snapshot_copy_unlock();
  return report;
}

void store_foreground(const ForegroundClaim* claim) {
  snapshot_copy_lock();
  g_monitor.foreground = *claim;
  snapshot_copy_unlock();
}

ForegroundClaim load_foreground() {
  snapshot_copy_lock();
  const ForegroundClaim claim = g_monitor.foreground;
  snapshot_copy_unlock();
  return claim;
}
