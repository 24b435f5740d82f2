// The monitor's link to the service: wait for it, connect, announce, then take a
// snapshot every few seconds and have the window repaint.
#pragma once

#include <stdint.h>

#include "shared/control_block.h"

const uint32_t kServiceRetryMs = 500;
const uint32_t kSnapshotPollMs = 3000;

// What the link needs from the system; the Win32 layer fills it with the real calls,
// host tests with substitutes.
struct LinkPlatform {
  int (*service_is_running)();  // -1 yes, 0 no
  int (*start_service_and_wait)();
  void (*sleep_ms)(uint32_t milliseconds);
  int (*open_link)(SharedLink* link);  // 0, or -1 with nothing left open
  uint32_t (*current_process_id)();
  void (*repaint_main_window)();
};

// Waits until the service runs, starting it when a pause did not bring it up.
// 0 once it runs; -1 when stop_requested was set first.
int wait_for_service(const LinkPlatform* platform);

// The link thread's whole run, until stop_requested is seen or the link cannot open.
void run_monitor_link(const LinkPlatform* platform);

// From the window thread: sends the slider's value once the link is up; before that
// the announcement will carry it.
void send_slider_threshold(int32_t threshold);
