// The region "Global\QuellcoreRam" and the mutexes "Global\QuellcoreMutex1" (snapshot)
// and "Global\QuellcoreMutex2" (command) as kernel objects.
#include <windows.h>
#include <sddl.h>
#include <aclapi.h>

#include "shared/control_block.h"

namespace {

const DWORD kRegionBytes = sizeof(SharedControlBlock);

const DWORD kMonitorRegionRights = FILE_MAP_READ | FILE_MAP_WRITE;
const DWORD kMonitorViewRights = FILE_MAP_WRITE;  // reads too
const DWORD kMonitorMutexRights = SYNCHRONIZE | READ_CONTROL | MUTEX_MODIFY_STATE;
static_assert(kMonitorRegionRights == kRegionUserRights, "the monitor asks for what users are granted");
static_assert(kMonitorMutexRights == kMutexUserRights, "the monitor asks for what users are granted");

void clear_link(SharedLink* link) {
  link->region = nullptr;
  link->view = nullptr;
  link->snapshot_mutex = nullptr;
  link->command_mutex = nullptr;
}

// Each closes or frees what it holds on every path out of a scope, unless it was taken.
struct HandleHolder {
  HANDLE handle;
  explicit HandleHolder(HANDLE held) : handle(held) {}
  ~HandleHolder() {
    if (handle != nullptr) CloseHandle(handle);
  }
  HANDLE take() {
    HANDLE held = handle;
    handle = nullptr;
    return held;
  }
  HandleHolder(const HandleHolder&) = delete;
  HandleHolder& operator=(const HandleHolder&) = delete;
};

struct ViewHolder {
  void* view;
  explicit ViewHolder(void* held) : view(held) {}
  ~ViewHolder() {
    if (view != nullptr) UnmapViewOfFile(view);
  }
  void* take() {
    void* held = view;
    view = nullptr;
    return held;
  }
  ViewHolder(const ViewHolder&) = delete;
  ViewHolder& operator=(const ViewHolder&) = delete;
};

// Security attributes from an access list in SDDL, their descriptor freed with them.
// Without a descriptor the object gets the service's default security, which keeps users
// out: a safe failure, where a null access list would let anyone in.
struct Described {
  SECURITY_ATTRIBUTES attributes;
  explicit Described(const wchar_t* sddl) {
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = FALSE;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
      attributes.lpSecurityDescriptor = descriptor;
    }
  }
  ~Described() { LocalFree(attributes.lpSecurityDescriptor); }
  Described(const Described&) = delete;
  Described& operator=(const Described&) = delete;
};

// Whether LocalSystem or the Administrators own the object: only they can have made it
// as the service does. A standard user's object of the same name is anyone's trap.
bool owned_by_system(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool trusted = owner != nullptr && (IsWellKnownSid(owner, WinLocalSystemSid) ||
                                            IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
  LocalFree(descriptor);
  return trusted;
}

// CreateMutexW hands over an existing mutex and ignores the access list it was given, so
// one that already existed is kept only when it is the system's own. Null otherwise, with
// *taken set when it was a stranger's.
HANDLE create_own_mutex(SECURITY_ATTRIBUTES* security, const wchar_t* name, bool* taken) {
  HANDLE mutex = CreateMutexW(security, FALSE, name);
  if (mutex == nullptr) {
    // The name is taken by another kind of object, or by a mutex that denies the system.
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_HANDLE) *taken = true;
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS && !owned_by_system(mutex)) {
    CloseHandle(mutex);
    *taken = true;
    return nullptr;
  }
  return mutex;
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
  Described region_security(kRegionSecurity);
  Described mutex_security(kMutexSecurity);
  HANDLE region = CreateFileMappingW(INVALID_HANDLE_VALUE, &region_security.attributes, PAGE_READWRITE, 0,
                                     kRegionBytes, kRegionName);
  if (region != nullptr) {
    link->region = region;
    link->view = static_cast<SharedControlBlock*>(MapViewOfFile(region, FILE_MAP_WRITE, 0, 0, kRegionBytes));
  }
  bool taken = false;
  link->snapshot_mutex = create_own_mutex(&mutex_security.attributes, kSnapshotMutexName, &taken);
  link->command_mutex = create_own_mutex(&mutex_security.attributes, kCommandMutexName, &taken);
  if (taken) {
    close_shared_link(link);
    link->view = nullptr;
    return kLinkNamesTaken;
  }
  const int complete = link->view != nullptr && link->snapshot_mutex != nullptr &&
                       link->command_mutex != nullptr;
  return complete ? 0 : -1;
}

int open_shared_link(SharedLink* link) {
  clear_link(link);
  HandleHolder region(OpenFileMappingW(kMonitorRegionRights, FALSE, kRegionName));
  if (region.handle == nullptr) return -1;
  ViewHolder view(MapViewOfFile(region.handle, kMonitorViewRights, 0, 0, kRegionBytes));
  HandleHolder snapshot_mutex(OpenMutexW(kMonitorMutexRights, FALSE, kSnapshotMutexName));
  HandleHolder command_mutex(OpenMutexW(kMonitorMutexRights, FALSE, kCommandMutexName));
  if (view.view == nullptr || snapshot_mutex.handle == nullptr || command_mutex.handle == nullptr) return -1;
  // A mutex another user made before the service ran: waiting on it would hand that user
  // every exchange, so the window does not use it.
  if (!owned_by_system(snapshot_mutex.handle) || !owned_by_system(command_mutex.handle)) return kLinkNamesTaken;
  link->region = region.take();
  link->view = static_cast<SharedControlBlock*>(view.take());
  link->snapshot_mutex = snapshot_mutex.take();
  link->command_mutex = command_mutex.take();
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
