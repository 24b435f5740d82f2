// The main window: class, one window per signed-in user, children, layout, tab switch,
// threshold slider and commands. It shows the link thread's frames and never waits for
// the service, the region or anything else outside the process.
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include "monitor/held_programs.h"
#include "monitor/help.h"
#include "monitor/layout.h"
#include "monitor/link.h"
#include "monitor/monitor.h"
#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"
#include "monitor/resource.h"
#include "monitor/status_view.h"

namespace {

// One window per signed-in user: each session has its own desktop to show it on.
const wchar_t kInstanceMutexName[] = L"Local\\QuellcoreMutex3";
// How long a start waits for a window that is closing to let go of the mutex.
const DWORD kClosingWindowWaitMs = 3000;
const DWORD kClosingWindowPollMs = 50;
const DWORD kClosingWindowWatchMs = 500;
// Set on the window from its creation until it is told to end: a hidden window that has
// it sits in the notification area, one without it is ending (its hiding alone may take a
// second under Wine).
const wchar_t kStaysOpenProperty[] = L"QuellcoreStaysOpen";
const HANDLE kPropertySet = reinterpret_cast<HANDLE>(1);

// Created 40 px wider than the client and 400 high; WM_SIZE sizes it properly.
const int kTabExtraWidth = 40;
const int kTabInitialHeight = 400;
const int kDeferredWindows = 2;
const LRESULT kNotifyHandled = 1;
const UINT kRepaintNow = RDW_INVALIDATE | RDW_UPDATENOW;
const int kLineTextCapacity = 200;

void run_layout_pass(RECT graph) {
  EnumChildWindows(g_windows.main, layout_child, reinterpret_cast<LPARAM>(&graph));
}

int insert_tab(HWND tab_control, int index, const wchar_t* text) {
  TCITEMW item = {};
  item.mask = TCIF_TEXT | TCIF_IMAGE;
  item.iImage = -1;
  item.pszText = const_cast<wchar_t*>(text);
  return static_cast<int>(SendMessageW(tab_control, TCM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&item)));
}

HWND create_service_button(const wchar_t* text, int id) {
  const WindowBox box = service_button_box(0, 0, g_windows.dpi);
  return CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_TABSTOP, box.x, box.y, box.width, box.height, g_windows.main,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

HWND create_text(const wchar_t* text, DWORD style) {
  return CreateWindowExW(0, L"STATIC", text, WS_CHILD | SS_LEFT | style, 0, 0, 0, 0, g_windows.main, nullptr,
                         g_windows.instance, nullptr);
}

#ifndef EVENT_OBJECT_LIVEREGIONCHANGED
#define EVENT_OBJECT_LIVEREGIONCHANGED 0x8019
#endif

// A control's text, changed only when it differs; a change is announced politely, as a
// live region's, when `announce` is set.
void set_text_announced(HWND control, const wchar_t* text, bool announce) {
  if (control == nullptr) return;
  wchar_t shown[kLineTextCapacity];
  GetWindowTextW(control, shown, kLineTextCapacity);
  if (lstrcmpW(shown, text) == 0) return;
  SetWindowTextW(control, text);
  if (announce) NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, control, OBJID_CLIENT, CHILDID_SELF);
}

// Where the system keeps annotations (oleacc's property services), and the UI Automation
// property that makes a control a live region; "polite" waits for the reader to finish.
const CLSID kAccPropServicesClass = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const IID kAccPropServicesInterface = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
const GUID kLiveSettingProperty = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
const LONG kLivePolite = 1;

// The Graph page's held line and the Status headline become polite live regions, so the
// change events they raise are read out. COM stays open on the window thread: the
// annotations live in the property services' server for the windows' whole life. Where the
// system has no such server, the events still go out.
void mark_live_regions() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return;
  IAccPropServices* services = nullptr;
  if (FAILED(CoCreateInstance(kAccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER, kAccPropServicesInterface,
                              reinterpret_cast<void**>(&services))) ||
      services == nullptr) {
    return;
  }
  VARIANT polite;
  VariantInit(&polite);
  polite.vt = VT_I4;
  polite.lVal = kLivePolite;
  HWND live[] = {g_windows.held_line, g_windows.status_lines[kStatusHeadline]};
  for (HWND control : live) {
    if (control != nullptr) services->SetHwndProp(control, OBJID_CLIENT, CHILDID_SELF, kLiveSettingProperty, polite);
  }
  services->Release();
}

