// The process entry's decision between the two roles, and the rules the service control
// client's waits follow.
#pragma once

#include <stdint.h>

enum ProcessRole { ROLE_MONITOR = 0, ROLE_SERVICE = 1 };

// Installs and starts the service as needed and says which role this process takes.
ProcessRole select_role();

// Exit codes of the service role.
const int kExitServiceEnded = -2;
const int kExitNoDispatcher = -1;

const uint32_t kExecutablePathCapacity = 260;
// Room for the path, two quotes and the terminator.
const uint32_t kCommandLineCapacity = kExecutablePathCapacity + 3;

// Writes the path as the service's command line, in double quotes when it holds a space,
// so the manager cannot split it at the space. 0 on success, -1 when it does not fit.
int build_service_command_line(const wchar_t* path, wchar_t* out, uint32_t capacity);

// Where the service's copy of the executable lives: a folder of its own in Program Files,
// the file in it, and the name it is written under before it is moved into place.
struct InstallPaths {
  wchar_t folder[kExecutablePathCapacity];
  wchar_t target[kExecutablePathCapacity];
  wchar_t staging[kExecutablePathCapacity];
};
// Fills the paths below the given Program Files folder. 0 on success; -1 when the folder
// is not an absolute drive path or a path does not fit.
int find_install_paths(const wchar_t* program_files, InstallPaths* out);
// -1 when both name the same path, letters compared without regard to case; 0 otherwise.
int same_path(const wchar_t* a, const wchar_t* b);
// -1 when a registered command line is this path, unquoted although it holds a space, so
// the manager could start a file named by its first words; 0 otherwise.
int command_line_needs_quotes(const wchar_t* command_line, const wchar_t* path);

// Failure actions of the registration: restart after about two seconds on the first two
// failures, nothing after that, and the count starts again after a day.
const uint32_t kRestartDelayMs = 2000;
const uint32_t kRestartsOnFailure = 2;
const uint32_t kFailureCountResetSeconds = 24 * 60 * 60;

// The start wait's pause for a wait hint: a tenth of it, kept within 1 to 10 seconds.
uint32_t start_wait_pause_ms(uint32_t wait_hint);
// The stop wait's pause: the wait hint, cut so it ends no later than the cap.
uint32_t stop_wait_pause_ms(uint32_t wait_hint, uint32_t elapsed_ms);

const uint32_t kStopWaitCapMs = 30000;
