// The duty cycle: call order, sleep lengths, and what every pass leaves suspended.
#include <algorithm>
#include <climits>
#include <functional>

#include "tests/host/engine/engine_fixture.h"

namespace {

class ThrottlerTest : public EngineTest {
 protected:
  // Targets 10 (threads 11, 12) and 20 (thread 21); 30 (thread 31) is bystander.
  void SetUp() override {
    EngineTest::SetUp();
    g_fake.threads = {{11, 10}, {31, 30}, {21, 20}, {12, 10}};
    g_fake.processes = {{10, 0, 0}, {20, 0, 0}, {30, 0, 0}};
    g_engine.table[3].pid = 10;
    g_engine.table[5].pid = 20;
    g_engine.table[3].creation_time = g_engine.table[5].creation_time = 1;
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
  run_duty_cycle();
  EXPECT_EQ(g_fake.calls, std::vector<std::string>{"sleep 1000"});
}

TEST_F(ThrottlerTest, OneThreadWalkSuspendsEveryTargetThenResumesExactlyThoseThreads) {
  g_engine.threshold_percent = 50;
  watch_first_sleep();
  g_fake.on_sleep = [this, first = g_fake.on_sleep](uint32_t ms) {
    first(ms);
    g_fake.tick += ms;
  };
  run_duty_cycle();
  const std::vector<std::string> expected = {
      "tick", "open_process 10", "open_process 20", "open_thread_list", "open_thread 11", "open_thread 21",
      "open_thread 12", "close thread_list 0", "save_record 3", "suspend 11", "suspend 21", "suspend 12",
      "hold 499", "tick",
      "resume 11", "close thread 11", "resume 21", "close thread 21", "resume 12", "close thread 12",
      "close process 10", "close process 20", "clear_record", "sleep 501"};
  EXPECT_EQ(g_fake.calls, expected);
  EXPECT_EQ(counts_at_first_sleep, (std::vector<uint32_t>{1, 1, 1, 0}));
  for (const FakeThread& t : g_fake.threads) EXPECT_EQ(t.suspend_count, 0u) << t.tid;
  EXPECT_EQ(g_engine.targets.target_count, 0);
  // The next pass learns how long each target was held.
  EXPECT_EQ(g_engine.table[3].held_ms, 499u);
  EXPECT_EQ(g_engine.table[5].held_ms, 499u);
}

TEST_F(ThrottlerTest, EverySuspendedThreadIsInTheCrashRecordWhileItIsHeld) {
  g_engine.table[3].creation_time = process(10)->creation_time = 33;
  g_engine.table[5].creation_time = process(20)->creation_time = 55;
  fake_thread(21)->suspend_fails = true;
  std::vector<std::vector<uint32_t>> record_at_sleep;
  g_fake.on_sleep = [&](uint32_t) {
    if (!record_at_sleep.empty()) return;
    for (const SuspensionRecord& r : g_fake.crash_record) {
      record_at_sleep.push_back({r.process_id, r.thread_id, static_cast<uint32_t>(r.creation_time)});
    }
  };
  run_duty_cycle();
  // Saved before the first suspension landed, then again without the thread that failed.
  EXPECT_EQ(fake_calls_starting("save_record"), (std::vector<std::string>{"save_record 3", "save_record 2"}));
  EXPECT_EQ(g_fake.counts_at_save[0], (std::vector<uint32_t>{0, 0, 0, 0}));
  EXPECT_EQ(record_at_sleep, (std::vector<std::vector<uint32_t>>{{10, 11, 33}, {10, 12, 33}}));
  EXPECT_TRUE(g_fake.crash_record.empty());  // a clean cycle leaves nothing behind
}

// A shutdown cuts the hold short: every held thread runs again at once, the crash record
// goes, and no rest comes before the service's stop check.
TEST_F(ThrottlerTest, AShutdownCutsTheHoldShortResumesEveryThreadAndClearsTheRecord) {
  g_fake.cut_hold = true;
  run_duty_cycle();
  for (const FakeThread& t : g_fake.threads) EXPECT_EQ(t.suspend_count, 0u) << t.tid;
  EXPECT_EQ(fake_calls_starting("resume").size(), 3u);
  EXPECT_TRUE(g_fake.crash_record.empty());
  EXPECT_EQ(g_fake.calls.back(), "clear_record");
  EXPECT_EQ(g_engine.targets.target_count, 0);
}

// Between the pass and the duty cycle an id can pass to a stranger: only a process that
// still is the target, pinned open, and threads that still are its own are held.
TEST_F(ThrottlerTest, OnlyTheTargetItselfIsHeldAndOnlyItEntersTheCrashRecord) {
  const struct {
    const char* name;
    std::function<void()> change;
    std::vector<std::string> suspends;
    std::vector<uint32_t> recorded_tids;
  } cases[] = {
      {"id 20 reused by a newer process", [] { g_fake.processes[1].creation_time = 2; },
       {"suspend 11", "suspend 12"}, {11, 12}},
      {"process 10 cannot be opened", [] { g_fake.processes[0].opens = false; }, {"suspend 21"}, {21}},
      {"thread id 12 now another process's", [] { fake_thread(12)->owner_now = 30; },
       {"suspend 11", "suspend 21"}, {11, 21}},
      {"process 20 is in a session signing out", [] { g_engine.table[5].session_id = 2; end_session_holds(2); },
       {"suspend 11", "suspend 12"}, {11, 12}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.change();
    std::vector<uint32_t> recorded;
    g_fake.on_sleep = [&](uint32_t) {
      if (g_fake.sleeps.size() != 1) return;
      for (const SuspensionRecord& r : g_fake.crash_record) recorded.push_back(r.thread_id);
    };
    run_duty_cycle();
    EXPECT_EQ(fake_calls_starting("suspend"), c.suspends);
    EXPECT_EQ(recorded, c.recorded_tids);
    for (const FakeThread& t : g_fake.threads) EXPECT_EQ(t.suspend_count, 0u) << t.tid;
    EXPECT_EQ(g_fake.open_handles, 0);
  }
}

TEST_F(ThrottlerTest, NothingIsSuspendedWhenTheCrashRecordCannotBeWritten) {
  g_fake.save_fails = true;
  run_duty_cycle();
  EXPECT_TRUE(fake_calls_starting("suspend").empty());
  EXPECT_TRUE(fake_calls_starting("resume").empty());
  EXPECT_EQ(g_fake.sleeps, (std::vector<uint32_t>{499, 501}));
  EXPECT_EQ(g_engine.table[3].held_ms, 0u);
}

// The window reads what the service measured: a hold the system stretched or a shutdown
// cut is reported as it was.
TEST_F(ThrottlerTest, TheReportCarriesTheMeasuredHoldNotTheIntendedOne) {
  const struct {
    const char* name;
    uint32_t lasted_ms;
    bool cut;
  } cases[] = {{"stretched", 640, false}, {"cut short", 120, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    g_engine.report.held[0] = HeldProcess{20, 60, 0, 5};
    g_engine.report.held[1] = HeldProcess{10, 55, 0, 3};
    g_fake.cut_hold = c.cut;
    g_fake.on_sleep = [&](uint32_t) {
      if (g_fake.sleeps.size() == 1) g_fake.tick += c.lasted_ms;
    };
    run_duty_cycle();
    EXPECT_EQ(g_engine.report.held[0].hold_ms, c.lasted_ms);
    EXPECT_EQ(g_engine.report.held[1].hold_ms, c.lasted_ms);
    EXPECT_EQ(g_engine.table[5].held_ms, c.lasted_ms);
  }
}

TEST_F(ThrottlerTest, AtStartTheThreadsACrashLeftSuspendedAreResumedOnceIfTheirProcessIsTheSame) {
  g_fake.processes = {{10, 1, 0}, {20, 1, 0}};
  g_fake.processes[0].creation_time = 33;
  g_fake.processes[1].creation_time = 56;  // the id 20 now names another process
  for (uint32_t tid : {11u, 12u, 21u}) fake_thread(tid)->suspend_count = 1;
  g_fake.crash_record = {{10, 11, 33}, {10, 12, 33}, {20, 21, 55}, {10, 19, 33}, {10, 11, 33}};
  resume_recorded_threads();
  EXPECT_EQ(fake_calls_starting("resume"), (std::vector<std::string>{"resume 11", "resume 12"}));
  EXPECT_EQ(fake_thread(21)->suspend_count, 1u);
  EXPECT_TRUE(g_fake.crash_record.empty());
  // Nothing recorded: nothing is listed, opened or resumed.
  g_fake.calls.clear();
  resume_recorded_threads();
  EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"load_record"}));
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

TEST_F(ThrottlerTest, NothingIsResumedThatThisCycleDidNotSuspend) {
  const struct {
    const char* name;
    int list_failures;
    std::vector<std::string> suspends, resumes;
    uint32_t held_10, held_20;
  } cases[] = {
      {"no thread list", 1, {}, {}, 0, 0},
      // 21's suspend fails and 12 cannot be opened: neither gets a resume.
      {"failed suspend and open", 0, {"suspend 11", "suspend 21"}, {"resume 11"}, 499, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    g_fake.thread_list_failures = c.list_failures;
    fake_thread(21)->suspend_fails = true;
    fake_thread(12)->opens = false;
    // The idle pseudo-process owns thread 1; a target slot that names no process must
    // never reach it.
    g_fake.threads.push_back({1, 0});
    g_engine.targets.target_slot[g_engine.targets.target_count++] = 7;
    g_fake.on_sleep = [](uint32_t ms) { g_fake.tick += ms; };
    run_duty_cycle();
    EXPECT_EQ(fake_calls_starting("suspend"), c.suspends);
    EXPECT_EQ(fake_calls_starting("resume"), c.resumes);
    EXPECT_TRUE(g_fake.crash_record.empty());
    EXPECT_EQ(std::count(g_fake.calls.begin(), g_fake.calls.end(), "open_thread 1"), 0);
    EXPECT_EQ(g_fake.sleeps, (std::vector<uint32_t>{499, 501}));
    EXPECT_EQ(g_engine.table[3].held_ms, c.held_10);
    EXPECT_EQ(g_engine.table[5].held_ms, c.held_20);
    EXPECT_EQ(g_engine.targets.target_count, 0);
    EXPECT_EQ(g_fake.open_handles, 0);
  }
}

TEST_F(ThrottlerTest, OtherPartiesSuspensionsAndThreadsBornSuspendedSurviveTheCycle) {
  fake_thread(11)->suspend_count = 1;  // suspended by someone else beforehand
  g_fake.on_sleep = [](uint32_t) {
    if (g_fake.sleeps.size() != 1) return;
    g_fake.threads.push_back({13, 10});  // started during the hold
    g_fake.threads.back().suspend_count = 1;  // created suspended by its process
    g_fake.threads.erase(g_fake.threads.begin() + 2);  // 21 ended
  };
  run_duty_cycle();
  EXPECT_EQ(fake_thread(11)->suspend_count, 1u);
  EXPECT_EQ(fake_thread(12)->suspend_count, 0u);
  EXPECT_EQ(fake_thread(13)->suspend_count, 1u);
  EXPECT_EQ(fake_calls_starting("resume"), (std::vector<std::string>{"resume 11", "resume 21", "resume 12"}));
}

TEST_F(ThrottlerTest, PastTheTablesCapacityFurtherThreadsRunOn) {
  g_fake.threads.clear();
  for (uint32_t tid = 100; tid < 100 + kSuspendedCapacity + 3; ++tid) g_fake.threads.push_back({tid, 10});
  int suspended_at_sleep = -1;
  g_fake.on_sleep = [&](uint32_t) {
    if (suspended_at_sleep >= 0) return;
    suspended_at_sleep = 0;
    for (const FakeThread& t : g_fake.threads) suspended_at_sleep += t.suspend_count;
  };
  run_duty_cycle();
  EXPECT_EQ(suspended_at_sleep, kSuspendedCapacity);
  for (const FakeThread& t : g_fake.threads) ASSERT_EQ(t.suspend_count, 0u) << t.tid;
  EXPECT_EQ(g_fake.open_handles, 0);
}

}  // namespace
