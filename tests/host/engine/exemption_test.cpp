// Who is never held although above the limit: the system's own processes.
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

}  // namespace
