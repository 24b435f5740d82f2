// Drives the real quellcore.exe under Wine as a user and as the other process on the
// region would: installs it through its own role selection, watches the service come
// up, reads its registration, talks to it through the region, and stops it.
//
//   service_probe lifecycle <quellcore.exe>   install, run, region, hostile writer, stop
//   service_probe pending <quellcore.exe>     a user start while the service is start-pending
//                                            (needs a display: it opens the window)
//   service_probe squatted <quellcore.exe>    a mutex of the service's name made first
//                                            (needs a display: it reads the Status page)
//   service_probe stall                       (as a service) stays start-pending for good
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "control/registration.h"
#include "control/service_client.h"
#include "shared/control_block.h"
#include "shared/service_facts.h"
#include "tests/wine/common/check.h"

namespace {

// The prefix is 64-bit: the x86 build installs into the 32-bit Program Files.
#ifdef _WIN64
#define QC_PROGRAM_FILES L"C:\\Program Files"
#else
#define QC_PROGRAM_FILES L"C:\\Program Files (x86)"
#endif
const wchar_t kInstallDir[] = QC_PROGRAM_FILES L"\\Quellcore";
const wchar_t kInstalledExe[] = QC_PROGRAM_FILES L"\\Quellcore\\quellcore.exe";
const DWORD kStartLimitMs = 30000;
const DWORD kPollMs = 20;
const DWORD kCycleLimitMs = 3000;  // one cycle is about 1.2 s; this is a hang, not a slow run
const int kCyclesWatched = 5;

// The allowed entries of an access list by who they name: SYSTEM, interactive users,
// administrators and service logons; -1 where an entry names anyone else or denies.
struct Grants {
  DWORD system, interactive, administrators, services;
  int entries, strangers;
};

Grants grants_of(PACL dacl) {
  Grants g = {};
  WELL_KNOWN_SID_TYPE types[] = {WinLocalSystemSid, WinInteractiveSid, WinBuiltinAdministratorsSid,
                                 WinServiceSid};
  DWORD* masks[] = {&g.system, &g.interactive, &g.administrators, &g.services};
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
    ++g.entries;
    bool known = false;
    for (int t = 0; t < 4 && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE; ++t) {
      if (IsWellKnownSid(&ace->SidStart, types[t])) {
        *masks[t] |= ace->Mask;
        known = true;
      }
    }
    if (!known) ++g.strangers;
  }
  return g;
}

// A named object's access list as the service set it: SYSTEM and administrators have
// everything, interactive users exactly what the protocol needs, nobody else anything.
void check_object_grants(const char* name, HANDLE object, DWORD all_access, DWORD user_rights) {
  PACL dacl = nullptr;
  PACL label = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  CHECK(object != nullptr);
  if (object == nullptr ||
      GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, nullptr,
                      nullptr, &dacl, &label, &descriptor) != ERROR_SUCCESS) {
    CHECK(!"the object's access list is readable");
    return;
  }
  const Grants g = grants_of(dacl);
  CloseHandle(object);
  // Medium integrity, and no reading, writing or waiting from below it.
  SYSTEM_MANDATORY_LABEL_ACE* mandatory = nullptr;
  CHECK(label != nullptr && label->AceCount == 1 && GetAce(label, 0, reinterpret_cast<void**>(&mandatory)));
  if (mandatory != nullptr) {
    CHECK_EQ(mandatory->Header.AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
    CHECK_EQ(mandatory->Mask, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP | SYSTEM_MANDATORY_LABEL_NO_READ_UP |
                                  SYSTEM_MANDATORY_LABEL_NO_EXECUTE_UP);
    CHECK(IsWellKnownSid(&mandatory->SidStart, WinMediumLabelSid));
  }
  printf("%s: SYSTEM 0x%lx, interactive 0x%lx, %d entries, label %s\n", name, g.system, g.interactive, g.entries,
         mandatory != nullptr ? "medium" : "none");
  CHECK(dacl != nullptr);
  CHECK(g.system == all_access || g.system == GENERIC_ALL);
  CHECK_EQ(g.administrators, g.system);
  CHECK_EQ(g.interactive, user_rights);
  CHECK_EQ(g.entries, 3);
  CHECK_EQ(g.strangers, 0);
  LocalFree(descriptor);
}

