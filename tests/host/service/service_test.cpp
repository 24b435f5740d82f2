// The service's setup, cycle and status reports, with the platform, the sampling pass
// and the duty cycle replaced by recorders. A "trigger" plays the control handler's
// thread: it delivers controls when the worker reaches a given step.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "service/service.h"

namespace {

const uint32_t kOwnPid = 4242;
const uint32_t kControlInterrogate = 4;

struct Fake {
  std::vector<std::string> events;
  std::vector<ServiceStatusRecord> reports;
  std::function<void(const std::string&)> hook;
  bool stop = false;
  bool lock_held = false;
  bool record_reports_as_events = true;
  int register_result = 0;
  int event_result = 0;
  int32_t cpu_count = 12;
  bool view = true, snapshot_mutex = true, command_mutex = true;
  bool names_taken = false;
  // The form of handler registered: as Windows does, the manager sends the notice before a
  // shutdown and session changes only to the extended one.
  bool extended_handler = true;
  SharedControlBlock block;
  // The link pipe: messages that wait for the next cycle, each with its client's process
  // and session as the pipe names them, the replies, and connections that ended.
  struct Message {
    uint32_t pid, session;
    LinkRequest request;
  };
  std::vector<Message> pipe;
  std::vector<LinkReply> replies;
  std::vector<uint32_t> gone;
};

Fake g;
std::mutex g_status_mutex;
int g_snapshot_tag, g_command_tag, g_region_tag;

void record(const std::string& event) {
  g.events.push_back(event);
  if (g.hook) g.hook(event);
}

}  // namespace

int register_control_handler() {
  record("register");
  return g.register_result;
}
void set_service_status(const ServiceStatusRecord* status) {
  EXPECT_TRUE(g.lock_held) << "status reported outside the status lock";
  g.reports.push_back(*status);
  if (g.record_reports_as_events) record("report " + std::to_string(status->dwCurrentState));
}
void status_lock() {
  g_status_mutex.lock();
  g.lock_held = true;
}
void status_unlock() {
  g.lock_held = false;
  g_status_mutex.unlock();
  // Widens the gaps between holds so the threaded test meets the other thread there.
  if (!g.record_reports_as_events) std::this_thread::yield();
}
int create_stop_event() {
  record("event");
  return g.event_result;
}
void signal_stop_event() {
  g.stop = true;
  record("signal");
}
void release_held_threads() { record("release"); }
int wait_for_stop(uint32_t timeout_ms) {
  EXPECT_EQ(timeout_ms, kStopCheckMs);
  record("check");
  return g.stop ? 1 : 0;
}
int32_t query_logical_cpu_count() { return g.cpu_count; }
void raise_worker_priority() { record("priority"); }
uint32_t current_process_id() { return kOwnPid; }
int run_sampling_pass() {
  record("sample");
  g_engine.snapshot.active_count = 3;
  g_engine.snapshot.bars[0] = 77;
  return 0;
}
void run_duty_cycle() {
  record("duty begin");
  record("duty end");
}
void resume_recorded_threads() { record("resume recorded"); }
int secure_service_registration() {
  record("secure registration");
  return 0;
}
// The engine's checks of who a process is need the system; here every announced id is a
// real monitor, created at time 1, each in a session of its own.
const uint64_t kCreated = 1;
int protect_own_process(uint32_t pid) {
  record("protect own");
  return protect_process(pid, kCreated, 0);
}
int protect_monitor_in_session(uint32_t pid, uint32_t session_id) {
  return session_id == pid ? protect_process(pid, kCreated, pid) : -1;
}
int is_protected_monitor(uint32_t pid) { return pid != kOwnPid && is_protected_process(pid, kCreated); }
// The engine takes a claim only from a protected monitor; here it notes what it was given.
int spare_program_in_front(uint32_t pid, uint64_t creation_time, uint32_t claimant_pid) {
  const bool monitor = is_protected_monitor(claimant_pid) != 0;
  record("spare " + std::to_string(pid) + " " + std::to_string(creation_time) + " by " +
         std::to_string(claimant_pid) + (monitor ? " monitor" : ""));
  return monitor && pid != 0 ? 0 : -1;
}
int open_link_pipe() {
  record("open pipe");
  return 0;
}
int serve_link_pipe() {
  const std::vector<Fake::Message> waiting = g.pipe;
  g.pipe.clear();
  for (const Fake::Message& m : waiting) g.replies.push_back(serve_link_request(&m.request, m.pid, m.session));
  for (uint32_t pid : g.gone) link_client_gone(pid);
  g.gone.clear();
  return static_cast<int>(waiting.size());
}
int create_shared_link(SharedLink* link) {
  record("create link");
  if (g.names_taken) {
    *link = SharedLink{};
    return kLinkNamesTaken;
  }
  link->region = g.view ? &g_region_tag : nullptr;
  link->view = g.view ? &g.block : nullptr;
  link->snapshot_mutex = g.snapshot_mutex ? &g_snapshot_tag : nullptr;
  link->command_mutex = g.command_mutex ? &g_command_tag : nullptr;
  return g.view && g.snapshot_mutex && g.command_mutex ? 0 : -1;
}
void end_session_holds(uint32_t session_id) { record("sign out " + std::to_string(session_id)); }
int end_monitor_session(uint32_t monitor_pid) {
  record("session end of " + std::to_string(monitor_pid));
  return 0;
}
int link_lock(LinkHandle mutex) {
  record(mutex == &g_snapshot_tag ? "lock snapshot" : "lock command");
  return 0;
}
void link_unlock(LinkHandle mutex) {
  record(mutex == &g_snapshot_tag ? "unlock snapshot" : "unlock command");
}

