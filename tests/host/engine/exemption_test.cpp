// Who is never held although above the limit: the system's own processes, and the
// program in front while the monitor spares it.
#include "tests/host/engine/engine_fixture.h"

namespace {

// One processor at level 100: every busy process uses 90 % of the machine and is above
// the limit. Process n has one thread, n + 1, that opens.
class ExemptionTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    g_engine.threshold_percent = 100;
    busy.clear();
  }

  void add(uint32_t pid, bool is_busy) {
    g_fake.processes.push_back({pid, 1, 0});
    g_fake.threads.push_back({pid + 1, pid});
    if (is_busy) busy.push_back(pid);
  }

  // One second later, with the target list emptied as the duty cycle leaves it.
  void pass() {
    for (uint32_t pid : busy) {
      if (process(pid) != nullptr) process(pid)->kernel_time += 900 * kUnitsPerMs;
    }
    g_engine.targets.target_count = 0;
    pass_at(g_fake.tick + 1000);
  }

  std::vector<uint32_t> held() {
    std::vector<uint32_t> pids;
    for (int slot : target_slots()) pids.push_back(g_engine.table[slot].pid);
    return pids;
  }

  std::vector<uint32_t> busy;
};

TEST_F(ExemptionTest, TheSystemsOwnProcessesAreDrawnButNeverHeldAndAskedAboutOnce) {
  // 4 is System, whatever its process says. The platform layer calls 30 a system process
  // (critical, or the system folder's own dwm.exe and its kind); 40 cannot be opened to
  // check; 50's threads refuse to open; 60 is ordinary, like a user's own dwm.exe
  // elsewhere; 70 is calm.
  for (uint32_t pid : {4u, 30u, 40u, 50u, 60u}) add(pid, true);
  add(70, false);
  process(30)->process_class = kProcessSystem;
  process(40)->process_class = kProcessUnknown;
  fake_thread(51)->opens = false;
  pass();
  EXPECT_TRUE(fake_calls_starting("process_class").empty());  // measuring opens nothing
  pass();
  EXPECT_EQ(held(), std::vector<uint32_t>{60});
  EXPECT_EQ(bars(), (std::vector<int>{0x80 | 90, 90, 90, 90, 90}));
  EXPECT_EQ(g_engine.report.system_passed_over, 2);
  pass();
  EXPECT_EQ(fake_calls_starting("process_class"),
            (std::vector<std::string>{"process_class 30", "process_class 40", "process_class 50",
                                      "process_class 60"}));
  // 60 ends and a system process comes to have its id: it is asked about afresh.
  process(60)->creation_time = 2;
  process(60)->process_class = kProcessSystem;
  pass();
  pass();
  EXPECT_TRUE(held().empty());
  EXPECT_EQ(g_engine.report.system_passed_over, 3);
}

// 10 is the service and 20 its monitor; 50, 60 and 70 are busy, 70 in session 0 with
// the services; 80 is calm. Every process was created at 1.
class SpareTest : public ExemptionTest {
 protected:
  void SetUp() override {
    ExemptionTest::SetUp();
    for (uint32_t pid : {10u, 20u}) add(pid, false);
    for (uint32_t pid : {50u, 60u, 70u}) add(pid, true);
    add(80, false);
    process(10)->own_image = process(20)->own_image = true;
    process(70)->session = 0;
    protect_own_process(10);
  }
};

enum SpareEvent { kNothing, kMonitorEnds, kSparedEnds, kSparedIdReused };

TEST_F(SpareTest, TheProgramInFrontIsSparedOnlyWhileItsClaimStands) {
  const struct {
    const char* name;
    bool monitor;  // a monitor is protected when the claim comes
    uint32_t earlier;  // a claim accepted before this one, or 0
    uint32_t pid;
    uint64_t created;
    int result;
    SpareEvent then;
    std::vector<uint32_t> held;  // two passes later
    uint32_t reported;  // the spared id the pass reports
    uint32_t spared;  // still claimed after those passes
  } cases[] = {
      {"spared while claimed", true, 0, 50, 1, 0, kNothing, {60, 70}, 50, 50},
      {"held again once the claim moves", true, 50, 60, 1, 0, kNothing, {50, 70}, 60, 60},
      {"session 0 refused, the old claim dropped", true, 50, 70, 1, -1, kNothing, {50, 60, 70}, 0, 0},
      {"stale id: another creation time", true, 0, 50, 2, -1, kNothing, {50, 60, 70}, 0, 0},
      {"not listed", true, 0, 90, 1, -1, kNothing, {50, 60, 70}, 0, 0},
      {"no monitor, nothing spared", false, 0, 50, 1, -1, kNothing, {50, 60, 70}, 0, 0},
      {"calm: spared, nothing to report", true, 0, 80, 1, 0, kNothing, {50, 60, 70}, 0, 80},
      {"forgotten when the monitor goes", true, 0, 50, 1, 0, kMonitorEnds, {50, 60, 70}, 0, 0},
      {"forgotten when the program ends", true, 0, 50, 1, 0, kSparedEnds, {60, 70}, 0, 0},
      {"forgotten when its id names another", true, 0, 50, 1, 0, kSparedIdReused, {50, 60, 70}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    if (c.monitor) ASSERT_EQ(protect_monitor(20), 0);
    pass();
    if (c.earlier != 0) ASSERT_EQ(spare_program_in_front(c.earlier, 1), 0);
    EXPECT_EQ(spare_program_in_front(c.pid, c.created), c.result);
    if (c.then == kMonitorEnds) g_fake.processes.erase(g_fake.processes.begin() + 1);
    if (c.then == kSparedEnds) g_fake.processes.erase(g_fake.processes.begin() + 2);
    if (c.then == kSparedIdReused) process(50)->creation_time = 2;
    pass();
    pass();
    EXPECT_EQ(held(), c.held);
    EXPECT_EQ(g_engine.report.spared_pid, c.reported);
    EXPECT_EQ(g_engine.spared.pid, c.spared);
  }
}

}  // namespace
