// Who was held: the ids a snapshot carries, the columns they land in as the graph scrolls,
// their names resolved once, and the texts the tooltip and the Status page show.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "monitor/held_programs.h"

namespace {

std::vector<uint32_t> g_resolved;

int resolve(uint32_t pid, wchar_t* out, int32_t capacity) {
  g_resolved.push_back(pid);
  if (pid >= 9000) return -1;  // a process this user may not open
  const std::wstring name = L"prog" + std::to_wstring(pid) + L".exe";
  wcsncpy(out, name.c_str(), capacity);
  return 0;
}

UsageSnapshot snapshot_of(std::vector<uint8_t> bars, std::vector<uint32_t> ids) {
  UsageSnapshot s;
  memset(&s, 0, sizeof(s));
  s.active_count = static_cast<uint32_t>(bars.size());
  for (size_t i = 0; i < bars.size(); ++i) s.bars[i] = bars[i];
  for (size_t i = 0; i < ids.size(); ++i) s.held_pids[i] = ids[i];
  return s;
}

std::wstring tip(const HeldColumn& column) {
  wchar_t text[256];
  held_column_tip(&column, text, 256);
  return text;
}

TEST(HeldProgramsTest, IdsPairWithTheRedBarsInOrder) {
  const uint8_t H = HOG_FLAG;
  struct Case {
    const char* name;
    std::vector<uint8_t> bars;
    std::vector<uint32_t> ids;
    std::vector<HeldProgram> held;
  } cases[] = {
      {"three held among others", {H | 40, 20, H | 30, H | 10, H | 5}, {11, 12, 13}, {{11, 40}, {12, 30}, {13, 10}}},
      {"fewer than three", {H | 60, 10}, {21, 0, 0}, {{21, 60}, {0, 0}, {0, 0}}},
      {"none held", {50, 10}, {0, 0, 0}, {{0, 0}, {0, 0}, {0, 0}}},
      // Written by anyone: an id without its red bar names nobody.
      {"ids without red bars", {50, 10}, {31, 32, 33}, {{0, 0}, {0, 0}, {0, 0}}},
      {"a red bar without an id", {H | 50, H | 20}, {0, 42, 0}, {{0, 0}, {42, 20}, {0, 0}}},
  };
  for (const Case& c : cases) {
    const UsageSnapshot s = snapshot_of(c.bars, c.ids);
    const HeldColumn column = held_column_of(&s, 70);
    EXPECT_EQ(column.hold_ms, 699) << c.name;
    for (int i = 0; i < kHeldIdsCapacity; ++i) {
      EXPECT_EQ(column.held[i].pid, c.held[i].pid) << c.name << " " << i;
      EXPECT_EQ(column.held[i].share, c.held[i].share) << c.name << " " << i;
    }
  }
}

TEST(HeldProgramsTest, ColumnsFollowTheGraphAndNamesAreResolvedOnceWhileShown) {
  held_history_reset();
  g_resolved.clear();
  const UsageSnapshot s = snapshot_of({HOG_FLAG | 45, HOG_FLAG | 30}, {100, 9001});
  const HeldColumn held = held_column_of(&s, 100);
  const HeldColumn empty = {};
  record_held_column(&held, 0, resolve);
  record_held_column(&held, 0, resolve);
  record_held_column(&empty, 0, resolve);  // a poll without a snapshot scrolls too
  EXPECT_EQ(g_resolved, (std::vector<uint32_t>{100, 9001}));
  // The newest column is 0 and sits left of the two black column widths.
  EXPECT_EQ(g_held.columns[0].held[0].pid, 0u);
  EXPECT_EQ(g_held.columns[1].held[0].pid, 100u);
  EXPECT_EQ(tip(g_held.columns[2]), L"prog100.exe 45 %, held 999 ms\r\nprocess 9001 30 %, held 999 ms");
  for (int i = 0; i < kHistoryColumns - 2; ++i) record_held_column(&empty, 0, resolve);
  EXPECT_EQ(g_held.columns[kHistoryColumns - 1].held[0].pid, 100u);
  EXPECT_EQ(g_held.name_count, 2);
  record_held_column(&empty, 0, resolve);  // the last column with them scrolls out
  EXPECT_EQ(g_held.name_count, 0);
  record_held_column(&held, 0, resolve);  // shown again: named again
  EXPECT_EQ(g_resolved.size(), 4u);
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
  held_history_reset();
  const UsageSnapshot s = snapshot_of({HOG_FLAG | 45}, {100});
  const HeldColumn held = held_column_of(&s, 100);
  record_held_column(&held, 200, resolve);
  wchar_t text[128];
  held_summary(&held, text, 128);
  EXPECT_STREQ(text, L"Held in the last cycle: prog100.exe 45 %");
  const HeldColumn empty = {};
  held_summary(&empty, text, 128);
  EXPECT_STREQ(text, L"Held in the last cycle: nothing");
  spared_summary(200, text, 128);
  EXPECT_STREQ(text, L"Spared because it is in front: prog200.exe");
  spared_summary(0, text, 128);
  EXPECT_STREQ(text, L"");
  system_summary(3, text, 128);
  EXPECT_STREQ(text, L"System processes passed over: 3");
  held_summary(&held, text, 10);  // never past the buffer, always terminated
  EXPECT_EQ(std::wstring(text), L"Held in t");
}

}  // namespace
