// The usage graph: columns drawn once into a back buffer that scrolls left, and the
// Graph page that shows the buffer over a grid with the threshold line.
#include <windows.h>

#include "monitor/held_programs.h"
#include "monitor/layout.h"
#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"

namespace {

const int kThinPen = 0;

// The colours for now: the graph's own, or the system's under High Contrast.
GraphColours current_colours() {
  HIGHCONTRASTW contrast = {};
  contrast.cbSize = sizeof(contrast);
  const bool on = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
                  (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
  const SystemColours system = {GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOWTEXT),
                                GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_HOTLIGHT),
                                GetSysColor(COLOR_GRAYTEXT)};
  return graph_colours(on ? 1 : 0, system);
}

// A bar colour as the buffer takes it: under the system's colours black is not empty.
COLORREF in_buffer(const GraphColours& colours, uint32_t colour) {
  return colours.system ? buffer_colour(colour) : colour;
}

void draw_line_row(HDC dc, int32_t width, int32_t y, COLORREF colour) {
  HPEN pen = CreatePen(PS_SOLID, kThinPen, colour);
  HGDIOBJ previous = SelectObject(dc, pen);
  MoveToEx(dc, width, y, nullptr);
  LineTo(dc, 0, y);
  SelectObject(dc, previous);
  DeleteObject(pen);
}

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
  const GraphColours colours = current_colours();
  HBRUSH ordinary = CreateSolidBrush(in_buffer(colours, colours.ordinary_bar));
  HBRUSH hog = CreateSolidBrush(in_buffer(colours, colours.held_bar));
  HBRUSH stripe = CreateSolidBrush(in_buffer(colours, colours.held_stripe));
  HGDIOBJ previous = SelectObject(buffer, ordinary);
  const uint32_t count = drawable_bar_count(snapshot->active_count);
  int32_t bottom = kBufferHeight;
  for (uint32_t i = 0; i < count; ++i) {
    const ColumnBar bar = column_bar(snapshot->bars[i], bottom);
    if (bar.hog) SelectObject(buffer, hog);
    Rectangle(buffer, bar.rect.left, bar.rect.top, bar.rect.right, bar.rect.bottom);
    if (bar.hog) {
      SelectObject(buffer, ordinary);
      // The stripe inside the outline marks it held in any colour vision and in grey.
      RECT mark = {kHeldStripeLeft, bar.rect.top + 1, kHeldStripeLeft + kHeldStripeWidth, bar.rect.bottom - 1};
      if (mark.bottom > mark.top) FillRect(buffer, &mark, stripe);
    }
    bottom = bar.rect.top;
  }
  SelectObject(buffer, previous);
  if (scroll) scroll_back_buffer(buffer);
  DeleteObject(ordinary);
  DeleteObject(hog);
  DeleteObject(stripe);
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
  const GraphColours colours = current_colours();
  HBRUSH background = CreateSolidBrush(colours.background);
  FillRect(dc, &page, background);
  DeleteObject(background);
  HPEN pen = CreatePen(PS_SOLID, kThinPen, colours.grid);
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
  const GraphColours colours = current_colours();
  // From y 0, not from the page top: the strip of tabs covers the image's top rows. The
  // graph's own black page takes the bars by OR; a page in a system colour would change
  // them, so there the buffer's black alone lets the page through.
  const int32_t height = graph.bottom + tab_strip_height(g_windows.dpi);
  if (colours.system) {
    GdiTransparentBlt(dc, 0, 0, graph.right, height, g_windows.back_buffer, 0, 0, kBufferWidth, kBufferHeight,
                      RGB(0, 0, 0));
  } else {
    StretchBlt(dc, 0, 0, graph.right, height, g_windows.back_buffer, 0, 0, kBufferWidth, kBufferHeight,
               SRCPAINT);
  }
  // Whole rows of 1-pixel lines, never a wider pen: sharp edges at every scale. A row of
  // the edge colour above and below keeps the line in sight where it crosses a held bar.
  const int32_t rows = threshold_line_rows(g_windows.dpi);
  draw_line_row(dc, graph.right, g_monitor.threshold_line_y - 1, colours.threshold_edge);
  draw_line_row(dc, graph.right, g_monitor.threshold_line_y + rows, colours.threshold_edge);
  for (int32_t row = 0; row < rows; ++row) {
    draw_line_row(dc, graph.right, g_monitor.threshold_line_y + row, colours.threshold_line);
  }
}