// The service's own access list, as the service writes it at each start: Windows' defaults
// with start and stop added for interactive users, and the change right for SYSTEM.
void check_service_grants() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  CHECK(ConvertStringSecurityDescriptorToSecurityDescriptorW(kServiceSecurity, SDDL_REVISION_1, &descriptor,
                                                             nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  CHECK(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present);
  const Grants g = grants_of(dacl);
  CHECK_EQ(g.interactive, kInteractiveServiceRights);
  CHECK_EQ(g.interactive, static_cast<DWORD>(SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                             SERVICE_ENUMERATE_DEPENDENTS | SERVICE_START | SERVICE_STOP |
                                             SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL |
                                             READ_CONTROL));
  CHECK_EQ(g.system, kSystemServiceRights);
  CHECK_EQ(g.system, (kInteractiveServiceRights | SERVICE_CHANGE_CONFIG | SERVICE_PAUSE_CONTINUE));
  CHECK_EQ(g.administrators, static_cast<DWORD>(SERVICE_ALL_ACCESS));
  CHECK_EQ(g.services, kInteractiveServiceRights & ~static_cast<DWORD>(SERVICE_START | SERVICE_STOP));
  CHECK_EQ(g.strangers, 0);
  LocalFree(descriptor);
}

// A Linux path handed over by CTest, reached through Wine's Z: drive.
void to_windows_path(const char* in, wchar_t* out, size_t capacity) {
  size_t at = 0;
  if (in[0] == '/') {
    out[at++] = L'Z';
    out[at++] = L':';
  }
  for (size_t i = 0; in[i] != '\0' && at + 1 < capacity; ++i) {
    out[at++] = in[i] == '/' ? L'\\' : static_cast<wchar_t>(in[i]);
  }
  out[at] = L'\0';
}

DWORD query_state(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status),
                            sizeof(*status), &needed)) {
    return 0;
  }
  return status->dwCurrentState;
}

HANDLE launch(const wchar_t* exe, DWORD* pid) {
  wchar_t command_line[MAX_PATH + 3];
  swprintf(command_line, MAX_PATH + 3, L"\"%ls\"", exe);
  STARTUPINFOW startup;
  memset(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info;
  if (!CreateProcessW(exe, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return nullptr;
  }
  CloseHandle(info.hThread);
  *pid = info.dwProcessId;
  return info.hProcess;
}

// The count of the last snapshot taken.
uint32_t g_taken_sequence = 0;

// Waits for a snapshot not taken yet, taking it the way the monitor does; the tick of
// the take, or 0 when none came within the limit.
DWORD wait_for_publication(SharedLink* link, UsageSnapshot* out) {
  const DWORD begin = GetTickCount();
  while (GetTickCount() - begin < kCycleLimitMs) {
    if (take_snapshot(link, &g_taken_sequence, out)) return GetTickCount();
    Sleep(kPollMs);
  }
  return 0;
}

uint32_t read_command_flags(SharedLink* link) {
  link_lock(link->command_mutex);
  const uint32_t flags = *static_cast<volatile uint32_t*>(&link->view->command_flags);
  link_unlock(link->command_mutex);
  return flags;
}

int wait_for_commands_taken(SharedLink* link) {
  const DWORD begin = GetTickCount();
  while (GetTickCount() - begin < kCycleLimitMs) {
    if (read_command_flags(link) == 0) return 1;
    Sleep(kPollMs);
  }
  return 0;
}

void write_commands(SharedLink* link, uint32_t flags, int32_t threshold) {
  link_lock(link->command_mutex);
  link->view->command_flags = flags;
  link->view->threshold = threshold;
  link_unlock(link->command_mutex);
}

void check_registration(SC_HANDLE service) {
  BYTE buffer[8192];
  QUERY_SERVICE_CONFIGW* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
  DWORD needed = 0;
  CHECK(QueryServiceConfigW(service, config, sizeof(buffer), &needed));
  CHECK_EQ(config->dwServiceType, SERVICE_WIN32_OWN_PROCESS);
  CHECK_EQ(config->dwStartType, SERVICE_DEMAND_START);
  CHECK_EQ(config->dwErrorControl, SERVICE_ERROR_NORMAL);
  wchar_t quoted[MAX_PATH + 3];
  swprintf(quoted, MAX_PATH + 3, L"\"%ls\"", kInstalledExe);
  CHECK(config->lpBinaryPathName != nullptr && wcscmp(config->lpBinaryPathName, quoted) == 0);
  CHECK(config->lpServiceStartName != nullptr &&
        _wcsicmp(config->lpServiceStartName, L"LocalSystem") == 0);
  printf("registered path: %ls, account: %ls\n",
         config->lpBinaryPathName ? config->lpBinaryPathName : L"(none)",
         config->lpServiceStartName ? config->lpServiceStartName : L"(none)");

  // Wine 8 keeps failure actions without answering for them (ERROR_INVALID_LEVEL).
  SERVICE_FAILURE_ACTIONSW* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer);
  if (!QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer, sizeof(buffer),
                            &needed)) {
    CHECK_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    printf("failure actions: not readable here (error %lu)\n", GetLastError());
    return;
  }
  CHECK_EQ(failure->dwResetPeriod, 24 * 60 * 60);
  CHECK_EQ(failure->cActions, kRestartDelayCount);
  for (DWORD i = 0; i < failure->cActions && i < kRestartDelayCount; ++i) {
    CHECK_EQ(failure->lpsaActions[i].Type, SC_ACTION_RESTART);
    CHECK_EQ(failure->lpsaActions[i].Delay, kRestartDelaysMs[i]);
  }
}

