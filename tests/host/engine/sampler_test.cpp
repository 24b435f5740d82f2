// The measurement phase: entries, times, ticks and the usage arithmetic.
#include "tests/host/engine/engine_fixture.h"

namespace {

using SamplerTest = EngineTest;

TEST_F(SamplerTest, FirstPassEntersEveryListedProcessInWalkOrderWithoutUsage) {
  g_fake.processes = {{4, 100, 100}, {8, 5, 5}, {12, 7, 0}, {16, 0, 0}};
  g_fake.processes[1].process_class = kProcessUnknown;  // measured all the same
  ASSERT_EQ(pass_at(1000), 0);
  ASSERT_EQ(g_engine.entry_count, 4);
  const uint32_t expected[] = {4, 8, 12, 16};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(g_engine.table[i].pid, expected[i]);
    EXPECT_EQ(g_engine.table[i].usage, 0);
  }
  EXPECT_EQ(g_engine.table[0].cpu_time, 200u);
  EXPECT_EQ(g_engine.snapshot.active_count, 0u);
  EXPECT_EQ(g_engine.previous_pass_tick, 1000u);
  EXPECT_EQ(g_engine.current_generation, 1);
}

struct UsageCase {
  const char* name;
  uint64_t kernel1, user1, kernel2, user2;
  uint32_t tick1, tick2;
  int32_t usage;
};

TEST_F(SamplerTest, UsageIsProcessorTimeOverElapsedTicksInPercentOfOneProcessor) {
  const uint64_t k2p32 = 1ull << 32;
  const UsageCase cases[] = {
      {"250 ms over 1000 ms", 0, 1, 250 * kUnitsPerMs, 1, 5000, 6000, 25},
      {"unchanged time", 7, 7, 7, 7, 5000, 6000, 0},
      {"two processors busy", 0, 1, 1000 * kUnitsPerMs, 1000 * kUnitsPerMs + 1, 0x100, 0x100 + 1000,
       200},
      {"remainders dropped", 0, 1, 2499999, 1, 5000, 6000, 24},
      // The low halves sum past 2^32 between the passes: without the carry the time
      // would seem to fall and the entry would restart.
      {"carry into the high half", 0x80000000u, 0x7FFFFFFFu, 0x80000000u + 125 * kUnitsPerMs,
       0x7FFFFFFFu + 125 * kUnitsPerMs, 5000, 6000, 25},
      {"high halves count", 3 * k2p32, 2 * k2p32, 3 * k2p32 + 500 * kUnitsPerMs, 2 * k2p32,
       5000, 7000, 25},
      // A delta above 2^32 units needs 64-bit division.
      {"delta beyond 32 bits", 1, 0, 1 + 500000 * kUnitsPerMs, 0, 5000, 6000, 50000},
      {"tick wraps between passes", 1, 0, 1 + 250 * kUnitsPerMs, 0, 0xFFFFFFFFu - 499, 500, 25},
  };
  for (const UsageCase& c : cases) {
    SCOPED_TRACE(c.name);
    engine_reset();
    fake_reset();
    g_fake.processes = {{42, c.kernel1, c.user1}};
    ASSERT_EQ(pass_at(c.tick1), 0);
    process(42)->kernel_time = c.kernel2;
    process(42)->user_time = c.user2;
    ASSERT_EQ(pass_at(c.tick2), 0);
    ASSERT_NE(entry_of(42), nullptr);
    EXPECT_EQ(entry_of(42)->usage, c.usage);
    EXPECT_EQ(g_engine.snapshot.active_count, c.usage != 0 ? 1u : 0u);
  }
}

TEST_F(SamplerTest, SameTickTwiceComputesNoUsageAndKeepsTheLastOne) {
  g_fake.processes = {{42, 1, 0}};
  pass_at(1000);
  process(42)->kernel_time += 250 * kUnitsPerMs;
  pass_at(2000);
  process(42)->kernel_time += 900 * kUnitsPerMs;
  ASSERT_EQ(pass_at(2000), 0);
  EXPECT_EQ(entry_of(42)->usage, 25);
}

TEST_F(SamplerTest, EntryWhoseTimeWentDownRestartsWithoutUsageThenMeasuresAgain) {
  g_fake.processes = {{42, 1, 0}};
  pass_at(1000);
  process(42)->kernel_time += 900 * kUnitsPerMs;  // 90: a target at threshold 50
  pass_at(2000);
  ASSERT_EQ(entry_of(42)->usage, 90);
  g_engine.targets.target_count = 0;  // the duty cycle would have emptied it
  process(42)->kernel_time = 10 * kUnitsPerMs;  // the id now names a new process
  pass_at(3000);
  EXPECT_EQ(entry_of(42)->prev_cpu_time, 0u);
  EXPECT_EQ(entry_of(42)->usage, 0);
  EXPECT_EQ(g_engine.snapshot.active_count, 0u);
  EXPECT_EQ(g_engine.targets.target_count, 0);
  process(42)->kernel_time += 300 * kUnitsPerMs;
  pass_at(4000);
  EXPECT_EQ(entry_of(42)->usage, 30);
}

