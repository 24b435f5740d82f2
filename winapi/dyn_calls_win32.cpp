// The one table of functions found at run time.
#include "winapi/dyn_calls_win32.h"

namespace {

DynCalls g_dyn_calls;
volatile LONG g_dyn_calls_loaded = 0;

// Through void*, the one cast from FARPROC to a typed pointer that draws no warning.
void* find(HMODULE module, const char* name) {
  return module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

}  // namespace

const DynCalls* dyn_calls() {
  // Both system modules are loaded in every process, so no library is loaded here. A
  // second thread racing the first fill writes the same values.
  if (g_dyn_calls_loaded == 0) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
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
    InterlockedExchange(&g_dyn_calls_loaded, 1);
  }
  return &g_dyn_calls;
}
