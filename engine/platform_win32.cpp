// The engine's platform operations over Win32: tool-help lists, process times,
// thread suspension, ticks and sleeps.
#include <windows.h>
#include <tlhelp32.h>

#include "engine/platform.h"

// The access the times query asks for; older headers give a smaller mask.
static_assert(PROCESS_ALL_ACCESS == 0x1FFFFF, "PROCESS_ALL_ACCESS must be 0x1FFFFF");

namespace {

const DWORD kAllProcesses = 0;  // tool-help takes 0 to mean every process

PlatformHandle from_snapshot(HANDLE snapshot) {
  return snapshot == INVALID_HANDLE_VALUE ? nullptr : snapshot;
}

}  // namespace

PlatformHandle platform_open_process_list() {
  return from_snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, kAllProcesses));
}

int platform_first_process(PlatformHandle list, uint32_t* process_id) {
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof(PROCESSENTRY32W);
  if (!Process32FirstW(list, &entry)) return -1;
  *process_id = entry.th32ProcessID;
  return 0;
}

int platform_next_process(PlatformHandle list, uint32_t* process_id) {
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof(PROCESSENTRY32W);
  if (!Process32NextW(list, &entry)) return -1;
  *process_id = entry.th32ProcessID;
  return 0;
}

PlatformHandle platform_open_process(uint32_t process_id) {
  return OpenProcess(PROCESS_ALL_ACCESS, FALSE, process_id);
}

int platform_process_times(PlatformHandle process, PlatformTime* kernel, PlatformTime* user) {
  FILETIME creation_time, exit_time, kernel_time, user_time;
  if (!GetProcessTimes(process, &creation_time, &exit_time, &kernel_time, &user_time)) return -1;
  kernel->low = kernel_time.dwLowDateTime;
  kernel->high = kernel_time.dwHighDateTime;
  user->low = user_time.dwLowDateTime;
  user->high = user_time.dwHighDateTime;
  return 0;
}

uint32_t platform_tick_count() { return GetTickCount(); }

PlatformHandle platform_open_thread_list() {
  return from_snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, kAllProcesses));
}

int platform_first_thread(PlatformHandle list, PlatformThreadEntry* out) {
  THREADENTRY32 entry;
  entry.dwSize = sizeof(THREADENTRY32);
  if (!Thread32First(list, &entry)) return -1;
  out->thread_id = entry.th32ThreadID;
  out->owner_process_id = entry.th32OwnerProcessID;
  return 0;
}

int platform_next_thread(PlatformHandle list, PlatformThreadEntry* out) {
  THREADENTRY32 entry;
  entry.dwSize = sizeof(THREADENTRY32);
  if (!Thread32Next(list, &entry)) return -1;
  out->thread_id = entry.th32ThreadID;
  out->owner_process_id = entry.th32OwnerProcessID;
  return 0;
}

PlatformHandle platform_open_thread(uint32_t thread_id) {
  return OpenThread(THREAD_SUSPEND_RESUME, FALSE, thread_id);
}

uint32_t platform_suspend_thread(PlatformHandle thread) { return SuspendThread(thread); }

uint32_t platform_resume_thread(PlatformHandle thread) { return ResumeThread(thread); }

void platform_close(PlatformHandle handle) {
  if (handle != nullptr) CloseHandle(handle);
}

void platform_sleep(uint32_t ms) { Sleep(ms); }
