// The program in front, followed through Windows' foreground events, so the service can
// spare it while the user works in it.
#include <windows.h>

#include "monitor/link.h"
#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"

namespace {

HWINEVENTHOOK g_foreground_hook = nullptr;

// The window's process by id and creation time, so a reused id never names it; none when
// sparing is off or the process cannot be asked (then nothing is spared, not a stranger).
ForegroundClaim claim_for(HWND window) {
  ForegroundClaim claim = {0, 0};
  if (window == nullptr || flag_read(&g_monitor.spare_front) == 0) return claim;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return claim;
  FILETIME created, exited, kernel, user;
  if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    claim.pid = pid;
    claim.creation_time = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  }
  CloseHandle(process);
  return claim;
}

void CALLBACK on_foreground_event(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD) {
  if (object != OBJID_WINDOW) return;
  const ForegroundClaim claim = claim_for(window);
  follow_program_in_front(&claim);
}

}  // namespace

void claim_front_window(HWND window) {
  const ForegroundClaim claim = claim_for(window);
  claim_program_in_front(&claim);
}

void look_at_foreground() {
  static HWND last = nullptr;
  HWND window = GetForegroundWindow();
  // Opened only when another window came to the front.
  if (window == last) return;
  last = window;
  const ForegroundClaim claim = claim_for(window);
  follow_program_in_front(&claim);
}

void follow_foreground() {
  // Out of context: the events arrive as messages on this thread, no library is injected.
  g_foreground_hook = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr,
                                      on_foreground_event, 0, 0, WINEVENT_OUTOFCONTEXT);
  // Not every system reports the change (Wine does not): a look twice a second finds it.
  SetTimer(g_windows.main, kForegroundTimer, kForegroundLookMs, nullptr);
  claim_front_window(GetForegroundWindow());
}

void stop_following_foreground() {
  if (g_foreground_hook != nullptr) UnhookWinEvent(g_foreground_hook);
  g_foreground_hook = nullptr;
  KillTimer(g_windows.main, kForegroundTimer);
}