TEST_F(SamplerTest, NewProcessInReusedSlotStartsWithoutThePreviousOccupantsUsage) {
  g_fake.processes = {{10, 1, 0}, {20, 1, 0}, {25, 1, 0}, {40, 1, 0}};
  pass_at(1000);
  process(10)->kernel_time += 950 * kUnitsPerMs;
  pass_at(2000);
  ASSERT_EQ(g_engine.table[0].usage, 95);
  g_engine.targets.target_count = 0;
  g_fake.processes = {{20, 1, 0}, {40, 1, 0}};  // 10 and 25 end
  pass_at(3000);
  EXPECT_EQ(g_engine.table[0].pid, 0u);  // freed, still below entry_count
  EXPECT_EQ(g_engine.entry_count, 4);
  g_fake.processes.push_back({30, 5, 5});
  pass_at(4000);
  EXPECT_EQ(g_engine.table[0].pid, 30u);  // the lowest free slot, slot 0 included
  EXPECT_EQ(g_engine.table[0].usage, 0);
  EXPECT_EQ(g_engine.snapshot.active_count, 0u);
  EXPECT_EQ(g_engine.targets.target_count, 0);
}

TEST_F(SamplerTest, StaleSlotsAreFreedAndOnlyTheLastIsGivenUpPerPass) {
  g_fake.processes = {{1, 1, 0}, {2, 1, 0}, {3, 1, 0}, {4, 1, 0}, {5, 1, 0}};
  pass_at(1000);
  ASSERT_EQ(g_engine.entry_count, 5);
  // 2 in the middle, and the two last, 4 and 5, end.
  g_fake.processes = {{1, 1, 0}, {3, 1, 0}};
  pass_at(2000);
  EXPECT_EQ(g_engine.table[1].pid, 0u);
  EXPECT_EQ(g_engine.table[3].pid, 0u);
  EXPECT_EQ(g_engine.table[4].pid, 0u);
  EXPECT_EQ(g_engine.entry_count, 4);
  // Freed slot 3 kept the generation of the first pass, which matches again now.
  pass_at(3000);
  EXPECT_EQ(g_engine.entry_count, 4);
  pass_at(4000);
  EXPECT_EQ(g_engine.entry_count, 3);
  pass_at(5000);
  EXPECT_EQ(g_engine.entry_count, 3);  // slot 1 is free but not at the end
  EXPECT_EQ(entry_of(1), &g_engine.table[0]);
  EXPECT_EQ(entry_of(3), &g_engine.table[2]);
}

TEST_F(SamplerTest, FullTableSkipsNewcomerUntilASlotIsFreed) {
  for (uint32_t pid = 1; pid <= kUsageTableCapacity; ++pid) g_fake.processes.push_back({pid * 4, 1, 0});
  pass_at(1000);
  ASSERT_EQ(g_engine.entry_count, kUsageTableCapacity);
  EXPECT_EQ(find_or_add_process(99999, 1, 5), -1);
  g_fake.processes.push_back({99999, 1, 0});
  pass_at(2000);
  EXPECT_EQ(entry_of(99999), nullptr);
  g_fake.processes.erase(g_fake.processes.begin() + 10);  // the process in slot 10 ends
  pass_at(3000);
  EXPECT_EQ(entry_of(99999), nullptr);  // freed only at the end of this pass
  pass_at(4000);
  EXPECT_EQ(entry_of(99999), &g_engine.table[10]);
  EXPECT_EQ(find_or_add_process(0, 1, 5), -1);  // id 0 never stands in an entry
}

TEST_F(SamplerTest, FailedListOrFirstEntryLeavesEverythingAsItWas) {
  g_fake.processes = {{7, 1, 0}};
  pass_at(1000);
  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant == 0 ? "list fails" : "list empty");
    g_fake.process_list_fails = variant == 0;
    if (variant == 1) g_fake.processes.clear();
    const int generation = g_engine.current_generation;
    EXPECT_EQ(pass_at(5000), -1);
    EXPECT_EQ(g_engine.current_generation, generation);
    EXPECT_EQ(g_engine.previous_pass_tick, 1000u);
    EXPECT_EQ(g_engine.entry_count, 1);
    EXPECT_EQ(g_engine.table[0].pid, 7u);
  }
}

TEST_F(SamplerTest, ReusedIdWithAnotherCreationTimeStartsAFreshEntryWhateverItsTime) {
  g_fake.processes = {{7, 1, 0}};
  pass_at(1000);
  process(7)->kernel_time += 900 * kUnitsPerMs;
  pass_at(2000);
  ASSERT_EQ(entry_of(7)->usage, 90);
  g_engine.targets.target_count = 0;
  // A new process under the same id that has already used more than the old one.
  process(7)->creation_time = 2;
  process(7)->kernel_time += 5000 * kUnitsPerMs;
  pass_at(3000);
  EXPECT_EQ(entry_of(7)->prev_cpu_time, 0u);
  EXPECT_EQ(entry_of(7)->usage, 0);
  EXPECT_EQ(g_engine.targets.target_count, 0);
  process(7)->kernel_time += 200 * kUnitsPerMs;
  pass_at(4000);
  EXPECT_EQ(entry_of(7)->usage, 20);
}

}  // namespace
