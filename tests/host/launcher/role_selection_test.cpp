// The entry's choice of role, and what a user's start plans, over the scripted manager.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/installed_copy.h"
#include "control/installer.h"
#include "control/service_client.h"
#include "launcher/launcher.h"
#include "service/service.h"
#include "tests/host/control/fake_scm.h"

namespace {

int g_dispatcher_result;
int g_dispatcher_calls;

}  // namespace

int run_service_dispatcher() {
  ++g_dispatcher_calls;
  return g_dispatcher_result;
}

namespace {

TEST(RoleSelectionTest, TheDispatcherDecidesForAProcessTheManagerMayBeStarting) {
  const uint32_t kOwnPid = 500;
  struct Case {
    const char* name;
    bool exists;
    uint32_t state, pid;
    int dispatcher;
    ProcessRole role;
    int dispatcher_calls;
  };
  const Case cases[] = {
      {"started by the manager: the service, to its end", true, PENDING, kOwnPid, kDispatcherReturned,
       ROLE_SERVICE_ENDED, 1},
      // The old race: a user's start while the service starts took its role and failed.
      {"a user's start while the service starts: refused at once, a user's start", true, PENDING, 0,
       kDispatcherRefusedUserStart, ROLE_USER_START, 1},
      {"a user's start beside another starting process: no dispatcher", true, PENDING, 600, kDispatcherFailed,
       ROLE_USER_START, 0},
      {"running: no dispatcher", true, RUNNING, kOwnPid, kDispatcherFailed, ROLE_USER_START, 0},
      {"not installed: no dispatcher", false, STOPPED, 0, kDispatcherFailed, ROLE_USER_START, 0},
      {"any other dispatcher failure ends the process", true, PENDING, kOwnPid, kDispatcherFailed,
       ROLE_NO_DISPATCHER, 1},
  };
  for (const Case& c : cases) {
    fake_scm_reset();
    g_scm.exists = c.exists;
    g_scm.queries = {{c.state, 0, 0, c.pid}};
    g_dispatcher_result = c.dispatcher;
    g_dispatcher_calls = 0;
    EXPECT_EQ(select_role(kOwnPid), c.role) << c.name;
    EXPECT_EQ(g_dispatcher_calls, c.dispatcher_calls) << c.name;
  }
}

TEST(RoleSelectionTest, AUserStartEndsInTheInstalledCopy) {
  const int32_t MISSING = kServiceMissing, FOUND = kServiceFound, REFUSED = kServiceProbeRefused,
                NOT_ASKED = kServiceNotAsked;
  const int32_t NEWER = kCopyNewer, SAME = kCopySame, UNREADABLE = kInstalledUnreadable;
  const int32_t WINDOW = kThenOpenWindow, HAND_OVER = kThenHandOver, FRONT = kThenFrontAndExit;
  struct Case {
    const char* name;
    StartFacts facts;  // installed copy, service, version, window open, may install
    StartPlan plan;    // install, replace, start, ask approval, then
  };
  const Case cases[] = {
      {"installed copy, service found", {true, FOUND, SAME, false, false}, {false, false, true, false, WINDOW}},
      {"installed copy, service missing", {true, MISSING, SAME, false, true}, {true, false, false, false, WINDOW}},
      {"installed copy beside its window: the window's own rule", {true, FOUND, SAME, true, true},
       {false, false, true, false, WINDOW}},
      {"download, missing", {false, MISSING, UNREADABLE, false, true}, {true, false, false, false, HAND_OVER}},
      {"download, missing, may not install", {false, MISSING, UNREADABLE, false, false},
       {false, false, false, true, WINDOW}},
      {"download, newer", {false, FOUND, NEWER, false, true}, {false, true, false, false, HAND_OVER}},
      {"download, newer, may not replace", {false, FOUND, NEWER, false, false}, {false, false, false, true, WINDOW}},
      {"download, same version", {false, FOUND, SAME, false, true}, {false, false, false, false, HAND_OVER}},
      {"download, installed copy unreadable", {false, FOUND, UNREADABLE, false, true},
       {false, false, true, false, WINDOW}},
      // A service this account may not look at exists: nothing copied, nothing asked.
      {"download, probe refused", {false, REFUSED, NEWER, false, true}, {false, false, false, false, HAND_OVER}},
      {"download, manager silent", {false, NOT_ASKED, SAME, false, false}, {false, false, false, false, HAND_OVER}},
      {"download, probe refused, no installed copy", {false, REFUSED, UNREADABLE, false, false},
       {false, false, true, false, WINDOW}},
      {"elevated copy beside the window, missing", {false, MISSING, UNREADABLE, true, true},
       {true, false, false, false, FRONT}},
      {"elevated copy beside the window, newer", {false, FOUND, NEWER, true, true},
       {false, true, false, false, FRONT}},
      {"second start of a download beside the window", {false, MISSING, UNREADABLE, true, false},
       {false, false, false, false, FRONT}},
  };
  for (const Case& c : cases) {
    const StartPlan plan = plan_user_start(&c.facts);
    EXPECT_EQ(plan.install, c.plan.install) << c.name;
    EXPECT_EQ(plan.replace, c.plan.replace) << c.name;
    EXPECT_EQ(plan.start, c.plan.start) << c.name;
    EXPECT_EQ(plan.ask_approval, c.plan.ask_approval) << c.name;
    EXPECT_EQ(plan.then, c.plan.then) << c.name;
  }
}

// A download's start replaces the installed copy only when it is newer (an equal one would
// stop and restart the service, with a prompt, at every start), and asks for an approval
// only when the install was refused for want of rights, not when it failed otherwise.
TEST(RoleSelectionTest, OnlyANewerCopyReplacesAndOnlyARefusalAsksForApproval) {
  const std::wstring target = L"C:\\Program Files\\Quellcore\\quellcore.exe";
  const struct {
    const char* name;
    bool exists;
    uint64_t own_version;
    Account account;
    bool copy_fails;
    int stops;
    int32_t then;
    bool ask_approval;
  } cases[] = {
      {"same version", true, 5, ELEVATED_ADMIN, false, 0, kThenHandOver, false},
      {"older", true, 4, ELEVATED_ADMIN, false, 0, kThenHandOver, false},
      {"newer", true, 6, ELEVATED_ADMIN, false, 1, kThenHandOver, false},
      {"missing, the copy into Program Files fails", false, 5, ELEVATED_ADMIN, true, 0, kThenOpenWindow, false},
      {"missing, refused", false, 5, STANDARD_USER, false, 0, kThenOpenWindow, true},
  };
  for (const auto& c : cases) {
    fake_scm_reset();
    g_scm.account = c.account;
    g_scm.exists = c.exists;
    g_scm.state = RUNNING;
    g_scm.registered = L"\"" + target + L"\"";
    g_scm.files[target] = "older";
    g_scm.own_version = c.own_version;
    g_scm.copy_fails = c.copy_fails;
    g_pinned_image = PinnedImage{};  // the last case's pin went with its fake files
    ASSERT_EQ(pin_own_image(), 0);
    const UserStart start = start_as_user(false);
    EXPECT_EQ(g_scm.stops_sent, c.stops) << c.name;
    EXPECT_EQ(start.then, c.then) << c.name;
    EXPECT_EQ(start.ask_approval, c.ask_approval) << c.name;
  }
}

}  // namespace

