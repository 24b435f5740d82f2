// The service role's calls into Windows: dispatcher, handler registration, status
// reports, the stop event, and the processor count.
#include <windows.h>
#include <wtsapi32.h>

#include "engine/engine.h"
#include "service/service.h"
#include "shared/wide_text.h"
#include "winapi/dyn_calls_win32.h"

namespace {

SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop_event = nullptr;
// The worker's thread, which the handler interrupts in its hold. Set before the worker
// reports anything, so before any control can arrive.
HANDLE g_worker_thread = nullptr;
CRITICAL_SECTION g_status_section;

// ALL_PROCESSOR_GROUPS; spelled out because older headers lack it.
const WORD kAllProcessorGroups = 0xffff;

// The extended form: the manager sends the notice before a shutdown and session changes
// to no other.
DWORD WINAPI service_control_handler(DWORD control, DWORD event_type, LPVOID event_data, LPVOID) {
  uint32_t session_id = 0;
  if (control == SERVICE_CONTROL_SESSIONCHANGE && event_data != nullptr) {
    session_id = static_cast<const WTSSESSION_NOTIFICATION*>(event_data)->dwSessionId;
  }
  return handle_service_control(static_cast<uint32_t>(control), static_cast<uint32_t>(event_type), session_id);
}

VOID CALLBACK end_hold(ULONG_PTR) {}

VOID WINAPI service_main(DWORD, LPWSTR*) {
  g_worker_thread = OpenThread(THREAD_SET_CONTEXT, FALSE, GetCurrentThreadId());
  run_service_main();
}

}  // namespace

static_assert(sizeof(ServiceStatusRecord) == sizeof(SERVICE_STATUS),
              "ServiceStatusRecord mirrors SERVICE_STATUS");
static_assert(kAcceptSessionChange == SERVICE_ACCEPT_SESSIONCHANGE && kAcceptPreshutdown == SERVICE_ACCEPT_PRESHUTDOWN,
              "the accepted controls as Windows numbers them");
static_assert(kControlSessionChange == SERVICE_CONTROL_SESSIONCHANGE && kSessionLogoff == WTS_SESSION_LOGOFF &&
                  kControlPreshutdown == SERVICE_CONTROL_PRESHUTDOWN && kServiceSpecificError == ERROR_SERVICE_SPECIFIC_ERROR &&
                  kControlNotTaken == ERROR_CALL_NOT_IMPLEMENTED,
              "the controls as Windows numbers them");

int register_control_handler() {
  g_status_handle = RegisterServiceCtrlHandlerExW(kServiceName, service_control_handler, nullptr);
  return g_status_handle != nullptr ? 0 : -1;
}

void set_service_status(const ServiceStatusRecord* record) {
  SERVICE_STATUS status;
  status.dwServiceType = record->dwServiceType;
  status.dwCurrentState = record->dwCurrentState;
  status.dwControlsAccepted = record->dwControlsAccepted;
  status.dwWin32ExitCode = record->dwWin32ExitCode;
  status.dwServiceSpecificExitCode = record->dwServiceSpecificExitCode;
  status.dwCheckPoint = record->dwCheckPoint;
  status.dwWaitHint = record->dwWaitHint;
  SetServiceStatus(g_status_handle, &status);
}

void status_lock() { EnterCriticalSection(&g_status_section); }

void status_unlock() { LeaveCriticalSection(&g_status_section); }

int create_stop_event() {
  g_stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return g_stop_event != nullptr ? 0 : -1;
}

void signal_stop_event() { SetEvent(g_stop_event); }

void release_held_threads() {
  // The hold is an alertable wait, which any call queued to the thread ends.
  if (g_worker_thread != nullptr) QueueUserAPC(end_hold, g_worker_thread, 0);
}

int wait_for_stop(uint32_t timeout_ms) {
  return WaitForSingleObject(g_stop_event, timeout_ms) == WAIT_OBJECT_0 ? 1 : 0;
}

int32_t query_logical_cpu_count() {
  // Every processor group counts; the call is missing before Windows 7.
  GetActiveProcessorCountFn active_count = dyn_calls()->GetActiveProcessorCount;
  if (active_count != nullptr) {
    const DWORD count = active_count(kAllProcessorGroups);
    if (count != 0) return static_cast<int32_t>(count);
  }
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return static_cast<int32_t>(info.dwNumberOfProcessors);
}

void raise_worker_priority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST); }

uint32_t current_process_id() { return GetCurrentProcessId(); }

int run_service_dispatcher() {
  // The handler may run before service_main; the lock must exist before either.
  InitializeCriticalSection(&g_status_section);
  service_reset();
  engine_reset();
  // The table takes a writable name.
  wchar_t name[sizeof(kServiceName) / sizeof(kServiceName[0])];
  copy_text(name, sizeof(name) / sizeof(name[0]), kServiceName);
  SERVICE_TABLE_ENTRYW table[] = {{name, service_main}, {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherW(table)) return kDispatcherReturned;
  return GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT ? kDispatcherRefusedUserStart
                                                                   : kDispatcherFailed;
}
