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

const uint32_t kPid = 4242;
const uint32_t STOPPED = 1, START_PENDING = 2, RUNNING = 4;

ServiceView view_of(int32_t presence, uint32_t state, uint32_t pid = 0) {
  return ServiceView{presence, state, pid, true};
}

// The scripted system the link thread runs against.
struct FakeSystem {
  std::vector<ServiceView> views = {view_of(kServiceInstalled, RUNNING, 10)};  // the last repeats
  size_t looks = 0;
  int start_result = 0;
  int starts = 0;
  std::vector<uint32_t> sleeps;
  int opens_failing = 0;  // so many next opens fail
  int opens = 0;
  int repaints = 0;
  std::function<void(size_t)> after_sleep;  // called with the number of sleeps so far
  SharedControlBlock region;
};

FakeSystem* g_fake = nullptr;
int g_mutex_a = 0;
int g_mutex_b = 0;

void fake_look_at_service(ServiceView* out) {
  const std::vector<ServiceView>& views = g_fake->views;
  *out = views[g_fake->looks < views.size() ? g_fake->looks : views.size() - 1];
  ++g_fake->looks;
}
int fake_start_service_and_wait() {
  ++g_fake->starts;
  return g_fake->start_result;
}
void fake_sleep_ms(uint32_t milliseconds) {
  g_fake->sleeps.push_back(milliseconds);
  if (g_fake->after_sleep) g_fake->after_sleep(g_fake->sleeps.size());
}
int fake_open_link(SharedLink* link) {
  ++g_fake->opens;
  if (g_fake->opens_failing > 0) {
    --g_fake->opens_failing;
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
int fake_resolve_name(uint32_t pid, wchar_t* out, int32_t capacity) {
  if (pid % 2 != 0) return -1;  // odd ids cannot be opened
  swprintf(out, capacity, L"prog%u.exe", pid);
  return 0;
}

const LinkPlatform kFakePlatform = {
    fake_look_at_service, fake_start_service_and_wait, fake_sleep_ms, fake_open_link,
    fake_current_process_id, fake_repaint, fake_resolve_name,
};

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    monitor_state_reset();
    g_monitor.slider_threshold = 40;
    // As the link last saw it, so only a change repaints.
    g_monitor.service_presence = kServiceInstalled;
    g_monitor.service_state = RUNNING;
    fake = FakeSystem{};
    memset(&fake.region, 0, sizeof(fake.region));
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

TEST_F(LinkTest, ConnectsOnceTheRegionExistsStartingOnlyAStoppedServiceAndBacksOff) {
  const uint32_t R = kServiceRetryMs, P = kSnapshotPollMs;
  struct Case {
    const char* name;
    std::vector<ServiceView> views;
    int start_result;
    int opens_failing;
    std::vector<uint32_t> pauses;
    int starts;
  } cases[] = {
      {"region there: no pause, no question", {view_of(kServiceInstalled, RUNNING, 10)}, 0, 0, {}, 0},
      {"stopped: one start after each pause", {view_of(kServiceInstalled, STOPPED)}, 0, 2, {R, R}, 2},
      {"a refused start is tried again at the poll's pace", {view_of(kServiceInstalled, STOPPED)},
       kRefusedForRights, 3, {R, P, P}, 3},
      {"a failed start too", {view_of(kServiceInstalled, STOPPED)}, -1, 2, {R, P}, 2},
      {"start-pending: looked at every half second", {view_of(kServiceInstalled, START_PENDING)}, 0, 3,
       {R, R, R}, 0},
      {"missing: nothing to start, looked for at the poll's pace", {view_of(kServiceNotInstalled, 0)}, 0, 3,
       {R, P, P}, 0},
      {"no right to ask: the same", {view_of(kServiceUnknown, 0)}, 0, 2, {R, P}, 0},
      // The region may be taken by a name another program created first; it is tried again.
      {"running, yet no region: tried again, never given up", {view_of(kServiceInstalled, RUNNING, 10)}, 0, 4,
       {R, P, P, P}, 0},
  };
  for (const Case& c : cases) {
    SetUp();
    fake.views = c.views;
    fake.start_result = c.start_result;
    fake.opens_failing = c.opens_failing;
    SharedLink opened;
    EXPECT_EQ(connect_link(&kFakePlatform, &opened), 0) << c.name;
    EXPECT_EQ(fake.sleeps, c.pauses) << c.name;
    EXPECT_EQ(fake.starts, c.starts) << c.name;
    EXPECT_EQ(fake.opens, c.opens_failing + 1) << c.name;
  }
}

TEST_F(LinkTest, ClosingTheWindowEndsTheWaitForAServiceThatNeverRuns) {
  fake.views = {view_of(kServiceInstalled, STOPPED)};
  fake.start_result = kRefusedForRights;
  fake.opens_failing = 1000;
  fake.after_sleep = [this](size_t sleeps) {
    if (sleeps == 3) g_monitor.stop_requested = -1;
    // Were the stop ignored, the region would appear at last and the link connect.
    if (sleeps == 50) fake.opens_failing = 0;
  };
  run_monitor_link(&kFakePlatform);
  EXPECT_EQ(fake.sleeps.size(), 3u);
  EXPECT_EQ(g_monitor.link_ready, 0);
  send_slider_threshold(55);  // the window goes on; its slider must not reach for the region
  EXPECT_EQ(fake.region.command_flags, 0u);
}

TEST_F(LinkTest, AChangedServiceStateRepaintsSoTheStatusPageFollows) {
  fake.views = {view_of(kServiceInstalled, RUNNING, 10), view_of(kServiceInstalled, RUNNING, 10),
                view_of(kServiceInstalled, STOPPED), view_of(kServiceInstalled, STOPPED)};
  stop_after_polls(3);
  run_monitor_link(&kFakePlatform);
  // Once, for the stop; no snapshot arrived to repaint for.
  EXPECT_EQ(fake.repaints, 1);
}

TEST_F(LinkTest, AnnouncesSliderValueProcessIdAndTheProgramInFrontOnConnect) {
  g_monitor.slider_threshold = 64;
  const ForegroundClaim front = {321, 0x0123456789ABCDEFull};
  claim_program_in_front(&front);  // before the link is up: kept for the announcement
  EXPECT_EQ(fake.region.command_flags, 0u);
  stop_after_polls(1);
  run_monitor_link(&kFakePlatform);
  EXPECT_EQ(fake.region.command_flags, CMD_THRESHOLD_CHANGED | CMD_MONITOR_ATTACHED | CMD_FOREGROUND_CHANGED);
  EXPECT_EQ(fake.region.threshold, 64);
  EXPECT_EQ(fake.region.monitor_pid, kPid);
  EXPECT_EQ(fake.region.foreground_pid, 321u);
  EXPECT_EQ(fake.region.foreground_created_high, 0x01234567u);
  EXPECT_EQ(fake.region.foreground_created_low, 0x89ABCDEFu);
  EXPECT_EQ(g_monitor.link_ready, 1);
  EXPECT_EQ(g_lock_depth, 0);
}

// A look at the foreground that finds the program already claimed sends nothing, so the
// service takes no command and adds no pause to its cycle for it.
TEST_F(LinkTest, OnlyANewProgramInFrontIsSent) {
  stop_after_polls(1);
  run_monitor_link(&kFakePlatform);
  fake.region.command_flags = 0;
  const ForegroundClaim front = {777, 5};
  follow_program_in_front(&front);
  EXPECT_EQ(fake.region.command_flags, CMD_FOREGROUND_CHANGED);
  EXPECT_EQ(fake.region.foreground_pid, 777u);
  fake.region.command_flags = 0;
  follow_program_in_front(&front);
  EXPECT_EQ(fake.region.command_flags, 0u);
  const ForegroundClaim other = {777, 6};  // the id again, another process
  follow_program_in_front(&other);
  EXPECT_EQ(fake.region.command_flags, CMD_FOREGROUND_CHANGED);
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
