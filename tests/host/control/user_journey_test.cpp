// Quellcore as the person at the keyboard meets it, on a manager that grants rights as
// Windows' default security does: a standard user, an administrator whose rights UAC
// filters, and an elevated administrator, from the Start menu and from a download. The
// real role selection, service control client, requests, Status page rules and link run
// over the scripted manager of fake_scm.h and a region in memory.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "control/elevation.h"
#include "control/installed_copy.h"
#include "control/installer.h"
#include "control/registration.h"
#include "control/service_client.h"
#include "control/service_requests.h"
#include "launcher/launcher.h"
#include "service/service.h"
#include "monitor/link.h"
#include "monitor/monitor_state.h"
#include "monitor/status_view.h"
#include "tests/host/control/fake_scm.h"

// The region's mutexes and the frame's lock: nobody else holds them here.
int link_lock(LinkHandle) { return 0; }
void link_unlock(LinkHandle) {}
void frame_lock() {}
void frame_unlock() {}
void wake_link() {}
// Every start here is a user's.
int run_service_dispatcher() { return kDispatcherRefusedUserStart; }

namespace {

const wchar_t kDownloaded[] = L"C:\\Users\\me\\Downloads\\quellcore.exe";
const wchar_t kInstalled[] = L"C:\\Program Files\\Quellcore\\quellcore.exe";
const uint32_t kMonitorPid = 900;

// The region exists once a service process made it; the window keeps it open after that.
bool g_region_exists = false;
SharedControlBlock g_region;
std::vector<uint32_t> g_link_pauses;
std::function<void()> g_at_poll;
size_t g_pause_limit = 0;

// The link looks as the Status page needs: with the rights its button needs.
void look_with_rights(ServiceView* out) { look_at_service(out, 1); }
int link_pause(uint32_t ms) {
  g_link_pauses.push_back(ms);
  if (ms == kSnapshotPollMs && g_at_poll) g_at_poll();
  if (g_link_pauses.size() >= g_pause_limit) g_monitor.stop_requested = -1;
  return 0;
}
uint32_t no_clock() { return 0; }
int open_region(SharedLink* link) {
  if (!g_region_exists) return -1;
  *link = SharedLink{&g_region, &g_region, &g_region, &g_region};
  return 0;
}
void close_region(SharedLink*) {}
uint32_t monitor_pid() { return kMonitorPid; }
void no_news(int32_t) {}
void no_list() {}
int no_process(uint32_t, ProcessFacts*) { return -1; }
int connected_session() { return 0; }
int no_action(int32_t) { return -1; }
// The link pipe of the service process that runs now: each announcement is answered at
// once, and the pipe ends with its service process.
uint32_t g_pipe_to = 0;
std::vector<uint32_t> g_announced_to;
std::vector<LinkReply> g_replies;
int open_pipe(uint32_t service_pid) {
  if (service_pid != g_scm.process_id) return -1;
  g_pipe_to = service_pid;
  return 0;
}
int send_message(const LinkRequest* request) {
  if (g_pipe_to != g_scm.process_id) return -1;
  if (request->commands & CMD_MONITOR_ATTACHED) g_announced_to.push_back(g_pipe_to);
  g_replies.push_back(LinkReply{request->sequence, LINK_PROTECTED});
  return 0;
}
int take_reply(LinkReply* out) {
  if (g_pipe_to != g_scm.process_id) return -1;
  if (g_replies.empty()) return 0;
  *out = g_replies.back();
  g_replies.clear();
  return 1;
}
void close_pipe() { g_pipe_to = 0; }

const LinkPlatform kLink = {look_with_rights, start_service_and_wait, link_pause, no_clock,
                            open_region,      close_region,           monitor_pid, no_news,
                            no_list,          no_process,             connected_session, no_action,
                            open_pipe,        send_message,           take_reply,  close_pipe};

class UserJourneyTest : public ::testing::TestWithParam<Account> {
 protected:
  void SetUp() override {
    fake_scm_reset();
    monitor_state_reset();
    g_region_exists = false;
    memset(&g_region, 0, sizeof(g_region));
    g_link_pauses.clear();
    g_at_poll = nullptr;
    // A started service secures its own registration before it runs, then makes the region.
    g_scm.on_service_start = [] {
      secure_service_registration();
      g_region_exists = true;
    };
    // The elevated copy runs the ordinary start-up; it finds our window, does its work and
    // ends beside it (the installed copy's by the window's rule of one per user), never
    // handing over or asking.
    g_scm.elevated_copy = [] {
      const UserStart start = start_as_user(true);
      EXPECT_NE(start.then, kThenHandOver);
      EXPECT_FALSE(start.ask_approval);
      EXPECT_TRUE(start.done);
    };
  }