namespace {

typedef std::vector<std::string> Events;

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  static void reset() {
    g.events.clear();
    g.reports.clear();
    g.hook = nullptr;
    g.stop = false;
    g.lock_held = false;
    g.record_reports_as_events = true;
    g.register_result = 0;
    g.event_result = 0;
    g.cpu_count = 12;
    g.view = g.snapshot_mutex = g.command_mutex = true;
    g.names_taken = false;
    g.extended_handler = true;
    std::memset(&g.block, 0, sizeof(g.block));
    g.pipe.clear();
    g.replies.clear();
    g.gone.clear();
    service_reset();
    engine_reset();
  }
  // The manager as Windows: a plain handler never hears of a coming shutdown or a
  // session change.
  static void deliver(uint32_t control, uint32_t session_id = 0) {
    const bool extended_only = control == kControlPreshutdown || control == kControlSessionChange;
    if (extended_only && !g.extended_handler) return;
    handle_service_control(control, control == kControlSessionChange ? kSessionLogoff : 0, session_id);
  }
  // Delivers `controls` when the n-th occurrence of `event` is recorded.
  static void trigger(const std::string& event, int nth, std::vector<uint32_t> controls) {
    auto seen = std::make_shared<int>(0);
    g.hook = [=](const std::string& e) {
      if (e == event && ++*seen == nth) {
        for (uint32_t c : controls) deliver(c, 2);
      }
    };
  }
  // The events from the first cycle's first stop check on.
  static Events cycle_events() {
    for (size_t i = 0; i < g.events.size(); ++i) {
      if (g.events[i] == "check") return Events(g.events.begin() + i, g.events.end());
    }
    return Events();
  }
};

struct Report {
  uint32_t state, checkpoint, wait_hint, accepted;
  uint32_t reason = 0;  // the service-specific exit code of a failed start
};

void expect_reports(const std::vector<Report>& expected, const char* name) {
  ASSERT_EQ(g.reports.size(), expected.size()) << name;
  for (size_t i = 0; i < expected.size(); ++i) {
    const ServiceStatusRecord& r = g.reports[i];
    EXPECT_EQ(r.dwCurrentState, expected[i].state) << name << " report " << i + 1;
    EXPECT_EQ(r.dwCheckPoint, expected[i].checkpoint) << name << " report " << i + 1;
    EXPECT_EQ(r.dwWaitHint, expected[i].wait_hint) << name << " report " << i + 1;
    EXPECT_EQ(r.dwControlsAccepted, expected[i].accepted) << name << " report " << i + 1;
    EXPECT_EQ(r.dwServiceType, kServiceOwnProcess) << name;
    EXPECT_EQ(r.dwWin32ExitCode, expected[i].reason != 0 ? kServiceSpecificError : 0u) << name;
    EXPECT_EQ(r.dwServiceSpecificExitCode, expected[i].reason) << name;
  }
}

const uint32_t SP = kServiceStartPending, RUN = kServiceRunning, XP = kServiceStopPending,
               STOPPED = kServiceStopped;
// Stop, and the notice before a shutdown.
const uint32_t ACC = kControlsAccepted;

