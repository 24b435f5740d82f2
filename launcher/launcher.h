// The process entry's decision between the two roles, and a user's start up to its window.
#pragma once

#include <stdint.h>

enum ProcessRole {
  ROLE_USER_START = 0,     // started by a user: the monitor's side
  ROLE_SERVICE_ENDED = 1,  // the manager started it, and the service has ended
  ROLE_NO_DISPATCHER = 2,  // the dispatcher could not start for another reason
};

// Hands this process to the service dispatcher when it may be the one the manager is
// starting, and says what became of it. A process the manager did not start is refused
// by the dispatcher at once and is a user's start.
ProcessRole select_role(uint32_t own_process_id);

// What a user's start does once the service work is done.
struct UserStart {
  int32_t then;       // kThenOpenWindow, kThenHandOver or kThenFrontAndExit
  bool ask_approval;  // the window opens and asks for an administrator's approval
  bool done;          // the planned install or replacement succeeded (or none was planned)
};
// Finds out what this start is (which copy, the service, the versions, an open window),
// and installs, replaces and starts as planned. A start into the notification area leaves
// starting a stopped service to the window's link, so it waits for nothing before its icon.
UserStart start_as_user(bool window_open, bool into_notification_area = false);

// The show commands a starter may ask for (STARTUPINFO's wShowWindow), as Windows numbers them.
const int32_t kShowMinimized = 2;        // SW_SHOWMINIMIZED
const int32_t kShowMinimize = 6;         // SW_MINIMIZE
const int32_t kShowMinNoActive = 7;      // SW_SHOWMINNOACTIVE, a shortcut's "Minimized"
const int32_t kShowForceMinimize = 11;   // SW_FORCEMINIMIZE
// Whether a start opens into the notification area with no window shown: when its starter
// asked for it minimized, as a sign-in shortcut does. Any other start shows the window.
bool starts_in_notification_area(bool show_command_given, int32_t show_command);

// Exit codes.
const int kExitServiceEnded = -2;
const int kExitNoDispatcher = -1;
// An approval's elevated copy whose install or replacement failed.
const int kExitWorkNotDone = 1;
