// The engine's platform operations over Win32: the system's process information, who a
// process is, the threads that list records, thread suspension, ticks and sleeps.
#include <windows.h>
#include <winternl.h>
#include <stddef.h>

#include "engine/platform.h"
#include "engine/system_image.h"
#include "shared/service_facts.h"
#include "winapi/dyn_calls_win32.h"
#include "winapi/process_list_win32.h"

namespace {

// Longer image paths are never taken for the service's own: a refused monitor is only
// left unprotected, while a wrong match would exempt a stranger.
const DWORD kImagePathCapacity = 1024;
const ULONG kProcessBreakOnTermination = 29;
const LONG kStatusNotImplemented = static_cast<LONG>(0xC0000002);
const LONG kStatusInvalidInfoClass = static_cast<LONG>(0xC0000003);
const LONG kStatusAccessDenied = static_cast<LONG>(0xC0000022);
// Volatile: the key lives in memory only, outlasts the service's process and is gone at
// reboot, when no thread can still be suspended.
const wchar_t kRecordKey[] = L"SYSTEM\\CurrentControlSet\\Services\\" QC_SERVICE_NAME L"\\HeldThreads";
const wchar_t kRecordValue[] = L"Threads";

// The one process list, kept for the service's life, and the offset of the next record
// to read (past the end once the walk is over).
SystemProcessList g_process_list;
ULONG g_cursor = 0;

// The walk over the threads that the kept process list records: the process record's
// offset and the next thread in it.
struct ThreadWalk {
  ULONG record;
  ULONG thread;
};
ThreadWalk g_thread_walk;

HKEY g_record_key = nullptr;
wchar_t g_own_image[kImagePathCapacity];
DWORD g_own_image_length = 0;
wchar_t g_windows_folder[kImagePathCapacity];
int32_t g_windows_folder_length = 0;

// The next thread of the walk; -1 once every record's threads were read.
int read_thread(PlatformThreadEntry* out) {
  for (;;) {
    ULONG next = 0;
    if (system_process_at(&g_process_list, g_thread_walk.record, &next) == nullptr) return -1;
    const SYSTEM_THREAD_INFORMATION* thread = system_thread_at(&g_process_list, g_thread_walk.record, g_thread_walk.thread);
    if (thread != nullptr) {
      ++g_thread_walk.thread;
      out->thread_id = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(thread->ClientId.UniqueThread));
      out->owner_process_id = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(thread->ClientId.UniqueProcess));
      return 0;
    }
    g_thread_walk.record = next;
    g_thread_walk.thread = 0;
  }
}

uint64_t combined(FILETIME time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The record at the cursor, moved on to the next; -1 when the walk is over.
int read_record(PlatformProcessInfo* info) {
  const SYSTEM_PROCESS_INFORMATION* record = system_process_at(&g_process_list, g_cursor, &g_cursor);
  if (record == nullptr) return -1;
  info->process_id = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(record->UniqueProcessId));
  info->creation_time = static_cast<uint64_t>(record->CreateTime.QuadPart);
  info->kernel.low = record->KernelTime.LowPart;
  info->kernel.high = static_cast<uint32_t>(record->KernelTime.HighPart);
  info->user.low = record->UserTime.LowPart;
  info->user.high = static_cast<uint32_t>(record->UserTime.HighPart);
  info->session_id = record->SessionId;
  info->parent_process_id =
      static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(record->InheritedFromUniqueProcessId));
  return 0;
}

// The full image path of an opened process; its length, 0 when it cannot be had.
DWORD query_image(HANDLE process, wchar_t* image) {
  DWORD length = kImagePathCapacity;
  return QueryFullProcessImageNameW(process, 0, image, &length) ? length : 0;
}

// The Windows folder, found once. GetSystemWindowsDirectoryW gives the system's own even
// to a 32-bit service under WoW64, and the image paths it is compared with are native.
int windows_folder_known() {
  if (g_windows_folder_length > 0) return 1;
  const UINT length = GetSystemWindowsDirectoryW(g_windows_folder, kImagePathCapacity);
  if (length == 0 || length >= kImagePathCapacity) return 0;
  g_windows_folder_length = static_cast<int32_t>(length);
  return 1;
}

// 0 with whether the system stops when the process ends; -1 when it cannot be told.
int query_critical(HANDLE process, uint32_t process_id, int* critical) {
  const DynCalls* calls = dyn_calls();
  if (calls->IsProcessCritical != nullptr) {
    BOOL flag = FALSE;
    if (!calls->IsProcessCritical(process, &flag)) return -1;
    *critical = flag ? 1 : 0;
    return 0;
  }
  if (calls->NtQueryInformationProcess == nullptr) return -1;
  ULONG flag = 0;
  LONG status =
      calls->NtQueryInformationProcess(process, kProcessBreakOnTermination, &flag, sizeof(flag), nullptr);
  if (status == kStatusAccessDenied) {
    // Before Windows 8.1 the flag may need the wider query right; asked for only then.
    HANDLE wider = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, process_id);
    if (wider == nullptr) return -1;
    status = calls->NtQueryInformationProcess(wider, kProcessBreakOnTermination, &flag, sizeof(flag), nullptr);
    CloseHandle(wider);
  }
  // A system that does not know the flag (Wine is one) marks no process critical.
  if (status == kStatusInvalidInfoClass || status == kStatusNotImplemented) flag = 0;
  else if (status < 0) return -1;
  *critical = flag != 0 ? 1 : 0;
  return 0;
}

// The crash record's key, created on first use and kept open for the service's life.
HKEY record_key() {
  if (g_record_key == nullptr) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
      g_record_key = key;
    }
  }
  return g_record_key;
}

}  // namespace

