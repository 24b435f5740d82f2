// The link thread's run against a region in memory and a scripted system.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/link.h"
#include "monitor/monitor_state.h"

// Substitutes for the Win32 layer: the region's mutexes, the frame lock and the wake-up.
namespace {
int g_lock_depth = 0;
int g_lock_timeouts = 0;  // so many next waits time out: another process keeps the mutex
std::mutex g_frame_mutex;
int g_wakes = 0;
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
void frame_lock() { g_frame_mutex.lock(); }
void frame_unlock() { g_frame_mutex.unlock(); }
void wake_link() { ++g_wakes; }

namespace {

const uint32_t kPid = 4242;
const uint32_t STOPPED = 1, START_PENDING = 2, RUNNING = 4;

ServiceView view_of(int32_t presence, uint32_t state, uint32_t pid = 0) {
  return ServiceView{presence, state, pid, true};
}

struct FakeProcess {
  uint64_t created;
  uint32_t parent;
  std::wstring name;
};

// The scripted system the link thread runs against.
struct FakeSystem {
  std::vector<ServiceView> views = {view_of(kServiceInstalled, RUNNING, 10)};  // the last repeats
  size_t looks = 0;
  int start_result = 0;
  int starts = 0;
  std::vector<uint32_t> waits;
  uint32_t clock = 0;
  int opens_failing = 0;  // so many next opens fail
  int opens = 0;
  int closes = 0;
  std::vector<int32_t> news;
  std::map<uint32_t, FakeProcess> processes;
  int lists_taken = 0;
  int disconnected = 0;
  std::vector<int32_t> actions;
  int action_result = 0;
  std::function<void(size_t)> after_wait;  // called with the number of waits so far
  SharedControlBlock region;
  // The link pipe as the service serves it: what the window sent, the replies it has not
  // read, how many next messages get none (lost), and a connection the service ended.
  std::vector<LinkRequest> sent;
  std::vector<LinkReply> replies;
  int lose = 0;
  uint32_t status = LINK_PROTECTED | LINK_CLAIM_TAKEN;
  bool broken = false;
  std::vector<uint32_t> pipe_opens;  // the service process each open asked for
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
int fake_wait_ms(uint32_t milliseconds) {
  g_fake->waits.push_back(milliseconds);
  g_fake->clock += milliseconds;
  if (g_fake->after_wait) g_fake->after_wait(g_fake->waits.size());
  return 0;
}
uint32_t fake_tick_ms() { return g_fake->clock; }
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
void fake_close_link(SharedLink*) { ++g_fake->closes; }
uint32_t fake_current_process_id() { return kPid; }
void fake_tell_window(int32_t news) { g_fake->news.push_back(news); }
void fake_take_process_list() { ++g_fake->lists_taken; }
int fake_describe_process(uint32_t pid, ProcessFacts* out) {
  const auto found = g_fake->processes.find(pid);
  if (found == g_fake->processes.end()) return -1;  // ended, or never was
  out->creation_time = found->second.created;
  out->parent_pid = found->second.parent;
  wcsncpy(out->name, found->second.name.c_str(), kProgramNameCapacity);
  return 0;
}
int fake_session_disconnected() { return g_fake->disconnected; }
ServiceView g_fake_after_action;  // what the service is once an action is over
int fake_run_action(int32_t action) {
  g_fake->actions.push_back(action);
  static MonitorFrame during;
  load_frame(&during);
  EXPECT_EQ(during.action, action);  // the button says so while it runs
  g_fake->views = {g_fake_after_action};
  return g_fake->action_result;
}

int fake_open_pipe(uint32_t service_pid) {
  g_fake->pipe_opens.push_back(service_pid);
  return 0;
}
int fake_send_message(const LinkRequest* request) {
  g_fake->sent.push_back(*request);
  if (g_fake->lose > 0) {
    --g_fake->lose;
    return 0;
  }
  g_fake->replies.push_back(LinkReply{request->sequence, g_fake->status});
  return 0;
}
int fake_take_reply(LinkReply* out) {
  if (g_fake->broken) {
    g_fake->broken = false;
    g_fake->replies.clear();
    return -1;
  }
  if (g_fake->replies.empty()) return 0;
  *out = g_fake->replies.front();
  g_fake->replies.erase(g_fake->replies.begin());
  return 1;
}
void fake_close_pipe() {}

const LinkPlatform kFakePlatform = {
    fake_look_at_service,     fake_start_service_and_wait, fake_wait_ms,          fake_tick_ms,
    fake_open_link,           fake_close_link,             fake_current_process_id, fake_tell_window,
    fake_take_process_list,   fake_describe_process,       fake_session_disconnected, fake_run_action,
    fake_open_pipe,           fake_send_message,           fake_take_reply,       fake_close_pipe,
};

// The commands of every message sent, in order.
std::vector<uint32_t> sent_commands() {
  std::vector<uint32_t> commands;
  for (const LinkRequest& r : g_fake->sent) commands.push_back(r.commands);
  return commands;
}

int count(const std::vector<int32_t>& values, int32_t value) {
  int n = 0;
  for (int32_t v : values) n += v == value;
  return n;
}

MonitorFrame g_seen;  // 28 KB

const MonitorFrame& latest_frame() {
  load_frame(&g_seen);
  return g_seen;
}

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    monitor_state_reset();
    g_monitor.slider_threshold = 40;
    fake = FakeSystem{};
    memset(&fake.region, 0, sizeof(fake.region));
    g_fake = &fake;
    g_lock_depth = 0;
    g_lock_timeouts = 0;
    g_wakes = 0;
  }
  void TearDown() override { g_fake = nullptr; }

