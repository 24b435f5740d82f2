// The link thread's run against a region in memory and a scripted service.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <mutex>
#include <vector>

#include "monitor/link.h"
#include "monitor/monitor_state.h"

// Substitutes for the Win32 layer: the region's mutexes and the snapshot copy lock.
namespace {
int g_lock_depth = 0;
int g_lock_timeouts = 0;  // so many next waits time out: another process keeps the mutex
std::mutex g_copy_mutex;
}  // namespace

int link_lock(LinkHandle) {
  if (g_lock_timeouts > 0) {
    --g_lock_timeouts;
    return -1;
  }
  ++g_lock_depth;
  return 0;
}
void link_unlock(LinkHandle) { --g_lock_depth; }
void snapshot_copy_lock() { g_copy_mutex.lock(); }
void snapshot_copy_unlock() { g_copy_mutex.unlock(); }

namespace {

const int kYes = -1;
const int kNo = 0;
const uint32_t kPid = 4242;

// The scripted system the link thread runs against.
struct FakeSystem {
  std::vector<int> running_answers;  // the last answer repeats
  size_t running_asked = 0;
  int starts = 0;
  std::vector<uint32_t> sleeps;
  int open_result = 0;
  int opens = 0;
  int repaints = 0;
  std::function<void(size_t)> after_sleep;  // called with the number of sleeps so far
  SharedControlBlock region;
};

FakeSystem* g_fake = nullptr;
int g_mutex_a = 0;
int g_mutex_b = 0;

int fake_service_is_running() {
  const std::vector<int>& answers = g_fake->running_answers;
  const size_t index = g_fake->running_asked < answers.size() ? g_fake->running_asked : answers.size() - 1;
  ++g_fake->running_asked;
  return answers[index];
}
int fake_start_service_and_wait() {
  ++g_fake->starts;
  return -1;
}
void fake_sleep_ms(uint32_t milliseconds) {
  g_fake->sleeps.push_back(milliseconds);
  if (g_fake->after_sleep) g_fake->after_sleep(g_fake->sleeps.size());
}
int fake_open_link(SharedLink* link) {
  ++g_fake->opens;
  if (g_fake->open_result != 0) {
    *link = SharedLink{};
    return -1;
  }
  link->region = &g_fake->region;
  link->view = &g_fake->region;
  link->snapshot_mutex = &g_mutex_a;
  link->command_mutex = &g_mutex_b;
  return 0;
}
uint32_t fake_current_process_id() { return kPid; }
void fake_repaint() { ++g_fake->repaints; }

const LinkPlatform kFakePlatform = {
    fake_service_is_running, fake_start_service_and_wait, fake_sleep_ms, fake_open_link,
    fake_current_process_id, fake_repaint,
};

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    monitor_state_reset();
    g_monitor.slider_threshold = 40;
    fake = FakeSystem{};
    memset(&fake.region, 0, sizeof(fake.region));
    fake.running_answers = {kYes};
    g_fake = &fake;
    g_lock_depth = 0;
    g_lock_timeouts = 0;
  }
  void TearDown() override { g_fake = nullptr; }

  // Stops the link after `polls` snapshot pauses; `publish` fills the region at each.
  void stop_after_polls(size_t polls, std::function<void(size_t)> publish = nullptr) {
    fake.after_sleep = [this, polls, publish](size_t) {
      size_t poll_pauses = 0;
      for (uint32_t ms : fake.sleeps) poll_pauses += ms == kSnapshotPollMs;
      if (fake.sleeps.back() != kSnapshotPollMs) return;
      if (publish) publish(poll_pauses);
      if (poll_pauses >= polls) g_monitor.stop_requested = -1;
    };
  }

  FakeSystem fake;
};

TEST_F(LinkTest, WaitForServicePausesThenStartsUntilItRuns) {
  struct Case {
    std::vector<int> answers;
    size_t pauses;
    int starts;
  } cases[] = {
      {{kYes}, 0, 0},                       // running already: no pause at all
      {{kNo, kYes}, 1, 0},                  // came up during the pause
      {{kNo, kNo, kYes}, 1, 1},             // started after the pause
      {{kNo, kNo, kNo, kNo, kYes}, 2, 2},   // one start per pause that did not help
  };
  for (const Case& c : cases) {
    SetUp();
    fake.running_answers = c.answers;
    EXPECT_EQ(wait_for_service(&kFakePlatform), 0);
    EXPECT_EQ(fake.sleeps.size(), c.pauses) << c.answers.size();
    for (uint32_t ms : fake.sleeps) EXPECT_EQ(ms, kServiceRetryMs);
    EXPECT_EQ(fake.starts, c.starts) << c.answers.size();
  }
}

TEST_F(LinkTest, ClosingTheWindowEndsTheWaitForAServiceThatNeverRuns) {
  fake.running_answers = {kNo};
  fake.after_sleep = [this](size_t sleeps) {
    if (sleeps == 3) g_monitor.stop_requested = -1;
    // Were the stop ignored, the service would come up at last and the link connect.
    if (sleeps == 50) fake.running_answers = {kYes};
  };
  run_monitor_link(&kFakePlatform);
  EXPECT_EQ(fake.sleeps.size(), 3u);
  EXPECT_EQ(fake.opens, 0);
  EXPECT_EQ(g_monitor.link_ready, 0);
}