// Watches the state from the moment the service exists until it runs.
void watch_start(SC_HANDLE manager, int* saw_pending, int* saw_running) {
  const DWORD begin = GetTickCount();
  SC_HANDLE service = nullptr;
  DWORD last = 0;
  while (GetTickCount() - begin < kStartLimitMs && !*saw_running) {
    if (service == nullptr) service = OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS);
    if (service != nullptr) {
      SERVICE_STATUS_PROCESS status;
      const DWORD state = query_state(service, &status);
      if (state != last) printf("state %lu at %lu ms\n", state, GetTickCount() - begin);
      last = state;
      if (state == SERVICE_START_PENDING) *saw_pending = 1;
      if (state == SERVICE_RUNNING) *saw_running = 1;
    }
    Sleep(1);
  }
  if (service != nullptr) CloseServiceHandle(service);
}

void talk_through_region(SharedLink* link) {
  // Every cycle publishes, whether or not the last snapshot was taken.
  UsageSnapshot snapshot;
  // The first take may find a snapshot published before the link opened; time from the next.
  wait_for_publication(link, &snapshot);
  DWORD previous = wait_for_publication(link, &snapshot);
  CHECK(previous != 0);
  DWORD longest = 0, shortest = 0xFFFFFFFF, total = 0;
  for (int i = 0; i < kCyclesWatched && previous != 0; ++i) {
    const DWORD now = wait_for_publication(link, &snapshot);
    CHECK(now != 0);
    if (now == 0) break;
    CHECK(snapshot.active_count <= static_cast<uint32_t>(kBarsCapacity));
    const DWORD interval = now - previous;
    total += interval;
    if (interval > longest) longest = interval;
    if (interval < shortest) shortest = interval;
    previous = now;
  }
  printf("service cycle: mean %lu ms, shortest %lu ms, longest %lu ms over %d cycles; "
         "active_count %u\n",
         total / kCyclesWatched, shortest, longest, kCyclesWatched, snapshot.active_count);

  // Both bits of an announcement, as anyone may write them; the service clears the word
  // within a cycle (and acts only on the level: announcements come over its pipe).
  write_commands(link, CMD_THRESHOLD_CHANGED | CMD_MONITOR_ATTACHED, 40);
  CHECK(wait_for_commands_taken(link));

  // A hostile writer: levels the duty cycle cannot use, bits nobody defined, and a
  // snapshot area full of rubbish. The service goes on cycling and overwrites it.
  struct Hostile {
    uint32_t flags;
    int32_t threshold;
  };
  const Hostile hostile[] = {{CMD_THRESHOLD_CHANGED, 0},       {CMD_THRESHOLD_CHANGED, -1},
                             {CMD_THRESHOLD_CHANGED, 1000},    {0xFFFFFFFFu, 1000},
                             {0x12345678u, 0x7FFFFFFF},        {CMD_MONITOR_ATTACHED, 0}};
  for (const Hostile& h : hostile) {
    write_commands(link, h.flags, h.threshold);
    CHECK(wait_for_commands_taken(link));
    link_lock(link->snapshot_mutex);
    // Everything but the count, which reads as taken, so the next take is the service's.
    memset(&link->view->snapshot, 0xEE, sizeof(link->view->snapshot));
    link->view->snapshot.sequence = g_taken_sequence;
    link_unlock(link->snapshot_mutex);
    const DWORD published = wait_for_publication(link, &snapshot);
    CHECK(published != 0);
    // The publish copies its own snapshot over everything, then adds the ready bit.
    CHECK_EQ(snapshot.flags, SNAPSHOT_READY);
    CHECK(snapshot.active_count <= static_cast<uint32_t>(kBarsCapacity));
  }
  CHECK_EQ(link->view->foreground_claimant, 0u);  // a monitor's field: the service never writes it
}