HWND create_status_line() {
  return CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 0, 0, 0, 0,
                         g_windows.main, nullptr, nullptr, nullptr);
}

// The control that had the focus when the window went inactive, and the one each page had
// when another page was chosen: given back on return, if it can still take it.
HWND g_focus_at_deactivation = nullptr;
HWND g_page_focus[2] = {nullptr, nullptr};

bool can_take_focus(HWND control) {
  return control != nullptr && IsWindow(control) && GetParent(control) == g_windows.main &&
         IsWindowVisible(control) && IsWindowEnabled(control);
}

// Where the focus goes when there is nothing to give back: the page's own control, else
// the tabs, which are always there.
HWND page_default_focus() {
  if (g_monitor.selected_tab == kTabGraph && can_take_focus(g_windows.slider)) return g_windows.slider;
  return g_windows.tab_control;
}

void restore_focus() {
  HWND target = g_focus_at_deactivation;
  if (!can_take_focus(target)) target = page_default_focus();
  if (can_take_focus(target)) SetFocus(target);
}

LRESULT on_activate(WPARAM wparam) {
  if (LOWORD(wparam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    if (focus != nullptr && GetParent(focus) == g_windows.main) g_focus_at_deactivation = focus;
    return 0;
  }
  // Minimized: the focus comes back with the restore.
  if (HIWORD(wparam) == 0) restore_focus();
  return 0;
}

void move_box(HWND window, WindowBox box) { MoveWindow(window, box.x, box.y, box.width, box.height, TRUE); }

void end_main_window() {
  RemovePropW(g_windows.main, kStaysOpenProperty);
  DestroyWindow(g_windows.main);
}

LRESULT on_create(HWND window) {
  EnableMenuItem(GetMenu(window), IDM_OPTIONS, MF_BYCOMMAND | MF_GRAYED);
  return 0;
}

void lay_out(int width, int height) {
  // During the main window's own creation there is nothing to lay out or measure yet,
  // and threshold_line_y keeps its value.
  if (g_windows.graph_area == nullptr) return;
  RECT display = {0, 0, width, height};
  if (g_windows.tab_control != nullptr) {
    SendMessageW(g_windows.tab_control, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
  }
  const SizeLayout layout =
      size_layout(LayoutRect{display.left, display.top, display.right, display.bottom}, g_windows.dpi);
  HDWP batch = BeginDeferWindowPos(kDeferredWindows);
  if (batch != nullptr && g_windows.tab_control != nullptr) {
    batch = DeferWindowPos(batch, g_windows.tab_control, nullptr, 0, 0, width, height,
                           SWP_NOMOVE | SWP_NOZORDER);
  }
  if (batch != nullptr) {
    batch = DeferWindowPos(batch, g_windows.graph_area, HWND_TOP, layout.graph_area.x, layout.graph_area.y,
                           layout.graph_area.width, layout.graph_area.height, 0);
  }
  if (batch != nullptr && g_windows.slider != nullptr) {
    batch = DeferWindowPos(batch, g_windows.slider, HWND_TOP, layout.slider.x, layout.slider.y,
                           layout.slider.width, layout.slider.height, 0);
  }
  if (batch != nullptr) EndDeferWindowPos(batch);
  // The label stays just before the slider in the z-order: so it names the slider for
  // screen readers, and its mnemonic moves the focus to it.
  if (g_windows.slider_label != nullptr) {
    SetWindowPos(g_windows.slider_label, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  const RECT graph = graph_client_rect();
  g_monitor.threshold_line_y =
      threshold_line_y(flag_read(&g_monitor.slider_threshold), graph.bottom, g_windows.dpi);
  run_layout_pass(graph);
}

LRESULT on_size(LPARAM lparam) {
  lay_out(static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam)));
  return 0;
}

// The window went to a screen of another scale, or the user changed it: Windows suggests
// the window's new place and size, and everything inside follows the new DPI.
LRESULT on_dpi_changed(WPARAM wparam, LPARAM lparam) {
  g_windows.dpi = LOWORD(wparam);
  replace_ui_font();
  const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
  if (suggested != nullptr) {
    SetWindowPos(g_windows.main, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // Also when the size stayed and no WM_SIZE came.
  RECT client = {0, 0, 0, 0};
  GetClientRect(g_windows.main, &client);
  lay_out(client.right, client.bottom);
  repaint_main_window();
  return 0;
}

LRESULT on_paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (g_monitor.selected_tab == kTabGraph) paint_graph_background(dc);
  if (g_monitor.selected_tab == kTabGraph) paint_graph_image(dc);
  if (g_monitor.selected_tab == kTabStatus) paint_status_page(dc);
  EndPaint(window, &paint);
  return 0;
}

LRESULT on_get_min_max_info(LPARAM lparam) {
  MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lparam);
  const WindowSize smallest = min_track_size(g_windows.dpi);
  info->ptMinTrackSize.x = smallest.width;
  info->ptMinTrackSize.y = smallest.height;
  return 0;
}

void select_tab(int32_t selected) {
  // A focus on a control of the page left is kept for the return and parked on the tabs
  // before that control is hidden; one on the tabs stays there, as the user moves along them.
  HWND focus = GetFocus();
  const bool in_page = focus != nullptr && focus != g_windows.tab_control && GetParent(focus) == g_windows.main;
  if (in_page) {
    g_page_focus[g_monitor.selected_tab == kTabStatus ? 1 : 0] = focus;
    SetFocus(g_windows.tab_control);
  }
  g_monitor.selected_tab = selected;
  if (selected != kTabGraph) hide_held_tip();
  SendMessageW(g_windows.tab_control, TCM_SETCURSEL, selected, 0);
  ShowWindow(g_windows.slider, selected == kTabStatus ? SW_HIDE : SW_SHOW);
  show_graph_text(selected == kTabGraph);
  // The paint shows the new page's button, which may then take the focus back.
  repaint_main_window();
  HWND back = g_page_focus[selected == kTabStatus ? 1 : 0];
  if (in_page && can_take_focus(back)) SetFocus(back);
}

void switch_tab() {
  const int current = static_cast<int>(SendMessageW(g_windows.tab_control, TCM_GETCURSEL, 0, 0));
  select_tab(next_tab(current));
}

LRESULT on_notify(LPARAM lparam) {
  NMHDR* header = reinterpret_cast<NMHDR*>(lparam);
  // Answering 1 keeps the tab control from switching by itself; switch_tab decides.
  if (header != nullptr && header->code == static_cast<UINT>(TCN_SELCHANGING)) switch_tab();
  return kNotifyHandled;
}

LRESULT on_vscroll(LPARAM lparam) {
  HWND slider = reinterpret_cast<HWND>(lparam);
  if (slider == nullptr || slider != g_windows.slider) return 0;
  const int32_t position = static_cast<int32_t>(SendMessageW(slider, TBM_GETPOS, 0, 0));
  const int32_t sel_start = static_cast<int32_t>(SendMessageW(slider, TBM_GETSELSTART, 0, 0));
  const int32_t sel_end = static_cast<int32_t>(SendMessageW(slider, TBM_GETSELEND, 0, 0));
  const int32_t threshold = clamp_slider_position(position, sel_start, sel_end);
  if (threshold != position) SendMessageW(slider, TBM_SETPOS, TRUE, threshold);
  g_monitor.threshold_line_y = threshold_line_y(threshold, graph_client_rect().bottom, g_windows.dpi);
  send_slider_threshold(threshold);
  update_readout();
  redraw_newest_column();
  repaint_main_window();
  return 0;
}

// The menu's check follows the choice; the claim goes out at once, for the window in front
// when switched on and for none when switched off.
void toggle_sparing(HWND window) {
  const int32_t on = flag_read(&g_monitor.spare_front) == 0 ? 1 : 0;
  flag_store(&g_monitor.spare_front, on);
  CheckMenuItem(GetMenu(window), IDM_SPARE_FRONT, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
  claim_front_window(GetForegroundWindow());
}

LRESULT on_command(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (LOWORD(wparam)) {
    case IDM_ABOUT:
      show_about_box(g_windows.instance, window);
      return 0;
    case IDM_EXIT:
      end_main_window();
      return 0;
    case IDM_OPEN_WINDOW:
      open_main_window();
      return 0;
    case IDC_STOP_SERVICE:
      request_action_from_window(ACTION_STOP);
      return 0;
    case IDC_START_SERVICE:
      request_action_from_window(ACTION_START);
      return 0;
    case IDC_INSTALL_SERVICE:
      request_action_from_window(ACTION_INSTALL);
      return 0;
    case IDM_HELP:
      show_help_file(window);
      return 0;
    case IDM_SPARE_FRONT:
      toggle_sparing(window);
      return 0;
    // Two pages: the next one and the previous one are the other one.
    case IDM_NEXT_PAGE:
    case IDM_PREVIOUS_PAGE:
      switch_tab();
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

LRESULT on_ctl_color_static(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  // The graph area only holds the page's place: given a brush it would paint over the
  // graph that the main window draws beneath it.
  if (reinterpret_cast<HWND>(lparam) == g_windows.graph_area && g_windows.graph_area != nullptr) {
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
  }
  // The Status page's lines and the Graph page's text: the system's text colour on the
  // window colour.
  const HWND graph_text[] = {g_windows.slider_label, g_windows.readout, g_windows.held_line};
  for (HWND line : graph_text) {
    if (reinterpret_cast<HWND>(lparam) == line && line != nullptr) {
      SetTextColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
  }
  for (HWND line : g_windows.status_lines) {
    if (reinterpret_cast<HWND>(lparam) == line && line != nullptr) {
      SetTextColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT on_colours_changed(UINT message, WPARAM wparam, LPARAM lparam) {
  const HWND controls[] = {g_windows.tab_control, g_windows.slider, g_windows.stop_button,
                           g_windows.start_button, g_windows.install_button, g_windows.tooltip};
  for (HWND control : controls) {
    if (control != nullptr) SendMessageW(control, message, wparam, lparam);
  }
  RedrawWindow(g_windows.main, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  return 0;
}

// The newest frame: new columns scroll in, a resting tooltip follows them, and the
// window is painted from it. A declined approval to install shows what is missing; once
// installed, a window of a copy started from elsewhere gives way to the installed copy's.
LRESULT on_link_news(WPARAM news) {
  if (news == NEWS_DECLINED) {
    select_tab(kTabStatus);
    return 0;
  }
  if (news == NEWS_HAND_OVER) {
    g_windows.hand_over = true;
    end_main_window();
    return 0;
  }
  load_frame(&g_shown);
  // The back buffer takes every column, so the graph's history is there when the window
  // opens; a hidden window paints nothing and only the icon follows.
  advance_graph();
  update_tray_icon();
  update_graph_text();
  if (!IsWindowVisible(g_windows.main)) return 0;
  refresh_held_tip();
  repaint_main_window();
  return 0;
}

// The close box and Alt+F4 hide the window: the monitor goes on sparing the program in
// front from the notification area. Without an icon to come back from, it ends as before.
LRESULT on_close(HWND window) {
  if (!tray_icon_shown()) {
    end_main_window();
    return 0;
  }
  hide_held_tip();
  ShowWindow(window, SW_HIDE);
  tell_goes_on_once();
  return 0;
}

// The session is about to end: the service is told at once, while the link still runs, to
// hold nothing of it while its programs save their work.
LRESULT on_query_end_session() {
  link_request_session_end();
  return TRUE;
}

// Sign-out or shutdown: the monitor ends as with Exit, shown or not, before Windows ends
// the process.
LRESULT on_end_session(WPARAM ending) {
  if (!ending) return 0;
  end_monitor();
  end_main_window();
  return 0;
}

LRESULT on_destroy() {
  PostQuitMessage(0);
  return 0;
}

// Yes when this window may open: the session has no other, or the other one is closing and
// lets go of the one-window mutex within a few seconds. No after bringing the other one to
// the front. A window that neither closes nor shows in that time is not waited for.
bool take_instance_mutex() {
  for (DWORD waited = 0;; waited += kClosingWindowPollMs) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (mutex != nullptr && !existed) {
      g_windows.instance_mutex = mutex;
      return true;
    }
    if (mutex != nullptr) CloseHandle(mutex);
    // By class, not title: a folder named after the product has its title too.
    HWND other = FindWindowW(g_window_class, nullptr);
    if (other != nullptr && stays_open(other)) {
      open_monitor_window(other);
      return false;
    }
    if (waited >= kClosingWindowWaitMs) return true;
    Sleep(kClosingWindowPollMs);
  }
}

}  // namespace

void update_readout() {
  wchar_t text[kLineTextCapacity];
  // The window runs on the machine it describes; all processor groups count.
  const int32_t cpus = static_cast<int32_t>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
  threshold_readout(flag_read(&g_monitor.slider_threshold), cpus, text, kLineTextCapacity);
  set_text_announced(g_windows.readout, text, false);
}

void update_graph_text() {
  wchar_t text[kLineTextCapacity];
  const HeldColumn latest = held_column_of(&g_shown.report);
  bool any = false;
  for (const HeldProgram& held : latest.held) any = any || held.pid != 0;
  if (any) {
    held_summary(&g_shown.held, &latest, text, kLineTextCapacity);
  } else {
    lstrcpynW(text, L"Nothing held", kLineTextCapacity);
  }
  set_text_announced(g_windows.held_line, text, true);
  // The service's state, announced from the Status page's headline, which says it.
  const StatusView view = status_view(&g_shown.service);
  set_text_announced(g_windows.status_lines[kStatusHeadline], view.headline, true);
}

void show_graph_text(bool shown) {
  const HWND texts[] = {g_windows.slider_label, g_windows.readout, g_windows.held_line};
  for (HWND text : texts) ShowWindow(text, shown ? SW_SHOW : SW_HIDE);
}

void move_focus_off(HWND control) {
  if (control != nullptr && GetFocus() == control) SetFocus(g_windows.tab_control);
}

bool translate_window_keys(HACCEL accelerators, MSG* message) {
  // Home takes the slider to the lowest level a user may choose, not to 0 and back.
  if (message->message == WM_KEYDOWN && message->wParam == VK_HOME && message->hwnd == g_windows.slider &&
      g_windows.slider != nullptr) {
    SendMessageW(g_windows.slider, TBM_SETPOS, TRUE, kSliderSelStart);
    SendMessageW(g_windows.main, WM_VSCROLL, MAKEWPARAM(TB_TOP, 0), reinterpret_cast<LPARAM>(g_windows.slider));
    return true;
  }
  // The slider or a button holds the focus, so keys arrive for it; the commands belong to
  // the main window. Then Tab, Shift+Tab, Space and mnemonics as in a dialog box.
  if (TranslateAcceleratorW(g_windows.main, accelerators, message)) return true;
  return IsDialogMessageW(g_windows.main, message) != 0;
}

bool stays_open(HWND other) {
  for (DWORD watched = 0;; watched += kClosingWindowPollMs) {
    if (!IsWindow(other)) return false;
    if (!IsWindowVisible(other) && GetPropW(other, kStaysOpenProperty) == nullptr) return false;
    if (watched >= kClosingWindowWatchMs) return true;
    Sleep(kClosingWindowPollMs);
  }
}

void open_monitor_window(HWND window) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  // This start came from the user, so it may pass the right to come to the front on.
  AllowSetForegroundWindow(owner);
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_OPEN_WINDOW, 0), 0);
  SetForegroundWindow(window);
}

void open_main_window() {
  // A sign-in start's first show may take the starter's "minimized"; restored then.
  ShowWindow(g_windows.main, IsIconic(g_windows.main) ? SW_RESTORE : SW_SHOW);
  if (IsIconic(g_windows.main)) ShowWindow(g_windows.main, SW_RESTORE);
  SetForegroundWindow(g_windows.main);
  repaint_main_window();
}

void repaint_main_window() { RedrawWindow(g_windows.main, nullptr, nullptr, kRepaintNow); }

void register_main_window_class(HINSTANCE instance) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = main_window_proc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUELLCORE));
  window_class.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  window_class.lpszMenuName = MAKEINTRESOURCEW(IDC_QUELLCORE);
  window_class.lpszClassName = g_window_class;
  RegisterClassExW(&window_class);
}

int init_instance(HINSTANCE instance, int show_command) {
  if (!take_instance_mutex()) return 0;
  g_windows.instance = instance;
  // A control parent, so that Tab moves through the children as in a dialog box.
  g_windows.main = CreateWindowExW(WS_EX_CONTROLPARENT, g_window_class, g_window_title, kMainWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                   kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
  if (g_windows.main == nullptr) return 0;
  SetPropW(g_windows.main, kStaysOpenProperty, kPropertySet);
  // Only now is it known on which screen, and so at which DPI, the window opens.
  g_windows.dpi = window_dpi(g_windows.main);
  size_window_to_dpi();
  g_windows.tab_control = create_tab_control();
  // Before the slider, which it names.
  g_windows.slider_label = create_text(L"&Threshold:", 0);
  g_windows.slider = create_threshold_slider();
  g_windows.graph_area = create_graph_area();
  g_windows.readout = create_text(L"", SS_NOPREFIX | SS_ENDELLIPSIS);
  g_windows.held_line = create_text(L"", SS_NOPREFIX | SS_ENDELLIPSIS);
  g_windows.stop_button = create_service_button(L"Stop Service", IDC_STOP_SERVICE);
  g_windows.start_button = create_service_button(L"Start Service", IDC_START_SERVICE);
  g_windows.install_button = create_service_button(L"Install Service", IDC_INSTALL_SERVICE);
  for (HWND& line : g_windows.status_lines) line = create_status_line();
  g_windows.tooltip = create_held_tooltip();
  mark_live_regions();
  replace_ui_font();
  flag_store(&g_monitor.slider_threshold, kSliderStart);
  update_readout();
  update_graph_text();
  // The first paint shows the empty graph and what the window knows before the link has
  // seen anything: that nobody could tell yet whether the service runs.
  g_shown.service.presence = kServiceUnknown;
  // The whole layout, not only the pass over the children: a window resized to its DPI
  // above has had its size messages before the children existed.
  RECT client = {0, 0, 0, 0};
  GetClientRect(g_windows.main, &client);
  lay_out(client.right, client.bottom);
  // The focus is always drawn, not only after the first key.
  SendMessageW(g_windows.main, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  ShowWindow(g_windows.main, show_command);
  UpdateWindow(g_windows.main);
  return 1;
}

HWND create_tab_control() {
  RECT client = {0, 0, 0, 0};
  GetClientRect(g_windows.main, &client);
  InitCommonControls();
  HWND tab_control = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, 0, 0,
                                     client.right + kTabExtraWidth, kTabInitialHeight, g_windows.main,
                                     nullptr, g_windows.instance, nullptr);
  if (tab_control == nullptr) return nullptr;
  if (insert_tab(tab_control, kTabGraph, L"Graph") == -1 ||
      insert_tab(tab_control, kTabStatus, L"Status") == -1) {
    DestroyWindow(tab_control);
    return nullptr;
  }
  return tab_control;
}

HWND create_threshold_slider() {
  // Placed by the first layout.
  HWND slider = CreateWindowExW(0, TRACKBAR_CLASSW, nullptr,
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBS_VERT | TBS_AUTOTICKS | TBS_ENABLESELRANGE, 0, 0, 0, 0,
                                g_windows.main, nullptr, g_windows.instance, nullptr);
  SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(kSliderMin, kSliderMax));
  SendMessageW(slider, TBM_SETPAGESIZE, 0, kSliderPageSize);
  SendMessageW(slider, TBM_SETSEL, FALSE, MAKELPARAM(kSliderSelStart, kSliderSelEnd));
  SendMessageW(slider, TBM_SETPOS, TRUE, kSliderStart);
  SetFocus(slider);
  return slider;
}

BOOL CALLBACK layout_child(HWND child, LPARAM rect) {
  // The enumeration also visits the children's own children, such as the tab strip's
  // scroll arrows, which their owners show and hide themselves.
  if (GetParent(child) != g_windows.main) return TRUE;
  const RECT* graph = reinterpret_cast<const RECT*>(rect);
  const ChildLayout layout = child_layout(graph->right, graph->bottom, g_windows.dpi);
  if (child == g_windows.graph_area) move_box(child, layout.graph_area);
  if (g_monitor.selected_tab == kTabGraph && child == g_windows.slider) move_box(child, layout.slider);
  if (child == g_windows.tab_control) move_box(child, layout.tab_strip);
  const bool graph_text =
      child == g_windows.slider_label || child == g_windows.readout || child == g_windows.held_line;
  if (graph_text && g_monitor.selected_tab == kTabGraph) {
    const GraphTextLayout text = graph_text_layout(graph->right, graph->bottom, g_windows.dpi);
    if (child == g_windows.slider_label) move_box(child, text.slider_label);
    if (child == g_windows.readout) move_box(child, text.readout);
    if (child == g_windows.held_line) move_box(child, text.held_line);
  }
  // Shows both service buttons too; the next paint hides the one (or two) not wanted.
  const bool page_only = child == g_windows.slider || graph_text;
  if (!(g_monitor.selected_tab == kTabStatus && page_only)) ShowWindow(child, SW_SHOW);
  return TRUE;
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  // Registered at run time, so it cannot be a case of the switch.
  if (is_taskbar_created(message)) {
    restore_tray_icon();
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      return on_create(window);
    case WM_ACTIVATE:
      return on_activate(wparam);
    // The frame itself takes no keys: the focus goes on to a control.
    case WM_SETFOCUS:
      restore_focus();
      return 0;
    case WM_DESTROY:
      return on_destroy();
    case WM_CLOSE:
      return on_close(window);
    case WM_QUERYENDSESSION:
      return on_query_end_session();
    case WM_ENDSESSION:
      return on_end_session(wparam);
    case kTrayMessage:
      return on_tray_message(wparam, lparam);
    case WM_SIZE:
      return on_size(lparam);
    case WM_PAINT:
      return on_paint(window);
    case WM_GETMINMAXINFO:
      return on_get_min_max_info(lparam);
    case WM_DPICHANGED:
      return on_dpi_changed(wparam, lparam);
    case WM_NOTIFY:
      return on_notify(lparam);
    case WM_VSCROLL:
      return on_vscroll(lparam);
    case WM_COMMAND:
      return on_command(window, message, wparam, lparam);
    // The common controls learn of new colours only from their parent.
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
      return on_colours_changed(message, wparam, lparam);
    case WM_CTLCOLORSTATIC:
      return on_ctl_color_static(window, message, wparam, lparam);
    case WM_MOUSEMOVE:
      held_tip_mouse_moved();
      return 0;
    case WM_MOUSEHOVER:
      held_tip_mouse_rested();
      return 0;
    case WM_MOUSELEAVE:
      held_tip_mouse_left();
      return 0;
    case WM_TIMER:
      if (wparam == kForegroundTimer) look_at_foreground();
      return 0;
    case kLinkNewsMessage:
      return on_link_news(wparam);
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}
