// The monitor link thread on the real system.
#include <windows.h>

#include "control/service_client.h"
#include "monitor/link.h"
#include "monitor/monitor_win32.h"

namespace {

// Presence, state and process id: the link never asks which rights this account has.
void look_without_rights(ServiceView* out) { look_at_service(out, 0); }

void sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t current_process_id() { return GetCurrentProcessId(); }

// The file name of the process's image, as any user may ask it of a process it can see.
int resolve_name(uint32_t pid, wchar_t* out, int32_t capacity) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return -1;
  wchar_t path[MAX_PATH];
  DWORD length = MAX_PATH;
  const BOOL named = QueryFullProcessImageNameW(process, 0, path, &length);
  CloseHandle(process);
  if (!named) return -1;
  const wchar_t* name = path;
  for (DWORD i = 0; i < length; ++i) {
    if (path[i] == L'\\') name = path + i + 1;
  }
  lstrcpynW(out, name, capacity);
  return 0;
}

void repaint_main_window() {
  // Fails harmlessly once the window is gone, so shutdown never waits on a paint.
  RedrawWindow(g_windows.main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

}  // namespace

DWORD WINAPI monitor_link_thread(LPVOID) {
  const LinkPlatform platform = {
      look_without_rights, start_service_and_wait, sleep_ms, open_shared_link, current_process_id,
      repaint_main_window, resolve_name,
  };
  run_monitor_link(&platform);
  return 0;
}
