// The system's list of every process at one moment, from NtQuerySystemInformation: ids,
// parents, sessions, times and image names, read without opening any process, so any
// user may read it whole.
#pragma once

#include <windows.h>
#include <winternl.h>
#include <stddef.h>

// The fields read from each process record, where the system puts them on both builds.
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, CreateTime) == 0x20, "CreateTime at 0x20");
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, UserTime) == 0x28, "UserTime at 0x28");
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, KernelTime) == 0x30, "KernelTime at 0x30");
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, ImageName) == 0x38, "ImageName at 0x38");
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId) == (sizeof(void*) == 8 ? 0x50 : 0x44),
              "UniqueProcessId where the system writes it");
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, InheritedFromUniqueProcessId) == (sizeof(void*) == 8 ? 0x58 : 0x48),
              "InheritedFromUniqueProcessId where the system writes it");
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, SessionId) == (sizeof(void*) == 8 ? 0x64 : 0x50),
              "SessionId where the system writes it");

// Each record is followed by its threads; the ids are read from where the system puts them.
static_assert(sizeof(SYSTEM_PROCESS_INFORMATION) == (sizeof(void*) == 8 ? 0x100 : 0xB8),
              "threads follow the process record");
static_assert(sizeof(SYSTEM_THREAD_INFORMATION) == (sizeof(void*) == 8 ? 0x50 : 0x40),
              "SYSTEM_THREAD_INFORMATION as the system writes it");

// A buffer kept for the process's life, grown when the system says it is short.
struct SystemProcessList {
  BYTE* buffer;
  ULONG capacity;
  ULONG filled;
};

// Fills the list with one consistent snapshot; 0 on success, -1 with the list empty.
int take_system_process_list(SystemProcessList* list);
// The record at `offset` (0 is the first) and, in *next, the offset of the one after it
// (`filled` after the last); null past the end or where a record would reach past what
// the system filled in.
const SYSTEM_PROCESS_INFORMATION* system_process_at(const SystemProcessList* list, ULONG offset, ULONG* next);
// Thread `index` of the record at `offset`; null past its threads or where the thread's
// record would reach past the process record or what the system filled in.
const SYSTEM_THREAD_INFORMATION* system_thread_at(const SystemProcessList* list, ULONG offset, ULONG index);
