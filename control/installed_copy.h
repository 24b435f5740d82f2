// The service's copy of the executable in Program Files, as files: the start's own image
// pinned, the copy located where the service is registered, put in place, compared by
// version, given its shortcut, and started.
#pragma once

#include <stdint.h>

#include "control/registration.h"
#include "control/scm.h"

// What the start read of its own file, and the handle that keeps the file as read.
struct PinnedImage {
  FileHandle file;
  uint64_t size;
  uint64_t digest;
};
extern PinnedImage g_pinned_image;

// Opens this executable's own file once, early, so nobody can write, rename or delete it
// while this process runs, and reads it once to know what it holds. Every copy is made
// from that handle and checked against that reading. 0 on success.
int pin_own_image();
// Writes the pinned image to a new file at `to`; 0 when all of it was written and it is
// what the start read, -1 otherwise.
int copy_pinned_image(const wchar_t* to);
// Whether the open file holds exactly what the start read.
bool matches_pinned_image(FileHandle file);

// The installed copy's paths below this machine's Program Files folder; 0 on success.
int locate_installed_copy(InstallPaths* paths);
// Whether this process runs the installed copy.
bool runs_installed_copy();
// Puts the pinned image in the installed copy's place: written beside it and then moved
// over it, so the target never names a half-written file; an installed copy a window may
// still run is set aside first. 0 with the placed file left open in *placed, so nobody
// replaces it before the caller is done; -1 with the previous copy back in place.
int place_installed_copy(const InstallPaths* paths, FileHolder* placed);

// This copy against the installed one, by the file version in their version resources.
const int32_t kCopyNewer = 0;
const int32_t kCopySame = 1;
const int32_t kCopyOlder = 2;
const int32_t kInstalledUnreadable = 3;  // missing, or without a version to compare
int32_t compare_with_installed_copy();

// Adds the Start-menu shortcut to the installed copy (best effort).
void add_start_menu_shortcut();
// Adds the Startup-folder shortcut to the installed copy (best effort): every user's
// sign-in then starts it into the notification area.
void add_startup_shortcut();

// Starts the installed copy as the signed-in user without an administrator's token: from
// an elevated process through the shell, else directly; 0 when started. With `process`
// given, it receives the new process's handle for the caller to close, or null when the
// shell started it.
int start_installed_copy(void** process = nullptr);
