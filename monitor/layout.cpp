// Window geometry and graph arithmetic of the monitor.
#include "monitor/layout.h"

namespace {

const double kPercent = 0.01;

// Width between the graph area and the slider on WM_SIZE.
const int32_t kSliderBand = 40;
// In the layout pass the slider is wider and a little taller than the graph area.
const int32_t kSliderWidth = 50;
const int32_t kSliderExtraHeight = 5;

// A window cannot be given a negative size; a minimised window brings one here.
int32_t non_negative(int32_t value) { return value < 0 ? 0 : value; }

}  // namespace

int32_t scale(int32_t value, int32_t dpi) {
  if (dpi <= 0) dpi = kDefaultDpi;
  const int64_t product = static_cast<int64_t>(value) * dpi;
  const int64_t half = kDefaultDpi / 2;
  return static_cast<int32_t>(product < 0 ? -((-product + half) / kDefaultDpi) : (product + half) / kDefaultDpi);
}

WindowSize window_size(int32_t dpi, WindowSize frame_at_default, WindowSize frame) {
  WindowSize size;
  size.width = scale(kWindowWidth - frame_at_default.width, dpi) + frame.width;
  size.height = scale(kWindowHeight - frame_at_default.height, dpi) + frame.height;
  return size;
}

WindowSize min_track_size(int32_t dpi) { return WindowSize{scale(kMinTrackWidth, dpi), scale(kMinTrackHeight, dpi)}; }

int32_t threshold_line_y(int32_t slider_threshold, int32_t graph_height, int32_t dpi) {
  // Each step is rounded to double on its own: on x86 the FPU would otherwise keep
  // extra bits, and 59 at 400 would come out at 262 instead of 261.
  volatile double fraction = static_cast<double>(slider_threshold - 1) * kPercent;
  volatile double offset = fraction * static_cast<double>(graph_height);
  return static_cast<int32_t>(offset) + scale(kThresholdLineOffset, dpi);
}

int32_t threshold_line_rows(int32_t dpi) { return scale(kThresholdLineRows, dpi); }

int32_t clamp_slider_position(int32_t position, int32_t sel_start, int32_t sel_end) {
  if (position > sel_end) return sel_end;
  if (position < sel_start) return sel_start;
  return position;
}

int32_t next_tab(int32_t current_tab) { return current_tab == kTabGraph ? kTabStatus : kTabGraph; }

SizeLayout size_layout(LayoutRect display, int32_t dpi) {
  const int32_t band = scale(kSliderBand, dpi);
  const int32_t width = non_negative(display.right - display.left - band);
  // The lines of text stand below the slider, which reaches past the graph; the graph no
  // longer reaches past the page, so both lines stay inside the window.
  const int32_t height = non_negative(display.bottom - display.top - scale(kSliderExtraHeight, dpi) -
                                     scale(kGraphTextLine * kGraphTextLines, dpi));
  SizeLayout layout;
  layout.graph_area = {display.left, display.top, width, height};
  layout.slider = {display.right - band, display.top, band, height};
  return layout;
}

ChildLayout child_layout(int32_t graph_width, int32_t graph_height, int32_t dpi) {
  const int32_t strip = tab_strip_height(dpi);
  const int32_t slider_width = scale(kSliderWidth, dpi);
  ChildLayout layout;
  layout.graph_area = {0, strip, graph_width, graph_height};
  layout.slider = {graph_width, strip, slider_width, graph_height + scale(kSliderExtraHeight, dpi)};
  layout.tab_strip = {0, 0, graph_width + slider_width, strip};
  return layout;
}

int32_t tab_strip_height(int32_t dpi) { return scale(kTabStripHeight, dpi); }

WindowBox service_button_box(int32_t headline_width, int32_t ideal_width, int32_t dpi) {
  // The headline and the button's ideal width are measured in the window's font, so
  // they are already at `dpi`.
  const int32_t beside = status_text_x(dpi) + headline_width + scale(kServiceButtonGap, dpi);
  const int32_t usual_x = scale(kServiceButtonX, dpi);
  const int32_t usual_width = scale(kServiceButtonWidth, dpi);
  WindowBox box;
  box.x = beside > usual_x ? beside : usual_x;
  box.y = scale(kServiceButtonY, dpi);
  box.width = ideal_width > usual_width ? ideal_width : usual_width;
  box.height = scale(kServiceButtonHeight, dpi);
  return box;
}

int32_t status_text_x(int32_t dpi) { return scale(kStatusTextX, dpi); }

int32_t status_line_y(int32_t line, int32_t dpi) { return scale(kStatusTextY + line * kStatusLinePitch, dpi); }

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

GraphGrid graph_grid(int32_t dpi) {
  const int32_t first = scale(kGridFirst, dpi);
  return GraphGrid{first, tab_strip_height(dpi) + first, scale(kGridPitch, dpi)};
}

int32_t grid_line_count(int32_t first, int32_t pitch, int32_t limit) {
  if (limit <= first || pitch <= 0) return 0;
  return (limit - first - 1) / pitch + 1;
}

namespace {

const uint32_t kBlack = 0x000000;
const uint32_t kWhite = 0xffffff;
const uint32_t kNearBlack = 0x010101;

bool differs_from_all(uint32_t colour, const GraphColours& c) {
  return colour != c.background && colour != c.ordinary_bar && colour != c.held_bar;
}

}  // namespace

GraphColours graph_colours(int32_t high_contrast, SystemColours system) {
  if (!high_contrast) {
    // Green 0,255,0, red 255,0,0, grid 0,128,0, line 240,0,0; the edge and stripe in
    // white and black tell line and held bars apart without hue.
    return GraphColours{0, kBlack, 0x008000, 0x00ff00, 0x0000ff, kBlack, 0x0000f0, kWhite};
  }
  GraphColours c = {1, system.window, system.gray_text, system.window_text, system.highlight, system.window, 0, 0};
  if (c.grid == c.background) c.grid = system.window_text;
  const uint32_t candidates[] = {system.hotlight, system.gray_text, system.highlight ^ kWhite,
                                 system.window ^ kWhite};
  c.threshold_line = candidates[0];
  for (uint32_t candidate : candidates) {
    if (differs_from_all(candidate, c)) {
      c.threshold_line = candidate;
      break;
    }
  }
  c.threshold_edge = c.background;
  return c;
}

uint32_t buffer_colour(uint32_t colour) { return colour == kBlack ? kNearBlack : colour; }

GraphTextLayout graph_text_layout(int32_t graph_width, int32_t graph_height, int32_t dpi) {
  const int32_t line = scale(kGraphTextLine, dpi);
  const int32_t margin = scale(kStatusTextX, dpi);
  const int32_t label = scale(kSliderLabelWidth, dpi);
  const int32_t width = graph_width + scale(kSliderWidth, dpi);
  // Below the slider, which reaches past the graph.
  const int32_t top = tab_strip_height(dpi) + graph_height + scale(kSliderExtraHeight, dpi);
  GraphTextLayout layout;
  layout.slider_label = {margin, top, label, line};
  layout.readout = {margin + label, top, non_negative(width - 2 * margin - label), line};
  layout.held_line = {margin, top + line, non_negative(width - 2 * margin), line};
  return layout;
}