  // A user's start: the service work, the window's request for approval when it may not
  // do it, the hand-over to the installed copy (by the start itself, or by the window
  // once approved), and the link's first few seconds. 0 when the link is up.
  int start_quellcore(Account account, const wchar_t* from, size_t link_pauses = 4) {
    g_scm.account = account;
    g_scm.path = from;
    pin_own_image();
    UserStart start = start_as_user(false);
    if (start.ask_approval && run_own_copy_elevated(nullptr) == 0) start.then = kThenHandOver;
    if (start.then == kThenHandOver) {
      g_scm.path = kInstalled;
      start = start_as_user(false);
    }
    EXPECT_EQ(start.then, kThenOpenWindow);
    g_pause_limit = link_pauses;
    SharedLink opened;
    const int connected = connect_link(&kLink, &opened);
    g_monitor.stop_requested = 0;
    return connected;
  }

  StatusView status_page() {
    ServiceView view;
    look_at_service(&view, 1);
    return status_view(&view);
  }

  // Nothing the user's processes asked for went beyond what Windows grants an interactive
  // user on the manager and on Quellcore's service, but for the right to install.
  void expect_only_user_rights() {
    for (const FakeScm::Request& r : g_scm.user_requests) {
      const uint32_t granted = r.service ? kInteractiveServiceRights : kManagerUserRights | kManagerCreateService;
      EXPECT_EQ(r.access & ~granted, 0u) << (r.service ? "service 0x" : "manager 0x") << std::hex << r.access;
    }
  }

