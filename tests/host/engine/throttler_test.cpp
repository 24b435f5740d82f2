// The duty cycle: call order, sleep lengths, and what every pass leaves suspended.
#include <climits>

#include "tests/host/engine/engine_fixture.h"

namespace {

class ThrottlerTest : public EngineTest {
 protected:
  // Targets 10 (threads 11, 12) and 20 (thread 21); 30 (thread 31) is bystander.
  void SetUp() override {
    EngineTest::SetUp();
    g_fake.threads = {{11, 10}, {31, 30}, {21, 20}, {12, 10}};
    g_engine.table[3].pid = 10;
    g_engine.table[5].pid = 20;
    g_engine.entry_count = 6;
    g_engine.targets.target_count = 2;
    g_engine.targets.target_slot[0] = 3;
    g_engine.targets.target_slot[1] = 5;
  }

  // Suspend counts of threads 11, 12, 21, 31 when the first sleep begins.
  std::vector<uint32_t> counts_at_first_sleep;
  void watch_first_sleep() {
    g_fake.on_sleep = [this](uint32_t) {
      if (!counts_at_first_sleep.empty()) return;
      for (uint32_t tid : {11u, 12u, 21u, 31u}) {
        counts_at_first_sleep.push_back(fake_thread(tid)->suspend_count);
      }
    };
  }
};

TEST_F(ThrottlerTest, NoTargetsMeansOneSleepOfASecondAndNothingElse) {
  g_engine.targets.target_count = 0;
  EXPECT_EQ(run_duty_cycle(), 0);
  EXPECT_EQ(g_fake.calls, std::vector<std::string>{"sleep 1000"});
}

TEST_F(ThrottlerTest, SuspendsInListOrderSleepsResumesInTheSameOrderThenRests) {
  g_engine.threshold_percent = 50;
  watch_first_sleep();
  run_duty_cycle();
  const std::vector<std::string> expected = {
      "open_thread_list", "open_thread 11", "suspend 11", "close thread 11",
      "open_thread 12", "suspend 12", "close thread 12", "close thread_list 0",
      "open_thread_list", "open_thread 21", "suspend 21", "close thread 21", "close thread_list 0",
      "sleep 499",
      "open_thread_list", "open_thread 11", "resume 11", "close thread 11",
      "open_thread 12", "resume 12", "close thread 12", "close thread_list 0",
      "open_thread_list", "open_thread 21", "resume 21", "close thread 21", "close thread_list 0",
      "sleep 501"};
  EXPECT_EQ(g_fake.calls, expected);
  EXPECT_EQ(counts_at_first_sleep, (std::vector<uint32_t>{1, 1, 1, 0}));
  for (const FakeThread& t : g_fake.threads) EXPECT_EQ(t.suspend_count, 0u) << t.tid;
  EXPECT_EQ(g_engine.targets.target_count, 0);
}

TEST_F(ThrottlerTest, SleepLengthsFollowTheThresholdAndNeverLeaveTheSecond) {
  const struct {
    int threshold;
    uint32_t suspend_ms, rest_ms;
  } cases[] = {
      {1, 9, 991}, {50, 499, 501}, {100, 999, 1}, {40, 399, 601},
      // Outside 1..100 the threshold is clamped: no negative or endless sleep.
      {0, 9, 991}, {-7, 9, 991}, {INT_MIN, 9, 991}, {101, 999, 1}, {INT_MAX, 999, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.threshold);
    g_fake.sleeps.clear();
    g_engine.targets.target_count = 2;
    g_engine.threshold_percent = c.threshold;
    run_duty_cycle();
    EXPECT_EQ(g_fake.sleeps, (std::vector<uint32_t>{c.suspend_ms, c.rest_ms}));
  }
}

TEST_F(ThrottlerTest, ResumePassVisitsEveryTargetWhateverTheSuspendPassDid) {
  g_fake.thread_list_failures = 1;  // the suspend pass cannot list threads for 10
  fake_thread(21)->suspend_fails = true;
  fake_thread(12)->opens = false;
  watch_first_sleep();
  run_duty_cycle();
  EXPECT_EQ(counts_at_first_sleep, (std::vector<uint32_t>{0, 0, 0, 0}));
  EXPECT_EQ(fake_calls_starting("resume"), (std::vector<std::string>{"resume 11", "resume 21"}));
  EXPECT_EQ(fake_calls_starting("suspend"), std::vector<std::string>{"suspend 21"});
  EXPECT_EQ(g_fake.sleeps, (std::vector<uint32_t>{499, 501}));
  EXPECT_EQ(g_engine.targets.target_count, 0);
}

TEST_F(ThrottlerTest, OtherPartiesSuspensionsAndThreadChangesSurviveTheCycle) {
  fake_thread(11)->suspend_count = 1;  // suspended by someone else beforehand
  g_fake.on_sleep = [](uint32_t) {
    if (g_fake.sleeps.size() != 1) return;
    g_fake.threads.push_back({13, 10});  // started after the suspend pass
    g_fake.threads.erase(g_fake.threads.begin() + 2);  // 21 ended
  };
  run_duty_cycle();
  EXPECT_EQ(fake_thread(11)->suspend_count, 1u);
  EXPECT_EQ(fake_thread(12)->suspend_count, 0u);
  EXPECT_EQ(fake_thread(13)->suspend_count, 0u);
  EXPECT_EQ(fake_calls_starting("resume"), (std::vector<std::string>{"resume 11", "resume 12", "resume 13"}));
}

TEST_F(ThrottlerTest, SetProcessSuspendedReportsWhetherAThreadListWasWalked) {
  const struct {
    const char* name;
    int list_failures;
    bool empty;
    uint32_t pid;
    int result;
  } cases[] = {
      {"no list", 1, false, 10, 0},
      {"list walked", 0, false, 10, 1},
      {"process without threads", 0, false, 99, 1},
      {"empty list", 0, true, 10, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_fake.thread_list_failures = c.list_failures;
    if (c.empty) g_fake.threads.clear();
    EXPECT_EQ(set_process_suspended(c.pid, 1), c.result);
    EXPECT_EQ(g_fake.open_handles, 0);
    set_process_suspended(c.pid, 0);
  }
}

}  // namespace
