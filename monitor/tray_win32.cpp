// The monitor's notification icon: its state and tooltip from each frame, the click that
// opens the window, its menu, and its return when Explorer starts again.
#include <windows.h>
#include <shellapi.h>

#include "monitor/monitor_win32.h"
#include "monitor/resource.h"
#include "monitor/status_view.h"
#include "monitor/tray.h"
#include "shared/wide_text.h"

namespace {

const UINT kTrayIconId = 1;
const int kTrayStates = 3;
const wchar_t kTaskbarCreated[] = L"TaskbarCreated";
const wchar_t kGoesOnTitle[] = L"Quellcore goes on";
const wchar_t kGoesOnText[] =
    L"Quellcore goes on sparing the program in front from the notification area. Choose Exit in its menu to end it.";

struct TrayIcon {
  bool added;
  bool told_goes_on;  // the notice of the first hide, once a run
  int32_t state;
  wchar_t tip[kTrayTipCapacity];
  HICON icons[kTrayStates];
  UINT taskbar_created;
};

TrayIcon g_tray = {false, false, TRAY_STOPPED, L"", {nullptr, nullptr, nullptr}, 0};

// At the small-icon size of the system's DPI, which the notification area draws at.
HICON load_state_icon(int32_t state) {
  const int ids[kTrayStates] = {IDI_TRAY_HOLDING, IDI_TRAY_IDLE, IDI_TRAY_STOPPED};
  if (g_tray.icons[state] == nullptr) {
    g_tray.icons[state] = static_cast<HICON>(LoadImageW(g_windows.instance, MAKEINTRESOURCEW(ids[state]), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  }
  return g_tray.icons[state];
}

NOTIFYICONDATAW icon_data(UINT flags) {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof(data);
  data.hWnd = g_windows.main;
  data.uID = kTrayIconId;
  data.uFlags = flags;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = load_state_icon(g_tray.state);
  copy_text(data.szTip, kTrayTipCapacity, g_tray.tip);
  return data;
}

void add_icon() {
  NOTIFYICONDATAW data = icon_data(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
  g_tray.added = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
  if (!g_tray.added) return;
  data.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_SETVERSION, &data);
}

void append(HMENU menu, UINT id, const wchar_t* text, UINT flags = MF_STRING) {
  AppendMenuW(menu, flags, id, text);
}

// The same commands as the window's: each is handled by the main window's WM_COMMAND.
void show_icon_menu(int x, int y) {
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  append(menu, IDM_OPEN_WINDOW, L"&Open Quellcore");
  const bool sparing = flag_read(&g_monitor.spare_front) != 0;
  append(menu, IDM_SPARE_FRONT, L"&Spare the Program in Front", MF_STRING | (sparing ? MF_CHECKED : MF_UNCHECKED));
  // As the Status page offers it; none while nobody can tell whether the service runs.
  const StatusView status = status_view(&g_shown.service);
  if (status.button == STATUS_BUTTON_STOP) append(menu, IDC_STOP_SERVICE, L"S&top Service");
  if (status.button == STATUS_BUTTON_START) append(menu, IDC_START_SERVICE, L"S&tart Service");
  if (status.button == STATUS_BUTTON_INSTALL) append(menu, IDC_INSTALL_SERVICE, L"&Install Service");
  append(menu, 0, nullptr, MF_SEPARATOR);
  append(menu, IDM_EXIT, L"E&xit");
  SetMenuDefaultItem(menu, IDM_OPEN_WINDOW, FALSE);
  // Without this the menu stays open when the user clicks elsewhere.
  SetForegroundWindow(g_windows.main);
  TrackPopupMenuEx(menu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, x, y, g_windows.main, nullptr);
  PostMessageW(g_windows.main, WM_NULL, 0, 0);
  DestroyMenu(menu);
}

}  // namespace

void add_tray_icon() {
  g_tray.taskbar_created = RegisterWindowMessageW(kTaskbarCreated);
  g_tray.state = tray_view(&g_shown, g_tray.tip, kTrayTipCapacity);
  add_icon();
}

void remove_tray_icon() {
  if (!g_tray.added) return;
  NOTIFYICONDATAW data = icon_data(0);
  Shell_NotifyIconW(NIM_DELETE, &data);
  g_tray.added = false;
}

bool tray_icon_shown() { return g_tray.added; }

bool is_taskbar_created(UINT message) { return g_tray.taskbar_created != 0 && message == g_tray.taskbar_created; }

// Explorer started again with an empty notification area.
void restore_tray_icon() { add_icon(); }

void update_tray_icon() {
  wchar_t tip[kTrayTipCapacity];
  const int32_t state = tray_view(&g_shown, tip, kTrayTipCapacity);
  if (state == g_tray.state && lstrcmpW(tip, g_tray.tip) == 0) return;
  g_tray.state = state;
  copy_text(g_tray.tip, kTrayTipCapacity, tip);
  if (!g_tray.added) return;
  NOTIFYICONDATAW data = icon_data(NIF_ICON | NIF_TIP | NIF_SHOWTIP);
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void tell_goes_on_once() {
  if (g_tray.told_goes_on || !g_tray.added) return;
  g_tray.told_goes_on = true;
  NOTIFYICONDATAW data = icon_data(NIF_INFO);
  copy_text(data.szInfoTitle, ARRAYSIZE(data.szInfoTitle), kGoesOnTitle);
  copy_text(data.szInfo, ARRAYSIZE(data.szInfo), kGoesOnText);
  data.dwInfoFlags = NIIF_INFO;
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

// Version 4: the event in lparam's low word, the place in wparam.
LRESULT on_tray_message(WPARAM wparam, LPARAM lparam) {
  switch (LOWORD(lparam)) {
    case NIN_SELECT:
    case NIN_KEYSELECT:
      open_main_window();
      return 0;
    case WM_CONTEXTMENU:
      show_icon_menu(static_cast<short>(LOWORD(wparam)), static_cast<short>(HIWORD(wparam)));
      return 0;
    default:
      return 0;
  }
}
