#include "monitor/help_path.h"

bool temp_path_fits(unsigned long result) {
  // A result equal to the capacity leaves no room for the terminator.
  return result != 0 && result < kTempPathCapacity;
}

int chm_extension_index(const wchar_t* path, int capacity) {
  if (path == nullptr || capacity <= 0) return -1;
  int length = 0;
  while (length < capacity && path[length] != L'\0') ++length;
  if (length == capacity) return -1;
  if (length < kShortestRenamablePath) return -1;
  return length - kExtensionLength;
}

bool help_resource_size_usable(unsigned long size) {
  // An empty resource would leave an empty .chm that the viewer cannot open.
  return size != 0;
}

bool help_control_should_load(int state) { return state == HELP_CONTROL_UNTRIED; }

int help_control_state_after_load(bool library_loaded, bool entry_found) {
  return library_loaded && entry_found ? HELP_CONTROL_LOADED : HELP_CONTROL_UNAVAILABLE;
}
