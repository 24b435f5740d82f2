// The monitor's process-wide state: what the window thread asks of the link thread, and the
// frame the link thread publishes back, which is all the window shows.
#pragma once

#include <stdint.h>

#include "control/service_client.h"
#include "monitor/held_programs.h"
#include "shared/control_block.h"
#include "shared/usage_snapshot.h"

// What a Status page button asks the link thread to do with the service.
enum ServiceAction {
  ACTION_NONE = 0,
  ACTION_START = 1,
  ACTION_STOP = 2,
  ACTION_INSTALL = 3,
  // A first start that may not install: ask for an administrator's approval once.
  ACTION_ASK_TO_INSTALL = 4,
};

// Everything the window shows, as the link thread last saw it, published whole after each
// poll, so that a paint never mixes two polls and never asks anyone anything.
struct MonitorFrame {
  int32_t columns;         // columns the graph has scrolled in since start
  UsageSnapshot snapshot;  // the newest taken, drawn as the newest column
  ServiceReport report;    // the service's report beside it
  ServiceView service;     // the service as the manager described it at the last look
  int32_t action;          // the button action under way, ACTION_NONE when none
  int32_t actions_taken;   // button actions the link thread has taken up since start
  HeldHistory held;        // who was held in each column, and their names
};

struct MonitorState {
  // The window thread's own.
  int32_t selected_tab;
  int32_t threshold_line_y;
  // From the window thread to the link thread, which sends each value once it can; an
  // "unsent" flag is raised after its value is written.
  volatile int32_t slider_threshold;
  volatile int32_t threshold_unsent;
  volatile int32_t spare_front;  // the File menu's check, on at every start
  volatile uint32_t front_pid;   // the program in front as the window found it; 0 for none
  volatile int32_t front_unsent;
  volatile int32_t action_requested;
  // Set by the entry after the message loop; the link thread ends when it sees it.
  volatile int32_t stop_requested;
  volatile int32_t session_end_unsent;  // the window's session is ending
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

// Guards the published frame between the link thread's store and the window's load; held
// only for one copy. Supplied by the Win32 layer, or by a host substitute.
void frame_lock();
void frame_unlock();
// Wakes the link thread for a request the window thread just made. Supplied likewise.
void wake_link();

// From the window thread, never waiting: the slider's level, the program now in front
// (pid 0: spare none) and a button's action, each carried out by the link thread.
void send_slider_threshold(int32_t threshold);
void claim_program_in_front(uint32_t pid);
void request_service_action(int32_t action);
// The window's session ends (its WM_QUERYENDSESSION): the service is told to hold nothing
// of this session any more, before the link thread next looks at stop_requested.
void link_request_session_end();

// Replaces the published frame as a whole record.
void publish_frame(const MonitorFrame* frame);
// Copies the published frame out as a whole record.
void load_frame(MonitorFrame* out);