TEST_F(ServiceTest, ReportSequenceWithControlsAtEachStage) {
  struct Case {
    const char* name;
    const char* event;
    int nth;
    std::vector<uint32_t> controls;
    std::vector<Report> expected;
  };
  const std::vector<Case> cases = {
      {"one plain run: 1, 2, 0, 3, 0", "duty begin", 1, {kControlStop},
       {{SP, 1, 3000, 0}, {SP, 2, 3000, 0}, {RUN, 0, 0, ACC}, {XP, 3, 2000, ACC}, {STOPPED, 0, 0, ACC}}},
      {"interrogate during start-up uses up a checkpoint", "create link", 1,
       {kControlInterrogate},
       {{SP, 1, 3000, 0}, {SP, 2, 0, 0}, {SP, 3, 3000, 0}, {RUN, 0, 0, ACC}}},
      {"interrogate while running", "sample", 1, {kControlInterrogate, kControlStop},
       {{SP, 1, 3000, 0}, {SP, 2, 3000, 0}, {RUN, 0, 0, ACC}, {RUN, 0, 0, ACC}, {XP, 3, 2000, ACC},
        {STOPPED, 0, 0, ACC}}},
      {"interrogate during stop-pending", "duty begin", 1, {kControlStop, kControlInterrogate},
       {{SP, 1, 3000, 0}, {SP, 2, 3000, 0}, {RUN, 0, 0, ACC}, {XP, 3, 2000, ACC}, {XP, 4, 0, ACC},
        {STOPPED, 0, 0, ACC}}},
      {"second stop during stop-pending", "duty begin", 1, {kControlStop, kControlStop},
       {{SP, 1, 3000, 0}, {SP, 2, 3000, 0}, {RUN, 0, 0, ACC}, {XP, 3, 2000, ACC}, {XP, 4, 2000, ACC},
        {STOPPED, 0, 0, ACC}}},
  };
  for (const Case& c : cases) {
    reset();
    trigger(c.event, c.nth, c.controls);
    // A start-up interrogate alone never stops the service; stop it after one cycle.
    if (c.controls == std::vector<uint32_t>{kControlInterrogate}) {
      auto first = g.hook;
      g.hook = [first](const std::string& e) {
        first(e);
        if (e == "duty end") handle_service_control(kControlStop);
      };
      run_service_main();
      g.reports.resize(4);
    } else {
      run_service_main();
    }
    expect_reports(c.expected, c.name);
  }
}

TEST_F(ServiceTest, SetupOrderAndItsResults) {
  trigger("check", 1, {kControlStop});
  run_service_main();
  const Events setup(g.events.begin(), g.events.begin() + 12);
  // Threads a crashed predecessor left suspended go free, and users get their rights on
  // the service, before it runs.
  EXPECT_EQ(setup, (Events{"register", "report 2", "create link", "open pipe", "report 2", "event", "resume recorded",
                           "secure registration", "report 4", "priority", "protect own", "check"}));
  EXPECT_EQ(g_engine.logical_cpu_count, 12);
  EXPECT_EQ(g_engine.protected_pids.protected_count, 1);
  EXPECT_EQ(g_engine.protected_pids.processes[0].pid, kOwnPid);
  EXPECT_EQ(g_engine.threshold_percent, kDefaultThresholdPercent);
}

TEST_F(ServiceTest, StartUpFailures) {
  struct Case {
    const char* name;
    int register_result;
    int event_result;
    bool names_taken;
    std::vector<Report> expected;
  };
  // A failed start says why, so the window's restart rule and Status page see it.
  const Case cases[] = {
      {"handler cannot be registered: silence", -1, 0, false, {}},
      {"no stop event: stopped without a cycle", 0, -1, false,
       {{SP, 1, 3000, 0}, {SP, 2, 3000, 0}, {STOPPED, 0, 0, ACC, kStopReasonNoStopEvent}}},
      {"names another program made first: stopped before a cycle", 0, 0, true,
       {{SP, 1, 3000, 0}, {STOPPED, 0, 0, ACC, kStopReasonNamesTaken}}},
  };
  for (const Case& c : cases) {
    reset();
    g.register_result = c.register_result;
    g.event_result = c.event_result;
    g.names_taken = c.names_taken;
    run_service_main();
    if (c.register_result != 0) {
      EXPECT_EQ(g.reports.size(), 0u) << c.name;
    } else {
      expect_reports(c.expected, c.name);
    }
    EXPECT_EQ(std::count(g.events.begin(), g.events.end(), "check"), 0) << c.name;
    EXPECT_EQ(std::count(g.events.begin(), g.events.end(), "sample"), 0) << c.name;
  }
}

