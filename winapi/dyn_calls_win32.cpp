// The one table of functions found at run time.
#include "winapi/dyn_calls_win32.h"

namespace {

// The control's wide-character entry, which it exports by number.
const WORD kHtmlHelpWOrdinal = 15;

DynCalls g_dyn_calls;
volatile LONG g_dyn_calls_loaded = 0;

// Through void*, the one cast from FARPROC to a typed pointer that draws no warning.
void* find(HMODULE module, const char* name) {
  return module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

const wchar_t kSessionsLibrary[] = L"\\wtsapi32.dll";

// A library outside the KnownDLLs, by its full path in System32, so that no copy beside
// the executable is ever taken; its own imports are looked for there too.
HMODULE load_from_system(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  const size_t name_length = lstrlenW(name);
  if (length == 0 || length + name_length >= MAX_PATH) return nullptr;
  lstrcpynW(path + length, name, static_cast<int>(name_length + 1));
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

const DynCalls* dyn_calls() {
  // The system modules are loaded in every process of this executable (it imports user32);
  // only wtsapi32 is loaded here, and kept. A second thread racing the first fill writes
  // the same values (and holds the library once more).
  if (g_dyn_calls_loaded == 0) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    HMODULE user = GetModuleHandleW(L"user32.dll");
    g_dyn_calls.NtQuerySystemInformation =
        reinterpret_cast<NtQuerySystemInformationFn>(find(ntdll, "NtQuerySystemInformation"));
    g_dyn_calls.GetActiveProcessorCount =
        reinterpret_cast<GetActiveProcessorCountFn>(find(kernel, "GetActiveProcessorCount"));
    g_dyn_calls.SetDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFn>(find(kernel, "SetDefaultDllDirectories"));
    g_dyn_calls.NtQueryInformationProcess =
        reinterpret_cast<NtQueryInformationProcessFn>(find(ntdll, "NtQueryInformationProcess"));
    g_dyn_calls.IsProcessCritical =
        reinterpret_cast<IsProcessCriticalFn>(find(kernel, "IsProcessCritical"));
    g_dyn_calls.GetDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(find(user, "GetDpiForWindow"));
    g_dyn_calls.AdjustWindowRectExForDpi =
        reinterpret_cast<AdjustWindowRectExForDpiFn>(find(user, "AdjustWindowRectExForDpi"));
    g_dyn_calls.SystemParametersInfoForDpi =
        reinterpret_cast<SystemParametersInfoForDpiFn>(find(user, "SystemParametersInfoForDpi"));
    HMODULE sessions = load_from_system(kSessionsLibrary);
    g_dyn_calls.WTSQuerySessionInformationW =
        reinterpret_cast<WTSQuerySessionInformationWFn>(find(sessions, "WTSQuerySessionInformationW"));
    g_dyn_calls.WTSFreeMemory = reinterpret_cast<WTSFreeMemoryFn>(find(sessions, "WTSFreeMemory"));
    InterlockedExchange(&g_dyn_calls_loaded, 1);
  }
  return &g_dyn_calls;
}

HtmlHelpWFn dyn_calls_take_help_control(HMODULE control) {
  dyn_calls();
  g_dyn_calls.HtmlHelpW = reinterpret_cast<HtmlHelpWFn>(
      control != nullptr ? reinterpret_cast<void*>(GetProcAddress(control, MAKEINTRESOURCEA(kHtmlHelpWOrdinal)))
                         : nullptr);
  return g_dyn_calls.HtmlHelpW;
}
