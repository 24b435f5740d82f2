// Window geometry and graph arithmetic of the monitor: numbers in, numbers out, so it
// compiles and is tested on the host.
#pragma once

#include <stdint.h>

#include "shared/usage_snapshot.h"

// The back buffer the graph draws into, and where a new column lands in it.
const int32_t kBufferWidth = 600;
const int32_t kBufferHeight = 400;
const int32_t kColumnLeft = 560;
const int32_t kColumnWidth = 10;
const int32_t kPixelsPerPercent = 4;
const int32_t kScrollStep = 10;

// The page below the strip of tabs, and its grid.
const int32_t kTabStripHeight = 20;
const int32_t kGridFirstX = 4;
const int32_t kGridFirstY = 24;
const int32_t kGridPitch = 12;

// Threshold line: a fraction of the graph height, pushed down past the tabs.
const int32_t kThresholdLineOffset = 30;
const int32_t kThresholdLineStart = 200;

// Slider: what a user may choose, and where it starts.
const int32_t kSliderMin = 0;
const int32_t kSliderMax = 100;
const int32_t kSliderSelStart = 40;
const int32_t kSliderSelEnd = 100;
const int32_t kSliderStart = 40;
const int32_t kSliderPageSize = 4;

// The Status page: a headline, a line under it, and one service button beside the headline.
const int32_t kStatusTextX = 5;
const int32_t kStatusTextY = 40;
const int32_t kStatusDetailY = 64;
const int32_t kServiceButtonX = 203;
const int32_t kServiceButtonY = 38;
const int32_t kServiceButtonWidth = 100;
const int32_t kServiceButtonHeight = 20;
const int32_t kServiceButtonGap = 10;

const int32_t kTabGraph = 0;
const int32_t kTabStatus = 1;

struct LayoutRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// A child window's position and size, as MoveWindow and DeferWindowPos take them.
struct WindowBox {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};

// y of the threshold line for a slider value over a graph area `graph_height` high.
int32_t threshold_line_y(int32_t slider_threshold, int32_t graph_height);

// The slider position put back into its selection range, nearer end first.
int32_t clamp_slider_position(int32_t position, int32_t sel_start, int32_t sel_end);

// The tab a TCN_SELCHANGING switches to.
int32_t next_tab(int32_t current_tab);

// Deferred sizing on WM_SIZE, from the tab control's display rectangle.
struct SizeLayout {
  WindowBox graph_area;
  WindowBox slider;
};
SizeLayout size_layout(LayoutRect display);

// The layout pass over the children, from the graph area's client size.
struct ChildLayout {
  WindowBox graph_area;
  WindowBox slider;
  WindowBox tab_strip;
};
ChildLayout child_layout(int32_t graph_width, int32_t graph_height);

// The service button for a headline so wide and a button that would like to be so wide
// (its text and any shield): in its place unless the headline reaches it, then right of
// the headline; never narrower than its usual width.
WindowBox service_button_box(int32_t headline_width, int32_t ideal_width);

// One bar of a graph column: the rectangle Rectangle() draws, and its colour.
struct ColumnBar {
  LayoutRect rect;
  int32_t hog;
};

// Bars a column draws: the snapshot's count, never more than `bars` holds.
uint32_t drawable_bar_count(uint32_t active_count);
// The bar for byte `bar` standing on `bottom` (0 to kBufferHeight); the next bar stands
// on its top. Never above the buffer: a stack past 100 % is cut off at its top edge.
ColumnBar column_bar(uint8_t bar, int32_t bottom);

// Grid lines of the Graph page: x = kGridFirstX + i * kGridPitch while below the graph
// width, y = kGridFirstY + i * kGridPitch while below the page bottom.
int32_t vertical_grid_line_count(int32_t graph_width);
int32_t horizontal_grid_line_count(int32_t page_bottom);
