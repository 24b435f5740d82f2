// The selection phase: shares, bars, HOG_FLAG, targets and protected ids.
#include <climits>

#include "tests/host/engine/engine_fixture.h"

namespace {

class SelectionTest : public EngineTest {
 protected:
  // Fills slots 0.. with active entries of these usages (pids 100, 101, ...) and runs
  // the selection as a pass would, histogram cleared first.
  void select(int cpus, int threshold, const std::vector<int>& usages) {
    g_engine.logical_cpu_count = cpus;
    g_engine.threshold_percent = threshold;
    for (size_t i = 0; i < usages.size(); ++i) {
      ProcessUsageEntry* e = &g_engine.table[i];
      e->pid = static_cast<uint32_t>(100 + i);
      e->usage = usages[i];
      e->generation = g_engine.current_generation;
    }
    g_engine.entry_count = static_cast<int32_t>(usages.size());
    memset(&g_engine.histogram, 0, sizeof(g_engine.histogram));
    run_selection_phase();
  }
};

struct SelectionCase {
  const char* name;
  int cpus, threshold;
  std::vector<int> usages;
  std::vector<int> bars;
  std::vector<int> targets;
};

TEST_F(SelectionTest, BarsComeOutLargestFirstWithHogFlagOnTheTargetsBars) {
  const SelectionCase cases[] = {
      {"empty table", 1, 50, {}, {}, {}},
      {"every usage 0", 1, 50, {0, 0, 0}, {}, {}},
      {"one processor", 1, 50, {25, 3, 60}, {0xBC, 25, 3}, {2}},
      {"two processors", 2, 50, {1, 60, 180, 3}, {0xDA, 30, 1, 0}, {2}},
      {"full machine keeps its bar", 1, 50, {20, 100, 5}, {0xE4, 20, 5}, {1}},
      {"99 percent keeps its bar", 1, 50, {99, 1}, {0xE3, 1}, {0}},
      {"share 50 at 50 is no target", 1, 50, {50, 51}, {0xB3, 50}, {1}},
      {"threshold 100 takes share 1", 1, 100, {1, 2}, {0x82, 0x81}, {0, 1}},
      {"threshold 100 not share 0", 2, 100, {1}, {0}, {}},
      {"threshold 1 takes only 100 and up", 1, 1, {99, 100, 127}, {0xFF, 0xE4, 99}, {1, 2}},
      {"quotient 300 wraps to 44", 1, 50, {300}, {44}, {}},
      // 130 reads -126: no bucket, never a target, a 0 at the front.
      {"negative share", 1, 50, {130, 20, 70}, {0x80, 70, 20}, {2}},
      {"processor count 0 counts as 1", 0, 50, {60}, {0xBC}, {0}},
      {"threshold far below range", 1, INT_MIN, {127}, {127}, {}},
      {"threshold far above range", 1, INT_MAX, {1}, {0x81}, {0}},
  };
  for (const SelectionCase& c : cases) {
    SCOPED_TRACE(c.name);
    engine_reset();
    select(c.cpus, c.threshold, c.usages);
    EXPECT_EQ(bars(), c.bars);
    EXPECT_EQ(target_slots(), c.targets);
    EXPECT_EQ(g_engine.snapshot.bars[c.bars.size()], 0);
    EXPECT_EQ(g_engine.current_generation, 1);
  }
}

TEST_F(SelectionTest, EveryProtectedIdIsPassedOverAndItsBarMayCarryTheFlag) {
  protect_process(100);  // the service
  protect_process(101);  // a monitor
  protect_process(103);  // a later monitor
  select(1, 50, {90, 80, 60, 70});
  EXPECT_EQ(target_slots(), std::vector<int>{2});
  // The one flag lands on the largest bar, the protected service's.
  EXPECT_EQ(bars(), (std::vector<int>{0x80 | 90, 80, 70, 60}));
}

TEST_F(SelectionTest, AtMost128TargetsFirstInSlotOrder) {
  select(1, 50, std::vector<int>(200, 60));
  ASSERT_EQ(g_engine.targets.target_count, kTargetCapacity);
  for (int i = 0; i < kTargetCapacity; ++i) EXPECT_EQ(g_engine.targets.target_slot[i], i);
  EXPECT_EQ(g_engine.snapshot.bars[127], 0x80 | 60);
  EXPECT_EQ(g_engine.snapshot.bars[128], 60);
}

TEST_F(SelectionTest, ManyEntriesAtOneShareLoseNoBar) {
  select(1, 50, std::vector<int>(300, 5));
  EXPECT_EQ(bars(), std::vector<int>(300, 5));
}

TEST_F(SelectionTest, MoreActiveEntriesThanBarsKeepTheLargestAndStayInTheRecord) {
  std::vector<int> usages(kUsageTableCapacity, 10);
  for (int i = 0; i < 5; ++i) usages[i * 100] = 90;     // 5 targets
  for (int i = 0; i < 3; ++i) usages[i * 100 + 1] = 130;  // 3 without a bucket
  for (int i = 0; i < 20; ++i) usages[i * 40 + 2] = 3;  // the smallest, dropped
  select(1, 50, usages);
  std::vector<int> expected = {0x80, 0x80, 0x80, 0x80 | 90, 0x80 | 90, 90, 90, 90};
  expected.resize(kBarsCapacity - 1, 10);
  expected.push_back(3);  // one of the twenty smallest still fits
  EXPECT_EQ(g_engine.snapshot.active_count, static_cast<uint32_t>(kBarsCapacity));
  EXPECT_EQ(bars(), expected);
  // The histogram sits right behind the snapshot: a fill past the record would show.
  EXPECT_EQ(g_engine.histogram.counts[3], 20);
  EXPECT_EQ(g_engine.histogram.counts[90], 5);
}

TEST_F(SelectionTest, StaleEntriesAreFreedAndNeverActive) {
  select(1, 50, {60, 70, 80});
  g_engine.targets.target_count = 0;
  g_engine.table[1].generation = g_engine.current_generation;  // refreshed by the pass
  g_engine.table[0].generation = g_engine.table[2].generation = 1 - g_engine.current_generation;
  memset(&g_engine.histogram, 0, sizeof(g_engine.histogram));
  run_selection_phase();
  EXPECT_EQ(g_engine.table[0].pid, 0u);
  EXPECT_EQ(g_engine.table[2].pid, 0u);
  EXPECT_EQ(g_engine.entry_count, 2);
  EXPECT_EQ(bars(), std::vector<int>{0x80 | 70});
  EXPECT_EQ(target_slots(), std::vector<int>{1});
}

}  // namespace
