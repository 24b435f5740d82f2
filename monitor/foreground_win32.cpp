// The program in front, followed through Windows' foreground events, so the service can
// spare it while the user works in it.
#include <windows.h>

#include <stdint.h>

#include "monitor/link.h"
#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"

namespace {

HWINEVENTHOOK g_foreground_hook = nullptr;
HWND g_last_front = nullptr;
uint32_t g_last_claim = 0;

const wchar_t kStoreFrameClass[] = L"ApplicationFrameWindow";
const wchar_t kStoreCoreClass[] = L"Windows.UI.Core.CoreWindow";
const int kClassNameCapacity = 64;

// The process whose work the window shows; 0 when sparing is off. A Store app's window
// belongs to the frame host, while the app runs in the process of the core window inside
// it. A console window is reported by Windows as its owner's, the shell's; the link thread
// looks past a console host the system names instead.
uint32_t program_of(HWND window) {
  if (window == nullptr || flag_read(&g_monitor.spare_front) == 0) return 0;
  wchar_t window_class[kClassNameCapacity];
  if (GetClassNameW(window, window_class, kClassNameCapacity) > 0 &&
      lstrcmpW(window_class, kStoreFrameClass) == 0) {
    HWND core = FindWindowExW(window, nullptr, kStoreCoreClass, nullptr);
    if (core != nullptr) window = core;
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

// Only a new program in front goes to the link thread.
void follow(HWND window) {
  const uint32_t pid = program_of(window);
  if (pid == g_last_claim) return;
  g_last_claim = pid;
  claim_program_in_front(pid);
}

void CALLBACK on_foreground_event(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD) {
  if (object == OBJID_WINDOW) follow(window);
}

}  // namespace

void claim_front_window(HWND window) {
  g_last_claim = program_of(window);
  claim_program_in_front(g_last_claim);
}

void look_at_foreground() {
  HWND window = GetForegroundWindow();
  if (window == g_last_front) return;
  g_last_front = window;
  follow(window);
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