TEST_F(ServiceTest, StopPointsOfTheCycle) {
  const Events publish = {"lock snapshot", "unlock snapshot"};
  struct Case {
    const char* name;
    uint32_t command_flags;
    const char* event;
    int nth;
    Events expected;
    uint32_t control = kControlStop;
    bool extended_handler = true;
  };
  const std::vector<Case> cases = {
      {"stop during the first check ends at once", 0, "check", 1,
       {"check", "report 3", "signal", "report 1"}},
      {"stop during sampling ends right after it", 0, "sample", 1,
       {"check", "sample", "report 3", "signal", "check", "report 1"}},
      {"stop after the second check waits a full duty cycle", 0, "lock command", 1,
       {"check", "sample", "check", "lock command", "report 3", "signal", "unlock command", "duty begin",
        "duty end", "lock snapshot", "unlock snapshot", "check", "report 1"}},
      {"stop before the extra check after a command ends there", CMD_THRESHOLD_CHANGED, "lock command", 1,
       {"check", "sample", "check", "lock command", "report 3", "signal", "unlock command", "check",
        "report 1"}},
      // The snapshot goes out after the duty cycle, with how long it held its targets.
      {"stop during the duty cycle lets it finish and publish", 0, "duty begin", 1,
       {"check", "sample", "check", "lock command", "unlock command", "duty begin", "report 3", "signal",
        "duty end", "lock snapshot", "unlock snapshot", "check", "report 1"}},
      // The duty cycle's hold is cut short (the engine's tests show what that resumes).
      {"shutdown during the duty cycle releases the held at once", 0, "duty begin", 1,
       {"check", "sample", "check", "lock command", "unlock command", "duty begin", "report 3", "signal",
        "release", "duty end", "lock snapshot", "unlock snapshot", "check", "report 1"},
       kControlShutdown},
      {"the notice before a shutdown does the same", 0, "duty begin", 1,
       {"check", "sample", "check", "lock command", "unlock command", "duty begin", "report 3", "signal",
        "release", "duty end", "lock snapshot", "unlock snapshot", "check", "report 1"},
       kControlPreshutdown},
      {"a plain handler hears no notice before a shutdown", 0, "duty begin", 1,
       {"check", "sample", "check", "lock command", "unlock command", "duty begin", "duty end", "lock snapshot",
        "unlock snapshot", "check", "sample", "check", "lock command", "unlock command", "duty begin",
        "report 3", "signal", "duty end", "lock snapshot", "unlock snapshot", "check", "report 1"},
       kControlPreshutdown, false},
      // A sign-out ends the hold under way, and the engine hears of it before it holds again.
      {"a sign-out during the duty cycle", 0, "duty begin", 1,
       {"check", "sample", "check", "lock command", "unlock command", "duty begin", "release", "duty end",
        "lock snapshot", "unlock snapshot", "check", "sign out 2", "sample", "check", "lock command",
        "unlock command", "duty begin", "report 3", "signal", "duty end", "lock snapshot", "unlock snapshot",
        "check", "report 1"},
       kControlSessionChange},
      {"unknown command bits still add the extra check", 0x100, "duty begin", 1,
       {"check", "sample", "check", "lock command", "unlock command", "check", "duty begin", "report 3",
        "signal", "duty end", "lock snapshot", "unlock snapshot", "check", "report 1"}},
  };
  for (const Case& c : cases) {
    reset();
    g.block.command_flags = c.command_flags;
    g.block.threshold = 70;
    g.extended_handler = c.extended_handler;
    trigger(c.event, c.nth, {c.control});
    // A control that does not stop it: the next cycle's duty cycle stops it.
    if (c.control == kControlSessionChange || !c.extended_handler) {
      auto first = g.hook;
      auto cycles = std::make_shared<int>(0);
      g.hook = [first, cycles](const std::string& e) {
        first(e);
        if (e == "duty begin" && ++*cycles == 2) handle_service_control(kControlStop);
      };
    }
    run_service_main();
    EXPECT_EQ(cycle_events(), c.expected) << c.name;
    EXPECT_EQ(g.block.command_flags, 0u) << c.name;
    EXPECT_EQ(g_engine.threshold_percent, c.command_flags == CMD_THRESHOLD_CHANGED ? 70 : 50)
        << c.name;
    EXPECT_EQ(g.reports.back().dwCurrentState, kServiceStopped) << c.name;
  }
}

