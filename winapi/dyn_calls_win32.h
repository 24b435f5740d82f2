// Windows functions that not every Windows version this program supports has, found once
// at run time. Every function the executable looks up with GetProcAddress is here and
// nowhere else; a caller checks the pointer it uses, never the module.
#pragma once

#include <windows.h>
#include <wtsapi32.h>

typedef LONG(NTAPI* NtQuerySystemInformationFn)(ULONG, PVOID, ULONG, PULONG);
typedef DWORD(WINAPI* GetActiveProcessorCountFn)(WORD);
typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef LONG(NTAPI* NtQueryInformationProcessFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);
typedef BOOL(WINAPI* IsProcessCriticalFn)(HANDLE, PBOOL);
typedef UINT(WINAPI* GetDpiForWindowFn)(HWND);
typedef BOOL(WINAPI* AdjustWindowRectExForDpiFn)(LPRECT, DWORD, BOOL, DWORD, UINT);
typedef BOOL(WINAPI* SystemParametersInfoForDpiFn)(UINT, UINT, PVOID, UINT, UINT);
typedef HWND(WINAPI* HtmlHelpWFn)(HWND, LPCWSTR, UINT, DWORD_PTR);
typedef decltype(&WTSQuerySessionInformationW) WTSQuerySessionInformationWFn;
typedef decltype(&WTSFreeMemory) WTSFreeMemoryFn;

struct DynCalls {
  // ntdll: every process's times at one moment.
  NtQuerySystemInformationFn NtQuerySystemInformation;
  // kernel32, Windows 7: processors of every group.
  GetActiveProcessorCountFn GetActiveProcessorCount;
  // kernel32, Windows 8 (Windows 7 with an update): where later libraries are searched.
  SetDefaultDllDirectoriesFn SetDefaultDllDirectories;
  // ntdll: a process's flags where the system has no documented call for them.
  NtQueryInformationProcessFn NtQueryInformationProcess;
  // kernel32, Windows 8.1: whether the system stops when the process ends.
  IsProcessCriticalFn IsProcessCritical;
  // user32, Windows 10 1607: the DPI of one window, and the frame and fonts at a given DPI,
  // for windows that follow the DPI of the monitor they are on.
  GetDpiForWindowFn GetDpiForWindow;
  AdjustWindowRectExForDpiFn AdjustWindowRectExForDpi;
  SystemParametersInfoForDpiFn SystemParametersInfoForDpi;
  // The HTML Help control (hhctrl.ocx), which no process loads by itself: filled once the
  // help command has loaded it from the system folder.
  HtmlHelpWFn HtmlHelpW;
  // wtsapi32, which is no KnownDLL: imported statically, the loader would take it from the
  // executable's own folder (a download's) before any code runs. Loaded from System32.
  WTSQuerySessionInformationWFn WTSQuerySessionInformationW;
  WTSFreeMemoryFn WTSFreeMemory;
};

// The table, filled on first use; a function the system lacks stays null.
const DynCalls* dyn_calls();
// Finds the help control's entry in the module the help command loaded; null when it has none.
HtmlHelpWFn dyn_calls_take_help_control(HMODULE control);
