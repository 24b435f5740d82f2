// Draws graph columns into the real back buffer with real GDI and reads its pixels.
#include <windows.h>

#include <string.h>

#include "monitor/layout.h"
#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"
#include "tests/wine/common/check.h"

// The Status page is not drawn here; the Graph page's background step hides it.
void hide_status_page() {}

// The window's requests to the link thread wake nobody here.
void wake_link() {}

namespace {

const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kGreen = RGB(0, 255, 0);
const COLORREF kMarker = RGB(0, 0, 255);

struct Pixel {
  int x;
  int y;
  COLORREF colour;
};

void check_pixels(const char* stage, const Pixel* pixels, int count) {
  for (int i = 0; i < count; ++i) {
    const COLORREF seen = GetPixel(g_windows.back_buffer, pixels[i].x, pixels[i].y);
    if (seen != pixels[i].colour) {
      printf("%s: pixel (%d, %d) is %06lx, expected %06lx\n", stage, pixels[i].x, pixels[i].y,
             static_cast<unsigned long>(seen), static_cast<unsigned long>(pixels[i].colour));
    }
    CHECK(seen == pixels[i].colour);
  }
}

// A snapshot in the window's frame, drawn as a new frame's column (scroll) or as a new
// level redraws the newest one.
void draw_snapshot(uint32_t active_count, const uint8_t* bars, uint32_t bar_count, int scroll) {
  memset(&g_shown.snapshot, 0, sizeof(g_shown.snapshot));
  g_shown.snapshot.active_count = active_count;
  memcpy(g_shown.snapshot.bars, bars, bar_count);
  if (scroll) {
    ++g_shown.columns;
    advance_graph();
  } else {
    redraw_newest_column();
  }
}

int column_is_black(int x_from, int x_to) {
  for (int x = x_from; x <= x_to; ++x) {
    for (int y = 0; y < kBufferHeight; y += 7) {
      if (GetPixel(g_windows.back_buffer, x, y) != kBlack) return 0;
    }
  }
  return 1;
}

HWND create_parent_window() {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"GraphPixelsTest";
  RegisterClassW(&window_class);
  return CreateWindowExW(0, L"GraphPixelsTest", L"graph pixels", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                         nullptr, nullptr, window_class.hInstance, nullptr);
}

void test_buffer_starts_black() {
  CHECK(g_windows.back_buffer != nullptr);
  CHECK(column_is_black(0, kBufferWidth - 1));
  BITMAP bitmap = {};
  GetObjectW(g_windows.back_bitmap, sizeof(bitmap), &bitmap);
  CHECK_EQ(bitmap.bmWidth, kBufferWidth);
  CHECK_EQ(bitmap.bmHeight, kBufferHeight);
}

void test_hog_bar_and_the_bar_stacked_on_it() {
  const uint8_t bars[] = {153, 10};  // HOG_FLAG with 25 %, then 10 % green
  draw_snapshot(2, bars, sizeof(bars), 0);
  const Pixel pixels[] = {
      // The red bar: rows 300-399, outlined in black on all four sides, with a black
      // stripe at 564-565 inside the outline that marks it held without its hue.
      {562, 399, kBlack}, {562, 398, kRed}, {562, 350, kRed}, {562, 301, kRed}, {562, 300, kBlack},
      {560, 350, kBlack}, {561, 350, kRed}, {568, 350, kRed}, {569, 350, kBlack},
      {563, 350, kRed}, {564, 350, kBlack}, {565, 398, kBlack}, {565, 301, kBlack}, {566, 350, kRed},
      // The green bar stands on it: rows 260-299.
      {565, 299, kBlack}, {565, 298, kGreen}, {565, 261, kGreen}, {565, 260, kBlack},
      // Nothing above the stack or beside the column.
      {565, 259, kBlack}, {565, 0, kBlack}, {559, 350, kBlack}, {570, 350, kBlack},
  };
  check_pixels("stacked column", pixels, sizeof(pixels) / sizeof(pixels[0]));
  CHECK(column_is_black(0, 559));
  CHECK(column_is_black(570, kBufferWidth - 1));
}

void test_scroll_moves_image_left_and_keeps_right_edge() {
  // A marker in the last ten columns, which the shift must leave where it is.
  RECT edge = {590, 0, 600, 10};
  HBRUSH marker = CreateSolidBrush(kMarker);
  FillRect(g_windows.back_buffer, &edge, marker);
  DeleteObject(marker);
  const uint8_t bars[] = {0x81};  // 1 % hog: black, two red rows, black
  draw_snapshot(1, bars, sizeof(bars), 1);
  const Pixel pixels[] = {
      // The column now lies at 550-559; the new 1 % bar was drawn over the old stack.
      {552, 399, kBlack}, {552, 398, kRed}, {552, 397, kRed}, {552, 396, kBlack},
      {552, 350, kRed}, {555, 280, kGreen}, {550, 350, kBlack}, {559, 350, kBlack},
      // 560-569 took the black from 570-579; 580-589 took the marker; 590-599 kept it.
      {565, 350, kBlack}, {565, 398, kBlack}, {585, 5, kMarker}, {585, 15, kBlack},
      {590, 5, kMarker}, {599, 9, kMarker}, {595, 10, kBlack},
  };
  check_pixels("after scroll", pixels, sizeof(pixels) / sizeof(pixels[0]));
  CHECK(column_is_black(0, 549));
}

void test_column_without_scroll_lands_right_of_newest() {
  const uint8_t bars[] = {25};
  draw_snapshot(1, bars, sizeof(bars), 0);
  const Pixel pixels[] = {
      {560, 350, kBlack}, {565, 350, kGreen}, {569, 350, kBlack}, {565, 300, kBlack}, {565, 299, kBlack},
      {570, 350, kBlack}, {552, 350, kRed},  // the scrolled column is untouched
  };
  check_pixels("no scroll", pixels, sizeof(pixels) / sizeof(pixels[0]));
}

void test_empty_snapshot_still_scrolls() {
  draw_snapshot(0, nullptr, 0, 1);
  const Pixel pixels[] = {
      {542, 350, kRed}, {555, 350, kGreen},  // both columns moved one step left
      {565, 350, kBlack},
  };
  check_pixels("empty column", pixels, sizeof(pixels) / sizeof(pixels[0]));
}

void test_count_above_capacity_draws_only_the_bars_there_are() {
  static uint8_t bars[kBarsCapacity];
  memset(bars, 1, sizeof(bars));
  bars[0] = 0x80 | 50;
  draw_snapshot(0xFFFFFFFFu, bars, sizeof(bars), 0);  // a count no service sends
  const Pixel pixels[] = {{562, 398, kRed}, {562, 201, kRed}, {565, 198, kGreen}};
  check_pixels("capped count", pixels, sizeof(pixels) / sizeof(pixels[0]));
}

}  // namespace

int main() {
  monitor_state_reset();
  g_windows.instance = GetModuleHandleW(nullptr);
  g_windows.main = create_parent_window();
  CHECK(g_windows.main != nullptr);
  g_windows.graph_area = create_graph_area();
  CHECK(g_windows.graph_area != nullptr);
  test_buffer_starts_black();
  test_hog_bar_and_the_bar_stacked_on_it();
  test_scroll_moves_image_left_and_keeps_right_edge();
  test_column_without_scroll_lands_right_of_newest();
  test_empty_snapshot_still_scrolls();
  test_count_above_capacity_draws_only_the_bars_there_are();
  DestroyWindow(g_windows.main);
  return check_summary("monitor graph pixels");
}
