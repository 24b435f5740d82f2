// Window geometry and graph arithmetic, checked to the pixel.
#include <gtest/gtest.h>

#include "monitor/layout.h"
#include "monitor/status_view.h"

namespace {

TEST(ThresholdLineTest, FollowsDoublePrecisionProductTruncated) {
  struct Case {
    int32_t threshold;
    int32_t height;
    int32_t y;
  } cases[] = {
      {40, 400, 186},  // the start value
      {59, 400, 261},  // the product is just under 232 and must not round up to 262
      {40, 0, 30},     // a minimised window has no graph height
      {1, 400, 30},
      {41, 400, 190},
      {100, 400, 426},
      {59, 342, 228},
      {70, 342, 265},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(threshold_line_y(c.threshold, c.height), c.y) << c.threshold << " at " << c.height;
  }
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
      // A typical display rectangle of a 584 x 362 client area.
      {{2, 24, 582, 360}, {2, 24, 540, 346}, {542, 24, 40, 346}},
      {{0, 0, 100, 50}, {0, 0, 60, 60}, {60, 0, 40, 60}},
      // Minimised: the adjusted rectangle turns inside out; sizes stop at zero.
      {{2, 24, -2, -2}, {2, 24, 0, 0}, {-42, 24, 40, 0}},
  };
  for (const Case& c : cases) {
    const SizeLayout layout = size_layout(c.display);
    expect_box(layout.graph_area, c.graph.x, c.graph.y, c.graph.width, c.graph.height);
    expect_box(layout.slider, c.slider.x, c.slider.y, c.slider.width, c.slider.height);
  }
}

TEST(ChildLayoutTest, SliderRightOfGraphAndTabStripAcrossBoth) {
  const ChildLayout layout = child_layout(540, 346);
  expect_box(layout.graph_area, 0, 20, 540, 346);
  expect_box(layout.slider, 540, 20, 50, 351);
  expect_box(layout.tab_strip, 0, 0, 590, 20);
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
  for (const Case& c : cases) {
    EXPECT_EQ(vertical_grid_line_count(c.limit), c.vertical) << c.limit;
    EXPECT_EQ(horizontal_grid_line_count(c.limit), c.horizontal) << c.limit;
  }
}

TEST(TabTest, SelChangingFlipsBetweenTheTwoPages) {
  EXPECT_EQ(next_tab(kTabGraph), kTabStatus);
  EXPECT_EQ(next_tab(kTabStatus), kTabGraph);
  EXPECT_EQ(next_tab(-1), kTabGraph);  // TCM_GETCURSEL with no selection
}

TEST(StatusPageTest, TheButtonKeepsItsPlaceUnlessTheHeadlineReachesIt) {
  struct Case {
    int32_t headline, ideal;
    WindowBox box;
  } cases[] = {
      {185, 90, {203, 38, 100, 20}},   // "... is running" at the system font
      {188, 0, {203, 38, 100, 20}},    // no ideal size known
      {230, 124, {245, 38, 124, 20}},  // "... is not installed", a shielded button
  };
  for (const Case& c : cases) {
    const WindowBox box = service_button_box(c.headline, c.ideal);
    EXPECT_EQ(box.x, c.box.x) << c.headline;
    EXPECT_EQ(box.width, c.box.width) << c.headline;
  }
}

// Pending states count as stopped; an account that may not ask gets no button at all.
TEST(StatusPageTest, UnknownAndPendingStates) {
  const ServiceView unknown = {kServiceUnknown, 0, 0, -1};
  EXPECT_EQ(status_view(&unknown).button, STATUS_BUTTON_NONE);
  EXPECT_NE(status_view(&unknown).detail, nullptr);
  const ServiceView pending = {kServiceInstalled, 2, 0, -1};
  EXPECT_EQ(status_view(&pending).button, STATUS_BUTTON_START);
  EXPECT_EQ(status_view(&pending).shield, 0);
}

}  // namespace