  // Stops the link after `polls` polls; `at_poll` acts in the pause before each, and in the
  // pause that ends the run.
  void stop_after_polls(size_t polls, std::function<void(size_t)> at_poll = nullptr) {
    fake.after_wait = [this, polls, at_poll](size_t) {
      size_t poll_pauses = 0;
      for (uint32_t ms : fake.waits) poll_pauses += ms == kSnapshotPollMs;
      if (fake.waits.back() != kSnapshotPollMs) return;
      if (at_poll) at_poll(poll_pauses);
      if (poll_pauses > polls) g_monitor.stop_requested = -1;
    };
  }

  // The service's publish, as it writes the region.
  void publish_to_region(uint32_t active, const ServiceReport* report = nullptr) {
    SharedLink service = {nullptr, &fake.region, &g_mutex_a, &g_mutex_b};
    UsageSnapshot snapshot = {};
    snapshot.active_count = active;
    snapshot.bars[0] = 153;
    publish_snapshot(&service, &snapshot, report);
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
      {"region there: no pause", {view_of(kServiceInstalled, RUNNING, 10)}, 0, 0, {}, 0},
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
    EXPECT_EQ(fake.waits, c.pauses) << c.name;
    EXPECT_EQ(fake.starts, c.starts) << c.name;
    EXPECT_EQ(fake.opens, c.opens_failing + 1) << c.name;
  }
}

TEST_F(LinkTest, ClosingTheWindowEndsTheWaitForAServiceThatNeverRuns) {
  fake.views = {view_of(kServiceInstalled, STOPPED)};
  fake.start_result = kRefusedForRights;
  fake.opens_failing = 1000;
  fake.after_wait = [this](size_t waits) {
    if (waits == 3) g_monitor.stop_requested = -1;
    // Were the stop ignored, the region would appear at last and the link connect.
    if (waits == 50) fake.opens_failing = 0;
  };
  run_monitor_link(&kFakePlatform);
  EXPECT_EQ(fake.waits.size(), 3u);
  send_slider_threshold(55);  // the window goes on; nothing reaches for the region
  EXPECT_EQ(fake.region.command_flags, 0u);
}

// The window is told only when there is something new to show: the stop, not the polls
// that saw nothing change.
TEST_F(LinkTest, AChangedServiceStateIsPublishedSoTheStatusPageFollows) {
  fake.views = {view_of(kServiceInstalled, RUNNING, 10), view_of(kServiceInstalled, RUNNING, 10),
                view_of(kServiceInstalled, RUNNING, 10), view_of(kServiceInstalled, STOPPED)};
  stop_after_polls(3);
  run_monitor_link(&kFakePlatform);
  EXPECT_EQ(count(fake.news, NEWS_FRAME), 2);  // the first look, then the stop
  EXPECT_EQ(latest_frame().service.state, STOPPED);
  EXPECT_EQ(fake.closes, 1);
}

TEST_F(LinkTest, AnnouncesSliderValueProcessIdAndTheProgramInFrontOnConnect) {
  g_monitor.slider_threshold = 64;
  fake.processes[321] = {0x0123456789ABCDEFull, 1, L"front.exe"};
  claim_program_in_front(321);  // before the link is up: kept for the announcement
  EXPECT_EQ(fake.region.command_flags, 0u);
  stop_after_polls(1);
  run_monitor_link(&kFakePlatform);
  // The region carries the level; the announcement and the claim go over the service's
  // pipe, in one message, and nothing claims in the region any more.
  EXPECT_EQ(fake.region.command_flags, CMD_THRESHOLD_CHANGED);
  EXPECT_EQ(fake.region.threshold, 64);
  EXPECT_EQ(fake.region.foreground_claimant, 0u);
  EXPECT_EQ(fake.pipe_opens, std::vector<uint32_t>{10});
  ASSERT_EQ(fake.sent.size(), 1u);
  EXPECT_EQ(fake.sent[0].commands, CMD_MONITOR_ATTACHED | CMD_FOREGROUND_CHANGED);
  EXPECT_EQ(fake.sent[0].foreground_pid, 321u);
  EXPECT_EQ(fake.sent[0].foreground_created_high, 0x01234567u);
  EXPECT_EQ(fake.sent[0].foreground_created_low, 0x89ABCDEFu);
  EXPECT_EQ(g_lock_depth, 0);
}

// The window's claim goes out when it names a new process, read from the system's list:
// a console host's claim names the shell that started it, and a disconnected session
// claims nothing. Each step acts at one poll; the next poll sees what was sent.
TEST_F(LinkTest, TheProgramInFrontAsTheServiceIsTold) {
  fake.processes = {{777, {5, 1, L"front.exe"}},
                    {800, {20, 790, L"ConHost.exe"}},
                    {790, {10, 1, L"cmd.exe"}},
                    {900, {20, 890, L"conhost.exe"}},
                    {890, {30, 1, L"stranger.exe"}}};  // a reused id, newer than the host
  const uint32_t kNoNewClaim = 0xFFFFFFFFu;
  struct Step {
    const char* name;
    uint32_t claim;
    int disconnected;
    bool sent;
    uint32_t pid;
    uint32_t created;
  } steps[] = {
      {"a program", 777, 0, true, 777, 5},
      {"the same again", 777, 0, false, 0, 0},
      {"a console host: its shell", 800, 0, true, 790, 10},
      {"a host whose parent id names a newer process", 900, 0, true, 900, 20},
      {"the session disconnected", kNoNewClaim, 1, true, 0, 0},
      {"connected again", 777, 0, true, 777, 5},
      {"gone before it could be named: nothing", 4444, 0, true, 0, 0},
  };
  const size_t kSteps = sizeof(steps) / sizeof(steps[0]);
  stop_after_polls(kSteps + 1, [&](size_t poll) {
    if (poll > 1 && poll - 2 < kSteps) {
      const Step& s = steps[poll - 2];
      EXPECT_EQ(!fake.sent.empty(), s.sent) << s.name;
      if (s.sent) {
        ASSERT_EQ(fake.sent.size(), 1u) << s.name;
        EXPECT_EQ(fake.sent[0].commands, CMD_FOREGROUND_CHANGED) << s.name;
        EXPECT_EQ(fake.sent[0].foreground_pid, s.pid) << s.name;
        EXPECT_EQ(fake.sent[0].foreground_created_low, s.created) << s.name;
      }
    }
    fake.sent.clear();
    if (poll > kSteps) return;
    fake.disconnected = steps[poll - 1].disconnected;
    if (steps[poll - 1].claim != kNoNewClaim) claim_program_in_front(steps[poll - 1].claim);
  });
  run_monitor_link(&kFakePlatform);
  EXPECT_EQ(g_lock_depth, 0);
}

// One grouped look at a frame: the snapshot, the service's report beside it, the hold the
// engine measured and the names of who was held all come from one take.
TEST_F(LinkTest, AFrameShowsOneTakeWithTheHoldsTheServiceMeasured) {
  fake.processes = {{100, {1, 1, L"prog100.exe"}}, {200, {1, 1, L"firefox.exe"}}};
  stop_after_polls(3, [this](size_t poll) {
    if (poll > 2) return;
    ServiceReport report = {};
    report.spared_pid = 200;
    report.spared_family = 6;
    report.held[0] = HeldReport{100, 640, 45, 0};
    report.held[1] = HeldReport{9001, 640, 30, 0};  // ended before it was named
    publish_to_region(3, &report);
    fake.region.snapshot.bars[0] = HOG_FLAG | 45;
  });
  g_monitor.slider_threshold = 100;  // the level's own hold would read 999 ms
  run_monitor_link(&kFakePlatform);
  const MonitorFrame& frame = latest_frame();
  EXPECT_EQ(frame.columns, 2);  // two takes; the last poll found nothing new
  EXPECT_EQ(fake.lists_taken, 1);  // the second take named nobody new: the list was not read
  EXPECT_EQ(frame.snapshot.active_count, 3u);
  EXPECT_EQ(frame.snapshot.bars[0], HOG_FLAG | 45);
  EXPECT_EQ(frame.report.spared_family, 6u);
  wchar_t text[160];
  held_column_tip(&frame.held, &frame.held.columns[0], text, 160);
  EXPECT_STREQ(text, L"prog100.exe 45 %, held 640 ms\r\nprocess 9001 30 %, held 640 ms");
  spared_summary(&frame.held, frame.report.spared_pid, frame.report.spared_family, text, 160);
  EXPECT_STREQ(text, L"Spared because it is in front: firefox.exe and 6 of its processes");
  EXPECT_EQ(fake.region.snapshot.flags, SNAPSHOT_READY);  // left for the other windows
}

// Any process can write the flags word: whatever it holds, the window takes only what the
// service published, once, and keeps its frame until the next publish.
TEST_F(LinkTest, EachNewSnapshotScrollsOneColumnAndStrayFlagsChangeNothing) {
  struct Case {
    const char* name;
    bool published;  // at the first poll
    uint32_t stray_flags;  // written at the second
  } cases[] = {
      {"nothing published, nothing drawn", false, 0},
      {"a stray ready bit hands over no unfilled snapshot", false, SNAPSHOT_READY},
      {"a publish, then another reader clears the word", true, 0},
      {"a publish, then stray bits", true, 0x6},
      {"a publish, then every bit", true, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    SetUp();
    stop_after_polls(2, [this, &c](size_t poll) {
      ServiceReport report = {};
      report.spared_pid = 200;
      if (poll == 1 && c.published) publish_to_region(3, &report);
      if (poll == 2) fake.region.snapshot.flags = c.stray_flags;
    });
    run_monitor_link(&kFakePlatform);
    const MonitorFrame& frame = latest_frame();
    EXPECT_EQ(frame.columns, c.published ? 1 : 0) << c.name;
    EXPECT_EQ(frame.snapshot.active_count, c.published ? 3u : 0u) << c.name;
    EXPECT_EQ(frame.snapshot.bars[0], c.published ? 153 : 0) << c.name;
    EXPECT_EQ(frame.report.spared_pid, c.published ? 200u : 0u) << c.name;
    EXPECT_EQ(count(fake.news, NEWS_FRAME), c.published ? 2 : 1) << c.name;
  }
}

TEST_F(LinkTest, PollsEveryThreeSecondsUntilStopRequested) {
  stop_after_polls(4, [this](size_t) { publish_to_region(1); });
  run_monitor_link(&kFakePlatform);
  EXPECT_EQ(fake.waits, std::vector<uint32_t>(5, kSnapshotPollMs));
  EXPECT_EQ(latest_frame().columns, 4);
}

// The slider's level goes out once the link is up; a mutex kept by another process delays
// it, and the announcement, to a later pause or poll, which carries the newest value.
TEST_F(LinkTest, TheSlidersLevelIsSentOnceItCanBe) {
  send_slider_threshold(52);  // before the link: the announcement carries it
  g_lock_timeouts = 2;        // the announcement's wait, and the next try to send the level
  stop_after_polls(3, [this](size_t poll) {
    if (poll == 1) {
      EXPECT_EQ(fake.region.command_flags, 0u);
      send_slider_threshold(70);  // moved while nothing could be sent
    }
    if (poll == 2) {
      EXPECT_EQ(fake.region.threshold, 70);  // announced at poll 1 with the newest value
      EXPECT_EQ(sent_commands(), std::vector<uint32_t>{CMD_MONITOR_ATTACHED | CMD_FOREGROUND_CHANGED});
      fake.region.command_flags = 0;  // the service took it
      send_slider_threshold(80);
    }
  });
  run_monitor_link(&kFakePlatform);
  EXPECT_EQ(fake.region.command_flags, CMD_THRESHOLD_CHANGED);
  EXPECT_EQ(fake.region.threshold, 80);
  EXPECT_EQ(g_monitor.threshold_unsent, 0);
  EXPECT_EQ(g_lock_depth, 0);
  EXPECT_EQ(g_wakes, 3);
}

// A connected window starts a service that stopped with an error again, later each time
// (10 s, then 30 s); a clean stop, or a service that never ran, is left alone.
TEST_F(LinkTest, AFailedServiceIsStartedAgainWithABackOff) {
  struct Case {
    uint32_t exit_code;
    int starts;  // over 90 s
  } cases[] = {{1067, 2}, {0, 0}, {1077, 0}};
  for (const Case& c : cases) {
    SetUp();
    ServiceView stopped = view_of(kServiceInstalled, STOPPED);
    stopped.exit_code = c.exit_code;
    fake.views = {view_of(kServiceInstalled, RUNNING, 10), stopped};
    stop_after_polls(30);
    run_monitor_link(&kFakePlatform);
    EXPECT_EQ(fake.starts, c.starts) << c.exit_code;
  }
}

// Once the service has run again without failing, its next failure is met after the first
// delay again, not after the longer ones that follow restarts which failed.
TEST_F(LinkTest, TheRestartBackOffStartsAgainAfterARunWithoutFailures) {
  ServiceView failed = view_of(kServiceInstalled, STOPPED);
  failed.exit_code = 1067;
  uint32_t failed_at = 0;
  std::vector<uint32_t> restart_gaps;  // from the failure to the window's start
  fake.views = {view_of(kServiceInstalled, RUNNING, 10)};
  int starts_seen = 0;
  fake.after_wait = [&](size_t) {
    if (fake.starts > starts_seen) {  // started again: it runs, and fails 30 s later
      starts_seen = fake.starts;
      restart_gaps.push_back(fake.clock - failed_at);
      fake.views = {view_of(kServiceInstalled, RUNNING, 10 + static_cast<uint32_t>(fake.starts))};
      failed_at = fake.clock + 30000;
    }
    if (failed_at == 0 && fake.clock >= 9000) failed_at = fake.clock;  // the first failure
    if (failed_at != 0 && fake.clock >= failed_at && fake.views[0].state == RUNNING) fake.views = {failed};
    if (fake.clock >= 150000) g_monitor.stop_requested = -1;
  };
  run_monitor_link(&kFakePlatform);
  ASSERT_GE(restart_gaps.size(), 3u);
  for (uint32_t gap : restart_gaps) EXPECT_LE(gap, 10000 + 2 * kSnapshotPollMs);
}

// A new service process knows no monitor and no claim: the window opens its pipe and tells
// it both again, the program in front included, though that program has not changed.
TEST_F(LinkTest, ANewServiceProcessIsToldTheProgramInFrontAgain) {
  fake.processes[777] = {5, 1, L"front.exe"};
  claim_program_in_front(777);
  stop_after_polls(2, [this](size_t poll) {
    if (poll != 1) return;
    ASSERT_EQ(fake.sent.size(), 1u);
    fake.sent.clear();
    fake.broken = true;  // the first service ended, and with it the pipe
    fake.views = {view_of(kServiceInstalled, RUNNING, 11)};
  });
  run_monitor_link(&kFakePlatform);
  EXPECT_EQ(fake.pipe_opens, (std::vector<uint32_t>{10, 11}));
  ASSERT_FALSE(fake.sent.empty());
  EXPECT_EQ(fake.sent.back().commands, CMD_MONITOR_ATTACHED | CMD_FOREGROUND_CHANGED);
  EXPECT_EQ(fake.sent.back().foreground_pid, 777u);
  EXPECT_EQ(fake.sent.back().foreground_created_low, 5u);
}

// Each message waits for the service's reply; one that gets none within two cycles goes
// again, with whatever is new since, until a reply comes. A refused announcement (the
// session has its monitors) is made again later, not taken for protection.
TEST_F(LinkTest, WhatTheServiceDidNotAcknowledgeIsSentAgain) {
  const uint32_t both = CMD_MONITOR_ATTACHED | CMD_FOREGROUND_CHANGED;
  struct Case {
    const char* name;
    int lose;
    uint32_t status;
    uint32_t after_ms;
    std::vector<uint32_t> sent;
  } cases[] = {
      {"answered: sent once", 0, LINK_PROTECTED, 20000, {both}},
      {"two lost: sent until answered, two cycles apart", 2, LINK_PROTECTED, 20000, {both, both, both}},
      {"refused: announced again later", 0, 0, kRefusedRetryMs + 2 * kSnapshotPollMs, {both, CMD_MONITOR_ATTACHED}},
  };
  for (const Case& c : cases) {
    SetUp();
    fake.processes[777] = {5, 1, L"front.exe"};
    claim_program_in_front(777);
    fake.lose = c.lose;
    fake.status = c.status;
    std::vector<uint32_t> sent_at;
    fake.after_wait = [&](size_t) {
      while (sent_at.size() < fake.sent.size()) sent_at.push_back(fake.clock);
      if (fake.clock >= c.after_ms) g_monitor.stop_requested = -1;
    };
    run_monitor_link(&kFakePlatform);
    EXPECT_EQ(sent_commands(), c.sent) << c.name;
    for (size_t i = 1; i < sent_at.size() && c.lose > 0; ++i) {
      EXPECT_GE(sent_at[i] - sent_at[i - 1], kAcknowledgeWaitMs) << c.name;
      EXPECT_LE(sent_at[i] - sent_at[i - 1], kAcknowledgeWaitMs + kReplyCheckMs) << c.name;
    }
  }
}

// A button's action runs on the link thread, whether or not the region is open; the frame
// says it is under way, and the page follows once it is over. A declined approval to
// install sends the window to its Status page.
TEST_F(LinkTest, ButtonsRunOnTheLinkThreadAndThePageFollows) {
  struct Case {
    int32_t action;
    int result;
    int opens_failing;
    uint32_t state_after;
    int declined;
    int hand_overs;
  } cases[] = {
      {ACTION_STOP, kActionDone, 0, STOPPED, 0, 0},
      {ACTION_START, kActionDone, 5, RUNNING, 0, 0},
      {ACTION_ASK_TO_INSTALL, kActionFailed, 5, 0, 1, 0},
      {ACTION_ASK_TO_INSTALL, kActionDone, 5, STOPPED, 0, 0},
      {ACTION_INSTALL, kActionHandOver, 5, RUNNING, 0, 1},  // a window of a downloaded copy
  };
  for (const Case& c : cases) {
    SetUp();
    fake.views = {c.action == ACTION_START ? view_of(kServiceInstalled, STOPPED) : view_of(kServiceNotInstalled, 0)};
    if (c.action == ACTION_STOP) fake.views = {view_of(kServiceInstalled, RUNNING, 10)};
    fake.opens_failing = c.opens_failing;
    fake.action_result = c.result;
    fake.start_result = -1;
    request_service_action(c.action);
    fake.after_wait = [this, &c](size_t waits) {
      if (waits == 1) EXPECT_EQ(latest_frame().service.state, c.state_after);
      g_monitor.stop_requested = -1;
    };
    g_fake_after_action = c.state_after == 0 ? view_of(kServiceNotInstalled, 0)
                                             : view_of(kServiceInstalled, c.state_after, 10);
    run_monitor_link(&kFakePlatform);
    EXPECT_EQ(fake.actions, std::vector<int32_t>{c.action});
    const MonitorFrame& frame = latest_frame();
    EXPECT_EQ(frame.action, ACTION_NONE);
    EXPECT_EQ(frame.actions_taken, 1);
    EXPECT_EQ(count(fake.news, NEWS_DECLINED), c.declined);
    EXPECT_EQ(count(fake.news, NEWS_HAND_OVER), c.hand_overs);
  }
}

}  // namespace
