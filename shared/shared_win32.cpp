// The region "Global\QuellcoreRam" and the mutexes "Global\QuellcoreMutex1" (snapshot)
// and "Global\QuellcoreMutex2" (command) as kernel objects.
#include <windows.h>
#include <sddl.h>

#include "shared/control_block.h"

namespace {

const DWORD kRegionBytes = sizeof(SharedControlBlock);

const DWORD kMonitorRegionRights = FILE_MAP_READ | FILE_MAP_WRITE;
const DWORD kMonitorViewRights = FILE_MAP_WRITE;  // reads too
const DWORD kMonitorMutexRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
static_assert(kMonitorRegionRights == kRegionUserRights, "the monitor asks for what users are granted");
static_assert(kMonitorMutexRights == kMutexUserRights, "the monitor asks for what users are granted");

void clear_link(SharedLink* link) {
  link->region = nullptr;
  link->view = nullptr;
  link->snapshot_mutex = nullptr;
  link->command_mutex = nullptr;
}

// Security attributes from an access list in SDDL; the descriptor is the caller's to free
// with LocalFree. Without a descriptor the object gets the service's default security,
// which keeps users out: a safe failure, where a null access list would let anyone in.
void describe(const wchar_t* sddl, SECURITY_ATTRIBUTES* attributes) {
  attributes->nLength = sizeof(*attributes);
  attributes->lpSecurityDescriptor = nullptr;
  attributes->bInheritHandle = FALSE;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    attributes->lpSecurityDescriptor = descriptor;
  }
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
  // The monitor runs as the user, the service as LocalSystem: each object says what users
  // may do with it. The mutexes need it too, or a user's monitor could open the region but
  // not the mutexes that guard it.
  SECURITY_ATTRIBUTES region_attributes;
  SECURITY_ATTRIBUTES mutex_attributes;
  describe(kRegionSecurity, &region_attributes);
  describe(kMutexSecurity, &mutex_attributes);
  HANDLE region = CreateFileMappingW(INVALID_HANDLE_VALUE, &region_attributes, PAGE_READWRITE, 0,
                                     kRegionBytes, kRegionName);
  if (region != nullptr) {
    link->region = region;
    link->view = static_cast<SharedControlBlock*>(
        MapViewOfFile(region, FILE_MAP_WRITE, 0, 0, kRegionBytes));
  }
  link->snapshot_mutex = CreateMutexW(&mutex_attributes, FALSE, kSnapshotMutexName);
  link->command_mutex = CreateMutexW(&mutex_attributes, FALSE, kCommandMutexName);
  LocalFree(region_attributes.lpSecurityDescriptor);
  LocalFree(mutex_attributes.lpSecurityDescriptor);
  const int complete = link->view != nullptr && link->snapshot_mutex != nullptr &&
                       link->command_mutex != nullptr;
  return complete ? 0 : -1;
}

int open_shared_link(SharedLink* link) {
  clear_link(link);
  HANDLE region = OpenFileMappingW(kMonitorRegionRights, FALSE, kRegionName);
  if (region == nullptr) return -1;
  void* view = MapViewOfFile(region, kMonitorViewRights, 0, 0, kRegionBytes);
  if (view == nullptr) {
    CloseHandle(region);
    return -1;
  }
  HANDLE snapshot_mutex = OpenMutexW(kMonitorMutexRights, FALSE, kSnapshotMutexName);
  if (snapshot_mutex == nullptr) {
    UnmapViewOfFile(view);
    CloseHandle(region);
    return -1;
  }
  HANDLE command_mutex = OpenMutexW(kMonitorMutexRights, FALSE, kCommandMutexName);
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
