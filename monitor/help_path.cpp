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

int terminate_registry_string(wchar_t* buffer, int capacity, unsigned long bytes) {
  if (buffer == nullptr || capacity <= 0) return -1;
  unsigned long units = bytes / sizeof(wchar_t);
  if (units > static_cast<unsigned long>(capacity)) return -1;
  // Registry strings need not carry their terminator; add one where there is room.
  if (units < static_cast<unsigned long>(capacity)) buffer[units] = L'\0';
  int length = 0;
  while (length < capacity && buffer[length] != L'\0') ++length;
  if (length == capacity || length == 0) return -1;
  return length;
}

bool expanded_string_fits(unsigned long result, int capacity) {
  return result != 0 && capacity > 0 && result <= static_cast<unsigned long>(capacity);
}

bool help_control_should_load(int state) { return state == HELP_CONTROL_UNTRIED; }

int help_control_state_after_load(bool library_loaded, bool entry_found) {
  return library_loaded && entry_found ? HELP_CONTROL_LOADED : HELP_CONTROL_UNAVAILABLE;
}
