// The monitor's process-wide state and the frame handed from the link thread to the window.
#include "monitor/monitor_state.h"

#include <string.h>

#include "monitor/layout.h"

MonitorState g_monitor = {kTabGraph, kThresholdLineStart, 0, 0, 1, 0, 0, 0, 0, 0};

namespace {

// Written only under the frame lock; 28 KB, so it lives in static storage.
MonitorFrame g_frame;

}  // namespace

void monitor_state_reset() {
  memset(&g_monitor, 0, sizeof(g_monitor));
  g_monitor.selected_tab = kTabGraph;
  g_monitor.threshold_line_y = kThresholdLineStart;
  g_monitor.spare_front = 1;
  frame_lock();
  memset(&g_frame, 0, sizeof(g_frame));
  frame_unlock();
}

void publish_frame(const MonitorFrame* frame) {
  frame_lock();
  memcpy(&g_frame, frame, sizeof(g_frame));
  frame_unlock();
}

void load_frame(MonitorFrame* out) {
  frame_lock();
  memcpy(out, &g_frame, sizeof(g_frame));
  frame_unlock();
}

void send_slider_threshold(int32_t threshold) {
  flag_store(&g_monitor.slider_threshold, threshold);
  flag_store(&g_monitor.threshold_unsent, 1);
  wake_link();
}

void claim_program_in_front(uint32_t pid) {
  __atomic_store_n(&g_monitor.front_pid, pid, __ATOMIC_SEQ_CST);
  flag_store(&g_monitor.front_unsent, 1);
  wake_link();
}

void link_request_session_end() {
  flag_store(&g_monitor.session_end_unsent, 1);
  wake_link();
}

void request_service_action(int32_t action) {
  flag_store(&g_monitor.action_requested, action);
  wake_link();
}
