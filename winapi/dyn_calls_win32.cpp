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

}  // namespace

const DynCalls* dyn_calls() {
  // The system modules are loaded in every process of this executable (it imports user32),
  // so no library is loaded here. A second thread racing the first fill writes the same values.
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
