// Window geometry and graph arithmetic of the monitor.
#include "monitor/layout.h"

namespace {

const double kPercent = 0.01;

// Width and height between the graph area and the slider on WM_SIZE.
const int32_t kSliderBand = 40;
const int32_t kExtraHeight = 10;
// In the layout pass the slider is wider and a little taller than the graph area.
const int32_t kSliderWidth = 50;
const int32_t kSliderExtraHeight = 5;

// A window cannot be given a negative size; a minimised window brings one here.
int32_t non_negative(int32_t value) { return value < 0 ? 0 : value; }

int32_t grid_line_count(int32_t first, int32_t limit) {
  if (limit <= first) return 0;
  return (limit - first - 1) / kGridPitch + 1;
}

}  // namespace

int32_t threshold_line_y(int32_t slider_threshold, int32_t graph_height) {
  // Each step is rounded to double on its own: on x86 the FPU would otherwise keep
  // extra bits, and 59 at 400 would come out at 262 instead of 261.
  volatile double fraction = static_cast<double>(slider_threshold - 1) * kPercent;
  volatile double offset = fraction * static_cast<double>(graph_height);
  return static_cast<int32_t>(offset) + kThresholdLineOffset;
}

int32_t clamp_slider_position(int32_t position, int32_t sel_start, int32_t sel_end) {
  if (position > sel_end) return sel_end;
  if (position < sel_start) return sel_start;
  return position;
}

int32_t next_tab(int32_t current_tab) { return current_tab == kTabGraph ? kTabStatus : kTabGraph; }

SizeLayout size_layout(LayoutRect display) {
  const int32_t width = non_negative(display.right - display.left - kSliderBand);
  const int32_t height = non_negative(display.bottom - display.top + kExtraHeight);
  SizeLayout layout;
  layout.graph_area = {display.left, display.top, width, height};
  layout.slider = {display.right - kSliderBand, display.top, kSliderBand, height};
  return layout;
}

ChildLayout child_layout(int32_t graph_width, int32_t graph_height) {
  ChildLayout layout;
  layout.graph_area = {0, kTabStripHeight, graph_width, graph_height};
  layout.slider = {graph_width, kTabStripHeight, kSliderWidth, graph_height + kSliderExtraHeight};
  layout.tab_strip = {0, 0, graph_width + kSliderWidth, kTabStripHeight};
  return layout;
}

WindowBox service_button_box(int32_t headline_width, int32_t ideal_width) {
  const int32_t beside = kStatusTextX + headline_width + kServiceButtonGap;
  WindowBox box;
  box.x = beside > kServiceButtonX ? beside : kServiceButtonX;
  box.y = kServiceButtonY;
  box.width = ideal_width > kServiceButtonWidth ? ideal_width : kServiceButtonWidth;
  box.height = kServiceButtonHeight;
  return box;
}

uint32_t drawable_bar_count(uint32_t active_count) {
  const uint32_t capacity = static_cast<uint32_t>(kBarsCapacity);
  return active_count > capacity ? capacity : active_count;
}

ColumnBar column_bar(uint8_t bar, int32_t bottom) {
  const int32_t share = bar & static_cast<uint8_t>(~HOG_FLAG);
  // A stack past 100 % is cut off at the buffer's top edge here, not left to GDI's
  // clipping: a snapshot anyone can write would put bars half a million pixels above it.
  const int32_t top = bottom - share * kPixelsPerPercent;
  ColumnBar result;
  result.rect = {kColumnLeft, top < 0 ? 0 : top, kColumnLeft + kColumnWidth, bottom};
  result.hog = (bar & HOG_FLAG) != 0 ? 1 : 0;
  return result;
}

int32_t vertical_grid_line_count(int32_t graph_width) {
  return grid_line_count(kGridFirstX, graph_width);
}

int32_t horizontal_grid_line_count(int32_t page_bottom) {
  return grid_line_count(kGridFirstY, page_bottom);
}