  bool elevated() const { return GetParam() == ELEVATED_ADMIN; }
};

// The Start menu after the package: installed, stopped after a reboot; the package started
// it once, so its access list already lets interactive users start and stop it.
TEST_P(UserJourneyTest, StartMenuWithTheServiceStoppedStartsItWithoutAPrompt) {
  g_scm.security_set = true;
  EXPECT_EQ(start_quellcore(GetParam(), kInstalled), 0);
  EXPECT_EQ(g_scm.state, RUNNING);
  EXPECT_EQ(g_scm.elevation_requests, 0);
  EXPECT_TRUE(g_scm.refused_access.empty());
  const StatusView status = status_page();
  EXPECT_EQ(status.button, STATUS_BUTTON_STOP);
  EXPECT_EQ(status.shield, 0);
  expect_only_user_rights();
}

TEST_P(UserJourneyTest, ServiceAlreadyRunningConnectsAtOnce) {
  g_scm.security_set = false;  // an administrator started it; whatever its access list
  g_scm.state = RUNNING;
  g_scm.process_id = 42;
  g_region_exists = true;
  EXPECT_EQ(start_quellcore(GetParam(), kInstalled), 0);
  EXPECT_TRUE(g_link_pauses.empty());
  EXPECT_EQ(g_scm.starts, 0);
  EXPECT_STREQ(status_page().headline, L"Quellcore Service is running");
}

// A service the package registered but never ran still has Windows' default list: the
// shielded Start asks once, and from then on the user needs no approval.
TEST_P(UserJourneyTest, StartAndStopButtonsAskForApprovalOnlyUntilTheServiceRanOnce) {
  g_scm.security_set = false;
  start_quellcore(GetParam(), kInstalled, 2);
  if (!elevated()) {
    EXPECT_EQ(g_scm.state, STOPPED);
    StatusView status = status_page();
    EXPECT_EQ(status.button, STATUS_BUTTON_START);
    EXPECT_EQ(status.shield, 1);
    // The link tried the start once more and backed off to the poll's pace.
    EXPECT_EQ(g_link_pauses, (std::vector<uint32_t>{kServiceRetryMs, kSnapshotPollMs}));
    start_service_or_ask(nullptr);
    EXPECT_EQ(g_scm.elevation_requests, 1);
  }
  EXPECT_EQ(g_scm.state, RUNNING);
  EXPECT_TRUE(g_scm.security_set);
  StatusView status = status_page();
  EXPECT_EQ(status.button, STATUS_BUTTON_STOP);
  EXPECT_EQ(status.shield, 0);
  const int requests = g_scm.elevation_requests;
  stop_service_or_ask(nullptr);
  EXPECT_EQ(g_scm.state, STOPPED);
  start_service_or_ask(nullptr);
  EXPECT_EQ(g_scm.state, RUNNING);
  EXPECT_EQ(g_scm.elevation_requests, requests);
}

TEST_P(UserJourneyTest, FirstStartFromADownloadAsksOnceAndOffersTheShieldWhenDeclined) {
  g_scm.exists = false;
  g_scm.user_declines = true;
  EXPECT_NE(start_quellcore(GetParam(), kDownloaded), elevated() ? -1 : 0);
  if (elevated()) {
    EXPECT_EQ(g_scm.elevation_requests, 0);
    EXPECT_EQ(g_scm.state, RUNNING);
    return;
  }
  EXPECT_EQ(g_scm.elevation_requests, 1);
  EXPECT_FALSE(g_scm.exists);
  EXPECT_TRUE(g_scm.file_ops.empty());
  StatusView status = status_page();
  EXPECT_STREQ(status.headline, L"Quellcore Service is not installed");
  EXPECT_EQ(status.button, STATUS_BUTTON_INSTALL);
  EXPECT_EQ(status.shield, 1);
  // Nothing to start: the link looks for the region at the poll's pace, no faster.
  EXPECT_EQ(g_link_pauses, (std::vector<uint32_t>{kServiceRetryMs, kSnapshotPollMs, kSnapshotPollMs,
                                                  kSnapshotPollMs}));
  EXPECT_EQ(g_scm.starts, 0);
  expect_only_user_rights();

  // The shielded button asks again; approved, the elevated copy installs and starts it.
  g_scm.user_declines = false;
  install_service_or_ask(nullptr, 0);
  EXPECT_EQ(g_scm.elevation_requests, 2);
  EXPECT_EQ(g_scm.registered, L"\"" + std::wstring(kInstalled) + L"\"");
  EXPECT_EQ(g_scm.state, RUNNING);
  SharedLink opened;
  EXPECT_EQ(connect_link(&kLink, &opened), 0);
  EXPECT_EQ(status_page().button, STATUS_BUTTON_STOP);
}

// The install as an administrator: copied to Program Files, registered quoted, and the
// service's first start grants interactive users start and stop and sets the failure actions.
TEST_P(UserJourneyTest, InstallLeavesAServiceEveryUserCanStartAndThatComesBackAfterACrash) {
  g_scm.exists = false;
  start_quellcore(GetParam(), kDownloaded);
  EXPECT_EQ(g_scm.registered, L"\"" + std::wstring(kInstalled) + L"\"");
  EXPECT_EQ(g_scm.files[kInstalled], g_scm.image);
  EXPECT_EQ(g_scm.file_ops.back(), L"startup " + std::wstring(kInstalled));
  EXPECT_TRUE(g_scm.security_set);
  EXPECT_TRUE(g_scm.failure_actions);
  EXPECT_EQ(g_scm.elevation_requests, elevated() ? 0 : 1);
  g_scm.account = STANDARD_USER;
  EXPECT_EQ(service_rights(STANDARD_USER), kInteractiveServiceRights);
}

// A newer download: it takes the installed copy's place, an administrator approving, with
// the service stopped and started again around it; the window runs the installed copy.
TEST_P(UserJourneyTest, ANewerDownloadReplacesTheInstalledCopy) {
  g_scm.security_set = g_scm.registration_recorded = true;
  g_scm.files[kInstalled] = "older";
  g_scm.installed_version = g_scm.own_version - 1;
  g_scm.state = RUNNING;
  g_scm.process_id = 42;
  g_region_exists = true;
  EXPECT_EQ(start_quellcore(GetParam(), kDownloaded), 0);
  EXPECT_EQ(g_scm.files[kInstalled], g_scm.image);
  EXPECT_EQ(g_scm.elevation_requests, elevated() ? 0 : 1);
  EXPECT_EQ(g_scm.stops_sent, 1);
  EXPECT_EQ(g_scm.state, RUNNING);
  EXPECT_NE(g_scm.process_id, 42u);
}

TEST_P(UserJourneyTest, ARestartedServiceHearsTheMonitorAgain) {
  g_scm.security_set = true;
  g_scm.failure_actions = true;
  ASSERT_EQ(start_quellcore(GetParam(), kInstalled), 0);
  int poll = 0;
  g_announced_to.clear();
  const uint32_t first_service = g_scm.process_id;
  g_at_poll = [&poll, first_service] {
    ++poll;
    if (poll == 1) {
      EXPECT_EQ(g_announced_to, std::vector<uint32_t>{first_service});
      g_region.command_flags = 0;  // the first service took the announcement
      g_monitor.slider_threshold = 85;
      stop_service_and_wait();  // Stop and Start, a restart after a crash, or "sc start"
      start_service_and_wait();
    }
  };
  g_monitor.slider_threshold = 60;
  g_pause_limit = 3;
  run_monitor_link(&kLink);
  EXPECT_EQ(g_region.command_flags, CMD_THRESHOLD_CHANGED);
  EXPECT_EQ(g_region.threshold, 85);
  EXPECT_EQ(g_announced_to, (std::vector<uint32_t>{first_service, g_scm.process_id}));
  EXPECT_NE(g_scm.process_id, first_service);
  expect_only_user_rights();
}

std::string account_name(const ::testing::TestParamInfo<Account>& info) {
  static const char* const kNames[] = {"StandardUser", "FilteredAdmin", "ElevatedAdmin", "System"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Accounts, UserJourneyTest, ::testing::Values(STANDARD_USER, FILTERED_ADMIN, ELEVATED_ADMIN),
                         account_name);

}  // namespace
