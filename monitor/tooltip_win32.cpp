// The tooltip over the graph: it names the programs held in the column under the mouse.
// It is a tracking tooltip, shown and moved by the window itself, so that while the mouse
// rests it follows the column under it as the graph scrolls, its text replaced in place.
#include <windows.h>
#include <commctrl.h>

#include "monitor/held_programs.h"
#include "monitor/layout.h"
#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"

namespace {

const UINT_PTR kHeldToolId = 1;
const int32_t kTooltipWidth = 400;
const int32_t kTipCapacity = 320;
// Below the pointer, so the tip never lies under it and takes the mouse from the window.
const int32_t kTipOffsetY = 20;

struct HeldTip {
  int tracking;  // the window asked to be told when the mouse leaves it
  int resting;   // the mouse has rested over the graph since it came in
  int shown;
  wchar_t text[kTipCapacity];
};

HeldTip g_tip;

TTTOOLINFOW held_tool() {
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_TRACK | TTF_ABSOLUTE;
  tool.hwnd = g_windows.main;
  tool.uId = kHeldToolId;
  return tool;
}

// The text for the column under a point of the main window's client area; empty over a
// column where nothing was held, and outside the graph.
void tip_text_at(POINT client, wchar_t* out) {
  out[0] = L'\0';
  const RECT graph = graph_area_rect();
  if (client.y < graph.top || client.y >= graph.bottom) return;
  const int32_t column = column_at(client.x - graph.left, graph.right - graph.left);
  if (column < 0) return;
  held_column_tip(&g_shown.held, &g_shown.held.columns[column], out, kTipCapacity);
}

void hide_tip() {
  if (!g_tip.shown) return;
  TTTOOLINFOW tool = held_tool();
  SendMessageW(g_windows.tooltip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
  g_tip.shown = 0;
}

// Shows the tip for the column under the mouse, or changes its text where it stands.
void show_tip_at_cursor() {
  POINT screen = {0, 0};
  GetCursorPos(&screen);
  POINT client = screen;
  ScreenToClient(g_windows.main, &client);
  wchar_t text[kTipCapacity];
  tip_text_at(client, text);
  if (text[0] == L'\0') {
    hide_tip();
    return;
  }
  TTTOOLINFOW tool = held_tool();
  if (!g_tip.shown || lstrcmpW(text, g_tip.text) != 0) {
    lstrcpynW(g_tip.text, text, kTipCapacity);
    tool.lpszText = g_tip.text;
    SendMessageW(g_windows.tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  const int32_t below = scale(kTipOffsetY, g_windows.dpi);
  SendMessageW(g_windows.tooltip, TTM_TRACKPOSITION, 0, MAKELPARAM(screen.x, screen.y + below));
  if (!g_tip.shown) {
    SendMessageW(g_windows.tooltip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
    g_tip.shown = 1;
  }
}

// Tells the window when the mouse rests, and when it leaves.
void track_mouse(DWORD flags) {
  TRACKMOUSEEVENT track = {};
  track.cbSize = sizeof(track);
  track.dwFlags = flags;
  track.hwndTrack = g_windows.main;
  track.dwHoverTime = HOVER_DEFAULT;
  TrackMouseEvent(&track);
}

}  // namespace

HWND create_held_tooltip() {
  g_tip = HeldTip{};
  HWND tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, g_windows.main, nullptr,
                                 g_windows.instance, nullptr);
  if (tooltip == nullptr) return nullptr;
  TTTOOLINFOW tool = held_tool();
  tool.lpszText = g_tip.text;
  SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  return tooltip;
}

void size_held_tooltip() {
  // Several lines for several programs; the width keeps a long name on one line.
  if (g_windows.tooltip != nullptr) {
    SendMessageW(g_windows.tooltip, TTM_SETMAXTIPWIDTH, 0, scale(kTooltipWidth, g_windows.dpi));
  }
}

void held_tip_mouse_moved() {
  if (g_windows.tooltip == nullptr) return;
  // Asked again at every move: a rest is reported once, and a shown tip follows the mouse.
  track_mouse(g_tip.shown ? TME_LEAVE : TME_LEAVE | TME_HOVER);
  g_tip.tracking = 1;
  if (g_tip.shown) show_tip_at_cursor();
}

void held_tip_mouse_rested() {
  if (g_windows.tooltip == nullptr) return;
  g_tip.resting = 1;
  show_tip_at_cursor();
}

void held_tip_mouse_left() {
  g_tip.tracking = 0;
  g_tip.resting = 0;
  hide_tip();
}

void refresh_held_tip() {
  // The graph scrolled under a resting mouse: the tip names the column now under it.
  if (g_windows.tooltip == nullptr || !g_tip.resting || g_monitor.selected_tab != kTabGraph) return;
  show_tip_at_cursor();
}

void hide_held_tip() {
  g_tip.resting = 0;
  hide_tip();
}