TEST_F(ServiceTest, CyclePublishesTheSnapshotThenClearsItsOwn) {
  trigger("duty begin", 2, {kControlStop});
  g.hook = [hook = g.hook](const std::string& e) {
    // The published snapshot is the one the pass built.
    if (e == "unlock snapshot") {
      EXPECT_EQ(g.block.snapshot.flags, SNAPSHOT_READY);
      EXPECT_EQ(g.block.snapshot.active_count, 3u);
      EXPECT_EQ(g.block.snapshot.bars[0], 77);
      g.block.snapshot.flags = 0;
    }
    hook(e);
  };
  run_service_main();
  EXPECT_EQ(std::count(g.events.begin(), g.events.end(), "duty end"), 2);
  EXPECT_EQ(g_engine.snapshot.active_count, 0u);
  EXPECT_EQ(g_engine.snapshot.bars[0], 0);
}

TEST_F(ServiceTest, ThresholdsOutsideOneToHundredAreIgnored) {
  struct Case {
    uint32_t flags;
    int32_t threshold;
    int32_t expected;
  };
  const Case cases[] = {
      {CMD_THRESHOLD_CHANGED, 0, 50},       {CMD_THRESHOLD_CHANGED, -1, 50},
      {CMD_THRESHOLD_CHANGED, 1000, 50},    {CMD_THRESHOLD_CHANGED, 101, 50},
      {CMD_THRESHOLD_CHANGED, INT_MIN, 50}, {CMD_THRESHOLD_CHANGED, INT_MAX, 50},
      {CMD_THRESHOLD_CHANGED, 1, 1},        {CMD_THRESHOLD_CHANGED, 100, 100},
      {CMD_THRESHOLD_CHANGED, 40, 40},      {0xFFFFFFFFu, 1000, 50},
      {0xFFFFFFFFu, 60, 60},                {CMD_MONITOR_ATTACHED, 60, 50},
  };
  for (const Case& c : cases) {
    reset();
    g.block.command_flags = c.flags;
    g.block.threshold = c.threshold;
    g.block.monitor_pid = 777;
    trigger("duty begin", 1, {kControlStop});
    run_service_main();
    EXPECT_EQ(g_engine.threshold_percent, c.expected) << c.threshold << " flags " << c.flags;
    EXPECT_EQ(g.block.command_flags, 0u);
    // Anyone may write the region's announcement bit; only the pipe protects.
    EXPECT_FALSE(is_protected_process(777, kCreated));
  }
}

Fake::Message message(uint32_t pid, uint32_t sequence, uint32_t commands, uint32_t front = 0) {
  return Fake::Message{pid, pid, LinkRequest{sequence, commands, front, 5, 1}};
}