namespace {

// A sign-in shortcut's "Minimized" opens into the notification area; every other start,
// including one with no show command at all, shows the window.
TEST(StartModeTest, OnlyAMinimizedStartOpensIntoTheNotificationArea) {
  struct Case {
    bool given;
    int32_t show;
    bool into_tray;
  };
  const Case cases[] = {
      {true, kShowMinNoActive, true}, {true, kShowMinimized, true}, {true, kShowMinimize, true},
      {true, kShowForceMinimize, true}, {true, 1 /* normal */, false}, {true, 3 /* maximized */, false},
      {true, 0 /* hidden */, false}, {false, kShowMinNoActive, false}, {false, 10 /* default */, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(starts_in_notification_area(c.given, c.show), c.into_tray) << c.given << " " << c.show;
  }
}

// Such a start leaves a stopped service to the window's link: nothing waits before its icon.
TEST(StartModeTest, AStartIntoTheNotificationAreaLeavesTheServiceStartToTheLink) {
  for (bool into_tray : {false, true}) {
    fake_scm_reset();
    g_scm.path = L"C:\\Program Files\\Quellcore\\quellcore.exe";
    pin_own_image();
    start_as_user(false, into_tray);
    EXPECT_EQ(g_scm.starts, into_tray ? 0 : 1) << into_tray;
  }
}

}  // namespace
