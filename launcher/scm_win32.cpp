// The service control manager calls beneath the service control client.
#include <windows.h>

#include "launcher/scm.h"

namespace {

const wchar_t kServiceName[] = L"QuellcoreSvc";

}  // namespace

ScmHandle scm_open_manager() {
  return OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
}

ScmHandle scm_open_service(ScmHandle manager, uint32_t access) {
  return OpenServiceW(static_cast<SC_HANDLE>(manager), kServiceName, access);
}

ScmHandle scm_create_service(ScmHandle manager, const wchar_t* command_line) {
  // No account name: the service runs as LocalSystem.
  return CreateServiceW(static_cast<SC_HANDLE>(manager), kServiceName, kServiceName,
                        SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                        SERVICE_ERROR_NORMAL, command_line, nullptr, nullptr, nullptr, nullptr,
                        nullptr);
}

void scm_close(ScmHandle handle) { CloseServiceHandle(static_cast<SC_HANDLE>(handle)); }

int scm_query(ScmHandle service, ServiceProgress* out) {
  SERVICE_STATUS_PROCESS status;
  DWORD needed = 0;
  if (!QueryServiceStatusEx(static_cast<SC_HANDLE>(service), SC_STATUS_PROCESS_INFO,
                            reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
    return -1;
  }
  out->state = status.dwCurrentState;
  out->checkpoint = status.dwCheckPoint;
  out->wait_hint = status.dwWaitHint;
  return 0;
}

int scm_start(ScmHandle service) {
  return StartServiceW(static_cast<SC_HANDLE>(service), 0, nullptr) ? 0 : -1;
}

int scm_send_stop(ScmHandle service, ServiceProgress* out) {
  SERVICE_STATUS status;
  if (!ControlService(static_cast<SC_HANDLE>(service), SERVICE_CONTROL_STOP, &status)) return -1;
  out->state = status.dwCurrentState;
  out->checkpoint = status.dwCheckPoint;
  out->wait_hint = status.dwWaitHint;
  return 0;
}

uint32_t own_executable_path(wchar_t* buffer, uint32_t capacity) {
  return GetModuleFileNameW(nullptr, buffer, capacity);
}

uint32_t tick_count() { return GetTickCount(); }

void pause_ms(uint32_t ms) { Sleep(ms); }