PlatformHandle platform_open_process_list() {
  if (take_system_process_list(&g_process_list) != 0) return nullptr;
  g_cursor = 0;
  return &g_process_list;
}

int platform_first_process(PlatformHandle list, PlatformProcessInfo* info) {
  if (list != &g_process_list) return -1;
  g_cursor = 0;
  return read_record(info);
}

int platform_next_process(PlatformHandle list, PlatformProcessInfo* info) {
  if (list != &g_process_list) return -1;
  return read_record(info);
}

int platform_process_class(uint32_t process_id) {
  if (!windows_folder_known()) return kProcessUnknown;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  // Not even this much is granted to the service: it cannot tell who the process is, and
  // a process it cannot tell from the system's own is never held.
  if (process == nullptr) return kProcessUnknown;
  int process_class = kProcessUnknown;
  int critical = 0;
  wchar_t image[kImagePathCapacity];
  if (query_critical(process, process_id, &critical) == 0) {
    const DWORD length = critical ? 0 : query_image(process, image);
    if (critical) {
      process_class = kProcessSystem;
    } else if (length != 0) {
      process_class = is_system_image(image, static_cast<int32_t>(length), g_windows_folder, g_windows_folder_length)
                          ? kProcessSystem
                          : kProcessOrdinary;
    }
  }
  CloseHandle(process);
  return process_class;
}

int platform_has_ui_access(uint32_t process_id) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) return -1;
  HANDLE token = nullptr;
  int result = -1;
  if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
    DWORD ui_access = 0;
    DWORD length = 0;
    if (GetTokenInformation(token, TokenUIAccess, &ui_access, sizeof(ui_access), &length)) {
      result = ui_access != 0 ? 1 : 0;
    }
    CloseHandle(token);
  }
  CloseHandle(process);
  return result;
}

int platform_runs_own_image(uint32_t process_id) {
  if (g_own_image_length == 0) g_own_image_length = query_image(GetCurrentProcess(), g_own_image);
  if (g_own_image_length == 0) return 0;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) return 0;
  wchar_t image[kImagePathCapacity];
  const DWORD length = query_image(process, image);
  CloseHandle(process);
  if (length == 0) return 0;
  return CompareStringOrdinal(g_own_image, static_cast<int>(g_own_image_length), image,
                              static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

int platform_save_suspension_record(const SuspensionRecord* threads, int32_t count) {
  HKEY key = record_key();
  if (key == nullptr) return -1;
  if (count <= 0) return RegDeleteValueW(key, kRecordValue) == ERROR_SUCCESS ? 0 : -1;
  const DWORD bytes = static_cast<DWORD>(count) * sizeof(SuspensionRecord);
  const LONG result = RegSetValueExW(key, kRecordValue, 0, REG_BINARY,
                                     reinterpret_cast<const BYTE*>(threads), bytes);
  return result == ERROR_SUCCESS ? 0 : -1;
}

int32_t platform_load_suspension_record(SuspensionRecord* threads, int32_t capacity) {
  HKEY key = record_key();
  if (key == nullptr || capacity <= 0) return 0;
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>(capacity) * sizeof(SuspensionRecord);
  if (RegQueryValueExW(key, kRecordValue, nullptr, &type, reinterpret_cast<BYTE*>(threads), &bytes) !=
          ERROR_SUCCESS ||
      type != REG_BINARY) {
    return 0;
  }
  return static_cast<int32_t>(bytes / sizeof(SuspensionRecord));
}

void platform_clear_suspension_record() {
  HKEY key = record_key();
  if (key != nullptr) RegDeleteValueW(key, kRecordValue);
}

uint32_t platform_tick_count() { return GetTickCount(); }

PlatformHandle platform_open_thread_list() {
  if (g_process_list.filled == 0) return nullptr;
  g_thread_walk = ThreadWalk{0, 0};
  return &g_thread_walk;
}

int platform_first_thread(PlatformHandle list, PlatformThreadEntry* out) {
  if (list != &g_thread_walk) return -1;
  g_thread_walk = ThreadWalk{0, 0};
  return read_thread(out);
}

int platform_next_thread(PlatformHandle list, PlatformThreadEntry* out) {
  if (list != &g_thread_walk) return -1;
  return read_thread(out);
}

PlatformHandle platform_open_thread(uint32_t thread_id) {
  return OpenThread(THREAD_SUSPEND_RESUME | THREAD_QUERY_LIMITED_INFORMATION, FALSE, thread_id);
}

uint32_t platform_thread_process_id(PlatformHandle thread) {
  return static_cast<uint32_t>(GetProcessIdOfThread(thread));
}

PlatformHandle platform_open_process(uint32_t process_id, uint64_t creation_time) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process_id);
  if (process == nullptr) return nullptr;
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user) || combined(created) != creation_time) {
    CloseHandle(process);
    return nullptr;
  }
  return process;
}

uint32_t platform_suspend_thread(PlatformHandle thread) { return SuspendThread(thread); }

uint32_t platform_resume_thread(PlatformHandle thread) { return ResumeThread(thread); }

void platform_close(PlatformHandle handle) {
  // The process list is the service's own buffer, kept for the next pass, and the thread
  // walk reads it.
  if (handle != nullptr && handle != &g_process_list && handle != &g_thread_walk) CloseHandle(handle);
}

void platform_sleep(uint32_t ms) { Sleep(ms); }

// Alertable: the service's handler ends it by queueing a call to this thread.
int platform_hold(uint32_t ms) { return SleepEx(ms, TRUE) == WAIT_IO_COMPLETION ? 1 : 0; }
