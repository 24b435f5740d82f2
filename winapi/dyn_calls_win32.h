// Windows functions that not every Windows version this program supports has, found once
// at run time. Every function the executable looks up with GetProcAddress is here and
// nowhere else; a caller checks the pointer it uses, never the module.
#pragma once

#include <windows.h>

typedef LONG(NTAPI* NtQuerySystemInformationFn)(ULONG, PVOID, ULONG, PULONG);
typedef DWORD(WINAPI* GetActiveProcessorCountFn)(WORD);

struct DynCalls {
  // ntdll: every process's times at one moment.
  NtQuerySystemInformationFn NtQuerySystemInformation;
  // kernel32, Windows 7: processors of every group.
  GetActiveProcessorCountFn GetActiveProcessorCount;
};

// The table, filled on first use; a function the system lacks stays null.
const DynCalls* dyn_calls();
