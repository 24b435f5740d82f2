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

namespace {

// Every record the two threads hand over is copied whole under the one lock.
void copy_locked(void* to, const void* from, size_t bytes) {
  snapshot_copy_lock();
  memcpy(to, from, bytes);
  snapshot_copy_unlock();
}

}  // namespace

void store_snapshot_copy(const UsageSnapshot* snapshot) {
  copy_locked(&g_monitor.snapshot_copy, snapshot, sizeof(UsageSnapshot));
}

void load_snapshot_copy(UsageSnapshot* out) { copy_locked(out, &g_monitor.snapshot_copy, sizeof(UsageSnapshot)); }

void store_service_report(const ServiceReport* report) { copy_locked(&g_monitor.report, report, sizeof(*report)); }

ServiceReport load_service_report() {
  ServiceReport report;
  copy_locked(&report, &g_monitor.report, sizeof(report));
  return report;
}

void store_foreground(const ForegroundClaim* claim) { copy_locked(&g_monitor.foreground, claim, sizeof(*claim)); }

ForegroundClaim load_foreground() {
  ForegroundClaim claim;
  copy_locked(&claim, &g_monitor.foreground, sizeof(claim));
  return claim;
}