int run_lifecycle(const char* exe_arg) {
  wchar_t source[MAX_PATH];
  to_windows_path(exe_arg, source, MAX_PATH);
  CreateDirectoryW(QC_PROGRAM_FILES, nullptr);
  CreateDirectoryW(kInstallDir, nullptr);
  CHECK(CopyFileW(source, kInstalledExe, FALSE));

  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  CHECK(manager != nullptr);
  if (manager == nullptr) return check_summary("service lifecycle");

  // A user's start: it installs the service by its own role selection and starts it.
  DWORD user_pid = 0;
  HANDLE user = launch(kInstalledExe, &user_pid);
  CHECK(user != nullptr);
  int saw_pending = 0, saw_running = 0;
  watch_start(manager, &saw_pending, &saw_running);
  CHECK(saw_pending);
  CHECK(saw_running);

  SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
  CHECK(service != nullptr);
  if (service == nullptr) return check_summary("service lifecycle");
  check_registration(service);

  SERVICE_STATUS_PROCESS status;
  CHECK_EQ(query_state(service, &status), SERVICE_RUNNING);
  HANDLE service_process =
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId);
  CHECK(service_process != nullptr);
  CHECK(status.dwProcessId != user_pid);

  // The user's process goes on as the monitor. Its window and link are not what this
  // test watches, and its link would take snapshots away from it: end it here.
  if (user != nullptr) {
    DWORD user_exit = 0;
    if (WaitForSingleObject(user, kCycleLimitMs) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(user, &user_exit)) {
      CHECK_EQ(user_exit, 0);
    } else {
      TerminateProcess(user, 0);
      WaitForSingleObject(user, kCycleLimitMs);
    }
    CloseHandle(user);
  }

  SharedLink link;
  CHECK_EQ(open_shared_link(&link), 0);
  if (link.view != nullptr) talk_through_region(&link);
  // A user's monitor opens all three objects, not only the region, and can do no more.
  // Their lists are read through handles of their own: the link's ask for no more than use.
  // (Under Wine every process is the objects' owner, whom reading the list is always allowed.)
  check_object_grants("region", OpenFileMappingW(READ_CONTROL, FALSE, kRegionName), SECTION_ALL_ACCESS,
                      kRegionUserRights);
  check_object_grants("snapshot mutex", OpenMutexW(READ_CONTROL, FALSE, kSnapshotMutexName), MUTEX_ALL_ACCESS,
                      kMutexUserRights);
  check_object_grants("command mutex", OpenMutexW(READ_CONTROL, FALSE, kCommandMutexName), MUTEX_ALL_ACCESS,
                      kMutexUserRights);
  check_service_grants();
  CHECK(service_is_running());

  const DWORD stop_begin = GetTickCount();
  stop_service_and_wait();
  const DWORD stop_ms = GetTickCount() - stop_begin;
  printf("stop: %lu ms from the stop request to STOPPED\n", stop_ms);
  CHECK_EQ(query_state(service, &status), SERVICE_STOPPED);
  CHECK_EQ(status.dwWin32ExitCode, NO_ERROR);
  CHECK(stop_ms < kCycleLimitMs);
  DWORD exit_code = 0;
  if (service_process != nullptr) {
    CHECK_EQ(WaitForSingleObject(service_process, kCycleLimitMs), WAIT_OBJECT_0);
    CHECK(GetExitCodeProcess(service_process, &exit_code));
    CHECK_EQ(static_cast<int>(exit_code), -2);
    CloseHandle(service_process);
  }
  close_shared_link(&link);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return check_summary("service lifecycle");
}

// --- a service that never gets past start-pending ---

SERVICE_STATUS_HANDLE g_stall_handle;
const DWORD kStallHintMs = 120000;

