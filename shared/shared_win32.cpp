// The region "Global\QuellcoreRam" and the mutexes "Global\QuellcoreMutex1" (snapshot)
// and "Global\QuellcoreMutex2" (command) as kernel objects.
#include <windows.h>

#include "shared/control_block.h"

namespace {

const DWORD kRegionBytes = sizeof(SharedControlBlock);

void clear_link(SharedLink* link) {
  link->region = nullptr;
  link->view = nullptr;
  link->snapshot_mutex = nullptr;
  link->command_mutex = nullptr;
}

}  // namespace

int link_lock(LinkHandle mutex) {
  // WAIT_ABANDONED hands the mutex over all the same; the exchange goes on.
  const DWORD result = WaitForSingleObject(static_cast<HANDLE>(mutex), kLinkLockTimeoutMs);
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED ? 0 : -1;
}

void link_unlock(LinkHandle mutex) { ReleaseMutex(static_cast<HANDLE>(mutex)); }

int create_shared_link(SharedLink* link) {
  clear_link(link);
  // A present but null DACL: the monitor runs as the user, the service as LocalSystem.
  // The mutexes get it too: with LocalSystem's default security a user's monitor could
  // open the region but not the mutexes that guard it, and would never connect.
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = nullptr;
  attributes.bInheritHandle = FALSE;
  if (InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
      SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
    attributes.lpSecurityDescriptor = &descriptor;
  }
  HANDLE region = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                     kRegionBytes, kRegionName);
  if (region != nullptr) {
    link->region = region;
    link->view = static_cast<SharedControlBlock*>(
        MapViewOfFile(region, FILE_MAP_ALL_ACCESS, 0, 0, kRegionBytes));
  }
  link->snapshot_mutex = CreateMutexW(&attributes, FALSE, kSnapshotMutexName);
  link->command_mutex = CreateMutexW(&attributes, FALSE, kCommandMutexName);
  const int complete = link->view != nullptr && link->snapshot_mutex != nullptr &&
                       link->command_mutex != nullptr;
  return complete ? 0 : -1;
}

int open_shared_link(SharedLink* link) {
  clear_link(link);
  HANDLE region = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kRegionName);
  if (region == nullptr) return -1;
  void* view = MapViewOfFile(region, FILE_MAP_ALL_ACCESS, 0, 0, kRegionBytes);
  if (view == nullptr) {
    CloseHandle(region);
    return -1;
  }
  HANDLE snapshot_mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kSnapshotMutexName);
  if (snapshot_mutex == nullptr) {
    UnmapViewOfFile(view);
    CloseHandle(region);
    return -1;
  }
  HANDLE command_mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, kCommandMutexName);
  if (command_mutex == nullptr) {
    CloseHandle(snapshot_mutex);
    UnmapViewOfFile(view);
    CloseHandle(region);
    return -1;
  }
  link->region = region;
  link->view = static_cast<SharedControlBlock*>(view);
  link->snapshot_mutex = snapshot_mutex;
  link->command_mutex = command_mutex;
  return 0;
}

void close_shared_link(SharedLink* link) {
  if (link->snapshot_mutex != nullptr) CloseHandle(static_cast<HANDLE>(link->snapshot_mutex));
  if (link->command_mutex != nullptr) CloseHandle(static_cast<HANDLE>(link->command_mutex));
  if (link->region != nullptr) CloseHandle(static_cast<HANDLE>(link->region));
  // The view stays mapped until the process ends, so a late reader never faults.
  link->region = nullptr;
  link->snapshot_mutex = nullptr;
  link->command_mutex = nullptr;
}
