// Window geometry and graph arithmetic of the monitor: numbers in, numbers out, so it
// compiles and is tested on the host. Window sizes below are given at 96 DPI; the
// functions that take a `dpi` scale them to the window's own.
#pragma once

#include <stdint.h>

#include "shared/usage_snapshot.h"

// The DPI at which Windows draws 100 %, and at which the sizes below are given.
const int32_t kDefaultDpi = 96;

// A length given at kDefaultDpi, at `dpi`: rounded to the nearest pixel, halves away from
// zero, as MulDiv rounds. A DPI of 0 or less (nobody could tell) counts as kDefaultDpi.
int32_t scale(int32_t value, int32_t dpi);

// The back buffer the graph draws into, and where a new column lands in it.
const int32_t kBufferWidth = 600;
const int32_t kBufferHeight = 400;
const int32_t kColumnLeft = 560;
const int32_t kColumnWidth = 10;
const int32_t kPixelsPerPercent = 4;
const int32_t kScrollStep = 10;

// The main window: its outer size when it opens, and the smallest a user may make it.
const int32_t kWindowWidth = 600;
const int32_t kWindowHeight = 420;
const int32_t kMinTrackWidth = 350;
const int32_t kMinTrackHeight = 250;

// The page below the strip of tabs, and its grid (the first lines 4 pixels into the page).
const int32_t kTabStripHeight = 20;
const int32_t kGridFirst = 4;
const int32_t kGridPitch = 12;

// Threshold line: a fraction of the graph height, pushed down past the tabs, two rows thick.
const int32_t kThresholdLineOffset = 30;
const int32_t kThresholdLineStart = 200;
const int32_t kThresholdLineRows = 2;

// Slider: what a user may choose, and where it starts.
const int32_t kSliderMin = 0;
const int32_t kSliderMax = 100;
const int32_t kSliderSelStart = 40;
const int32_t kSliderSelEnd = 100;
const int32_t kSliderStart = 40;
const int32_t kSliderPageSize = 4;

// The Status page: lines of text from (5, 40) down, 24 pixels apart (the headline, then
// the line under it), and one service button beside the headline.
const int32_t kStatusTextX = 5;
const int32_t kStatusTextY = 40;
const int32_t kStatusLinePitch = 24;
const int32_t kStatusHeadline = 0;
const int32_t kStatusDetail = 1;
// The headline, the line under it, and while the service runs who was held, who was
// spared and how many system processes were passed over.
const int32_t kStatusLineCount = 5;
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

// The outer size that gives the window at `dpi` the client area it has at kDefaultDpi,
// scaled: `frame_at_default` and `frame` are what the borders, caption and menu take at
// kDefaultDpi and at `dpi` (AdjustWindowRectExForDpi). So the window's content scales
// exactly, while its frame is whatever Windows draws at that DPI.
struct WindowSize {
  int32_t width;
  int32_t height;
};
WindowSize window_size(int32_t dpi, WindowSize frame_at_default, WindowSize frame);
WindowSize min_track_size(int32_t dpi);

// y of the threshold line for a slider value over a graph area `graph_height` high, and
// how many rows of pixels it takes: whole rows, so it stays sharp at every scale.
int32_t threshold_line_y(int32_t slider_threshold, int32_t graph_height, int32_t dpi);
int32_t threshold_line_rows(int32_t dpi);

// The slider position put back into its selection range, nearer end first.
int32_t clamp_slider_position(int32_t position, int32_t sel_start, int32_t sel_end);

// The tab a TCN_SELCHANGING switches to.
int32_t next_tab(int32_t current_tab);

// Deferred sizing on WM_SIZE, from the tab control's display rectangle.
struct SizeLayout {
  WindowBox graph_area;
  WindowBox slider;
};
SizeLayout size_layout(LayoutRect display, int32_t dpi);

// The Graph page's two lines of text under the graph and slider: the slider's label and
// what its level does, then who was held. The graph gives up their height.
const int32_t kGraphTextLine = 18;
const int32_t kGraphTextLines = 2;
const int32_t kSliderLabelWidth = 64;
struct GraphTextLayout {
  WindowBox slider_label;
  WindowBox readout;
  WindowBox held_line;
};
GraphTextLayout graph_text_layout(int32_t graph_width, int32_t graph_height, int32_t dpi);

// The layout pass over the children, from the graph area's client size.
struct ChildLayout {
  WindowBox graph_area;
  WindowBox slider;
  WindowBox tab_strip;
};
ChildLayout child_layout(int32_t graph_width, int32_t graph_height, int32_t dpi);
int32_t tab_strip_height(int32_t dpi);

// The service button for a headline so wide and a button that would like to be so wide
// (its text and any shield): in its place unless the headline reaches it, then right of
// the headline; never narrower than its usual width.
WindowBox service_button_box(int32_t headline_width, int32_t ideal_width, int32_t dpi);

// Where the Status page's lines of text start: line 0 is the headline.
int32_t status_text_x(int32_t dpi);
int32_t status_line_y(int32_t line, int32_t dpi);

// The graph's colours (COLORREF values, 0x00bbggrr). Outside High Contrast its own: a
// black page, a green grid and bars, red held bars; under High Contrast the system's:
// the window colour behind, the text colour for bars, the highlight for held bars, and a
// threshold line in a third system colour that differs from both bars and the page. Held
// bars carry a stripe and the line an edge in a second colour, so neither depends on hue.
struct SystemColours {
  uint32_t window;
  uint32_t window_text;
  uint32_t highlight;
  uint32_t hotlight;
  uint32_t gray_text;
};
struct GraphColours {
  int32_t system;  // 1: drawn in the system's colours (High Contrast)
  uint32_t background;
  uint32_t grid;
  uint32_t ordinary_bar;
  uint32_t held_bar;
  uint32_t held_stripe;
  uint32_t threshold_line;
  uint32_t threshold_edge;
};
GraphColours graph_colours(int32_t high_contrast, SystemColours system);
// Black in the back buffer means empty, so a bar colour of black is drawn a step off it.
uint32_t buffer_colour(uint32_t colour);
// The stripe down the middle of a held bar, inside its outline.
const int32_t kHeldStripeLeft = 564;
const int32_t kHeldStripeWidth = 2;

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

// Grid lines of the Graph page: x = first_x + i * pitch while below the graph width,
// y = first_y + i * pitch while below the page bottom. Scaled with the window, so the grid
// keeps its look at every DPI.
struct GraphGrid {
  int32_t first_x;
  int32_t first_y;
  int32_t pitch;
};
GraphGrid graph_grid(int32_t dpi);
int32_t grid_line_count(int32_t first, int32_t pitch, int32_t limit);
