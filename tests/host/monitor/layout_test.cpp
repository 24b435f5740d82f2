// Window geometry and graph arithmetic, checked to the pixel.
#include <gtest/gtest.h>

#include <string>

#include "monitor/layout.h"
#include "monitor/status_view.h"
#include "shared/service_facts.h"

namespace {

TEST(ThresholdLineTest, FollowsDoublePrecisionProductTruncated) {
  struct Case {
    int32_t threshold;
    int32_t height;
    int32_t dpi;
    int32_t y;
  } cases[] = {
      {40, 400, 96, 186},  // the start value
      {59, 400, 96, 261},  // the product is just under 232 and must not round up to 262
      {40, 0, 96, 30},     // a minimised window has no graph height
      {1, 400, 96, 30},
      {41, 400, 96, 190},
      {100, 400, 96, 426},
      {59, 342, 96, 228},
      {70, 342, 96, 265},
      // Only the offset past the tabs scales; the graph height already has.
      {40, 500, 120, 233},
      {59, 600, 144, 393},
      {40, 800, 192, 372},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(threshold_line_y(c.threshold, c.height, c.dpi), c.y) << c.threshold << " at " << c.height;
  }
}

// The table below has MulDiv's halves at 120 and 144; these are what it does not show.
TEST(ScaleTest, NegativeHalvesRoundAwayFromZeroAndNoDpiIsDefault) {
  EXPECT_EQ(scale(-3, 144), -5);
  EXPECT_EQ(scale(10, 0), 10);
  EXPECT_EQ(scale(10, -144), 10);
}

TEST(SliderClampTest, PositionsOutsideSelectionGoToNearerEnd) {
  struct Case {
    int32_t position;
    int32_t expected;
  } cases[] = {
      {-5, 40}, {0, 40}, {10, 40}, {39, 40}, {40, 40}, {70, 70}, {100, 100}, {101, 100}, {200, 100},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(clamp_slider_position(c.position, kSliderSelStart, kSliderSelEnd), c.expected) << c.position;
  }
}

void expect_box(const WindowBox& box, int32_t x, int32_t y, int32_t width, int32_t height) {
  EXPECT_EQ(box.x, x);
  EXPECT_EQ(box.y, y);
  EXPECT_EQ(box.width, width);
  EXPECT_EQ(box.height, height);
}

TEST(SizeLayoutTest, GraphAndSliderShareTheDisplayArea) {
  struct Case {
    LayoutRect display;
    WindowBox graph;
    WindowBox slider;
  } cases[] = {
      // The graph and slider give two 18-pixel lines of text their height.
      {{0, 0, 100, 50}, {0, 0, 60, 9}, {60, 0, 40, 9}},
      // Minimised: the adjusted rectangle turns inside out; sizes stop at zero.
      {{2, 24, -2, -2}, {2, 24, 0, 0}, {-42, 24, 40, 0}},
  };
  for (const Case& c : cases) {
    const SizeLayout layout = size_layout(c.display, kDefaultDpi);
    expect_box(layout.graph_area, c.graph.x, c.graph.y, c.graph.width, c.graph.height);
    expect_box(layout.slider, c.slider.x, c.slider.y, c.slider.width, c.slider.height);
  }
}

// Every fixed size of the window at the scales Windows offers most, from one display
// rectangle (a 584 x 362 client area's), one graph area (540 x 346) and one headline
// ("... is running", 185 px wide, its button 90).
TEST(DpiLayoutTest, FixedSizesScaleWithTheWindowsDpi) {
  struct Case {
    int32_t dpi;
    WindowBox size_slider;
    WindowBox slider;
    WindowBox tab_strip;
    WindowBox button;
    int32_t headline_y, detail_y;
    GraphGrid grid;
    int32_t line_rows;
    WindowSize min_track;
    WindowBox readout, held;  // the label lies left of the read-out, as high
  } cases[] = {
      {96, {542, 24, 40, 295}, {540, 20, 50, 351}, {0, 0, 590, 20}, {203, 38, 100, 20}, 40, 64, {4, 24, 12}, 2,
       {350, 250}, {69, 371, 516, 18}, {5, 389, 580, 18}},
      {120, {532, 24, 50, 285}, {540, 25, 63, 352}, {0, 0, 603, 25}, {254, 48, 125, 25}, 50, 80, {5, 30, 15}, 3,
       {438, 313}, {86, 377, 511, 23}, {6, 400, 591, 23}},
      {144, {522, 24, 60, 274}, {540, 30, 75, 354}, {0, 0, 615, 30}, {305, 57, 150, 30}, 60, 96, {6, 36, 18}, 3,
       {525, 375}, {104, 384, 503, 27}, {8, 411, 599, 27}},
      {192, {502, 24, 80, 254}, {540, 40, 100, 356}, {0, 0, 640, 40}, {406, 76, 200, 40}, 80, 128, {8, 48, 24}, 4,
       {700, 500}, {138, 396, 492, 36}, {10, 432, 620, 36}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    const SizeLayout sized = size_layout({2, 24, 582, 360}, c.dpi);
    expect_box(sized.slider, c.size_slider.x, c.size_slider.y, c.size_slider.width, c.size_slider.height);
    EXPECT_EQ(sized.graph_area.width, c.size_slider.x - 2);
    EXPECT_EQ(sized.graph_area.height, c.size_slider.height);
    // Below a page that starts under its tab strip, both lines of text end inside the page.
    const int32_t page_bottom = 360;
    const SizeLayout page = size_layout({2, tab_strip_height(c.dpi) + 4, 582, page_bottom}, c.dpi);
    const WindowBox held = graph_text_layout(page.graph_area.width, page.graph_area.height, c.dpi).held_line;
    EXPECT_LE(held.y + held.height, page_bottom);
    const ChildLayout layout = child_layout(540, 346, c.dpi);
    expect_box(layout.graph_area, 0, c.tab_strip.height, 540, 346);
    expect_box(layout.slider, c.slider.x, c.slider.y, c.slider.width, c.slider.height);
    expect_box(layout.tab_strip, c.tab_strip.x, c.tab_strip.y, c.tab_strip.width, c.tab_strip.height);
    const GraphTextLayout text = graph_text_layout(540, 346, c.dpi);
    expect_box(text.readout, c.readout.x, c.readout.y, c.readout.width, c.readout.height);
    expect_box(text.held_line, c.held.x, c.held.y, c.held.width, c.held.height);
    expect_box(text.slider_label, c.held.x, c.readout.y, c.readout.x - c.held.x, c.readout.height);
    const WindowBox button = service_button_box(185, 90, c.dpi);
    expect_box(button, c.button.x, c.button.y, c.button.width, c.button.height);
    EXPECT_EQ(status_line_y(kStatusHeadline, c.dpi), c.headline_y);
    EXPECT_EQ(status_line_y(kStatusDetail, c.dpi), c.detail_y);
    const GraphGrid grid = graph_grid(c.dpi);
    EXPECT_EQ(grid.first_x, c.grid.first_x);
    EXPECT_EQ(grid.first_y, c.grid.first_y);
    EXPECT_EQ(grid.pitch, c.grid.pitch);
    EXPECT_EQ(threshold_line_rows(c.dpi), c.line_rows);
    EXPECT_EQ(min_track_size(c.dpi).width, c.min_track.width);
    EXPECT_EQ(min_track_size(c.dpi).height, c.min_track.height);
  }
}

// The client area scales exactly; the frame is what Windows draws at each DPI (these are
// Wine's: 8 x 46 at 96, 10 x 66 at 144).
TEST(DpiLayoutTest, WindowSizeScalesTheClientAreaAndAddsTheFrame) {
  struct Case {
    int32_t dpi;
    WindowSize frame_at_default, frame, size;
  } cases[] = {
      {96, {8, 46}, {8, 46}, {600, 420}},
      {144, {8, 46}, {10, 66}, {898, 627}},
      {192, {8, 46}, {12, 86}, {1196, 834}},
      // Without the frame at 96 (Windows before 10 1607) the system's frame stands in.
      {144, {10, 66}, {10, 66}, {895, 597}},
  };
  for (const Case& c : cases) {
    const WindowSize size = window_size(c.dpi, c.frame_at_default, c.frame);
    EXPECT_EQ(size.width, c.size.width) << c.dpi;
    EXPECT_EQ(size.height, c.size.height) << c.dpi;
  }
}

TEST(ColumnTest, BarsStackFromBaseLineFourPixelsPerPercent) {
  struct Expected {
    uint8_t bar;
    int32_t top;
    int32_t bottom;
    int32_t hog;
  } column[] = {
      {153, 300, 400, 1},   // HOG_FLAG with 25 %: red, 100 px
      {10, 260, 300, 0},    // the next bar stands on it, green again
      {0x81, 256, 260, 1},  // 1 % is 4 px
      {0, 256, 256, 0},     // an empty bar takes no height
      {0xFF, 0, 256, 1},     // 127 % is cut off at the top of the buffer
      {0x85, 0, 0, 1},       // and a bar on a full column has no height
  };
  int32_t bottom = kBufferHeight;
  for (const Expected& e : column) {
    const ColumnBar bar = column_bar(e.bar, bottom);
    EXPECT_EQ(bar.rect.left, 560) << int(e.bar);
    EXPECT_EQ(bar.rect.right, 570) << int(e.bar);
    EXPECT_EQ(bar.rect.top, e.top) << int(e.bar);
    EXPECT_EQ(bar.rect.bottom, e.bottom) << int(e.bar);
    EXPECT_EQ(bar.hog, e.hog) << int(e.bar);
    bottom = bar.rect.top;
  }
}

TEST(ColumnTest, BarCountNeverPassesBarsCapacity) {
  struct Case {
    uint32_t active_count;
    uint32_t drawn;
  } cases[] = {{0, 0}, {5, 5}, {1004, 1004}, {1005, 1004}, {1023, 1004}, {0xFFFFFFFFu, 1004}};
  for (const Case& c : cases) EXPECT_EQ(drawable_bar_count(c.active_count), c.drawn) << c.active_count;
}

TEST(GridTest, LinesStartAtFirstPositionAndStayInsideThePage) {
  struct Case {
    int32_t limit;
    int32_t vertical;
    int32_t horizontal;
  } cases[] = {
      {0, 0, 0}, {4, 0, 0}, {5, 1, 0}, {16, 1, 0}, {17, 2, 0}, {24, 2, 0},
      {25, 2, 1}, {36, 3, 1}, {37, 3, 2}, {420, 35, 33}, {600, 50, 48},
  };
  const GraphGrid grid = graph_grid(kDefaultDpi);
  for (const Case& c : cases) {
    EXPECT_EQ(grid_line_count(grid.first_x, grid.pitch, c.limit), c.vertical) << c.limit;
    EXPECT_EQ(grid_line_count(grid.first_y, grid.pitch, c.limit), c.horizontal) << c.limit;
  }
  // A DPI too small to scale the pitch to a pixel draws no grid rather than looping.
  EXPECT_EQ(grid_line_count(0, graph_grid(1).pitch, 100), 0);
}

// Colours as COLORREF: 0x00bbggrr.
TEST(GraphColourTest, OwnColoursOutsideHighContrastAndTheSystemsUnderIt) {
  const SystemColours dark = {0x000000, 0xffffff, 0xff8000, 0x00ffff, 0x808080};  // white on black
  const SystemColours white = {0xffffff, 0x000000, 0x800000, 0x800000, 0xc0c0c0};  // hot light = highlight
  const SystemColours flat = {0xffffff, 0x000000, 0x800000, 0x000000, 0xffffff};   // grey text = window
  struct Case {
    const char* name;
    int32_t high_contrast;
    SystemColours system;
    GraphColours want;
  } cases[] = {
      {"own colours, whatever the system's", 0, dark,
       {0, 0x000000, 0x008000, 0x00ff00, 0x0000ff, 0x000000, 0x0000f0, 0xffffff}},
      {"dark scheme", 1, dark, {1, 0x000000, 0x808080, 0xffffff, 0xff8000, 0x000000, 0x00ffff, 0x000000}},
      // The hot-light colour is the held bars': the grey text colour takes the line.
      {"white scheme", 1, white, {1, 0xffffff, 0xc0c0c0, 0x000000, 0x800000, 0xffffff, 0xc0c0c0, 0xffffff}},
      // Hot light is the text, grey text the page: the line takes the held bars' inverse.
      {"sparse scheme", 1, flat, {1, 0xffffff, 0x000000, 0x000000, 0x800000, 0xffffff, 0x7fffff, 0xffffff}},
  };
  for (const Case& c : cases) {
    const GraphColours got = graph_colours(c.high_contrast, c.system);
    const uint32_t g[] = {got.background, got.grid, got.ordinary_bar, got.held_bar, got.held_stripe,
                          got.threshold_line, got.threshold_edge};
    const uint32_t w[] = {c.want.background, c.want.grid, c.want.ordinary_bar, c.want.held_bar,
                          c.want.held_stripe, c.want.threshold_line, c.want.threshold_edge};
    EXPECT_EQ(got.system, c.want.system) << c.name;
    for (int i = 0; i < 7; ++i) EXPECT_EQ(g[i], w[i]) << c.name << " colour " << i;
    // Whatever the scheme: the line never takes a bar's or the page's colour, unless the
    // scheme leaves no other.
    EXPECT_NE(got.threshold_line, got.held_bar) << c.name;
    EXPECT_NE(got.threshold_line, got.ordinary_bar) << c.name;
  }
  EXPECT_EQ(buffer_colour(0x000000), 0x010101u);
  EXPECT_EQ(buffer_colour(0x0000ff), 0x0000ffu);
}

TEST(ReadoutTest, SaysWhatTheLevelDoesForThisMachine) {
  struct Case {
    int32_t threshold;
    int32_t cpus;
    const wchar_t* text;
  } cases[] = {
      {70, 2, L"70: holds a program using more than 30 % of this machine (0.6 of its 2 processors) for 0.7 s of every second"},
      {40, 1, L"40: holds a program using more than 60 % of this machine (0.6 of its 1 processor) for 0.4 s of every second"},
      {40, 8, L"40: holds a program using more than 60 % of this machine (4.8 of its 8 processors) for 0.4 s of every second"},
      // Tenths of a processor rounded half up; 100 holds anything that runs at all.
      {45, 3, L"45: holds a program using more than 55 % of this machine (1.7 of its 3 processors) for 0.5 s of every second"},
      {100, 64, L"100: holds a program using more than 0 % of this machine (0.0 of its 64 processors) for 1.0 s of every second"},
      // No count known counts as one processor.
      {50, 0, L"50: holds a program using more than 50 % of this machine (0.5 of its 1 processor) for 0.5 s of every second"},
  };
  for (const Case& c : cases) {
    wchar_t text[200];
    threshold_readout(c.threshold, c.cpus, text, 200);
    EXPECT_EQ(std::wstring(text), std::wstring(c.text)) << c.threshold << " at " << c.cpus;
  }
  wchar_t cut[6];
  threshold_readout(70, 2, cut, 6);
  EXPECT_EQ(std::wstring(cut), L"70: h");
}

TEST(TabTest, SelChangingFlipsBetweenTheTwoPages) {
  EXPECT_EQ(next_tab(kTabGraph), kTabStatus);
  EXPECT_EQ(next_tab(kTabStatus), kTabGraph);
  EXPECT_EQ(next_tab(-1), kTabGraph);  // TCM_GETCURSEL with no selection
}

TEST(StatusPageTest, TheButtonKeepsItsPlaceUnlessTheHeadlineReachesIt) {
  struct Case {
    int32_t headline, ideal, dpi;
    WindowBox box;
  } cases[] = {
      {188, 0, 96, {203, 38, 100, 20}},     // no ideal size known
      {230, 124, 96, {245, 38, 124, 20}},   // "... is not installed", a shielded button
      {345, 186, 144, {368, 57, 186, 30}},  // the same at 150 %
  };
  for (const Case& c : cases) {
    const WindowBox box = service_button_box(c.headline, c.ideal, c.dpi);
    EXPECT_EQ(box.x, c.box.x) << c.headline;
    EXPECT_EQ(box.width, c.box.width) << c.headline;
  }
}

// Pending states count as stopped; an account that may not ask gets no button at all.
TEST(StatusPageTest, UnknownAndPendingStates) {
  const ServiceView unknown = {kServiceUnknown, 0, 0, true};
  EXPECT_EQ(status_view(&unknown).button, STATUS_BUTTON_NONE);
  EXPECT_NE(status_view(&unknown).detail, nullptr);
  const ServiceView pending = {kServiceInstalled, 2, 0, true};
  EXPECT_EQ(status_view(&pending).button, STATUS_BUTTON_START);
  EXPECT_EQ(status_view(&pending).shield, 0);
}

// A service that stopped for a reason of its own says which; any other stop reads as before.
TEST(StatusPageTest, AFailedStartNamesItsReason) {
  const struct {
    uint32_t state, exit_code;
    bool names_taken;
    const wchar_t* headline;
    const wchar_t* detail;
  } cases[] = {
      {1, kStopReasonNamesTaken, false, L"Quellcore Service stopped: another program holds Quellcore's names", nullptr},
      {1, kStopReasonNoStopEvent, false, L"Quellcore Service stopped: Windows gave it no stop event", nullptr},
      {1, 1067, false, L"Quellcore Service is stopped", nullptr},
      {4, 0, true, L"Quellcore Service is running",
       L"Another program holds Quellcore's names; this window does not use them."},
  };
  for (const auto& c : cases) {
    ServiceView view = {kServiceInstalled, c.state, 0, true, c.exit_code, c.names_taken};
    const StatusView shown = status_view(&view);
    EXPECT_STREQ(shown.headline, c.headline);
    if (c.detail == nullptr) EXPECT_EQ(shown.detail, nullptr);
    else EXPECT_STREQ(shown.detail, c.detail);
  }
}

}  // namespace
