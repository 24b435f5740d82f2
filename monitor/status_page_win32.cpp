// The Status page: what the service is doing, who it held and spared, and the one button
// that changes it.
#include <windows.h>
#include <commctrl.h>

#include "control/service_client.h"
#include "monitor/held_programs.h"
#include "monitor/layout.h"
#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"
#include "monitor/status_view.h"
#include "shared/service_facts.h"

namespace {

const int32_t kLineCapacity = 160;

int text_length(const wchar_t* text) { return lstrlenW(text); }

HWND button_for(int32_t button) {
  if (button == STATUS_BUTTON_STOP) return g_windows.stop_button;
  if (button == STATUS_BUTTON_START) return g_windows.start_button;
  if (button == STATUS_BUTTON_INSTALL) return g_windows.install_button;
  return nullptr;
}

// Moves a child only when it has to, so a paint does not ask for another.
void place(HWND child, WindowBox box) {
  RECT now = {0, 0, 0, 0};
  GetWindowRect(child, &now);
  MapWindowPoints(nullptr, g_windows.main, reinterpret_cast<POINT*>(&now), 2);
  if (now.left != box.x || now.top != box.y || now.right - now.left != box.width ||
      now.bottom - now.top != box.height) {
    SetWindowPos(child, nullptr, box.x, box.y, box.width, box.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// Shows the view's button beside the headline, which is so wide, with Windows' shield when
// the action needs an administrator's approval, and hides the others.
void place_button(int32_t headline_width, const StatusView* view) {
  HWND shown = button_for(view->button);
  const HWND all[] = {g_windows.stop_button, g_windows.start_button, g_windows.install_button};
  for (HWND button : all) {
    if (button != shown) ShowWindow(button, SW_HIDE);
  }
  if (shown == nullptr) return;
  SendMessageW(shown, BCM_SETSHIELD, 0, view->shield ? TRUE : FALSE);
  SIZE ideal = {0, 0};
  if (!SendMessageW(shown, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal))) ideal.cx = 0;
  place(shown, service_button_box(headline_width, ideal.cx, g_windows.dpi));
  ShowWindow(shown, SW_SHOW);
}

// Line `index` shows `text` (none when empty), `width` wide and one pitch high.
void show_line(int32_t index, const wchar_t* text, int32_t width) {
  HWND line = g_windows.status_lines[index];
  if (line == nullptr) return;
  wchar_t shown[kLineCapacity];
  GetWindowTextW(line, shown, kLineCapacity);
  if (lstrcmpW(shown, text) != 0) SetWindowTextW(line, text);
  const int32_t x = status_text_x(g_windows.dpi);
  const int32_t y = status_line_y(index, g_windows.dpi);
  place(line, WindowBox{x, y, width, status_line_y(1, g_windows.dpi) - status_line_y(0, g_windows.dpi)});
  ShowWindow(line, text[0] != L'\0' ? SW_SHOW : SW_HIDE);
}

}  // namespace

void paint_status_page(HDC dc) {
  RECT page = {0, 0, 0, 0};
  GetClientRect(g_windows.main, &page);
  const int32_t page_width = page.right;
  OffsetRect(&page, 0, tab_strip_height(g_windows.dpi));
  HBRUSH background = CreateSolidBrush(GetSysColor(COLOR_MENU));
  FillRect(dc, &page, background);
  // The window's font, at its DPI: the headline is measured in it.
  HGDIOBJ previous_font = g_windows.font != nullptr ? SelectObject(dc, g_windows.font) : nullptr;
  ServiceView service;
  look_at_service(&service, 1);
  const StatusView view = status_view(&service);
  // The lines in order, none left empty between them.
  wchar_t lines[kStatusLineCount][kLineCapacity];
  int32_t count = 0;
  lstrcpynW(lines[count++], view.headline, kLineCapacity);
  if (view.detail != nullptr) lstrcpynW(lines[count++], view.detail, kLineCapacity);
  if (service.presence == kServiceInstalled && service.state == kServiceRunning) {
    const ServiceReport report = load_service_report();
    snapshot_copy_lock();
    held_summary(&g_held.latest, lines[count++], kLineCapacity);
    spared_summary(report.spared_pid, lines[count], kLineCapacity);
    if (lines[count][0] != L'\0') ++count;
    snapshot_copy_unlock();
    system_summary(report.system_passed_over, lines[count], kLineCapacity);
    if (lines[count][0] != L'\0') ++count;
  }
  // The headline only as wide as its text, so that the button beside it stays uncovered.
  SIZE headline = {0, 0};
  GetTextExtentPoint32W(dc, view.headline, text_length(view.headline), &headline);
  const int32_t text_width = page_width - 2 * status_text_x(g_windows.dpi);
  for (int32_t i = 0; i < kStatusLineCount; ++i) {
    show_line(i, i < count ? lines[i] : L"", i == kStatusHeadline ? headline.cx + 1 : text_width);
  }
  place_button(headline.cx, &view);
  if (previous_font != nullptr) SelectObject(dc, previous_font);
  DeleteObject(background);
}

void hide_status_page() {
  const HWND buttons[] = {g_windows.stop_button, g_windows.start_button, g_windows.install_button};
  for (HWND button : buttons) ShowWindow(button, SW_HIDE);
  for (HWND line : g_windows.status_lines) ShowWindow(line, SW_HIDE);
}
