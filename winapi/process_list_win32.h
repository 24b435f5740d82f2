// The system's list of every process at one moment, from NtQuerySystemInformation: ids,
// parents, sessions, times and image names, read without opening any process, so any
// user may read it whole.
#pragma once

#include <windows.h>
#include <winternl.h>

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
