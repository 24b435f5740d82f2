// The monitor's process-wide state and the whole-record snapshot hand-over.
#include "monitor/monitor_state.h"

#include <string.h>

#include "monitor/layout.h"

MonitorState g_monitor = {
    kTabGraph, 0, kThresholdLineStart, 1, 0, 0, UsageSnapshot{}, SharedLink{}, 0, 0, 0, 0,
};

void monitor_state_reset() {
  memset(&g_monitor, 0, sizeof(g_monitor));
  g_monitor.selected_tab = kTabGraph;
  g_monitor.threshold_line_y = kThresholdLineStart;
  // The first paint draws the still empty snapshot: nothing drawn, nothing moved.
  g_monitor.column_pending = 1;
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
