// The system's process list, read into one buffer that grows as the system asks.
#include "winapi/process_list_win32.h"

#include "winapi/dyn_calls_win32.h"

namespace {

const ULONG kSystemProcessInformation = 5;
const LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
// Room for a few hundred processes with their threads; grown when the system asks for more.
const ULONG kInitialListBytes = 256 * 1024;
const ULONG kListSlackBytes = 64 * 1024;  // processes may start between asking and reading
const int kListAttempts = 4;

int grow_list(SystemProcessList* list, ULONG bytes) {
  void* buffer = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (buffer == nullptr) return -1;
  if (list->buffer != nullptr) VirtualFree(list->buffer, 0, MEM_RELEASE);
  list->buffer = static_cast<BYTE*>(buffer);
  list->capacity = bytes;
  return 0;
}

}  // namespace

int take_system_process_list(SystemProcessList* list) {
  list->filled = 0;
  NtQuerySystemInformationFn query = dyn_calls()->NtQuerySystemInformation;
  if (query == nullptr) return -1;
  if (list->buffer == nullptr && grow_list(list, kInitialListBytes) != 0) return -1;
  for (int attempt = 0; attempt < kListAttempts; ++attempt) {
    ULONG needed = 0;
    const LONG status = query(kSystemProcessInformation, list->buffer, list->capacity, &needed);
    if (status >= 0) {
      list->filled = needed <= list->capacity ? needed : list->capacity;
      return 0;
    }
    if (status != kStatusInfoLengthMismatch) return -1;
    const ULONG wanted = (needed > list->capacity ? needed : list->capacity) + kListSlackBytes;
    if (grow_list(list, wanted) != 0) return -1;
  }
  return -1;
}

const SYSTEM_PROCESS_INFORMATION* system_process_at(const SystemProcessList* list, ULONG offset, ULONG* next) {
  if (offset >= list->filled || list->filled - offset < sizeof(SYSTEM_PROCESS_INFORMATION)) return nullptr;
  const SYSTEM_PROCESS_INFORMATION* record =
      reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(list->buffer + offset);
  const ULONG step = record->NextEntryOffset;
  *next = step == 0 || step > list->filled - offset ? list->filled : offset + step;
  return record;
}

const SYSTEM_THREAD_INFORMATION* system_thread_at(const SystemProcessList* list, ULONG offset, ULONG index) {
  ULONG next = 0;
  const SYSTEM_PROCESS_INFORMATION* record = system_process_at(list, offset, &next);
  if (record == nullptr || index >= record->NumberOfThreads) return nullptr;
  // 64-bit, so that no thread count from the system can wrap the bound.
  const ULONGLONG end = static_cast<ULONGLONG>(sizeof(SYSTEM_PROCESS_INFORMATION)) +
                        (static_cast<ULONGLONG>(index) + 1) * sizeof(SYSTEM_THREAD_INFORMATION);
  if (end > next - offset) return nullptr;
  return reinterpret_cast<const SYSTEM_THREAD_INFORMATION*>(
             list->buffer + offset + sizeof(SYSTEM_PROCESS_INFORMATION)) + index;
}
