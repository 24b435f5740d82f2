// The monitor role from common-control set-up to shutdown.
#include <windows.h>
#include <commctrl.h>

#include "control/installed_copy.h"
#include "monitor/help.h"
#include "monitor/monitor.h"
#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"
#include "monitor/resource.h"

namespace {

const int32_t kStopAll = -1;
const DWORD kLinkEndWaitMs = 5000;

// Used when the string table cannot be read, so the window still has its names.
const wchar_t kDefaultTitle[] = L"Quellcore";
const wchar_t kDefaultClass[] = L"KESTO";

void load_text(HINSTANCE instance, UINT id, wchar_t* buffer, const wchar_t* fallback) {
  if (LoadStringW(instance, id, buffer, kTextBufferLength) > 0) return;
  lstrcpynW(buffer, fallback, kTextBufferLength);
}

HANDLE g_link_thread = nullptr;
bool g_ended = false;

void close_instance_mutex() {
  if (g_windows.instance_mutex == nullptr) return;
  CloseHandle(g_windows.instance_mutex);
  g_windows.instance_mutex = nullptr;
}

}  // namespace

void end_monitor() {
  if (g_ended) return;
  g_ended = true;
  remove_tray_icon();
  // The window is going: a new start may open its own at once.
  close_instance_mutex();
  if (g_windows.hand_over) start_installed_copy();
  stop_following_foreground();
  flag_store(&g_monitor.stop_requested, kStopAll);
  wake_link();
  if (g_link_thread != nullptr) {
    // The link ends at its next step; one that is still waiting for a service start or
    // stop it asked for is left to the end of the process, which closes its handles.
    WaitForSingleObject(g_link_thread, kLinkEndWaitMs);
    CloseHandle(g_link_thread);
    g_link_thread = nullptr;
  }
  remove_help_file();
}

int run_monitor(HINSTANCE instance, int show_command, int install_refused, bool into_tray) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  load_text(instance, IDS_APP_TITLE, g_window_title, kDefaultTitle);
  load_text(instance, IDS_WINDOW_CLASS, g_window_class, kDefaultClass);
  register_main_window_class(instance);
  if (!init_instance(instance, into_tray ? SW_HIDE : show_command)) {
    close_instance_mutex();
    return 0;
  }
  HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_QUELLCORE));
  // Checked at every start: nothing about it is kept from one run to the next.
  flag_store(&g_monitor.spare_front, 1);
  follow_foreground();
  add_tray_icon();
  g_link_thread = start_link_thread();
  // From the link thread, so the window is up and answering while Windows asks.
  if (install_refused) request_action_from_window(ACTION_ASK_TO_INSTALL);
  MSG message = {};
  // GetMessageW returns -1 on failure; that ends the loop like WM_QUIT.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!translate_window_keys(accelerators, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  end_monitor();
  return static_cast<int>(message.wParam);
}
