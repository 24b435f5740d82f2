// The start state and the protected-process list.
#include "tests/host/engine/engine_fixture.h"

namespace {

using EngineStateTest = EngineTest;

TEST_F(EngineStateTest, ResetRestoresTheStartState) {
  g_engine.entry_count = 9;
  g_engine.current_generation = 1;
  g_engine.threshold_percent = 77;
  g_engine.logical_cpu_count = 8;
  g_engine.snapshot.bars[3] = 5;
  protect_process(4);
  engine_reset();
  EXPECT_EQ(g_engine.entry_count, 0);
  EXPECT_EQ(g_engine.current_generation, 0);
  EXPECT_EQ(g_engine.threshold_percent, 50);
  EXPECT_EQ(g_engine.logical_cpu_count, 1);
  EXPECT_EQ(g_engine.snapshot.bars[3], 0);
  EXPECT_EQ(is_protected_process(4), 0);
}

TEST_F(EngineStateTest, ProtectedListAppendsAndIgnoresIdZeroAndRepeats) {
  for (uint32_t pid : {500u, 0u, 600u, 600u, 700u}) protect_process(pid);
  EXPECT_EQ(g_engine.protected_pids.protected_count, 3);
  const struct {
    uint32_t pid;
    int protected_;
  } cases[] = {{500, 1}, {600, 1}, {700, 1}, {0, 0}, {800, 0}};
  for (const auto& c : cases) EXPECT_EQ(is_protected_process(c.pid), c.protected_) << c.pid;
}

TEST_F(EngineStateTest, FullListReplacesTheOldestMonitorAndKeepsTheService) {
  for (uint32_t i = 0; i < kProtectedCapacity; ++i) protect_process(1000 + i);  // 1000 = service
  ASSERT_EQ(g_engine.protected_pids.protected_count, kProtectedCapacity);
  protect_process(5000);
  protect_process(5001);
  EXPECT_EQ(g_engine.protected_pids.pids[1], 5000u);
  EXPECT_EQ(g_engine.protected_pids.pids[2], 5001u);
  EXPECT_EQ(is_protected_process(1001), 0);
  EXPECT_EQ(is_protected_process(1003), 1);
  // A full round over entries 1..63 comes back to entry 1, never to entry 0.
  for (uint32_t i = 0; i < kProtectedCapacity - 1; ++i) protect_process(6000 + i);
  EXPECT_EQ(g_engine.protected_pids.pids[0], 1000u);
  EXPECT_EQ(g_engine.protected_pids.pids[3], 6000u);
  EXPECT_EQ(g_engine.protected_pids.pids[63], 6060u);
  EXPECT_EQ(g_engine.protected_pids.pids[1], 6061u);
  EXPECT_EQ(g_engine.protected_pids.protected_count, kProtectedCapacity);
  EXPECT_EQ(is_protected_process(1000), 1);
}

}  // namespace
