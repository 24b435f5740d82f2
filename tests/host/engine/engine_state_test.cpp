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
  protect_process(4, 1, 0);
  engine_reset();
  EXPECT_EQ(g_engine.entry_count, 0);
  EXPECT_EQ(g_engine.current_generation, 0);
  EXPECT_EQ(g_engine.threshold_percent, 50);
  EXPECT_EQ(g_engine.logical_cpu_count, 1);
  EXPECT_EQ(g_engine.snapshot.bars[3], 0);
  EXPECT_EQ(is_protected_process(4, 1), 0);
}

TEST_F(EngineStateTest, ProtectedListAppendsAndIgnoresIdZeroAndRepeats) {
  for (uint32_t pid : {500u, 0u, 600u, 600u, 700u}) protect_process(pid, 1, 1);
  EXPECT_EQ(g_engine.protected_pids.protected_count, 3);
  const struct {
    uint32_t pid;
    int protected_;
  } cases[] = {{500, 1}, {600, 1}, {700, 1}, {0, 0}, {800, 0}};
  for (const auto& c : cases) EXPECT_EQ(is_protected_process(c.pid, 1), c.protected_) << c.pid;
  EXPECT_EQ(is_protected_process(600, 2), 0);  // the id, but another process
}

// 1000 is the service; 2000 a user's window in session 2; from 3000 on, 64 copies of the
// installed program that another user started in session 1, each announced as a monitor.
TEST_F(EngineStateTest, ASessionHoldsAFewEntriesAndNeverPushesOutAnotherSessionsWindow) {
  for (const bool window_first : {true, false}) {
    SCOPED_TRACE(window_first ? "the window announced first" : "the window announced last");
    engine_reset();
    fake_reset();
    g_fake.processes = {{1000, 1, 0}, {2000, 1, 0}};
    for (uint32_t i = 0; i < 64; ++i) g_fake.processes.push_back({3000 + 4 * i, 1, 0});
    for (FakeProcess& p : g_fake.processes) p.own_image = true;
    process(1000)->session = 0;
    process(2000)->session = 2;
    ASSERT_EQ(protect_own_process(1000), 0);
    if (window_first) EXPECT_EQ(protect_monitor(2000), 0);
    int accepted = 0;
    for (uint32_t i = 0; i < 64; ++i) accepted += protect_monitor(3000 + 4 * i) == 0;
    if (!window_first) EXPECT_EQ(protect_monitor(2000), 0);
    EXPECT_EQ(accepted, kMonitorEntriesPerSession);
    EXPECT_EQ(is_protected_process(3000, 1), 1);  // the session's first ones stay
    pass_at(1000);
    EXPECT_EQ(is_protected_process(2000, 1), 1);
    EXPECT_EQ(g_engine.protected_pids.processes[0].pid, 1000u);
  }
}

// A full list takes a newcomer only in the place of a session's later window.
TEST_F(EngineStateTest, AFullListMakesRoomOnlyFromASessionsExtraWindows) {
  protect_process(1000, 1, 0);  // the service
  for (uint32_t s = 1; s < kProtectedCapacity - 1; ++s) protect_process(1000 + s, 1, s);
  EXPECT_EQ(protect_process(5000, 1, 1), 0);  // session 1's second window fills the list
  ASSERT_EQ(g_engine.protected_pids.protected_count, kProtectedCapacity);
  EXPECT_EQ(protect_process(6000, 1, 100), 0);
  EXPECT_EQ(is_protected_process(5000, 1), 0);
  EXPECT_EQ(is_protected_process(1001, 1), 1);
  EXPECT_EQ(protect_process(6001, 1, 101), -1);  // every session holds one window now
  EXPECT_EQ(is_protected_process(6000, 1), 1);
  EXPECT_EQ(protect_process(6000, 1, 100), 0);  // announced again: still there, no second entry
  EXPECT_EQ(g_engine.protected_pids.protected_count, kProtectedCapacity);
  EXPECT_EQ(g_engine.protected_pids.processes[0].pid, 1000u);
}

TEST_F(EngineStateTest, OnlyARealMonitorIsProtectedAndOnlyWhileItRuns) {
  // 10: the service; 20: a real monitor; 30: a busy program that announced itself.
  g_fake.processes = {{10, 1, 0}, {20, 1, 0}, {30, 1, 0}, {40, 1, 0}};
  for (uint32_t pid : {10u, 20u}) process(pid)->own_image = true;
  process(20)->creation_time = 7;
  EXPECT_EQ(protect_own_process(10), 0);
  EXPECT_EQ(protect_monitor(30), -1);  // forged
  EXPECT_EQ(protect_monitor(99), -1);  // no such process
  EXPECT_EQ(protect_monitor(20), 0);
  protect_process(40, 1, 1);  // a monitor that is about to end
  EXPECT_EQ(g_engine.protected_pids.protected_count, 3);
  EXPECT_EQ(g_engine.protected_pids.processes[1].creation_time, 7u);
  EXPECT_EQ(is_protected_process(30, 1), 0);
  // The monitor 40 ends, and the id 20 comes to name another process.
  g_fake.processes.erase(g_fake.processes.begin() + 3);
  process(20)->creation_time = 8;
  pass_at(1000);
  EXPECT_EQ(g_engine.protected_pids.protected_count, 1);
  EXPECT_EQ(is_protected_process(10, 1), 1);
  EXPECT_EQ(is_protected_process(20, 8), 0);
  EXPECT_EQ(protect_monitor(20), 0);  // its place is taken by the next monitor
  EXPECT_EQ(g_engine.protected_pids.processes[1].pid, 20u);
  EXPECT_EQ(g_engine.protected_pids.processes[1].creation_time, 8u);
}

}  // namespace
