// The Status page: what the service is doing, and the one button that changes it.
#include <windows.h>
#include <commctrl.h>

#include "control/service_client.h"
#include "monitor/layout.h"
#include "monitor/monitor_win32.h"
#include "monitor/status_view.h"

namespace {

int text_length(const wchar_t* text) { return lstrlenW(text); }

HWND button_for(int32_t button) {
  if (button == STATUS_BUTTON_STOP) return g_windows.stop_button;
  if (button == STATUS_BUTTON_START) return g_windows.start_button;
  if (button == STATUS_BUTTON_INSTALL) return g_windows.install_button;
  return nullptr;
}

// Shows the view's button beside the headline, with Windows' shield when the action
// needs an administrator's approval, and hides the others.
void place_button(HDC dc, const StatusView* view) {
  HWND shown = button_for(view->button);
  const HWND all[] = {g_windows.stop_button, g_windows.start_button, g_windows.install_button};
  for (HWND button : all) {
    if (button != shown) ShowWindow(button, SW_HIDE);
  }
  if (shown == nullptr) return;
  SendMessageW(shown, BCM_SETSHIELD, 0, view->shield ? TRUE : FALSE);
  SIZE headline = {0, 0};
  GetTextExtentPoint32W(dc, view->headline, text_length(view->headline), &headline);
  SIZE ideal = {0, 0};
  if (!SendMessageW(shown, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal))) ideal.cx = 0;
  const WindowBox box = service_button_box(headline.cx, ideal.cx, g_windows.dpi);
  // Moved only when it has to, so a paint does not ask for another.
  RECT now = {0, 0, 0, 0};
  GetWindowRect(shown, &now);
  MapWindowPoints(nullptr, g_windows.main, reinterpret_cast<POINT*>(&now), 2);
  if (now.left != box.x || now.top != box.y || now.right - now.left != box.width ||
      now.bottom - now.top != box.height) {
    SetWindowPos(shown, nullptr, box.x, box.y, box.width, box.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(shown, SW_SHOW);
}

}  // namespace

void paint_status_page(HDC dc) {
  RECT page = {0, 0, 0, 0};
  GetClientRect(g_windows.main, &page);
  OffsetRect(&page, 0, tab_strip_height(g_windows.dpi));
  HBRUSH background = CreateSolidBrush(GetSysColor(COLOR_MENU));
  FillRect(dc, &page, background);
  // The window's font, at its DPI; the headline is measured in it too.
  HGDIOBJ previous_font = g_windows.font != nullptr ? SelectObject(dc, g_windows.font) : nullptr;
  ServiceView service;
  look_at_service(&service, 1);
  const StatusView view = status_view(&service);
  const int32_t x = status_text_x(g_windows.dpi);
  TextOutW(dc, x, status_line_y(kStatusHeadline, g_windows.dpi), view.headline, text_length(view.headline));
  if (view.detail != nullptr) {
    TextOutW(dc, x, status_line_y(kStatusDetail, g_windows.dpi), view.detail, text_length(view.detail));
  }
  place_button(dc, &view);
  if (previous_font != nullptr) SelectObject(dc, previous_font);
  DeleteObject(background);
}
