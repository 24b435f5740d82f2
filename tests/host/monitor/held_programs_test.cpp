// Who was held: the columns the service's reports land in as the graph scrolls, their
// names resolved once, and the texts the tooltip and the Status page show.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "monitor/held_programs.h"

namespace {

std::vector<uint32_t> g_resolved;
bool g_reused = false;  // id 100 now belongs to a newer process

int resolve(uint32_t pid, wchar_t* out, int32_t capacity, uint64_t* created) {
  g_resolved.push_back(pid);
  if (pid >= 9000) return -1;  // a process this user may not open
  const bool newer = g_reused && pid == 100;
  const std::wstring name = (newer ? L"new" : L"prog") + std::to_wstring(pid) + L".exe";
  wcsncpy(out, name.c_str(), capacity);
  *created = newer ? 2 : 1;
  return 0;
}

// As the link does it: the list is read only when a name is missing. 1 when it was.
int record(HeldHistory* history, const HeldColumn& column, uint32_t front) {
  const int missing = held_names_missing(history, &column, front);
  record_held_column(history, &column, front, missing ? resolve : nullptr);
  return missing;
}

// A column as the service's report names it: id, share and hold for each.
HeldColumn column_of(std::vector<HeldReport> held) {
  ServiceReport report = {};
  for (size_t i = 0; i < held.size(); ++i) report.held[i] = held[i];
  return held_column_of(&report);
}

std::wstring tip(const HeldHistory& history, const HeldColumn& column) {
  wchar_t text[256];
  held_column_tip(&history, &column, text, 256);
  return text;
}

TEST(HeldProgramsTest, ColumnsFollowTheGraphAndNamesAreResolvedOnceWhileShown) {
  static HeldHistory history;
  history = HeldHistory{};
  g_resolved.clear();
  const HeldColumn held = column_of({{100, 640, 45, 0}, {0, 0, 0, 0}, {9001, 999, 30, 0}});
  const HeldColumn empty = {};
  g_reused = false;
  EXPECT_EQ(record(&history, held, 0), 1);
  EXPECT_EQ(record(&history, held, 0), 0);  // all named, one of them without a name: no list
  EXPECT_EQ(record(&history, empty, 0), 0);  // a poll without a snapshot scrolls too
  EXPECT_EQ(g_resolved, (std::vector<uint32_t>{100, 9001}));
  // The newest column is 0 and sits left of the two black column widths.
  EXPECT_EQ(history.columns[0].held[0].pid, 0u);
  EXPECT_EQ(history.columns[1].held[0].pid, 100u);
  EXPECT_EQ(tip(history, history.columns[2]), L"prog100.exe 45 %, held 640 ms\r\nprocess 9001 30 %, held 999 ms");
  for (int i = 0; i < kHistoryColumns - 2; ++i) EXPECT_EQ(record(&history, empty, 0), 0);
  EXPECT_EQ(history.columns[kHistoryColumns - 1].held[0].pid, 100u);
  EXPECT_EQ(history.name_count, 2);
  record(&history, empty, 0);  // the last column with them scrolls out
  EXPECT_EQ(history.name_count, 0);
  EXPECT_EQ(record(&history, held, 0), 1);  // shown again: named again
  EXPECT_EQ(g_resolved.size(), 4u);
  // A list read for a new id (the spared 300) finds id 100 under a newer process: renamed.
  g_reused = true;
  EXPECT_EQ(record(&history, held, 300), 1);
  EXPECT_EQ(tip(history, history.columns[0]), L"new100.exe 45 %, held 640 ms\r\nprocess 9001 30 %, held 999 ms");
  EXPECT_EQ(history.name_count, 3);
  g_reused = false;
}

TEST(HeldProgramsTest, ClientXFindsTheColumnUnderIt) {
  struct Case {
    int32_t x, width, column;
  } cases[] = {
      {559, 600, 0}, {550, 600, 0}, {549, 600, 1}, {0, 600, 55},
      {560, 600, -1}, {599, 600, -1}, {600, 600, -1}, {-1, 600, -1},
      {277, 300, 0}, {274, 300, 1}, {280, 300, -1}, {10, 0, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(column_at(c.x, c.width), c.column) << c.x << " of " << c.width;
}

TEST(HeldProgramsTest, StatusTextsNameHeldSparedAndSystemProcesses) {
  static HeldHistory history;
  history = HeldHistory{};
  const HeldColumn held = column_of({{100, 999, 45, 0}});
  record(&history, held, 200);
  wchar_t text[128];
  held_summary(&history, &held, text, 128);
  EXPECT_STREQ(text, L"Held in the last cycle: prog100.exe 45 %");
  const HeldColumn empty = {};
  held_summary(&history, &empty, text, 128);
  EXPECT_STREQ(text, L"Held in the last cycle: nothing");
  spared_summary(&history, 200, 0, text, 128);
  EXPECT_STREQ(text, L"Spared because it is in front: prog200.exe");
  spared_summary(&history, 200, 6, text, 128);
  EXPECT_STREQ(text, L"Spared because it is in front: prog200.exe and 6 of its processes");
  spared_summary(&history, 0, 6, text, 128);
  EXPECT_STREQ(text, L"");
  system_summary(3, text, 128);
  EXPECT_STREQ(text, L"System processes passed over: 3");
  held_summary(&history, &held, text, 10);  // never past the buffer, always terminated
  EXPECT_EQ(std::wstring(text), L"Held in t");
}

}  // namespace
