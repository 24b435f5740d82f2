// The monitor link thread on the real system.
#include <windows.h>
#include <wtsapi32.h>

#include "control/elevation.h"
#include "control/installed_copy.h"
#include "control/service_client.h"
#include "control/service_requests.h"
#include "monitor/link.h"
#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"
#include "shared/wide_text.h"
#include "winapi/dyn_calls_win32.h"
#include "winapi/process_list_win32.h"

namespace {

// The approved copy installs, copies and starts the service; past this the window stops
// waiting for it and follows the service as it finds it.
const uint32_t kApprovalWaitMs = 60000;

HANDLE g_link_wake = nullptr;  // auto-reset: one wake per request
SystemProcessList g_processes;

// The window's end of the link pipe: only what reading and writing a connection needs.
const DWORD kPipeRights = FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
static_assert(kPipeRights == kLinkPipeUserRights, "the window asks for what users are granted");
// No pipe operation of the link thread waits longer than this.
const DWORD kPipeWaitMs = 250;
HANDLE g_pipe = INVALID_HANDLE_VALUE;
HANDLE g_pipe_event = nullptr;  // manual reset, for the one operation under way

void close_pipe() {
  if (g_pipe != INVALID_HANDLE_VALUE) CloseHandle(g_pipe);
  g_pipe = INVALID_HANDLE_VALUE;
}

int open_pipe(uint32_t service_pid) {
  close_pipe();
  if (g_pipe_event == nullptr) g_pipe_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_pipe_event == nullptr) return -1;
  // Identification only: the service learns who the window is, and cannot act as it.
  HANDLE pipe = CreateFileW(kLinkPipeName, kPipeRights, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return -1;
  // Anyone may serve a pipe of this name before the service runs: the window speaks only
  // to the service's own process.
  ULONG server = 0;
  if (!GetNamedPipeServerProcessId(pipe, &server) || server != service_pid) {
    CloseHandle(pipe);
    return -1;
  }
  g_pipe = pipe;
  return 0;
}

// One read or write, over within kPipeWaitMs or cancelled; true when `bytes` went whole.
bool pipe_io(bool write, void* data, DWORD bytes) {
  OVERLAPPED io = {};
  io.hEvent = g_pipe_event;
  ResetEvent(g_pipe_event);
  DWORD done = 0;
  const BOOL started = write ? WriteFile(g_pipe, data, bytes, &done, &io) : ReadFile(g_pipe, data, bytes, &done, &io);
  if (!started && GetLastError() != ERROR_IO_PENDING) return false;
  if (WaitForSingleObject(g_pipe_event, kPipeWaitMs) != WAIT_OBJECT_0) {
    CancelIo(g_pipe);
    GetOverlappedResult(g_pipe, &io, &done, TRUE);
    return false;
  }
  return GetOverlappedResult(g_pipe, &io, &done, FALSE) && done == bytes;
}

int send_message(const LinkRequest* request) {
  if (g_pipe == INVALID_HANDLE_VALUE) return -1;
  LinkRequest copy = *request;
  return pipe_io(true, &copy, sizeof(copy)) ? 0 : -1;
}

int take_reply(LinkReply* out) {
  if (g_pipe == INVALID_HANDLE_VALUE) return -1;
  DWORD waiting = 0;
  if (!PeekNamedPipe(g_pipe, nullptr, 0, nullptr, &waiting, nullptr)) return -1;
  if (waiting < sizeof(*out)) return 0;
  return pipe_io(false, out, sizeof(*out)) ? 1 : -1;
}

void look_with_rights(ServiceView* out) { look_at_service(out, 1); }

int wait_ms(uint32_t milliseconds) { return WaitForSingleObject(g_link_wake, milliseconds) == WAIT_OBJECT_0; }

uint32_t tick_ms() { return GetTickCount(); }

uint32_t current_process_id() { return GetCurrentProcessId(); }

void tell_window(int32_t news) {
  // Posted, never sent: the link thread never waits for the window.
  PostMessageW(g_windows.main, kLinkNewsMessage, static_cast<WPARAM>(news), 0);
}

void take_process_list() { take_system_process_list(&g_processes); }

int describe_process(uint32_t pid, ProcessFacts* out) {
  ULONG next = 0;
  for (ULONG at = 0;; at = next) {
    const SYSTEM_PROCESS_INFORMATION* record = system_process_at(&g_processes, at, &next);
    if (record == nullptr) return -1;
    if (static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(record->UniqueProcessId)) != pid) continue;
    out->creation_time = static_cast<uint64_t>(record->CreateTime.QuadPart);
    out->parent_pid = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(record->InheritedFromUniqueProcessId));
    // The image's file name lies inside the list's own buffer; a name that would not is
    // taken for none.
    const BYTE* name = reinterpret_cast<const BYTE*>(record->ImageName.Buffer);
    const ULONG bytes = record->ImageName.Length;
    const ULONG_PTR end = reinterpret_cast<ULONG_PTR>(g_processes.buffer) + g_processes.filled;
    const ULONG_PTR from = reinterpret_cast<ULONG_PTR>(name);
    const int inside = name != nullptr && name >= g_processes.buffer && from <= end && bytes <= end - from;
    copy_text(out->name, kProgramNameCapacity, inside ? record->ImageName.Buffer : L"",
              static_cast<uint32_t>(bytes / sizeof(wchar_t)));
    return 0;
  }
}

int session_disconnected() {
  const DynCalls* calls = dyn_calls();
  if (calls->WTSQuerySessionInformationW == nullptr || calls->WTSFreeMemory == nullptr) return 0;
  WTS_CONNECTSTATE_CLASS* state = nullptr;
  DWORD bytes = 0;
  if (!calls->WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSConnectState,
                                          reinterpret_cast<LPWSTR*>(&state), &bytes)) {
    return 0;
  }
  const int disconnected = bytes >= sizeof(*state) && *state == WTSDisconnected;
  calls->WTSFreeMemory(state);
  return disconnected;
}

// An install done, here or by an approved copy: a window of a copy started from elsewhere
// hands over to the installed copy, whose window the service trusts.
int after_install(int result) {
  if (result == kElevatedCopyStillRunning) return kActionDone;
  if (result != 0) return kActionFailed;
  return runs_installed_copy() ? kActionDone : kActionHandOver;
}

int run_action(int32_t action) {
  switch (action) {
    case ACTION_START:
      start_service_or_ask(g_windows.main);
      return kActionDone;
    case ACTION_STOP:
      stop_service_or_ask(g_windows.main);
      return kActionDone;
    case ACTION_INSTALL:
      return after_install(install_service_or_ask(g_windows.main, kApprovalWaitMs));
    case ACTION_ASK_TO_INSTALL:
      return after_install(run_own_copy_elevated(g_windows.main, kApprovalWaitMs));
    default:
      return kActionFailed;
  }
}

DWORD WINAPI monitor_link_thread(LPVOID) {
  const LinkPlatform platform = {
      look_with_rights, start_service_and_wait, wait_ms,           tick_ms,
      open_shared_link, close_shared_link,     current_process_id, tell_window,
      take_process_list, describe_process,     session_disconnected, run_action,
      open_pipe,         send_message,         take_reply,           close_pipe,
  };
  run_monitor_link(&platform);
  return 0;
}

}  // namespace

void wake_link() {
  if (g_link_wake != nullptr) SetEvent(g_link_wake);
}

HANDLE start_link_thread() {
  g_link_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (g_link_wake == nullptr) return nullptr;
  return CreateThread(nullptr, 0, monitor_link_thread, nullptr, 0, nullptr);
}