VOID WINAPI stall_handler(DWORD) {}

VOID WINAPI stall_main(DWORD, LPWSTR*) {
  g_stall_handle = RegisterServiceCtrlHandlerW(kServiceName, stall_handler);
  SERVICE_STATUS status;
  memset(&status, 0, sizeof(status));
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = SERVICE_START_PENDING;
  status.dwCheckPoint = 1;
  status.dwWaitHint = kStallHintMs;
  SetServiceStatus(g_stall_handle, &status);
  Sleep(kStallHintMs);
}

int run_stall() {
  wchar_t name[sizeof(kServiceName) / sizeof(wchar_t)];
  wcscpy(name, kServiceName);
  SERVICE_TABLE_ENTRYW table[] = {{name, stall_main}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

struct WindowSearch {
  DWORD pid;
  int found;
};

BOOL CALLBACK find_window_of(HWND window, LPARAM param) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == search->pid) search->found = 1;
  return TRUE;
}

int run_pending(const char* exe_arg) {
  wchar_t exe[MAX_PATH];
  to_windows_path(exe_arg, exe, MAX_PATH);
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  wchar_t stall_command[2 * MAX_PATH];
  swprintf(stall_command, 2 * MAX_PATH, L"\"%ls\" stall", self);

  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  CHECK(manager != nullptr);
  if (manager == nullptr) return check_summary("start-pending user start");
  SC_HANDLE service = CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                     SERVICE_ERROR_NORMAL, stall_command, nullptr, nullptr,
                                     nullptr, nullptr, nullptr);
  CHECK(service != nullptr);
  if (service == nullptr) return check_summary("start-pending user start");
  CHECK(StartServiceW(service, 0, nullptr));
  SERVICE_STATUS_PROCESS status;
  CHECK_EQ(query_state(service, &status), SERVICE_START_PENDING);

  // The dispatcher refuses a process the manager did not start. Wine first waits for the
  // control pipe of the service it started last, busy here, so its refusal is slow.
  wchar_t name[sizeof(kServiceName) / sizeof(wchar_t)];
  wcscpy(name, kServiceName);
  SERVICE_TABLE_ENTRYW table[] = {{name, stall_main}, {nullptr, nullptr}};
  DWORD begin = GetTickCount();
  CHECK(!StartServiceCtrlDispatcherW(table));
  CHECK_EQ(GetLastError(), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  printf("the dispatcher refused this process after %lu ms\n", GetTickCount() - begin);

  // A user's start now: the manager names another process as the starting service, so it
  // is a user's start, and its window opens; the starting service is left alone.
  DWORD pid = 0;
  HANDLE user = launch(exe, &pid);
  CHECK(user != nullptr);
  if (user != nullptr) {
    WindowSearch search = {pid, 0};
    begin = GetTickCount();
    while (!search.found && WaitForSingleObject(user, kPollMs) == WAIT_TIMEOUT &&
           GetTickCount() - begin < kStartLimitMs) {
      EnumWindows(find_window_of, reinterpret_cast<LPARAM>(&search));
    }
    CHECK_EQ(search.found, 1);
    printf("user start while start-pending: its window after %lu ms\n", GetTickCount() - begin);
    TerminateProcess(user, 0);
    CloseHandle(user);
  }
  SERVICE_STATUS_PROCESS after;
  CHECK_EQ(query_state(service, &after), SERVICE_START_PENDING);
  CHECK_EQ(after.dwProcessId, status.dwProcessId);
  // The registration it found is left as it was.
  BYTE buffer[8192];
  QUERY_SERVICE_CONFIGW* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
  DWORD needed = 0;
  CHECK(QueryServiceConfigW(service, config, sizeof(buffer), &needed));
  CHECK(wcscmp(config->lpBinaryPathName, stall_command) == 0);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return check_summary("start-pending user start");
}

// --- names another program made first ---

struct StatusSearch {
  DWORD pid;
  HWND window;
  HWND tabs;
  wchar_t headline[256];
};

BOOL CALLBACK find_main_window(HWND window, LPARAM param) {
  StatusSearch* search = reinterpret_cast<StatusSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t name[32] = L"";
  GetClassNameW(window, name, 32);
  if (pid == search->pid && wcscmp(name, L"KESTO") == 0) search->window = window;
  return TRUE;
}

