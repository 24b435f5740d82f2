// Checks and name arithmetic of the help command that need no Windows, so the host can
// test them: buffer results, the .tmp -> .chm name, the loader rule.
#pragma once

#include <stddef.h>

// The temporary folder is read into this many characters; the file name into MAX_PATH.
constexpr unsigned long kTempPathCapacity = 256;
constexpr int kHelpPathCapacity = 260;
// "X.tmp" is the shortest name whose extension can be swapped.
constexpr int kShortestRenamablePath = 5;
constexpr int kExtensionLength = 3;

// State of the HTML Help control loader; a control that failed once is not tried again.
enum HelpControlState {
  HELP_CONTROL_UNTRIED = 0,
  HELP_CONTROL_LOADED = 1,
  HELP_CONTROL_UNAVAILABLE = 2,
};

// True when a temporary-folder query result is a whole, terminated path in the buffer
// (0 means failure, anything from the capacity up means it did not fit).
bool temp_path_fits(unsigned long result);

// Index at which "chm" replaces the extension of the null-terminated path in a buffer
// of capacity characters; -1 when the path is too short or not terminated in the buffer.
int chm_extension_index(const wchar_t* path, int capacity);

// True when the embedded help has something to write.
bool help_resource_size_usable(unsigned long size);

// Whether the loader may try to load the control in this state.
bool help_control_should_load(int state);
// The state after one attempt.
int help_control_state_after_load(bool library_loaded, bool entry_found);
