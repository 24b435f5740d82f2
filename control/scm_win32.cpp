// The service control manager, registry and file calls beneath the service control client.
#include <windows.h>
#include <sddl.h>

#include "control/registration.h"
#include "control/scm.h"
#include "shared/service_facts.h"
#include "shared/wide_text.h"

namespace {

const wchar_t kWindowsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kProgramFilesValue[] = L"ProgramFilesDir";
// QueryServiceConfigW's answer fits easily: a path, an account and a few short names.
const DWORD kConfigBufferBytes = 8192;
// The service's own key: removed with the service, so the mark goes with an uninstall.
const wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\" QC_SERVICE_NAME;
const wchar_t kRegistrationMark[] = L"AccessListSet";
const DWORD kMarked = 1;

union ConfigBuffer {
  QUERY_SERVICE_CONFIGW config;
  BYTE bytes[kConfigBufferBytes];
};

const DWORD kServiceSpecificError = ERROR_SERVICE_SPECIFIC_ERROR;

// The manager's answer, read at once, in the terms the client tells apart.
int why_refused() {
  const DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED) return kScmDenied;
  if (error == ERROR_SERVICE_DOES_NOT_EXIST) return kScmNoService;
  return kScmFailed;
}

}  // namespace

static_assert(kManagerConnect == SC_MANAGER_CONNECT && kManagerCreateService == SC_MANAGER_CREATE_SERVICE,
              "manager rights as Windows numbers them");
static_assert(kServiceQueryConfig == SERVICE_QUERY_CONFIG && kServiceChangeConfig == SERVICE_CHANGE_CONFIG &&
                  kServiceQueryStatus == SERVICE_QUERY_STATUS && kServiceStart == SERVICE_START &&
                  kServiceStop == SERVICE_STOP && kServiceWriteDac == WRITE_DAC,
              "service rights as Windows numbers them");

ScmHandle scm_open_manager(uint32_t access, int* failure) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, access);
  if (manager == nullptr && failure != nullptr) *failure = why_refused();
  return manager;
}

ScmHandle scm_open_service(ScmHandle manager, uint32_t access, int* failure) {
  SC_HANDLE service = OpenServiceW(static_cast<SC_HANDLE>(manager), kServiceName, access);
  if (service == nullptr && failure != nullptr) *failure = why_refused();
  return service;
}

ScmHandle scm_create_service(ScmHandle manager, const wchar_t* command_line) {
  // No account name: the service runs as LocalSystem. The handle is only closed again.
  return CreateServiceW(static_cast<SC_HANDLE>(manager), kServiceName, kServiceName,
                        SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                        SERVICE_ERROR_NORMAL, command_line, nullptr, nullptr, nullptr, nullptr,
                        nullptr);
}

void scm_close(ScmHandle handle) { CloseServiceHandle(static_cast<SC_HANDLE>(handle)); }

int scm_read_command_line(ScmHandle service, wchar_t* buffer, uint32_t capacity) {
  ConfigBuffer answer;
  DWORD needed = 0;
  if (!QueryServiceConfigW(static_cast<SC_HANDLE>(service), &answer.config, sizeof(answer),
                           &needed) ||
      answer.config.lpBinaryPathName == nullptr) {
    return -1;
  }
  const wchar_t* path = answer.config.lpBinaryPathName;
  if (text_length(path) + 1 > capacity) return -1;
  copy_text(buffer, capacity, path);
  return 0;
}

int scm_change_command_line(ScmHandle service, const wchar_t* command_line) {
  return ChangeServiceConfigW(static_cast<SC_HANDLE>(service), SERVICE_NO_CHANGE,
                              SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, command_line, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr)
             ? 0
             : -1;
}

