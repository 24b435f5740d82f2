// The monitor's link to the service, and the one thread that does the monitor's I/O: it
// opens the region once it exists (starting the service when it is installed but stopped),
// announces the monitor, takes a snapshot every few seconds, looks at the service, names
// the programs held, carries out the Status page's buttons, sends the slider's level and
// the program in front, and publishes all it saw as one frame for the window to show.
#pragma once

#include <stdint.h>

#include "control/service_client.h"
#include "monitor/held_programs.h"
#include "shared/control_block.h"
#include "shared/link_pipe.h"

const uint32_t kServiceRetryMs = 500;
const uint32_t kSnapshotPollMs = 3000;
// A message the service has not acknowledged within two of its cycles is sent again; the
// replies are looked for this often meanwhile.
const uint32_t kAcknowledgeWaitMs = 2500;
const uint32_t kReplyCheckMs = 500;
// A window the service refused (its session has its monitors) announces itself again
// this much later, when one of them may have closed.
const uint32_t kRefusedRetryMs = 30000;

// News the link thread posts to the window; the window never waits for it.
enum LinkNews {
  NEWS_FRAME = 1,      // a new frame is published
  NEWS_DECLINED = 2,   // the approval to install was declined or failed
  NEWS_HAND_OVER = 3,  // installed now: the installed copy's window takes over from this one
};

// What a Status page button's action came to.
const int kActionDone = 0;
const int kActionFailed = -1;
// Done, and this window, of a copy started from elsewhere, hands over to the installed copy.
const int kActionHandOver = 1;

// What the link thread knows of a process from the system's list, without opening it.
struct ProcessFacts {
  uint64_t creation_time;
  uint32_t parent_pid;
  wchar_t name[kProgramNameCapacity];
};

// What the link needs from the system; the Win32 layer fills it with the real calls,
// host tests with substitutes.
struct LinkPlatform {
  void (*look_at_service)(ServiceView* out);  // with the rights the Status page's button needs
  int (*start_service_and_wait)();             // 0, kRefusedForRights or -1
  // Waits up to `milliseconds`; 1 when woken earlier by a request from the window.
  int (*wait_ms)(uint32_t milliseconds);
  uint32_t (*tick_ms)();
  int (*open_link)(SharedLink* link);  // 0, or -1 with nothing left open
  void (*close_link)(SharedLink* link);
  uint32_t (*current_process_id)();
  void (*tell_window)(int32_t news);
  // Takes the system's list of processes once, for the lookups that follow.
  void (*take_process_list)();
  // 0 with the facts of a process in the list last taken; -1 when it is not in it.
  int (*describe_process)(uint32_t pid, ProcessFacts* out);
  // 0 while the window's session is attached to a screen someone sees, or cannot be told.
  int (*session_disconnected)();
  // Carries out a Status page button: kActionDone, kActionFailed or kActionHandOver.
  int (*run_action)(int32_t action);
  // The link pipe. Opens it when the service process with this id serves it; 0 or -1.
  int (*open_pipe)(uint32_t service_pid);
  // 0 when the message went out whole within a bounded wait, else -1.
  int (*send_message)(const LinkRequest* request);
  // 1 with a reply that waited, 0 when none waits, -1 when the pipe broke.
  int (*take_reply)(LinkReply* out);
  void (*close_pipe)();
};

// Opens the link once the region exists; between tries it starts the service when it is
// installed but stopped. 0 once open; -1 when stop_requested was set first.
int connect_link(const LinkPlatform* platform, SharedLink* opened);

// The link thread's whole run, until stop_requested is seen; it closes what it opened.
void run_monitor_link(const LinkPlatform* platform);
