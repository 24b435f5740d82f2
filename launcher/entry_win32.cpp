// The process entry: one executable, two roles; the service dispatcher tells them apart.
#include <windows.h>

#include "control/installed_copy.h"
#include "control/installer.h"
#include "launcher/launcher.h"
#include "monitor/monitor.h"
#include "monitor/resource.h"
#include "winapi/dyn_calls_win32.h"

namespace {

// The installed copy's window takes a few seconds to open on a busy machine; past this
// the starter stops waiting for it.
const DWORD kHandOverWaitMs = 20000;
const DWORD kHandOverPollMs = 50;
const int kNameLength = 100;

wchar_t g_class_name[kNameLength];
wchar_t g_title[kNameLength];

// A monitor window on this desktop (a window of another session is not found), of the
// given process or of any when `process_id` is 0.
HWND monitor_window(DWORD process_id) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, g_class_name, g_title)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (process_id == 0 || owner == process_id) return window;
  }
  return nullptr;
}

// Starts the installed copy and waits for its window; 0 once it is up, or once the copy
// ended well without one (it found a window open and brought it forward), or when the
// wait ran out while it still starts. -1 when it could not start or failed: the window
// then opens here.
int hand_over_to_installed_copy() {
  void* started = nullptr;
  if (start_installed_copy(&started) != 0) return -1;
  HANDLE process = static_cast<HANDLE>(started);
  if (process == nullptr) {
    // The shell started it, and only its window tells that it runs.
    const DWORD begin = GetTickCount();
    while (GetTickCount() - begin < kHandOverWaitMs && monitor_window(0) == nullptr) Sleep(kHandOverPollMs);
    return 0;
  }
  const DWORD process_id = GetProcessId(process);
  int result = 0;
  const DWORD begin = GetTickCount();
  while (GetTickCount() - begin < kHandOverWaitMs && monitor_window(process_id) == nullptr) {
    if (WaitForSingleObject(process, kHandOverPollMs) == WAIT_OBJECT_0) {
      DWORD exit_code = 0;
      if (!GetExitCodeProcess(process, &exit_code) || exit_code != 0) result = -1;
      break;
    }
  }
  CloseHandle(process);
  return result;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  // Libraries loaded later come from the system folder only, never from the folder a
  // downloaded executable sits in; systems without the call keep their usual search.
  SetDefaultDllDirectoriesFn restrict_search = dyn_calls()->SetDefaultDllDirectories;
  if (restrict_search != nullptr) restrict_search(LOAD_LIBRARY_SEARCH_SYSTEM32);
  const ProcessRole role = select_role(GetCurrentProcessId());
  // Nothing of the monitor is set up in the service's role.
  if (role == ROLE_SERVICE_ENDED) return kExitServiceEnded;
  if (role == ROLE_NO_DISPATCHER) return kExitNoDispatcher;
  // Before anything is installed from it: from here on nobody can swap the file.
  pin_own_image();
  LoadStringW(instance, IDS_WINDOW_CLASS, g_class_name, kNameLength);
  LoadStringW(instance, IDS_APP_TITLE, g_title, kNameLength);
  // The show command as the starter gave it: a sign-in shortcut's "Minimized" arrives here.
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  GetStartupInfoW(&startup);
  const bool into_tray = starts_in_notification_area((startup.dwFlags & STARTF_USESHOWWINDOW) != 0,
                                                     startup.wShowWindow);
  HWND open_window = monitor_window(0);
  if (open_window != nullptr && !stays_open(open_window)) open_window = nullptr;
  const UserStart start = start_as_user(open_window != nullptr, into_tray);
  if (start.then == kThenFrontAndExit) {
    // A sign-in start finds the monitor already running and leaves it as it is.
    if (!into_tray) open_monitor_window(open_window);
    return start.done ? 0 : kExitWorkNotDone;
  }
  if (start.then == kThenHandOver && hand_over_to_installed_copy() == 0) return 0;
  return run_monitor(instance, show_command, start.ask_approval ? 1 : 0, into_tray);
}
