// The usage graph: columns drawn once into a back buffer that scrolls left, and the
// Graph page that shows the buffer over a grid with the threshold line.
#include <windows.h>

#include "monitor/held_programs.h"
#include "monitor/layout.h"
#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"

namespace {

const COLORREF kOrdinaryBarColour = RGB(0, 255, 0);
const COLORREF kHogBarColour = RGB(255, 0, 0);
const COLORREF kGridColour = RGB(0, 128, 0);
const COLORREF kThresholdLineColour = RGB(240, 0, 0);
const int kThinPen = 0;

void scroll_back_buffer(HDC buffer) {
  // x 590-599 keep their content: they only ever hold never-drawn black.
  BitBlt(buffer, 0, 0, kBufferWidth - kScrollStep, kBufferHeight, buffer, kScrollStep, 0, SRCCOPY);
}

}  // namespace

RECT graph_client_rect() {
  RECT rect = {0, 0, 0, 0};
  GetClientRect(g_windows.graph_area, &rect);
  return rect;
}

RECT graph_area_rect() {
  RECT rect = {0, 0, 0, 0};
  GetWindowRect(g_windows.graph_area, &rect);
  MapWindowPoints(nullptr, g_windows.main, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

HWND create_graph_area() {
  HWND area = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_BITMAP, 0, 25,
                              kBufferWidth, kBufferHeight, g_windows.main, nullptr,
                              g_windows.instance, nullptr);
  HDC area_dc = GetDC(area);
  g_windows.back_buffer = CreateCompatibleDC(area_dc);
  g_windows.back_bitmap = CreateCompatibleBitmap(area_dc, kBufferWidth, kBufferHeight);
  SelectObject(g_windows.back_buffer, g_windows.back_bitmap);
  // Black means empty to the page paint, so the buffer must start black.
  PatBlt(g_windows.back_buffer, 0, 0, kBufferWidth, kBufferHeight, BLACKNESS);
  ReleaseDC(area, area_dc);
  return area;
}

void draw_column_into(HDC buffer, const UsageSnapshot* snapshot, int scroll) {
  HBRUSH ordinary = CreateSolidBrush(kOrdinaryBarColour);
  HBRUSH hog = CreateSolidBrush(kHogBarColour);
  HGDIOBJ previous = SelectObject(buffer, ordinary);
  const uint32_t count = drawable_bar_count(snapshot->active_count);
  int32_t bottom = kBufferHeight;
  for (uint32_t i = 0; i < count; ++i) {
    const ColumnBar bar = column_bar(snapshot->bars[i], bottom);
    if (bar.hog) SelectObject(buffer, hog);
    Rectangle(buffer, bar.rect.left, bar.rect.top, bar.rect.right, bar.rect.bottom);
    if (bar.hog) SelectObject(buffer, ordinary);
    bottom = bar.rect.top;
  }
  SelectObject(buffer, previous);
  if (scroll) scroll_back_buffer(buffer);
  DeleteObject(ordinary);
  DeleteObject(hog);
}

void advance_graph() {
  static int32_t drawn = 0;  // columns the back buffer has scrolled in
  // Columns of polls this window missed (it was busy) scroll in empty, so that each column
  // stays under the tooltip's text for it.
  static const UsageSnapshot kEmpty = {};
  if (g_shown.columns - drawn > kHistoryColumns) drawn = g_shown.columns - kHistoryColumns;
  for (; drawn + 1 < g_shown.columns; ++drawn) draw_column_into(g_windows.back_buffer, &kEmpty, 1);
  if (drawn < g_shown.columns) {
    draw_column_into(g_windows.back_buffer, &g_shown.snapshot, 1);
    drawn = g_shown.columns;
  }
}

void redraw_newest_column() { draw_column_into(g_windows.back_buffer, &g_shown.snapshot, 0); }

void paint_graph_background(HDC dc) {
  hide_status_page();
  const RECT graph = graph_client_rect();
  const int32_t width = graph.right;
  const int32_t page_top = tab_strip_height(g_windows.dpi);
  const int32_t page_bottom = graph.bottom + page_top;
  RECT page = {0, page_top, width, page_bottom};
  FillRect(dc, &page, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  HPEN pen = CreatePen(PS_SOLID, kThinPen, kGridColour);
  HGDIOBJ previous = SelectObject(dc, pen);
  const GraphGrid grid = graph_grid(g_windows.dpi);
  const int32_t columns = grid_line_count(grid.first_x, grid.pitch, width);
  for (int32_t i = 0; i < columns; ++i) {
    const int32_t x = grid.first_x + i * grid.pitch;
    MoveToEx(dc, x, page_top, nullptr);
    LineTo(dc, x, page_bottom);
  }
  const int32_t rows = grid_line_count(grid.first_y, grid.pitch, page_bottom);
  for (int32_t i = 0; i < rows; ++i) {
    const int32_t y = grid.first_y + i * grid.pitch;
    MoveToEx(dc, 0, y, nullptr);
    LineTo(dc, width, y);
  }
  SelectObject(dc, previous);
  DeleteObject(pen);
}

void paint_graph_image(HDC dc) {
  const RECT graph = graph_client_rect();
  // From y 0, not from the page top: the strip of tabs covers the image's top rows.
  StretchBlt(dc, 0, 0, graph.right, graph.bottom + tab_strip_height(g_windows.dpi), g_windows.back_buffer, 0, 0,
             kBufferWidth, kBufferHeight, SRCPAINT);
  // Whole rows of 1-pixel lines, never a wider pen: sharp edges at every scale.
  HPEN line = CreatePen(PS_SOLID, kThinPen, kThresholdLineColour);
  HGDIOBJ previous = SelectObject(dc, line);
  const int32_t rows = threshold_line_rows(g_windows.dpi);
  for (int32_t row = 0; row < rows; ++row) {
    const int32_t y = g_monitor.threshold_line_y + row;
    MoveToEx(dc, graph.right, y, nullptr);
    LineTo(dc, 0, y);
  }
  SelectObject(dc, previous);
  DeleteObject(line);
}
