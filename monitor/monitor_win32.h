// What the monitor's Win32 files share: window handles, the back buffer and the
// operations one file calls in another.
#pragma once

#include <windows.h>

#include "monitor/layout.h"
#include "monitor/monitor_state.h"
#include "shared/usage_snapshot.h"

const int kTextBufferLength = 100;
const DWORD kMainWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS;
const BOOL kMainWindowHasMenu = TRUE;
// Posted to the main window by the link thread, with a LinkNews in wparam.
const UINT kLinkNewsMessage = WM_APP + 1;
// Sent by the shell for the notification icon.
const UINT kTrayMessage = WM_APP + 2;

struct MonitorWindows {
  HINSTANCE instance;
  HWND main;
  HWND tab_control;
  HWND slider;
  HWND graph_area;
  HWND stop_button;
  HWND start_button;
  HWND install_button;
  // The Status page's lines, as text controls so that screen readers read them too.
  HWND status_lines[kStatusLineCount];
  // The Graph page's text: the slider's label (its name for screen readers), what its
  // level does, and who was held in the latest cycle.
  HWND slider_label;
  HWND readout;
  HWND held_line;
  // Names the programs held in the column under the mouse.
  HWND tooltip;
  HANDLE instance_mutex;
  // Set when the installed copy's window is to take over once this one is gone.
  bool hand_over;
  // The main window's DPI, which every size of the layout is scaled to, and the UI font
  // made for it (null: the controls' own font). Both change with WM_DPICHANGED.
  int32_t dpi;
  HFONT font;
  // The 600 x 400 back buffer: a memory DC with its bitmap selected, kept for the process.
  HDC back_buffer;
  HBITMAP back_bitmap;
};

extern MonitorWindows g_windows;
// The window thread's copy of the newest frame: everything painted comes from it.
extern MonitorFrame g_shown;
extern wchar_t g_window_title[kTextBufferLength];
extern wchar_t g_window_class[kTextBufferLength];

// Main window.
void register_main_window_class(HINSTANCE instance);
// Paints the whole window now, from the frame it shows.
void repaint_main_window();
int init_instance(HINSTANCE instance, int show_command);
HWND create_tab_control();
HWND create_threshold_slider();
BOOL CALLBACK layout_child(HWND child, LPARAM rect);
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// The message loop's key handling: accelerators, the slider's Home, then dialog keys. True
// when the message was handled and is not to be dispatched again.
bool translate_window_keys(HACCEL accelerators, MSG* message);
// Called before `control` is hidden or disabled: a focus on it goes to the tabs.
void move_focus_off(HWND control);

// Usage graph.
HWND create_graph_area();
// The graph area's client rectangle, and where it lies in the main window's client area.
RECT graph_client_rect();
RECT graph_area_rect();
// Scrolls the newest frame's new columns into the back buffer.
void advance_graph();
// Draws the newest snapshot again as the newest column, without a scroll (a new level).
void redraw_newest_column();
// Draws one column of `snapshot` at x 560-569 of `buffer`, then shifts the buffer 10
// pixels left when `scroll` is non-zero.
void draw_column_into(HDC buffer, const UsageSnapshot* snapshot, int scroll);
void paint_graph_background(HDC dc);
void paint_graph_image(HDC dc);

// The tooltip naming the programs held in the column under the mouse.
HWND create_held_tooltip();
void size_held_tooltip();  // for the window's DPI
void held_tip_mouse_moved();
void held_tip_mouse_rested();
void held_tip_mouse_left();
// After the graph scrolled: a shown tip names the column now under the mouse.
void refresh_held_tip();
void hide_held_tip();

// The Graph page's text: the read-out follows the slider, the held line each frame; a
// changed held line or service state is announced to screen readers.
void update_readout();
void update_graph_text();
void show_graph_text(bool shown);

// Status page.
void paint_status_page(HDC dc);
// A button's action, handed to the link thread; the button says so until it is over.
void request_action_from_window(int32_t action);
// Hides its lines and buttons, as the Graph page is painted.
void hide_status_page();

// The program in front: followed from the start of the message loop to its end; a window
// claimed now (as when sparing is switched on again).
void follow_foreground();
void stop_following_foreground();
void claim_front_window(HWND window);
// The timer's look at the foreground window, in case no event told of a change.
void look_at_foreground();
const UINT_PTR kForegroundTimer = 1;
const UINT kForegroundLookMs = 500;

// DPI and fonts: the window's DPI, its outer size at that DPI, and the message font at it
// for every control with text.
int32_t window_dpi(HWND window);
void size_window_to_dpi();
void replace_ui_font();

// The notification icon: added once the window exists, removed at the end; its tooltip
// and state follow each frame.
void add_tray_icon();
void remove_tray_icon();
bool tray_icon_shown();
bool is_taskbar_created(UINT message);
void restore_tray_icon();
void update_tray_icon();
// The notice, once a run, that closing the window left the monitor running.
void tell_goes_on_once();
LRESULT on_tray_message(WPARAM wparam, LPARAM lparam);
// Shows the window (restored, in front) from the notification area or a second start.
void open_main_window();
// Ends the monitor as File, Exit does: icon, link thread, handles, help copy. Safe to call
// twice; the second call does nothing.
void end_monitor();

// Creates the link's wake event and starts the link thread; its handle, or null.
HANDLE start_link_thread();