// The program in front arrives with the announcement over the pipe and is applied after
// it, in the name of the pipe's client; an id of 0 withdraws that claim, and so does the
// end of the client's connection. The region's claim fields, anyone's to write, are not
// acted on. The cycle's report goes out beside the snapshot, with the holds the duty
// cycle measured and the spared program's family.
TEST_F(ServiceTest, TheProgramInFrontIsSparedAfterTheMonitorAndTheReportIsPublished) {
  g.pipe = {message(777, 1, CMD_MONITOR_ATTACHED | CMD_FOREGROUND_CHANGED, 4321)};
  g.block.command_flags = CMD_FOREGROUND_CHANGED;
  g.block.foreground_pid = 99;
  g.block.foreground_claimant = 777;
  int cycle = 0;
  g.hook = [&cycle](const std::string& e) {
    if (e == "duty end") g_engine.report.held[0].hold_ms = 70000;  // measured: more than the field holds
    if (e != "duty begin") return;
    g_engine.report.spared_pid = 4321;
    g_engine.report.system_passed_over = 2;
    g_engine.report.spared_family = 6;
    g_engine.report.held[0] = HeldProcess{55, 30, 0, 0};
    ++cycle;
    if (cycle == 1) g.pipe = {message(777, 2, CMD_FOREGROUND_CHANGED, 0)};
    if (cycle == 2) g.gone = {777, 888};
    if (cycle == 3) handle_service_control(kControlStop);
  };
  run_service_main();
  EXPECT_EQ(std::count(g.events.begin(), g.events.end(), "spare 4321 4294967301 by 777 monitor"), 1);
  EXPECT_EQ(std::count(g.events.begin(), g.events.end(), "spare 0 4294967301 by 777 monitor"), 1);
  EXPECT_EQ(std::count(g.events.begin(), g.events.end(), "spare 0 0 by 777 monitor"), 1);  // gone
  for (const std::string& e : g.events) EXPECT_EQ(e.find("spare 99"), std::string::npos) << e;
  for (const std::string& e : g.events) EXPECT_EQ(e.find("by 888"), std::string::npos) << e;
  ASSERT_EQ(g.replies.size(), 2u);
  EXPECT_EQ(g.replies[0].sequence, 1u);
  EXPECT_EQ(g.replies[0].status, LINK_PROTECTED | LINK_CLAIM_TAKEN);
  EXPECT_EQ(g.replies[1].status, LINK_PROTECTED);
  EXPECT_EQ(g.block.monitor_pid, 777u);  // the region's echo of the protected monitor
  const ServiceReport& report = g.block.report;
  EXPECT_EQ(report.spared_pid, 4321u);
  EXPECT_EQ(report.spared_family, 6u);
  EXPECT_EQ(report.system_passed_over, 2u);
  EXPECT_EQ(report.held[0].pid, 55u);
  EXPECT_EQ(report.held[0].share, 30);
  EXPECT_EQ(report.held[0].hold_ms, 0xFFFF);
  EXPECT_EQ(report.held[1].pid, 0u);
}

// Who speaks is the pipe's client: a claim names no claimant, a client the system puts in
// another session than its process is not protected, and a session end ends the sender's
// own session, even beside its announcement. The region's bits reach none of these.
TEST_F(ServiceTest, EachMessageActsOnlyForThePipesClient) {
  struct Case {
    const char* name;
    Fake::Message message;
    uint32_t region_flags;
    uint32_t status;
    const char* event;  // expected once, or nullptr
  };
  const Fake::Message other_session = {777, 5, LinkRequest{1, CMD_MONITOR_ATTACHED | CMD_FOREGROUND_CHANGED, 4321, 5, 1}};
  const Case cases[] = {
      {"a protected monitor's claim", message(777, 1, CMD_MONITOR_ATTACHED | CMD_FOREGROUND_CHANGED, 4321), 0,
       LINK_PROTECTED | LINK_CLAIM_TAKEN, "spare 4321 4294967301 by 777 monitor"},
      {"a claim of a window that never announced", message(888, 1, CMD_FOREGROUND_CHANGED, 4321), 0, 0,
       "spare 4321 4294967301 by 888"},
      {"a client in another session than its process", other_session, 0, 0, "spare 4321 4294967301 by 777"},
      {"a session end beside the announcement", message(777, 1, CMD_MONITOR_ATTACHED | CMD_SESSION_ENDING), 0,
       LINK_PROTECTED, "session end of 777"},
      {"the region's announcement and session end", Fake::Message{}, CMD_MONITOR_ATTACHED | CMD_SESSION_ENDING, 0,
       nullptr},
  };
  for (const Case& c : cases) {
    reset();
    if (c.message.pid != 0) g.pipe = {c.message};
    g.block.command_flags = c.region_flags;
    g.block.monitor_pid = 777;
    trigger("duty begin", 1, {kControlStop});
    run_service_main();
    if (c.message.pid != 0) {
      ASSERT_EQ(g.replies.size(), 1u) << c.name;
      EXPECT_EQ(g.replies[0].status, c.status) << c.name;
    }
    EXPECT_EQ(is_protected_process(777, kCreated) != 0, (c.status & LINK_PROTECTED) != 0) << c.name;
    if (c.event != nullptr) EXPECT_EQ(std::count(g.events.begin(), g.events.end(), c.event), 1) << c.name;
    if (c.event == nullptr) EXPECT_EQ(std::count(g.events.begin(), g.events.end(), "session end of 777"), 0) << c.name;
  }
}