// The tab control, and the visible line that begins as the Status page's headlines do.
BOOL CALLBACK find_status_parts(HWND child, LPARAM param) {
  StatusSearch* search = reinterpret_cast<StatusSearch*>(param);
  wchar_t name[32] = L"";
  GetClassNameW(child, name, 32);
  if (wcscmp(name, L"SysTabControl32") == 0) search->tabs = child;
  wchar_t text[256] = L"";
  if (wcscmp(name, L"Static") == 0 && IsWindowVisible(child) && GetWindowTextW(child, text, 256) > 0 &&
      wcsncmp(text, L"Quellcore Service", 17) == 0) {
    wcscpy(search->headline, text);
  }
  return TRUE;
}

// A mutex of the service's name, made by a user's program before the service first runs:
// the service does not use it, stops with its reason, and the window's Status page says so.
int run_squatted(const char* exe_arg) {
  HANDLE squatted = CreateMutexW(nullptr, FALSE, kSnapshotMutexName);
  CHECK(squatted != nullptr);
  wchar_t source[MAX_PATH];
  to_windows_path(exe_arg, source, MAX_PATH);
  CreateDirectoryW(QC_PROGRAM_FILES, nullptr);
  CreateDirectoryW(kInstallDir, nullptr);
  CHECK(CopyFileW(source, kInstalledExe, FALSE));
  DWORD pid = 0;
  HANDLE user = launch(kInstalledExe, &pid);
  CHECK(user != nullptr);
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = nullptr;
  SERVICE_STATUS_PROCESS status = {};
  DWORD begin = GetTickCount();
  bool stopped = false;
  while (!stopped && manager != nullptr && GetTickCount() - begin < kStartLimitMs) {
    Sleep(250);  // gently: the manager's own work is what the service waits on
    if (service == nullptr) service = OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS);
    stopped = service != nullptr && query_state(service, &status) == SERVICE_STOPPED && status.dwWin32ExitCode != 0 &&
              status.dwWin32ExitCode != ERROR_SERVICE_NEVER_STARTED;
  }
  printf("service stopped after %lu ms: exit code %lu, its own %lu\n", GetTickCount() - begin,
         status.dwWin32ExitCode, status.dwServiceSpecificExitCode);
  CHECK(stopped);
  CHECK_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
  CHECK_EQ(status.dwServiceSpecificExitCode, kStopReasonNamesTaken);

  // The Status tab, clicked as a user would: the window learns of the stop at its next look.
  StatusSearch search = {pid, nullptr, nullptr, L""};
  const wchar_t kWanted[] = L"Quellcore Service stopped: another program holds Quellcore's names";
  begin = GetTickCount();
  bool clicked = false;
  while (wcscmp(search.headline, kWanted) != 0 && GetTickCount() - begin < kStartLimitMs) {
    Sleep(250);
    if (search.window == nullptr) EnumWindows(find_main_window, reinterpret_cast<LPARAM>(&search));
    if (search.window == nullptr) continue;
    EnumChildWindows(search.window, find_status_parts, reinterpret_cast<LPARAM>(&search));
    if (!clicked && search.tabs != nullptr) {
      const LPARAM status_tab = MAKELPARAM(70, 10);
      PostMessageW(search.tabs, WM_LBUTTONDOWN, MK_LBUTTON, status_tab);
      PostMessageW(search.tabs, WM_LBUTTONUP, 0, status_tab);
      clicked = true;
    }
  }
  printf("Status page after %lu ms: %ls\n", GetTickCount() - begin, search.headline);
  CHECK(wcscmp(search.headline, kWanted) == 0);
  if (user != nullptr) {
    TerminateProcess(user, 0);
    CloseHandle(user);
  }
  if (service != nullptr) CloseServiceHandle(service);
  if (manager != nullptr) CloseServiceHandle(manager);
  if (squatted != nullptr) CloseHandle(squatted);
  return check_summary("names taken before the service ran");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "squatted") == 0) return run_squatted(argv[2]);
  if (argc >= 2 && strcmp(argv[1], "stall") == 0) return run_stall();
  if (argc >= 3 && strcmp(argv[1], "lifecycle") == 0) return run_lifecycle(argv[2]);
  if (argc >= 3 && strcmp(argv[1], "pending") == 0) return run_pending(argv[2]);
  printf("usage: service_probe lifecycle|pending <quellcore.exe> | stall\n");
  return 2;
}
