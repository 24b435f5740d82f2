// The selection phase: shares, bars, HOG_FLAG, targets and protected ids.
#include <climits>

#include "tests/host/engine/engine_fixture.h"

namespace {

class SelectionTest : public EngineTest {
 protected:
  // Fills slots 0.. with active entries of these usages (pids 100, 101, ...), ordinary
  // processes already found holdable, and runs the selection as a pass would, histogram
  // cleared first.
  void select(int cpus, int threshold, const std::vector<int>& usages) {
    g_engine.logical_cpu_count = cpus;
    g_engine.threshold_percent = threshold;
    for (size_t i = 0; i < usages.size(); ++i) {
      ProcessUsageEntry* e = &g_engine.table[i];
      e->pid = static_cast<uint32_t>(100 + i);
      e->usage = usages[i];
      e->generation = g_engine.current_generation;
      e->verdict = kVerdictHoldable;
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
      {"negative share", 1, 50, {130, 20, 70}, {0, 0x80 | 70, 20}, {2}},
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

TEST_F(SelectionTest, TheReportNamesUpToThreeTargetsLargestShareFirst) {
  struct Case {
    const char* name;
    int threshold;
    std::vector<int> usages;
    std::vector<uint32_t> held;
    std::vector<int32_t> shares;
  } cases[] = {
      {"four targets: the largest three", 100, {10, 40, 25, 30, 40}, {101, 104, 103}, {40, 40, 30}},
      {"three in falling order", 100, {60, 50, 45}, {100, 101, 102}, {60, 50, 45}},
      {"fewer than three", 50, {20, 60}, {101, 0, 0}, {60, 0, 0}},
      {"none", 50, {20, 30}, {0, 0, 0}, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    engine_reset();
    select(1, c.threshold, c.usages);
    std::vector<uint32_t> held;
    std::vector<int32_t> shares;
    for (const HeldProcess& h : g_engine.report.held) {
      held.push_back(h.pid);
      shares.push_back(h.share);
    }
    EXPECT_EQ(held, c.held) << c.name;
    EXPECT_EQ(shares, c.shares) << c.name;
  }
}

TEST_F(SelectionTest, EveryProtectedIdIsPassedOverAndOnlyTheTargetsBarIsRed) {
  protect_process(100, 0, 0);  // the service
  protect_process(101, 0, 1);  // a monitor
  protect_process(103, 0, 1);  // a later monitor
  select(1, 50, {90, 80, 60, 70});
  EXPECT_EQ(target_slots(), std::vector<int>{2});
  EXPECT_EQ(bars(), (std::vector<int>{90, 80, 70, 0x80 | 60}));
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
  std::vector<int> usages(kBarsCapacity + 19, 10);
  for (int i = 0; i < 5; ++i) usages[i * 100] = 90;     // 5 targets
  for (int i = 0; i < 3; ++i) usages[i * 100 + 1] = 130;  // 3 without a bucket
  for (int i = 0; i < 20; ++i) usages[i * 40 + 2] = 3;  // the smallest, dropped
  select(1, 50, usages);
  std::vector<int> expected = {0, 0, 0, 0x80 | 90, 0x80 | 90, 0x80 | 90, 0x80 | 90, 0x80 | 90};
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

TEST_F(SelectionTest, AHeldProcessIsJudgedOnWhatItUsedWhileFreeAcrossTheWholeMachine) {
  // Demand is usage x elapsed / (elapsed - held) / processors. Over the held time alone
  // a short hold would look huge; per processor, a process on four would look 4 times
  // as large.
  const struct {
    const char* name;
    int cpus;
    uint32_t elapsed_ms, held_ms;
    int usage;
  } cases[] = {
      {"short hold on one processor: demand 22", 1, 1000, 100, 20},
      {"a third of the cycle on four processors: demand 37", 4, 1200, 400, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine_reset();
    g_engine.previous_pass_tick = 5000;
    g_engine.pass_tick = 5000 + c.elapsed_ms;
    g_engine.table[0].held_ms = c.held_ms;
    select(c.cpus, 40, {c.usage});
    EXPECT_TRUE(target_slots().empty());
  }
}

// The service's cycle on the scripted platform: every sleep moves the clock, and a busy
// process's threads use processor time only while they are not suspended.
class SteadyThrottlingTest : public EngineTest {
 protected:
  static constexpr uint32_t kBusy = 50, kCalm = 60;
  double busy_rate = 0.9;  // of one processor, per thread of the busy process
  double calm_rate = 0.1;

  void SetUp() override {
    EngineTest::SetUp();
    g_engine.logical_cpu_count = 2;
    g_engine.threshold_percent = 40;
    g_fake.processes = {{kBusy, 1, 0}, {kCalm, 1, 0}};
    g_fake.threads = {{51, kBusy}, {52, kBusy}, {61, kCalm}};
    g_fake.on_sleep = [this](uint32_t ms) { run_for(ms); };
  }

  void run_for(uint32_t ms) {
    g_fake.tick += ms;
    for (const FakeThread& t : g_fake.threads) {
      if (t.owner_pid == kBusy && t.suspend_count == 0) {
        process(kBusy)->kernel_time += static_cast<uint64_t>(ms * busy_rate * kUnitsPerMs);
      }
    }
    process(kCalm)->kernel_time += static_cast<uint64_t>(ms * calm_rate * kUnitsPerMs);
  }

  // Stop check, pass, stop check, duty cycle: what one service cycle does.
  void cycle() {
    run_for(100);
    run_sampling_pass();
    run_for(100);
    measured.push_back(entry_of(kBusy)->usage);
    targeted.push_back(g_engine.targets.target_count == 1);
    run_duty_cycle();
    memset(&g_engine.snapshot, 0, sizeof(g_engine.snapshot));
  }

  std::vector<int> measured;
  std::vector<bool> targeted;
};

TEST_F(SteadyThrottlingTest, AHeldTargetIsJudgedOnItsDemandAndReleasedWhenItFalls) {
  for (int i = 0; i < 3; ++i) cycle();
  // Held 399 ms of each 1200, it measures about 120 (share 60, not above the limit of
  // 60), yet its demand is still 180 and it stays a target in every cycle.
  EXPECT_EQ(measured, (std::vector<int>{0, 180, 120}));
  EXPECT_EQ(targeted, (std::vector<bool>{false, true, true}));
  busy_rate = 0.0375;  // it calms down: held once more, it measures 5 and demands 7
  for (int i = 0; i < 3; ++i) cycle();
  EXPECT_TRUE(targeted[3]);
  EXPECT_EQ(measured[4], 5);
  EXPECT_EQ(targeted[4], false);
  EXPECT_EQ(targeted[5], false);
  EXPECT_EQ(entry_of(kBusy)->held_ms, 0u);
}

TEST_F(SteadyThrottlingTest, TheRedBarsAreTheTargetsEvenBelowAnotherProcessesShare) {
  busy_rate = 0.8;  // share 80, a target
  calm_rate = 1.17;  // share 58, under the limit
  cycle();
  cycle();
  run_for(100);
  run_sampling_pass();
  // Held, the target measures 53 (demand 80), below the calm process's 58.
  EXPECT_EQ(target_slots(), std::vector<int>{0});
  EXPECT_EQ(bars(), (std::vector<int>{58, 0x80 | 53}));
}

}  // namespace

namespace {

// A sign-out lets its session's programs save their work: none of them is a target from
// then on, while the system still lists any process of that session.
TEST_F(EngineTest, ASignedOutSessionIsHeldNoMoreUntilItIsGone) {
  g_fake.processes = {{100, 1, 0}, {200, 1, 0}};
  g_fake.processes[1].session = 2;
  g_fake.threads = {{101, 100}, {201, 200}};
  auto busy_pass = [this](uint32_t tick) {
    for (FakeProcess& p : g_fake.processes) p.kernel_time += 1000 * kUnitsPerMs;
    pass_at(tick);
    std::vector<uint32_t> pids;
    for (int32_t t = 0; t < g_engine.targets.target_count; ++t) {
      pids.push_back(g_engine.table[g_engine.targets.target_slot[t]].pid);
    }
    g_engine.targets.target_count = 0;
    return pids;
  };
  pass_at(0);
  EXPECT_EQ(busy_pass(1000), (std::vector<uint32_t>{100, 200}));
  end_session_holds(2);
  EXPECT_EQ(busy_pass(2000), (std::vector<uint32_t>{100}));
  EXPECT_EQ(busy_pass(3000), (std::vector<uint32_t>{100}));
  // Gone: the session's number is free for the next sign-in, whose programs are held.
  g_fake.processes.pop_back();
  busy_pass(4000);
  EXPECT_FALSE(session_is_ending(2));
  g_fake.processes.push_back({300, 1, 0});
  g_fake.processes.back().session = 2;
  g_fake.threads.push_back({301, 300});
  busy_pass(5000);
  EXPECT_EQ(busy_pass(6000), (std::vector<uint32_t>{100, 300}));
  // A window told its session ends names itself; only a protected monitor's word counts.
  g_fake.processes.push_back({400, 1, 0});
  g_fake.processes.back().session = 3;
  pass_at(7000);
  EXPECT_EQ(end_monitor_session(400), -1);
  EXPECT_EQ(end_monitor_session(100), -1);
  protect_process(10, 1, 0);  // the service, entry 0
  protect_process(400, 1, 3);
  EXPECT_EQ(end_monitor_session(400), 0);
  EXPECT_TRUE(session_is_ending(3));
}

}  // namespace
