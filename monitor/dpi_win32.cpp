// DPI and fonts of the monitor window: its DPI, its outer size at that DPI, and the
// message font at that DPI for every control with text.
#include <windows.h>
#include <commctrl.h>

#include "monitor/layout.h"
#include "monitor/monitor_win32.h"
#include "winapi/dyn_calls_win32.h"

namespace {

// The system's DPI: a system-aware window's, and the best guess for any window where
// Windows cannot tell a window's own (before 10 1607).
int32_t system_dpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDefaultDpi;
}

// What the borders, caption and one row of menu take at `dpi`.
WindowSize frame_size(int32_t dpi) {
  RECT frame = {0, 0, 0, 0};
  const AdjustWindowRectExForDpiFn adjust_for_dpi = dyn_calls()->AdjustWindowRectExForDpi;
  if (adjust_for_dpi != nullptr) {
    adjust_for_dpi(&frame, kMainWindowStyle, kMainWindowHasMenu, 0, static_cast<UINT>(dpi));
  } else {
    AdjustWindowRectEx(&frame, kMainWindowStyle, kMainWindowHasMenu, 0);
  }
  return WindowSize{frame.right - frame.left, frame.bottom - frame.top};
}

// The message font of the user's settings, at `dpi`; null when Windows cannot say.
HFONT create_ui_font(int32_t dpi) {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  const SystemParametersInfoForDpiFn metrics_for_dpi = dyn_calls()->SystemParametersInfoForDpi;
  if (metrics_for_dpi != nullptr &&
      metrics_for_dpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, static_cast<UINT>(dpi))) {
    return CreateFontIndirectW(&metrics.lfMessageFont);
  }
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return nullptr;
  // These are at the system DPI.
  metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, system_dpi());
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

void set_controls_font(HFONT font) {
  const HWND with_text[] = {g_windows.tab_control, g_windows.stop_button, g_windows.start_button,
                            g_windows.install_button, g_windows.tooltip, g_windows.slider_label,
                            g_windows.readout, g_windows.held_line};
  for (HWND control : with_text) {
    if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  for (HWND line : g_windows.status_lines) {
    if (line != nullptr) SendMessageW(line, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  size_held_tooltip();
}

}  // namespace

int32_t window_dpi(HWND window) {
  const GetDpiForWindowFn dpi_for_window = dyn_calls()->GetDpiForWindow;
  const UINT dpi = dpi_for_window != nullptr ? dpi_for_window(window) : 0;
  return dpi != 0 ? static_cast<int32_t>(dpi) : system_dpi();
}

// The window's outer size at its DPI. Without the per-DPI frame (before Windows 10 1607)
// the system's frame stands for both: the window's DPI is the system's there.
void size_window_to_dpi() {
  const WindowSize frame = frame_size(g_windows.dpi);
  const WindowSize frame_at_default =
      dyn_calls()->AdjustWindowRectExForDpi != nullptr ? frame_size(kDefaultDpi) : frame;
  const WindowSize size = window_size(g_windows.dpi, frame_at_default, frame);
  SetWindowPos(g_windows.main, nullptr, 0, 0, size.width, size.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A new font for a new DPI; the old one is freed once no control uses it.
void replace_ui_font() {
  HFONT old = g_windows.font;
  g_windows.font = create_ui_font(g_windows.dpi);
  set_controls_font(g_windows.font);
  if (old != nullptr) DeleteObject(old);
}