TEST_F(LinkTest, LinkThatCannotOpenEndsAtOnceAndSendsNothing) {
  fake.open_result = -1;
  run_monitor_link(&kFakePlatform);
  EXPECT_EQ(fake.opens, 1);
  EXPECT_TRUE(fake.sleeps.empty());
  EXPECT_EQ(fake.repaints, 0);
  EXPECT_EQ(g_monitor.link_ready, 0);
  send_slider_threshold(55);  // the window goes on; its slider must not reach for the region
  EXPECT_EQ(fake.region.command_flags, 0u);
  EXPECT_EQ(fake.region.threshold, 0);
}

TEST_F(LinkTest, AnnouncesSliderValueAndProcessIdOnConnect) {
  g_monitor.slider_threshold = 64;
  stop_after_polls(1);
  run_monitor_link(&kFakePlatform);
  EXPECT_EQ(fake.region.command_flags, CMD_THRESHOLD_CHANGED | CMD_MONITOR_ATTACHED);
  EXPECT_EQ(fake.region.threshold, 64);
  EXPECT_EQ(fake.region.monitor_pid, kPid);
  EXPECT_EQ(g_monitor.link_ready, 1);
  EXPECT_EQ(g_lock_depth, 0);
}

TEST_F(LinkTest, EachPollTakesTheNewestSnapshotAndAsksForOneColumn) {
  struct Case {
    const char* name;
    uint32_t region_flags;
    uint32_t region_count;
    bool copied;
    int repaints;
  } cases[] = {
      {"nothing new", 0, 7, false, 0},
      {"ready", SNAPSHOT_READY, 3, true, 1},
      {"stray bits without ready", 2, 5, false, 1},
  };
  for (const Case& c : cases) {
    SetUp();
    g_monitor.snapshot_copy.active_count = 99;  // what an earlier take left
    g_monitor.column_pending = 0;
    stop_after_polls(1, [this, &c](size_t) {
      fake.region.snapshot.flags = c.region_flags;
      fake.region.snapshot.active_count = c.region_count;
      fake.region.snapshot.bars[0] = 153;
    });
    run_monitor_link(&kFakePlatform);
    EXPECT_EQ(fake.region.snapshot.flags, 0u) << c.name;
    EXPECT_EQ(g_monitor.snapshot_copy.active_count, c.copied ? c.region_count : 99u) << c.name;
    if (c.copied) EXPECT_EQ(g_monitor.snapshot_copy.bars[0], 153) << c.name;
    EXPECT_EQ(g_monitor.column_pending, c.repaints) << c.name;
    EXPECT_EQ(g_monitor.scroll_pending, c.repaints) << c.name;
    EXPECT_EQ(fake.repaints, c.repaints) << c.name;
  }
}

TEST_F(LinkTest, PollsEveryThreeSecondsUntilStopRequested) {
  stop_after_polls(4, [this](size_t) {
    fake.region.snapshot.flags = SNAPSHOT_READY;
    fake.region.snapshot.active_count = 1;
  });
  run_monitor_link(&kFakePlatform);
  ASSERT_EQ(fake.sleeps.size(), 4u);
  for (uint32_t ms : fake.sleeps) EXPECT_EQ(ms, kSnapshotPollMs);
  EXPECT_EQ(fake.repaints, 4);
}

TEST_F(LinkTest, SliderSendsOnlyOnceTheLinkIsUp) {
  fake.region.command_flags = CMD_MONITOR_ATTACHED;
  send_slider_threshold(52);
  EXPECT_EQ(fake.region.command_flags, CMD_MONITOR_ATTACHED);
  EXPECT_EQ(fake.region.threshold, 0);

  stop_after_polls(1);
  run_monitor_link(&kFakePlatform);
  fake.region.command_flags = CMD_MONITOR_ATTACHED;  // taken by the service meanwhile, but one
  send_slider_threshold(76);
  EXPECT_EQ(fake.region.command_flags, CMD_MONITOR_ATTACHED | CMD_THRESHOLD_CHANGED);
  EXPECT_EQ(fake.region.threshold, 76);
  EXPECT_EQ(g_lock_depth, 0);
}

TEST_F(LinkTest, AMutexKeptElsewhereDelaysTheAnnouncementAndTheSliderToTheNextPoll) {
  g_lock_timeouts = 1;  // the announcement's wait
  stop_after_polls(3, [this](size_t poll) {
    if (poll == 1) {
      EXPECT_EQ(fake.region.command_flags, 0u);
      g_monitor.slider_threshold = 70;  // moved while nothing could be sent
    }
    if (poll == 2) {
      EXPECT_EQ(fake.region.threshold, 70);  // announced at poll 1 with the newest value
      EXPECT_EQ(fake.region.monitor_pid, kPid);
      fake.region.command_flags = 0;  // the service took it
      g_lock_timeouts = 1;  // the window thread's wait
      g_monitor.slider_threshold = 80;
      send_slider_threshold(80);
      EXPECT_EQ(fake.region.command_flags, 0u);
    }
  });
  run_monitor_link(&kFakePlatform);
  EXPECT_EQ(fake.region.command_flags, CMD_THRESHOLD_CHANGED);  // resent at the next poll
  EXPECT_EQ(fake.region.threshold, 80);
  EXPECT_EQ(g_monitor.threshold_unsent, 0);
  EXPECT_EQ(g_lock_depth, 0);
}

}  // namespace
