// The monitor's process-wide state shared by the window thread and the link thread.
#pragma once

#include <stdint.h>

#include "shared/usage_snapshot.h"
#include "shared/control_block.h"

struct MonitorState {
  int32_t selected_tab;
  // Written by the window thread, read once by the link thread for its announcement.
  volatile int32_t slider_threshold;
  int32_t threshold_line_y;
  // Graph requests: set by the link thread and the slider, cleared by the paint.
  volatile int32_t column_pending;
  volatile int32_t scroll_pending;
  // Set by the entry after the message loop; the link thread ends when it sees it.
  volatile int32_t stop_requested;
  // The newest snapshot taken from the service; guarded by the snapshot copy lock.
  UsageSnapshot snapshot_copy;
  // Filled once by the link thread; the window thread may use it only once link_ready.
  SharedLink link;
  volatile int32_t link_ready;
  // Set when the window thread could not have the command mutex in time; the link
  // thread then sends the slider's value at its next poll.
  volatile int32_t threshold_unsent;
  // What the link thread last saw of the service (link thread only).
  int32_t service_presence;
  uint32_t service_state;
  // The service's report beside the newest snapshot; guarded by the snapshot copy lock.
  ServiceReport report;
  // Whether the program in front is spared (the File menu's check, on at every start).
  volatile int32_t spare_front;
  // The program in front as last claimed, guarded by the snapshot copy lock; unsent when
  // the window thread could not have the command mutex in time.
  ForegroundClaim foreground;
  volatile int32_t foreground_unsent;
};

extern MonitorState g_monitor;

// Back to the state of a freshly loaded process.
void monitor_state_reset();

// Atomic flag access; exchanges order every write before them.
inline void flag_store(volatile int32_t* flag, int32_t value) {
  __atomic_exchange_n(flag, value, __ATOMIC_SEQ_CST);
}
inline int32_t flag_take(volatile int32_t* flag) {
  return __atomic_exchange_n(flag, 0, __ATOMIC_SEQ_CST);
}
inline int32_t flag_read(const volatile int32_t* flag) {
  return __atomic_load_n(flag, __ATOMIC_SEQ_CST);
}

// Guards snapshot_copy between the link thread's store and the paint's load; held
// only for one 1024-byte copy. Supplied by the Win32 layer, or by a host substitute.
void snapshot_copy_lock();
void snapshot_copy_unlock();

// Replaces snapshot_copy as a whole record.
void store_snapshot_copy(const UsageSnapshot* snapshot);
// Copies snapshot_copy out as a whole record, so a column is drawn from one snapshot.
void load_snapshot_copy(UsageSnapshot* out);
void store_service_report(const ServiceReport* report);
ServiceReport load_service_report();
void store_foreground(const ForegroundClaim* claim);
ForegroundClaim load_foreground();
