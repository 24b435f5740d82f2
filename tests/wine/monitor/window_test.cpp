// The main window under Wine with real USER, common controls and GDI; the link thread is
// not started (the window sees frames published here), and the Help menu is replaced by
// counters.
#include <windows.h>
#include <commctrl.h>

#include <string.h>

#include "control/service_client.h"
#include "monitor/help.h"
#include "monitor/link.h"
#include "monitor/layout.h"
#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"
#include "monitor/resource.h"
#include "tests/wine/common/check.h"

namespace {
int g_wakes = 0;
int g_abouts = 0;
int g_helps = 0;
}  // namespace

void wake_link() { ++g_wakes; }
void show_about_box(HINSTANCE, HWND) { ++g_abouts; }
void show_help_file(HWND) { ++g_helps; }
void end_monitor() {}

namespace {


struct ChildRect {
  int x;
  int y;
  int width;
  int height;
};

ChildRect child_rect(HWND child) {
  RECT rect = {};
  GetWindowRect(child, &rect);
  MapWindowPoints(HWND_DESKTOP, g_windows.main, reinterpret_cast<POINT*>(&rect), 2);
  return ChildRect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void check_child(const char* name, HWND child, int x, int y, int width, int height) {
  const ChildRect r = child_rect(child);
  if (r.x != x || r.y != y || r.width != width || r.height != height) {
    printf("%s at (%d, %d) %d x %d, expected (%d, %d) %d x %d\n", name, r.x, r.y, r.width, r.height, x, y,
           width, height);
  }
  CHECK(r.x == x && r.y == y && r.width == width && r.height == height);
}

int class_is(HWND window, const wchar_t* name) {
  wchar_t seen[64] = {};
  GetClassNameW(window, seen, 64);
  return lstrcmpiW(seen, name) == 0;
}

int graph_height() {
  RECT rect = {};
  GetClientRect(g_windows.graph_area, &rect);
  return rect.bottom;
}

// The frame the link thread would publish, shown as the window shows one.
void show_frame(const MonitorFrame* frame) {
  publish_frame(frame);
  SendMessageW(g_windows.main, kLinkNewsMessage, NEWS_FRAME, 0);
}

// What the link thread publishes of a running service.
void show_running_service() {
  static MonitorFrame frame;
  frame.service = ServiceView{kServiceInstalled, 4, 1234, true, 0};
  show_frame(&frame);
}

void pump_messages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void slide_to(int position) {
  SendMessageW(g_windows.slider, TBM_SETPOS, TRUE, position);
  SendMessageW(g_windows.main, WM_VSCROLL, SB_THUMBTRACK, reinterpret_cast<LPARAM>(g_windows.slider));
}

LRESULT notify(UINT code) {
  NMHDR header = {g_windows.tab_control, 0, code};
  return SendMessageW(g_windows.main, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
}

void test_window_and_children_as_created() {
  CHECK(g_windows.main != nullptr);
  CHECK(class_is(g_windows.tab_control, L"SysTabControl32"));
  CHECK(class_is(g_windows.slider, L"msctls_trackbar32"));
  CHECK(class_is(g_windows.graph_area, L"Static"));
  CHECK(class_is(g_windows.stop_button, L"Button"));
  CHECK(class_is(g_windows.start_button, L"Button"));
  CHECK_EQ(GetDlgCtrlID(g_windows.stop_button), IDC_STOP_SERVICE);
  CHECK_EQ(GetDlgCtrlID(g_windows.start_button), IDC_START_SERVICE);
  RECT outer = {};
  GetWindowRect(g_windows.main, &outer);
  CHECK_EQ(outer.right - outer.left, 600);
  CHECK_EQ(outer.bottom - outer.top, 420);

  CHECK_EQ(SendMessageW(g_windows.tab_control, TCM_GETITEMCOUNT, 0, 0), 2);
  const wchar_t* names[] = {L"Graph", L"Status"};
  for (int i = 0; i < 2; ++i) {
    wchar_t text[32] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 32;
    SendMessageW(g_windows.tab_control, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
    CHECK(lstrcmpW(text, names[i]) == 0);
  }

  CHECK_EQ(SendMessageW(g_windows.slider, TBM_GETRANGEMIN, 0, 0), 0);
  CHECK_EQ(SendMessageW(g_windows.slider, TBM_GETRANGEMAX, 0, 0), 100);
  CHECK_EQ(SendMessageW(g_windows.slider, TBM_GETSELSTART, 0, 0), 40);
  CHECK_EQ(SendMessageW(g_windows.slider, TBM_GETSELEND, 0, 0), 100);
  CHECK_EQ(SendMessageW(g_windows.slider, TBM_GETPAGESIZE, 0, 0), 4);
  CHECK_EQ(SendMessageW(g_windows.slider, TBM_GETPOS, 0, 0), 40);
  CHECK(GetFocus() == g_windows.slider);
  CHECK_EQ(g_monitor.slider_threshold, 40);
  // The size message of the window's own creation came before the graph area existed.
  const int line = g_monitor.threshold_line_y;
  CHECK(line == kThresholdLineStart || line == threshold_line_y(40, graph_height(), kDefaultDpi));
  // On the Graph page the first paint hid the buttons that the layout pass had shown.
  CHECK(!IsWindowVisible(g_windows.stop_button));
  CHECK(!IsWindowVisible(g_windows.start_button));
  CHECK(IsWindowVisible(g_windows.slider));
}

// This program carries the product's manifest. Windows 10 1607 and later read the first
// setting and take the first value they know (per-monitor v2 from 1703); older ones read
// the second (per-monitor on 8.1, system-aware before).
void test_manifest_declares_dpi_awareness() {
  wchar_t value[64] = {};
  CHECK(QueryActCtxSettingsW(0, nullptr, L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness",
                             value, 64, nullptr));
  CHECK(lstrcmpW(value, L"PerMonitorV2, PerMonitor") == 0);
  CHECK(QueryActCtxSettingsW(0, nullptr, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware",
                             value, 64, nullptr));
  CHECK(lstrcmpW(value, L"true/pm") == 0);
}

// Found by its class: an Explorer window on a folder named "Quellcore", in front, has the
// title too.
void test_second_instance_brings_first_forward_and_stops() {
  HWND before = g_windows.main;
  MonitorWindows saved = g_windows;
  WNDCLASSW folder_class = {};
  folder_class.lpfnWndProc = DefWindowProcW;
  folder_class.hInstance = GetModuleHandleW(nullptr);
  folder_class.lpszClassName = L"CabinetWClass";
  RegisterClassW(&folder_class);
  HWND folder = CreateWindowExW(0, L"CabinetWClass", g_window_title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                                100, nullptr, nullptr, folder_class.hInstance, nullptr);
  SetForegroundWindow(folder);
  CHECK_EQ(init_instance(GetModuleHandleW(nullptr), SW_SHOWNORMAL), 0);
  g_windows = saved;
  CHECK(GetForegroundWindow() == before);
  DestroyWindow(folder);
}

void test_size_message_lays_out_children() {
  struct Case {
    int width;
    int height;
  } cases[] = {{584, 362}, {500, 300}, {900, 600}};
  for (const Case& c : cases) {
    RECT display = {0, 0, c.width, c.height};
    SendMessageW(g_windows.tab_control, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    const int gw = display.right - display.left - 40;
    // Two 18-pixel lines of text under the slider, which reaches 5 past the graph, take
    // their height from it.
    const int gh = display.bottom - display.top - 5 - 36;
    SendMessageW(g_windows.main, WM_SIZE, SIZE_RESTORED, MAKELPARAM(c.width, c.height));
    check_child("graph area", g_windows.graph_area, 0, 20, gw, gh);
    check_child("slider", g_windows.slider, gw, 20, 50, gh + 5);
    check_child("tab strip", g_windows.tab_control, 0, 0, gw + 50, 20);
    check_child("stop button", g_windows.stop_button, 203, 38, 100, 20);
    check_child("slider label", g_windows.slider_label, 5, gh + 25, 64, 18);
    check_child("held line", g_windows.held_line, 5, gh + 43, gw + 40, 18);
    CHECK(gh + 43 + 18 <= c.height);  // inside the window, not cut by its edge
    CHECK_EQ(g_monitor.threshold_line_y, threshold_line_y(40, gh, kDefaultDpi));
  }
  // The slider's name for screen readers is the label just before it in the z-order.
  wchar_t text[200] = {};
  CHECK(GetWindow(g_windows.slider, GW_HWNDPREV) == g_windows.slider_label);
  GetWindowTextW(g_windows.slider_label, text, 200);
  CHECK(wcscmp(text, L"&Threshold:") == 0);
  GetWindowTextW(g_windows.readout, text, 200);
  CHECK(wcsncmp(text, L"40: holds a program using more than 60 % of this machine (", 58) == 0);
  GetWindowTextW(g_windows.held_line, text, 200);
  CHECK(wcscmp(text, L"Nothing held") == 0);
  SendMessageW(g_windows.main, WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(0, 0));
  CHECK_EQ(g_monitor.threshold_line_y, 30);
  // A tab strip too narrow for its tabs grows scroll arrows of its own; once the tabs
  // fit again the layout must not bring them back over the tabs.
  SendMessageW(g_windows.main, WM_SIZE, SIZE_RESTORED, MAKELPARAM(584, 362));
  CHECK(!IsWindowVisible(FindWindowExW(g_windows.tab_control, nullptr, nullptr, nullptr)));
}

void test_size_message_before_children_keeps_threshold_line() {
  MonitorWindows saved = g_windows;
  g_windows.tab_control = nullptr;
  g_windows.slider = nullptr;
  g_windows.graph_area = nullptr;
  g_monitor.threshold_line_y = kThresholdLineStart;
  SendMessageW(g_windows.main, WM_SIZE, SIZE_RESTORED, MAKELPARAM(584, 362));
  CHECK_EQ(g_monitor.threshold_line_y, kThresholdLineStart);
  g_windows = saved;
}

void test_minimum_tracking_size() {
  MINMAXINFO info = {};
  info.ptMaxSize = {1234, 987};
  info.ptMinTrackSize = {1, 2};
  CHECK_EQ(SendMessageW(g_windows.main, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 0);
  CHECK_EQ(info.ptMinTrackSize.x, 350);
  CHECK_EQ(info.ptMinTrackSize.y, 250);
  CHECK_EQ(info.ptMaxSize.x, 1234);
  CHECK_EQ(info.ptMaxSize.y, 987);
}

LONG font_height(HWND control) {
  LOGFONTW font = {};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(font), &font);
  return font.lfHeight;
}

int outer_rect_is(const RECT& wanted) {
  RECT rect = {};
  GetWindowRect(g_windows.main, &rect);
  return EqualRect(&rect, &wanted);
}

// Dragged to a screen at 150 %: the window takes the place Windows suggests, and the
// layout, the font and the threshold line follow; back at 100 % all is as before.
void test_dpi_change_rescales_the_window() {
  show_running_service();
  SendMessageW(g_windows.main, WM_SIZE, SIZE_RESTORED, MAKELPARAM(584, 362));
  RECT before = {};
  GetWindowRect(g_windows.main, &before);
  const LONG height_before = font_height(g_windows.stop_button);
  CHECK(height_before != 0);
  CHECK_EQ(font_height(g_windows.tab_control), height_before);
  RECT suggested = {before.left + 10, before.top + 10, before.left + 910, before.top + 640};
  SendMessageW(g_windows.main, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  CHECK(outer_rect_is(suggested));
  CHECK_EQ(font_height(g_windows.stop_button), MulDiv(height_before, 144, 96));
  CHECK_EQ(font_height(g_windows.tab_control), MulDiv(height_before, 144, 96));
  const int gw = child_rect(g_windows.graph_area).width;
  const int gh = graph_height();
  const ChildLayout at_144 = child_layout(gw, gh, 144);
  const WindowBox boxes[] = {at_144.graph_area, at_144.slider, at_144.tab_strip, service_button_box(0, 0, 144)};
  const HWND children[] = {g_windows.graph_area, g_windows.slider, g_windows.tab_control, g_windows.stop_button};
  CHECK_EQ(g_monitor.threshold_line_y, threshold_line_y(40, gh, 144));
  MINMAXINFO info = {};
  SendMessageW(g_windows.main, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  CHECK(info.ptMinTrackSize.x == min_track_size(144).width && info.ptMinTrackSize.y == min_track_size(144).height);

  // Three rows of red at 150 %, drawn as whole rows.
  RedrawWindow(g_windows.main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  pump_messages();
  HDC dc = GetDC(g_windows.main);
  const int line = g_monitor.threshold_line_y;
  const COLORREF red = RGB(240, 0, 0);
  CHECK(GetPixel(dc, 10, line - 1) != red);
  CHECK(GetPixel(dc, 10, line) == red && GetPixel(dc, 10, line + 1) == red && GetPixel(dc, 10, line + 2) == red);
  CHECK(GetPixel(dc, 10, line + 3) != red);
  ReleaseDC(g_windows.main, dc);

  notify(TCN_SELCHANGING);  // the Status page places the button
  for (int i = 0; i < 4; ++i) {
    check_child("child at 144", children[i], boxes[i].x, boxes[i].y, boxes[i].width, boxes[i].height);
  }
  notify(TCN_SELCHANGING);

  SendMessageW(g_windows.main, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&before));
  CHECK(outer_rect_is(before));
  CHECK_EQ(font_height(g_windows.stop_button), height_before);
  check_child("tab strip back at 96", g_windows.tab_control, 0, 0, child_rect(g_windows.graph_area).width + 50, 20);
}

// The slider hands its level to the link thread and wakes it; the window never waits.
void test_slider_clamps_and_hands_its_level_over() {
  SendMessageW(g_windows.main, WM_SIZE, SIZE_RESTORED, MAKELPARAM(584, 362));
  struct Case {
    int dragged_to;
    int kept;
  } cases[] = {{10, 40}, {0, 40}, {39, 40}, {70, 70}, {100, 100}, {41, 41}};
  for (const Case& c : cases) {
    flag_store(&g_monitor.threshold_unsent, 0);
    const int wakes = g_wakes;
    slide_to(c.dragged_to);
    CHECK_EQ(SendMessageW(g_windows.slider, TBM_GETPOS, 0, 0), c.kept);
    CHECK_EQ(g_monitor.slider_threshold, c.kept);
    CHECK_EQ(g_monitor.threshold_unsent, 1);
    CHECK_EQ(g_wakes, wakes + 1);
    CHECK_EQ(g_monitor.threshold_line_y, threshold_line_y(c.kept, graph_height(), kDefaultDpi));
  }
  slide_to(40);
}

void test_tab_switch_shows_status_page_and_back() {
  CHECK_EQ(notify(NM_CLICK), 1);  // answered, but no switch
  CHECK_EQ(g_monitor.selected_tab, 0);

  static MonitorFrame frame;
  frame.service = ServiceView{kServiceInstalled, 4, 1234, true, 0};
  show_frame(&frame);
  CHECK_EQ(notify(TCN_SELCHANGING), 1);
  CHECK_EQ(g_monitor.selected_tab, 1);
  CHECK_EQ(SendMessageW(g_windows.tab_control, TCM_GETCURSEL, 0, 0), 1);
  CHECK(!IsWindowVisible(g_windows.slider));
  CHECK(IsWindowVisible(g_windows.stop_button));
  CHECK(!IsWindowVisible(g_windows.start_button));

  // A resize on the Status page neither shows nor moves the slider in the layout pass.
  SendMessageW(g_windows.main, WM_SIZE, SIZE_RESTORED, MAKELPARAM(500, 300));
  CHECK(!IsWindowVisible(g_windows.slider));

  frame.service.state = 1;
  show_frame(&frame);
  CHECK(!IsWindowVisible(g_windows.stop_button));
  CHECK(IsWindowVisible(g_windows.start_button));

  CHECK_EQ(notify(TCN_SELCHANGING), 1);
  CHECK_EQ(g_monitor.selected_tab, 0);
  CHECK_EQ(SendMessageW(g_windows.tab_control, TCM_GETCURSEL, 0, 0), 0);
  CHECK(IsWindowVisible(g_windows.slider));
  CHECK(!IsWindowVisible(g_windows.stop_button));
  CHECK(!IsWindowVisible(g_windows.start_button));
  SendMessageW(g_windows.main, WM_SIZE, SIZE_RESTORED, MAKELPARAM(584, 362));
}

// A click hands the stop to the link thread: the button says so, disabled, until a frame
// shows the link took it up and finished it.
void test_a_buttons_action_shows_until_it_is_over() {
  static MonitorFrame frame;
  frame.service = ServiceView{kServiceInstalled, 4, 1234, true, 0};
  show_frame(&frame);
  notify(TCN_SELCHANGING);
  wchar_t text[32];
  const struct {
    int32_t action;  // as the frame reports it
    int32_t taken;
    const wchar_t* text;
    BOOL enabled;
  } steps[] = {{ACTION_NONE, 0, L"Stopping\u2026", FALSE},   // clicked, not yet taken up
               {ACTION_STOP, 1, L"Stopping\u2026", FALSE},   // under way
               {ACTION_NONE, 1, L"Stop Service", TRUE}};      // over
  SendMessageW(g_windows.main, WM_COMMAND, IDC_STOP_SERVICE, 0);
  for (const auto& step : steps) {
    frame.action = step.action;
    frame.actions_taken = step.taken;
    show_frame(&frame);
    GetWindowTextW(g_windows.stop_button, text, 32);
    CHECK(lstrcmpW(text, step.text) == 0);
    CHECK_EQ(IsWindowEnabled(g_windows.stop_button), step.enabled);
  }
  notify(TCN_SELCHANGING);
}

void test_click_on_status_tab_switches_through_selchanging() {
  RECT item = {};
  SendMessageW(g_windows.tab_control, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
  const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  SendMessageW(g_windows.tab_control, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(g_windows.tab_control, WM_LBUTTONUP, 0, at);
  pump_messages();
  CHECK_EQ(g_monitor.selected_tab, 1);
  CHECK_EQ(SendMessageW(g_windows.tab_control, TCM_GETCURSEL, 0, 0), 1);
  notify(TCN_SELCHANGING);
  CHECK_EQ(g_monitor.selected_tab, 0);
}

void test_graph_page_pixels() {
  static MonitorFrame frame;
  frame.columns = 1;
  frame.snapshot.active_count = 1;
  frame.snapshot.bars[0] = 0x80 | 50;  // a hog at half the machine
  show_frame(&frame);
  pump_messages();  // the children paint after the main window; what they paint shows

  RECT graph = {};
  GetClientRect(g_windows.graph_area, &graph);
  HDC dc = GetDC(g_windows.main);
  const int line = g_monitor.threshold_line_y;
  CHECK(GetPixel(dc, 10, line) == RGB(240, 0, 0));
  CHECK(GetPixel(dc, 10, line + 1) == RGB(240, 0, 0));
  // Edged in white, so it stays in sight over a red bar, and in grey.
  CHECK(GetPixel(dc, 10, line - 1) == RGB(255, 255, 255));
  CHECK(GetPixel(dc, 10, line + 2) == RGB(255, 255, 255));
  CHECK(GetPixel(dc, 4, line + 7) == RGB(0, 128, 0));  // a vertical grid line
  CHECK(GetPixel(dc, 10, 48) == RGB(0, 128, 0));       // a horizontal grid line
  CHECK(GetPixel(dc, 10, line + 7) == RGB(0, 0, 0));
  // The newest column sits at buffer x 550-559 and covers the lower half.
  const int page_height = graph.bottom + kTabStripHeight;
  // Left of the stripe that marks held bars (buffer x 554-555 after the shift).
  const int x = 552 * graph.right / kBufferWidth;
  const int y = 350 * page_height / kBufferHeight;
  const COLORREF column = GetPixel(dc, x, y);
  CHECK_EQ(GetRValue(column), 255);
  CHECK_EQ(GetBValue(column), 0);
  CHECK(GetPixel(dc, 565 * graph.right / kBufferWidth, y) != column);
  ReleaseDC(g_windows.main, dc);
}

void test_commands() {
  // The service's buttons hand their action to the link thread.
  const struct {
    int id;
    int32_t action;
  } actions[] = {{IDC_STOP_SERVICE, ACTION_STOP}, {IDC_START_SERVICE, ACTION_START},
                 {IDC_INSTALL_SERVICE, ACTION_INSTALL}};
  for (const auto& a : actions) {
    flag_store(&g_monitor.action_requested, ACTION_NONE);
    CHECK_EQ(SendMessageW(g_windows.main, WM_COMMAND, a.id, 0), 0);
    CHECK_EQ(g_monitor.action_requested, a.action);
  }
  const struct {
    int id;
    int* counter;
  } counted[] = {{IDM_ABOUT, &g_abouts}, {IDM_HELP, &g_helps}};
  for (const auto& c : counted) {
    const int before = *c.counter;
    CHECK_EQ(SendMessageW(g_windows.main, WM_COMMAND, c.id, 0), 0);
    CHECK_EQ(*c.counter, before + 1);
  }
  const int ignored[] = {106, 110, 112, 115};
  for (int id : ignored) SendMessageW(g_windows.main, WM_COMMAND, id, 0);
  CHECK(IsWindow(g_windows.main));
  CHECK_EQ(g_abouts + g_helps, 2);

  PostMessageW(g_windows.main, WM_COMMAND, IDM_EXIT, 0);  // as another process would
  MSG message = {};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  CHECK_EQ(message.message, WM_QUIT);
  CHECK_EQ(message.wParam, 0);
  CHECK(!IsWindow(g_windows.main));
}

}  // namespace

int main() {
  monitor_state_reset();
  lstrcpynW(g_window_title, L"Quellcore", kTextBufferLength);
  lstrcpynW(g_window_class, L"KESTO", kTextBufferLength);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  register_main_window_class(instance);
  CHECK_EQ(init_instance(instance, SW_SHOWNORMAL), 1);
  if (g_windows.main == nullptr) return check_summary("monitor window");
  pump_messages();
  test_window_and_children_as_created();
  test_manifest_declares_dpi_awareness();
  test_second_instance_brings_first_forward_and_stops();
  test_size_message_lays_out_children();
  test_size_message_before_children_keeps_threshold_line();
  test_minimum_tracking_size();
  test_dpi_change_rescales_the_window();
  test_slider_clamps_and_hands_its_level_over();
  test_tab_switch_shows_status_page_and_back();
  test_a_buttons_action_shows_until_it_is_over();
  test_click_on_status_tab_switches_through_selchanging();
  test_graph_page_pixels();
  test_commands();
  CloseHandle(g_windows.instance_mutex);
  return check_summary("monitor window");
}