// Windows announcing in the same cycle are all heard, two at a time here, each told
// whether it is protected; a full list pushes none of the first out.
TEST_F(ServiceTest, EveryAnnouncedMonitorIsProtectedAndTheListNeverOverflows) {
  const int kAnnouncements = 70;
  const uint32_t kFirstMonitor = 1000;
  int sent = 0;
  g.hook = [&](const std::string& e) {
    if (e == "lock command" && sent < kAnnouncements && g.pipe.empty()) {
      for (int i = 0; i < 2; ++i, ++sent) g.pipe.push_back(message(kFirstMonitor + sent, 1, CMD_MONITOR_ATTACHED));
    }
    if (e == "duty end" && sent == kAnnouncements) handle_service_control(kControlStop);
  };
  run_service_main();
  const ProtectedPidList& list = g_engine.protected_pids;
  ASSERT_LE(list.protected_count, kProtectedCapacity);
  EXPECT_EQ(list.processes[0].pid, kOwnPid);
  ASSERT_EQ(g.replies.size(), static_cast<size_t>(kAnnouncements));
  // The first monitors fill every slot but the service's own; later ones, each of another
  // session, push none of them out, and learn they are not protected.
  for (int i = 0; i < kAnnouncements; ++i) {
    const bool first = i < kProtectedCapacity - 1;
    EXPECT_EQ(is_protected_process(kFirstMonitor + i, kCreated) != 0, first) << "monitor " << i;
    EXPECT_EQ(g.replies[i].status, first ? LINK_PROTECTED : 0u) << "monitor " << i;
  }
}

TEST_F(ServiceTest, MissingSharedObjectsStillThrottleEveryCycle) {
  struct Case {
    const char* name;
    bool view, snapshot_mutex, command_mutex;
    long publishes, takes;
  };
  const Case cases[] = {
      {"everything", true, true, true, 2, 2},
      {"no region or view", false, true, true, 0, 0},
      {"no snapshot mutex", true, false, true, 0, 2},
      {"no command mutex", true, true, false, 2, 0},
      {"nothing", false, false, false, 0, 0},
  };
  for (const Case& c : cases) {
    reset();
    g.view = c.view;
    g.snapshot_mutex = c.snapshot_mutex;
    g.command_mutex = c.command_mutex;
    trigger("duty end", 2, {kControlStop});
    run_service_main();
    const Events& e = g.events;
    EXPECT_EQ(std::count(e.begin(), e.end(), "sample"), 2) << c.name;
    EXPECT_EQ(std::count(e.begin(), e.end(), "duty end"), 2) << c.name;
    EXPECT_EQ(std::count(e.begin(), e.end(), "lock snapshot"), c.publishes) << c.name;
    EXPECT_EQ(std::count(e.begin(), e.end(), "lock command"), c.takes) << c.name;
    EXPECT_EQ(g.reports.back().dwCurrentState, kServiceStopped) << c.name;
  }
}

TEST_F(ServiceTest, ProcessorCountIsNeverBelowOne) {
  const int32_t cases[][2] = {{0, 1}, {-3, 1}, {1, 1}, {12, 12}, {254, 254}};
  for (const auto& c : cases) EXPECT_EQ(usable_cpu_count(c[0]), c[1]) << c[0];
}

TEST_F(ServiceTest, ConcurrentReportsAreNeverTornOrStale) {
  // The worker alternates two pending states while the handler interrogates: every
  // report takes the next checkpoint, and an interrogate repeats the state reported last.
  const uint32_t kWorkerHint = 7;
  g.record_reports_as_events = false;
  const int kReports = 3000;
  report_service_status(kServiceStartPending, kWorkerHint);
  std::thread worker([&] {
    for (int i = 0; i < kReports; ++i) {
      report_service_status(i % 2 ? kServiceStartPending : kServiceStopPending, kWorkerHint);
    }
  });
  std::thread handler([&] {
    for (int i = 0; i < kReports; ++i) handle_service_control(kControlInterrogate);
  });
  worker.join();
  handler.join();
  ASSERT_EQ(g.reports.size(), 2u * kReports + 1);
  int stale = 0;
  for (size_t i = 0; i < g.reports.size(); ++i) {
    const ServiceStatusRecord& r = g.reports[i];
    EXPECT_EQ(r.dwCheckPoint, i + 1) << "report " << i;
    EXPECT_EQ(r.dwControlsAccepted, r.dwCurrentState == kServiceStartPending ? 0u : kControlsAccepted);
    if (i > 0 && r.dwWaitHint == 0 && r.dwCurrentState != g.reports[i - 1].dwCurrentState) {
      ++stale;
    }
  }
  EXPECT_EQ(stale, 0);
}

}  // namespace