int scm_set_failure_actions(ScmHandle service, const uint32_t* restart_delays_ms, uint32_t count,
                            uint32_t reset_seconds) {
  SC_ACTION actions[kRestartDelayCount];
  if (count == 0 || count > kRestartDelayCount) return -1;
  // The manager repeats the last action for every later failure.
  for (uint32_t i = 0; i < count; ++i) {
    actions[i].Type = SC_ACTION_RESTART;
    actions[i].Delay = restart_delays_ms[i];
  }
  SERVICE_FAILURE_ACTIONSW failure;
  failure.dwResetPeriod = reset_seconds;
  failure.lpRebootMsg = nullptr;
  failure.lpCommand = nullptr;
  failure.cActions = count;
  failure.lpsaActions = actions;
  return ChangeServiceConfig2W(static_cast<SC_HANDLE>(service), SERVICE_CONFIG_FAILURE_ACTIONS, &failure) ? 0
                                                                                                          : -1;
}

int scm_set_service_security(ScmHandle service) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kServiceSecurity, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return -1;
  }
  const BOOL set = SetServiceObjectSecurity(static_cast<SC_HANDLE>(service), DACL_SECURITY_INFORMATION,
                                            descriptor);
  LocalFree(descriptor);
  return set ? 0 : -1;
}

bool scm_registration_recorded() {
  DWORD mark = 0;
  DWORD bytes = sizeof(mark);
  return RegGetValueW(HKEY_LOCAL_MACHINE, kServiceKey, kRegistrationMark, RRF_RT_REG_DWORD, nullptr, &mark,
                      &bytes) == ERROR_SUCCESS &&
         mark == kMarked;
}

int scm_record_registration() {
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kServiceKey, kRegistrationMark, REG_DWORD, &kMarked,
                         sizeof(kMarked)) == ERROR_SUCCESS
             ? 0
             : -1;
}

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
  out->process_id = status.dwProcessId;
  out->exit_code = status.dwWin32ExitCode == kServiceSpecificError && status.dwServiceSpecificExitCode != 0
                       ? status.dwServiceSpecificExitCode
                       : status.dwWin32ExitCode;
  return 0;
}

int scm_start(ScmHandle service) {
  if (StartServiceW(static_cast<SC_HANDLE>(service), 0, nullptr)) return 0;
  return GetLastError() == ERROR_ACCESS_DENIED ? kScmDenied : kScmFailed;
}

int scm_send_stop(ScmHandle service, ServiceProgress* out) {
  SERVICE_STATUS status;
  if (!ControlService(static_cast<SC_HANDLE>(service), SERVICE_CONTROL_STOP, &status)) return -1;
  out->state = status.dwCurrentState;
  out->checkpoint = status.dwCheckPoint;
  out->wait_hint = status.dwWaitHint;
  out->process_id = 0;
  out->exit_code = 0;
  return 0;
}

uint32_t own_executable_path(wchar_t* buffer, uint32_t capacity) {
  return GetModuleFileNameW(nullptr, buffer, capacity);
}

uint32_t program_files_folder(wchar_t* buffer, uint32_t capacity) {
  // The machine's setting, which only administrators can change, rather than the caller's
  // environment; a 32-bit build on 64-bit Windows reads the x86 folder through the WOW64
  // view. A value to expand would bring the environment back in, so only REG_SZ counts.
  DWORD bytes = capacity * sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kWindowsKey, kProgramFilesValue,
                   RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, buffer, &bytes) != ERROR_SUCCESS ||
      bytes < sizeof(wchar_t)) {
    return 0;
  }
  return bytes / sizeof(wchar_t) - 1;
}

void make_folder(const wchar_t* path) {
  // No security attributes: the folder inherits Program Files' protection.
  CreateDirectoryW(path, nullptr);
}

int move_file_replacing(const wchar_t* from, const wchar_t* to) {
  return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
}

void delete_file(const wchar_t* path) { DeleteFileW(path); }

uint32_t tick_count() { return GetTickCount(); }

void pause_ms(uint32_t ms) { Sleep(ms); }
