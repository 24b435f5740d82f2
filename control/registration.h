// What Quellcore's registration with the service control manager holds: where the
// service's copy of the executable lives, how its command line is written, what it does
// when it fails, and whom it lets start and stop it.
#pragma once

#include <stdint.h>

const uint32_t kExecutablePathCapacity = 260;
// Room for the path, two quotes and the terminator.
const uint32_t kCommandLineCapacity = kExecutablePathCapacity + 3;

// Writes the path as the service's command line, in double quotes when it holds a space,
// so the manager cannot split it at the space. 0 on success, -1 when it does not fit.
int build_service_command_line(const wchar_t* path, wchar_t* out, uint32_t capacity);

// Where the service's copy of the executable lives: a folder of its own in Program Files,
// the file in it, the name it is written under before it is moved into place, and the name
// a replaced copy is moved aside to: a running executable cannot be overwritten, but it can
// be renamed within its folder.
struct InstallPaths {
  wchar_t folder[kExecutablePathCapacity];
  wchar_t target[kExecutablePathCapacity];
  wchar_t staging[kExecutablePathCapacity];
  wchar_t aside[kExecutablePathCapacity];
};
// Fills the paths below the given Program Files folder. 0 on success; -1 when the folder
// is not an absolute drive path or a path does not fit.
int find_install_paths(const wchar_t* program_files, InstallPaths* out);
// The same paths around a registered image: it must be "<Program Files>\Quellcore\quellcore.exe"
// for some absolute drive path, as an install of either build registers it. 0 on success.
int find_install_paths_of_image(const wchar_t* image, InstallPaths* out);
// The path a command line names, quoted or (as some installers leave it) not: the whole
// line then. 0 on success, -1 with a stray quote or when it does not fit `capacity`.
int image_of_command_line(const wchar_t* command_line, wchar_t* out, uint32_t capacity);
// Whether both name the same path, letters compared without regard to case.
bool same_path(const wchar_t* a, const wchar_t* b);
// Whether a registered command line is this path, unquoted although it holds a space, so
// the manager could start a file named by its first words.
bool command_line_needs_quotes(const wchar_t* command_line, const wchar_t* path);

// Failure actions: a restart after every failure, sooner for the first ones, the last
// delay repeated, so a service that keeps failing never leaves held programs frozen for
// long; the count starts again after a day.
const uint32_t kRestartDelaysMs[] = {2000, 10000, 60000};
const uint32_t kRestartDelayCount = sizeof(kRestartDelaysMs) / sizeof(kRestartDelaysMs[0]);
const uint32_t kFailureCountResetSeconds = 24 * 60 * 60;

// What the service grants interactive users on itself: Windows' default query rights
// (query configuration and status, enumerate dependents, interrogate, user-defined
// controls, read its security) plus start and stop. Any local user can already set the
// level through the region, and a stop releases every held process, so neither right
// lets a user hurt another; without them a standard user's window could not bring the
// service up after a reboot.
const uint32_t kInteractiveServiceRights = 0x201BD;
// SYSTEM keeps Windows' default rights plus changing the configuration, so that the
// service can keep its own failure actions and command line right.
const uint32_t kSystemServiceRights = 0x201FF;
// The service object's access list as the service sets it once, at its first start: Windows' default
// entries for SYSTEM (with the change right above), Administrators and service logons, and
// interactive users with start and stop added.
const wchar_t kServiceSecurity[] =
    L"D:(A;;CCDCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
    L"(A;;CCLCSWRPWPLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)";
