// The monitor's link to the service: open the region once it exists (starting the service
// when it is installed but stopped), announce, then take a snapshot every few seconds,
// have the window repaint, and announce again to each new service process.
#pragma once

#include <stdint.h>

#include "control/service_client.h"
#include "monitor/held_programs.h"
#include "shared/control_block.h"

const uint32_t kServiceRetryMs = 500;
const uint32_t kSnapshotPollMs = 3000;

// What the link needs from the system; the Win32 layer fills it with the real calls,
// host tests with substitutes.
struct LinkPlatform {
  void (*look_at_service)(ServiceView* out);  // presence, state and process id only
  int (*start_service_and_wait)();             // 0, kRefusedForRights or -1
  void (*sleep_ms)(uint32_t milliseconds);
  int (*open_link)(SharedLink* link);  // 0, or -1 with nothing left open
  uint32_t (*current_process_id)();
  void (*repaint_main_window)();
  ResolveName resolve_name;  // a held program's image name
};

// Opens the link once the region exists; between tries it starts the service when it is
// installed but stopped. 0 once open; -1 when stop_requested was set first.
int connect_link(const LinkPlatform* platform, SharedLink* opened);

// The link thread's whole run, until stop_requested is seen.
void run_monitor_link(const LinkPlatform* platform);

// From the window thread: sends the slider's value once the link is up; before that
// the announcement will carry it.
void send_slider_threshold(int32_t threshold);
// From the window thread: the program now in front (pid 0: spare none), sent as the
// slider's value is; every announcement carries the latest claim too.
void claim_program_in_front(const ForegroundClaim* claim);
// The same, but only when it is not the program claimed last: for a look at the
// foreground that may find nothing new.
void follow_program_in_front(const ForegroundClaim* claim);
