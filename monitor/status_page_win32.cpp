// The Status page: what the service is doing, who it held and spared, and the one button
// that changes it, all from the window's newest frame. The button's action runs on the
// link thread; the button says so and waits disabled until the frame says it is over.
#include <windows.h>
#include <commctrl.h>

#include "control/service_client.h"
#include "monitor/held_programs.h"
#include "monitor/link.h"
#include "monitor/layout.h"
#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"
#include "monitor/status_view.h"
#include "shared/service_facts.h"

namespace {

const int32_t kLineCapacity = 160;

// The action this window asked for, until a frame shows the link thread took it up.
struct PendingAction {
  int32_t action;
  int32_t taken_by;  // the frame's count of actions taken once the link took this one
};

PendingAction g_pending = {ACTION_NONE, 0};

// The action under way as the user should see it: the frame's, or one just asked for.
int32_t action_under_way() {
  if (g_shown.action != ACTION_NONE) return g_shown.action;
  if (g_pending.action != ACTION_NONE && g_shown.actions_taken < g_pending.taken_by) return g_pending.action;
  return ACTION_NONE;
}

// The button's own text, or what it says while its action runs.
const wchar_t* button_text(int32_t button, int32_t action) {
  if (action == ACTION_STOP) return L"Stopping\u2026";
  if (action == ACTION_START) return L"Starting\u2026";
  if (action == ACTION_INSTALL || action == ACTION_ASK_TO_INSTALL) return L"Installing\u2026";
  if (button == STATUS_BUTTON_STOP) return L"Stop Service";
  if (button == STATUS_BUTTON_START) return L"Start Service";
  return L"Install Service";
}

int text_length(const wchar_t* text) { return lstrlenW(text); }

HWND button_for(int32_t button) {
  if (button == STATUS_BUTTON_STOP) return g_windows.stop_button;
  if (button == STATUS_BUTTON_START) return g_windows.start_button;
  if (button == STATUS_BUTTON_INSTALL) return g_windows.install_button;
  return nullptr;
}

// Changes a control's text only when it differs, so a paint does not ask for another.
void set_text(HWND control, const wchar_t* text) {
  wchar_t shown[kLineCapacity];
  GetWindowTextW(control, shown, kLineCapacity);
  if (lstrcmpW(shown, text) != 0) SetWindowTextW(control, text);
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
    if (button != shown) {
      move_focus_off(button);
      ShowWindow(button, SW_HIDE);
    }
  }
  if (shown == nullptr) return;
  const int32_t action = action_under_way();
  set_text(shown, button_text(view->button, action));
  if (action != ACTION_NONE) move_focus_off(shown);
  EnableWindow(shown, action == ACTION_NONE);
  SendMessageW(shown, BCM_SETSHIELD, 0, view->shield && action == ACTION_NONE ? TRUE : FALSE);
  SIZE ideal = {0, 0};
  if (!SendMessageW(shown, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal))) ideal.cx = 0;
  place(shown, service_button_box(headline_width, ideal.cx, g_windows.dpi));
  ShowWindow(shown, SW_SHOW);
}

// Line `index` shows `text` (none when empty), `width` wide and one pitch high.
void show_line(int32_t index, const wchar_t* text, int32_t width) {
  HWND line = g_windows.status_lines[index];
  if (line == nullptr) return;
  set_text(line, text);
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
  // The system's text colour on its window colour, as the lines draw themselves, so no
  // theme leaves the text in the page's own colour.
  HBRUSH background = CreateSolidBrush(GetSysColor(COLOR_WINDOW));
  FillRect(dc, &page, background);
  // The window's font, at its DPI: the headline is measured in it.
  HGDIOBJ previous_font = g_windows.font != nullptr ? SelectObject(dc, g_windows.font) : nullptr;
  const ServiceView* service = &g_shown.service;
  const StatusView view = status_view(service);
  // The lines in order, none left empty between them.
  wchar_t lines[kStatusLineCount][kLineCapacity];
  int32_t count = 0;
  lstrcpynW(lines[count++], view.headline, kLineCapacity);
  if (view.detail != nullptr) lstrcpynW(lines[count++], view.detail, kLineCapacity);
  if (service->presence == kServiceInstalled && service->state == kServiceRunning) {
    const ServiceReport* report = &g_shown.report;
    const HeldColumn latest = held_column_of(report);
    held_summary(&g_shown.held, &latest, lines[count++], kLineCapacity);
    spared_summary(&g_shown.held, report->spared_pid, report->spared_family, lines[count], kLineCapacity);
    if (lines[count][0] != L'\0') ++count;
    system_summary(report->system_passed_over, lines[count], kLineCapacity);
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

void request_action_from_window(int32_t action) {
  g_pending.action = action;
  g_pending.taken_by = g_shown.actions_taken + 1;
  request_service_action(action);
  repaint_main_window();
}

void hide_status_page() {
  const HWND buttons[] = {g_windows.stop_button, g_windows.start_button, g_windows.install_button};
  for (HWND button : buttons) {
    move_focus_off(button);
    ShowWindow(button, SW_HIDE);
  }
  for (HWND line : g_windows.status_lines) ShowWindow(line, SW_HIDE);
}
