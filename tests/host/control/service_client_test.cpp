// The service control client over a scripted service control manager that grants rights
// as Windows does, a file system that records what is done to it, and a fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "control/installed_copy.h"
#include "control/installer.h"
#include "control/registration.h"
#include "control/scm.h"
#include "control/service_client.h"
#include "service/service.h"
#include "tests/host/control/fake_scm.h"

namespace {

class ServiceClientTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_scm_reset(); }
  // Every operation closes what it opened, on every path.
  void TearDown() override { EXPECT_EQ(g_scm.open_handles, 0); }
};

TEST_F(ServiceClientTest, StartWaitPauseIsATenthOfTheHintWithinOneToTenSeconds) {
  const uint32_t cases[][2] = {{0, 1000},      {3000, 1000},     {10009, 1000},
                               {10010, 1001},  {50000, 5000},    {100000, 10000},
                               {200000, 10000}, {0xFFFFFFFFu, 10000}};
  for (const auto& c : cases) EXPECT_EQ(start_wait_pause_ms(c[0]), c[1]) << c[0];
}

TEST_F(ServiceClientTest, StopWaitPauseIsATenthOfTheHintWithinATenthToOneSecondAndTheCap) {
  const uint32_t cases[][3] = {{0, 0, 100},        {2000, 0, 200},        {0xFFFFFFFFu, 0, 1000},
                               {5000, 29950, 50},  {5000, 30000, 0},      {5000, 0xFFFFFF00u, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(stop_wait_pause_ms(c[0], c[1]), c[2]) << c[0] << " after " << c[1];
  }
}

TEST_F(ServiceClientTest, CommandLineIsQuotedWhenThePathHoldsASpace) {
  struct Case {
    const wchar_t* path;
    uint32_t capacity;
    int result;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"C:\\Quellcore\\quellcore.exe", 263, 0, L"C:\\Quellcore\\quellcore.exe"},
      {L"C:\\Program Files\\Quellcore\\quellcore.exe", 263, 0,
       L"\"C:\\Program Files\\Quellcore\\quellcore.exe\""},
      {L"C:\\a b", 9, 0, L"\"C:\\a b\""},
      {L"C:\\a b", 8, -1, L""},
      {L"C:\\ab", 6, 0, L"C:\\ab"},
      {L"C:\\ab", 5, -1, L""},
      {L"", 263, -1, L""},
  };
  for (const Case& c : cases) {
    wchar_t out[300] = {};
    EXPECT_EQ(build_service_command_line(c.path, out, c.capacity), c.result) << c.path;
    if (c.result == 0) {
      EXPECT_EQ(std::wstring(out), c.expected);
    }
  }
}

TEST_F(ServiceClientTest, InstalledCopyLivesInItsOwnProgramFilesFolder) {
  struct Case {
    const wchar_t* program_files;
    int result;
    const wchar_t* target;  // staging is the target with ".new"
  };
  const std::wstring longest = L"C:\\" + std::wstring(228, L'p');  // staging fills 259
  const std::wstring too_long = longest + L"p";
  const Case cases[] = {
      {L"C:\\Program Files", 0, L"C:\\Program Files\\Quellcore\\quellcore.exe"},
      {L"C:\\Program Files (x86)\\", 0, L"C:\\Program Files (x86)\\Quellcore\\quellcore.exe"},
      {L"d:\\", 0, L"d:\\Quellcore\\quellcore.exe"},
      {longest.c_str(), 0, nullptr},
      {too_long.c_str(), -1, nullptr},
      {L"Program Files", -1, nullptr},
      {L"\\\\server\\share", -1, nullptr},
      {L"C:Program Files", -1, nullptr},
      {L"", -1, nullptr},
      {L"C:\\a\"b", -1, nullptr},
  };
  for (const Case& c : cases) {
    InstallPaths paths;
    ASSERT_EQ(find_install_paths(c.program_files, &paths), c.result) << c.program_files;
    if (c.result != 0) continue;
    const std::wstring target = paths.target;
    if (c.target != nullptr) EXPECT_EQ(target, c.target);
    EXPECT_EQ(std::wstring(paths.staging), target + L".new");
    EXPECT_EQ(std::wstring(paths.folder) + L"\\quellcore.exe", target);
  }
}

// Where the service runs from decides which copy is installed, so an x86-64 window beside
// the x86 service finds that service's copy; a registration of any other form names none.
TEST_F(ServiceClientTest, TheInstalledCopyIsWhereTheServiceIsRegistered) {
  const struct {
    const wchar_t* registered;
    bool exists;
    const wchar_t* target;  // null: none is found
  } cases[] = {
      {L"\"C:\\Program Files (x86)\\Quellcore\\quellcore.exe\"", true, L"C:\\Program Files (x86)\\Quellcore\\quellcore.exe"},
      {L"C:\\Program Files (x86)\\Quellcore\\quellcore.exe", true, L"C:\\Program Files (x86)\\Quellcore\\quellcore.exe"},
      {L"\"D:\\Apps\\QUELLCORE\\Quellcore.exe\"", true, L"D:\\Apps\\Quellcore\\quellcore.exe"},
      {L"\"C:\\Program Files\\Quellcore\\quellcore.exe\" -x", true, nullptr},
      {L"C:\\Tools\\quellcore.exe", true, nullptr},
      {L"\"C:\\Users\\x\\Downloads\\quellcore.exe\"", true, nullptr},
      // No service: this build's own Program Files.
      {L"", false, L"C:\\Program Files\\Quellcore\\quellcore.exe"},
  };
  for (const auto& c : cases) {
    SetUp();
    g_scm.registered = c.registered;
    g_scm.exists = c.exists;
    InstallPaths paths;
    const int found = locate_installed_copy(&paths);
    EXPECT_EQ(found, c.target != nullptr ? 0 : -1) << c.registered;
    if (found == 0 && c.target != nullptr) EXPECT_EQ(std::wstring(paths.target), c.target) << c.registered;
    EXPECT_EQ(g_scm.open_handles, 0);
  }
}

TEST_F(ServiceClientTest, InstallRegistersACopyInProgramFilesMadeFromThePinnedImage) {
  const std::wstring downloaded = L"C:\\Users\\me\\Downloads\\quellcore.exe";
  const std::wstring target = L"C:\\Program Files\\Quellcore\\quellcore.exe";
  const std::wstring staging = target + L".new";
  const std::wstring aside = target + L".old";
  const std::wstring quoted = L"\"" + target + L"\"";
  const std::wstring mkdir = L"mkdir C:\\Program Files\\Quellcore", write = L"write " + staging,
                     set_aside = L"move " + target + L" > " + aside, move = L"move " + staging + L" > " + target,
                     shortcut = L"shortcut " + target;
  const std::vector<std::wstring> copied = {mkdir, write, set_aside, move};
  std::vector<std::wstring> copied_with_shortcut = copied;
  copied_with_shortcut.push_back(shortcut);
  copied_with_shortcut.push_back(L"startup " + target);
  struct Case {
    const char* name;
    std::wstring path;
    std::wstring program_files;
    Account account;
    bool service_exists, copy_fails, move_fails, create_fails, changed_after_start, old_copy;
    int result;
    std::vector<std::wstring> file_ops;
    const wchar_t* command_line;  // null: nothing created
    bool moves_corrupt = false;
  };
  const std::wstring pf = L"C:\\Program Files";
  const std::vector<Case> cases = {
      {"a copy needed", downloaded, pf, ELEVATED_ADMIN, false, false, false, false, false, false, 0,
       copied_with_shortcut, quoted.c_str()},
      {"already in place", L"c:\\program files\\QUELLCORE\\quellcore.exe", pf, ELEVATED_ADMIN, false, false,
       false, false, false, false, 0, {}, quoted.c_str()},
      {"the file changed after the start: refused", downloaded, pf, ELEVATED_ADMIN, false, false, false, false,
       true, false, -1, {mkdir, write, L"delete " + staging}, nullptr},
      {"the placed file differs from what was read: removed, the old copy back", downloaded, pf, ELEVATED_ADMIN,
       false, false, false, false, false, true, -1, {mkdir, write, set_aside, move, L"delete " + target,
       L"move " + aside + L" > " + target}, nullptr, true},
      {"the copy fails: nothing registered", downloaded, pf, ELEVATED_ADMIN, false, true, false, false, false,
       false, -1, {mkdir, write}, nullptr},
      {"the move fails: nothing registered, the old copy stays", downloaded, pf, ELEVATED_ADMIN, false, false,
       true, false, false, true, -1, {mkdir, write, set_aside, move, L"delete " + staging}, nullptr},
      {"existing registration is left alone, nothing copied", downloaded, pf, ELEVATED_ADMIN, true, false,
       false, false, false, false, -1, {}, nullptr},
      {"a standard user may see that it exists", downloaded, pf, STANDARD_USER, true, false, false, false, false,
       false, -1, {}, nullptr},
      {"missing, and a standard user may not install: nothing copied", downloaded, pf, STANDARD_USER, false,
       false, false, false, false, false, kRefusedForRights, {}, nullptr},
      {"nor may an administrator whose rights UAC filters", downloaded, pf, FILTERED_ADMIN, false, false, false,
       false, false, false, kRefusedForRights, {}, nullptr},
      {"creation fails", downloaded, pf, ELEVATED_ADMIN, false, false, false, true, false, false, -1, copied,
       quoted.c_str()},
      {"no Program Files folder", downloaded, L"", ELEVATED_ADMIN, false, false, false, false, false, false, -1,
       {}, nullptr},
      {"Program Files path too long for the copy", downloaded, L"C:\\" + std::wstring(240, L'p'), ELEVATED_ADMIN,
       false, false, false, false, false, false, -1, {}, nullptr},
      {"own path cut short is never copied", L"C:\\" + std::wstring(300, L'x') + L".exe", pf, ELEVATED_ADMIN,
       false, false, false, false, false, false, -1, {}, nullptr},
  };
  for (const Case& c : cases) {
    SetUp();
    g_scm.path = c.path;
    g_scm.program_files = c.program_files;
    g_scm.account = c.account;
    g_scm.exists = c.service_exists;
    g_scm.copy_fails = c.copy_fails;
    g_scm.move_fails = c.move_fails;
    g_scm.create_fails = c.create_fails;
    g_scm.moves_corrupt = c.moves_corrupt;
    if (c.old_copy) g_scm.files[target] = "older";
    ASSERT_EQ(pin_own_image(), 0);
    if (c.changed_after_start) g_scm.image = "another program";
    EXPECT_EQ(install_service(), c.result) << c.name;
    EXPECT_EQ(g_scm.file_ops, c.file_ops) << c.name;
    EXPECT_EQ(g_scm.registered, c.command_line != nullptr ? c.command_line : L"") << c.name;
    if (!c.file_ops.empty()) {
      // Either this start's image stands there, or what stood there before.
      const bool placed = c.result == 0 || c.create_fails;
      const std::string old_copy = c.moves_corrupt ? "older!!" : "older";  // moved twice
      EXPECT_EQ(g_scm.files[target], placed ? g_scm.image : (c.old_copy ? old_copy : "")) << c.name;
      EXPECT_EQ(g_scm.files.count(aside) != 0, placed && c.old_copy) << c.name;
    }
    // The probe asks only whether the service exists.
    if (!g_scm.service_access.empty()) EXPECT_EQ(g_scm.service_access[0], kServiceQueryStatus) << c.name;
    EXPECT_EQ(g_scm.open_handles, 0) << c.name;
    EXPECT_EQ(g_scm.open_files, 1) << c.name;  // the pinned image alone
  }
}

// The first run after an install sets the access list and the failure actions and marks
// that in the service's key; later runs leave both as an administrator may have set them.
// Every run quotes its path and removes a copy set aside by a replacement.
TEST_F(ServiceClientTest, TheServiceSetsUpItsRegistrationOnceAndQuotesItsPathEveryTime) {
  const std::wstring target = L"C:\\Program Files\\Quellcore\\quellcore.exe";
  const std::wstring quoted = L"\"" + target + L"\"";
  struct Case {
    const char* name;
    std::wstring own_path, registered;
    bool recorded, security_set, exists, change_fails, security_fails, record_fails;
    int result;
    std::wstring changed;
    int security_writes;
    bool recorded_after;
  };
  const std::vector<Case> cases = {
      {"first run: access list, failure actions, quotes", target, target, false, false, true, false, false, false,
       0, quoted, 1, true},
      {"later run: letters compared without regard to case", target, L"c:\\PROGRAM FILES\\quellcore\\QUELLCORE.EXE",
       true, true, true, false, false, false, 0, L"\"c:\\PROGRAM FILES\\quellcore\\QUELLCORE.EXE\"", 0, true},
      {"already quoted: left alone", target, quoted, true, true, true, false, false, false, 0, L"", 0, true},
      {"another program's path: left alone", target, L"C:\\Other Tools\\other.exe", true, true, true, false, false,
       false, 0, L"", 0, true},
      {"a command line with arguments: left alone", target, target + L" -x", true, true, true, false, false, false,
       0, L"", 0, true},
      {"a path without a space needs no quotes", L"C:\\Tools\\quellcore.exe", L"C:\\Tools\\quellcore.exe", true,
       true, true, false, false, false, 0, L"", 0, true},
      {"configuration unreadable: the rest is done", target, L"", false, false, true, false, false, false, -1, L"",
       1, true},
      {"change refused", target, target, true, true, true, true, false, false, -1, quoted, 0, true},
      // Windows' default list leaves SYSTEM without the change right: nothing more is done.
      {"access list not written: tried again next start", target, target, false, false, true, false, true, false,
       -1, L"", 1, false},
      {"mark not written: tried again next start", target, quoted, false, false, true, false, false, true, -1, L"",
       1, false},
      {"an administrator's restriction stands", target, quoted, true, false, true, false, false, false, -1, L"", 0,
       true},
      {"no service", target, target, false, false, false, false, false, false, -1, L"", 0, false},
  };
  const std::wstring aside = target + L".old";
  for (const Case& c : cases) {
    SetUp();
    g_scm.account = LOCAL_SYSTEM;
    g_scm.path = c.own_path;
    g_scm.registered = c.registered;
    g_scm.registration_recorded = c.recorded;
    g_scm.security_set = c.security_set;
    g_scm.exists = c.exists;
    g_scm.change_fails = c.change_fails;
    g_scm.set_security_fails = c.security_fails;
    g_scm.record_fails = c.record_fails;
    g_scm.files[aside] = "replaced";
    EXPECT_EQ(secure_service_registration(), c.result) << c.name;
    EXPECT_EQ(g_scm.changed_command_line, c.changed) << c.name;
    EXPECT_EQ(g_scm.security_writes, c.security_writes) << c.name;
    EXPECT_EQ(g_scm.registration_recorded, c.recorded_after) << c.name;
    if (c.security_writes > 0 && !c.security_fails) {
      // Restarts after every failure, slower each time, the count reset after a day.
      EXPECT_EQ(g_scm.restart_delays, (std::vector<uint32_t>{2000, 10000, 60000})) << c.name;
      EXPECT_EQ(g_scm.reset_seconds, 86400u) << c.name;
    } else {
      EXPECT_EQ(g_scm.failure_actions_set, 0) << c.name;
    }
    // The copy set aside is found where the service runs from, when that is this layout.
    const bool ours = c.registered == target || c.registered == quoted || c.registered.empty() || !c.exists;
    EXPECT_EQ(g_scm.file_ops, ours ? std::vector<std::wstring>{L"delete " + aside} : std::vector<std::wstring>{})
        << c.name;
    EXPECT_EQ(g_scm.open_handles, 0) << c.name;
  }
}

TEST_F(ServiceClientTest, StartWaitFollowsCheckpointsAndGivesUp) {
  const ServiceProgress stopped = {STOPPED, 0, 0};
  auto pending = [](uint32_t checkpoint, uint32_t hint) {
    return ServiceProgress{PENDING, checkpoint, hint};
  };
  struct Case {
    const char* name;
    std::vector<ServiceProgress> queries;
    bool start_fails;
    int query_fails_at;
    int result;
    int starts;
    std::vector<uint32_t> pauses;
  };
  const std::vector<uint32_t> four(4, 1000);
  const std::vector<Case> cases = {
      {"already running: refused at once", {{RUNNING, 0, 0}}, false, -1, -1, 0, {}},
      {"start refused", {stopped}, true, -1, -1, 1, {}},
      {"first query fails", {stopped}, false, 0, -1, 0, {}},
      {"starts straight to running", {stopped, {RUNNING, 0, 0}}, false, -1, 0, 1, {}},
      {"hint 3000: pauses of 1000, gives up when the checkpoint stalls past it",
       {stopped, pending(1, 3000)}, false, -1, 0, 1, four},
      {"hint 200000: pauses of 10000", {stopped, pending(1, 200000)}, false, -1, 0, 1,
       std::vector<uint32_t>(21, 10000)},
      {"progress restarts the clock",
       {stopped, pending(1, 3000), pending(1, 3000), pending(1, 3000), pending(2, 3000)},
       false, -1, 0, 1, std::vector<uint32_t>(7, 1000)},
      {"progress then running",
       {stopped, pending(1, 3000), pending(2, 3000), pending(3, 3000), {RUNNING, 0, 0}}, false,
       -1, 0, 1, std::vector<uint32_t>(3, 1000)},
      {"accepted start that stops still counts", {stopped, pending(1, 3000), stopped}, false, -1,
       0, 1, {1000}},
      {"query failing during the wait ends it", {stopped, pending(1, 3000)}, false, 3, 0, 1,
       {1000, 1000}},
  };
  for (const Case& c : cases) {
    SetUp();
    g_scm.queries = c.queries;
    g_scm.start_fails = c.start_fails;
    g_scm.query_fails_at = c.query_fails_at;
    EXPECT_EQ(start_service_and_wait(), c.result) << c.name;
    EXPECT_EQ(g_scm.starts, c.starts) << c.name;
    EXPECT_EQ(g_scm.pauses, c.pauses) << c.name;
    EXPECT_EQ(g_scm.service_access, std::vector<uint32_t>{kServiceStart | kServiceQueryStatus}) << c.name;
    EXPECT_EQ(g_scm.open_handles, 0) << c.name;
  }
}

TEST_F(ServiceClientTest, StartWithoutManagerServiceOrRightFails) {
  g_scm.manager_fails = true;
  EXPECT_EQ(start_service_and_wait(), -1);
  g_scm.manager_fails = false;
  g_scm.exists = false;
  EXPECT_EQ(start_service_and_wait(), -1);
  g_scm.exists = true;
  g_scm.account = STANDARD_USER;  // Windows' default security: query rights only
  EXPECT_EQ(start_service_and_wait(), kRefusedForRights);
  EXPECT_EQ(g_scm.starts, 0);
}

TEST_F(ServiceClientTest, StopWaitIsBoundedByTheCap) {
  const ServiceProgress stopped = {STOPPED, 0, 0};
  const ServiceProgress running = {RUNNING, 0, 0};
  const uint32_t kHuge = 0xFFFFFFF0u;
  struct Case {
    const char* name;
    std::vector<ServiceProgress> queries;
    ServiceProgress stop_reply;
    bool stop_fails;
    uint32_t start_tick;
    int stops_sent;
    uint32_t min_elapsed, max_elapsed;
  };
  const std::vector<Case> cases = {
      {"already stopped: nothing sent", {stopped}, stopped, false, 0, 0, 100, 100},
      {"stops after a few queries", {running, {STOP_PENDING, 4, 0}, stopped},
       {STOP_PENDING, 3, 0}, false, 0, 1, 0, 1000},
      {"reply already stopped: no wait", {running}, stopped, false, 0, 1, 100, 100},
      {"sending refused", {running}, stopped, true, 0, 1, 100, 100},
      {"never stops, hint 0: queries until the cap", {running, {STOP_PENDING, 4, 0}},
       {STOP_PENDING, 3, 0}, false, 0, 1, 30000, 30100},
      {"enormous hint is cut at the cap", {running, {STOP_PENDING, 4, kHuge}},
       {STOP_PENDING, 3, kHuge}, false, 0, 1, 30000, 30100},
      {"tick counter wraps during the wait", {running, {STOP_PENDING, 4, 700}},
       {STOP_PENDING, 3, 700}, false, 0xFFFFF000u, 1, 30000, 30800},
      {"pending stop that ends: nothing sent, no query without a pause",
       {{STOP_PENDING, 1, 500}, {STOP_PENDING, 2, 500}, stopped}, stopped, false, 0, 0, 500, 500},
      {"pending stop that never ends: nothing sent", {{STOP_PENDING, 1, kHuge}}, stopped, false,
       0, 0, 30000, 30100},
      {"pending stop that turns running: stop sent", {{STOP_PENDING, 1, 500}, running, stopped},
       {STOP_PENDING, 3, 0}, false, 0, 1, 500, 500},
  };
  for (const Case& c : cases) {
    SetUp();
    g_scm.queries = c.queries;
    g_scm.stop_reply = c.stop_reply;
    g_scm.stop_fails = c.stop_fails;
    g_scm.now = c.start_tick;
    // Each query costs 100 ms, so a hint of 0 still moves the clock.
    g_scm.query_cost_ms = 100;
    EXPECT_EQ(stop_service_and_wait(), c.stop_fails ? -1 : 0) << c.name;
    const uint32_t elapsed = g_scm.now - c.start_tick;
    EXPECT_EQ(g_scm.stops_sent, c.stops_sent) << c.name;
    EXPECT_GE(elapsed, c.min_elapsed) << c.name;
    EXPECT_LE(elapsed, c.max_elapsed) << c.name;
    for (uint32_t pause : g_scm.pauses) EXPECT_GE(pause, 1u) << c.name;
    EXPECT_EQ(g_scm.service_access, std::vector<uint32_t>{kServiceStop | kServiceQueryStatus}) << c.name;
    EXPECT_EQ(g_scm.open_handles, 0) << c.name;
  }
  SetUp();
  g_scm.account = STANDARD_USER;
  g_scm.state = RUNNING;
  EXPECT_EQ(stop_service_and_wait(), kRefusedForRights);
  EXPECT_EQ(g_scm.stops_sent, 0);
}

TEST_F(ServiceClientTest, StateQueriesAnswerYesOnlyWhenSure) {
  const uint32_t kOwnPid = 500;
  struct Case {
    const char* name;
    bool manager_fails, missing;
    int query_fails_at;
    uint32_t state, pid;
    bool running, may_be_service;
  };
  // Only a process the manager may be starting is handed to the dispatcher; when the
  // manager cannot tell, the dispatcher decides.
  const Case cases[] = {
      {"stopped", false, false, -1, STOPPED, 0, false, false},
      {"start-pending, this process", false, false, -1, PENDING, kOwnPid, false, true},
      {"start-pending, no process named yet", false, false, -1, PENDING, 0, false, true},
      {"start-pending, another process", false, false, -1, PENDING, 600, false, false},
      {"stop-pending", false, false, -1, STOP_PENDING, kOwnPid, false, false},
      {"running", false, false, -1, RUNNING, kOwnPid, true, false},
      {"no manager", true, false, -1, RUNNING, 0, false, true},
      {"no service", false, true, -1, RUNNING, 0, false, false},
      {"query fails", false, false, 0, RUNNING, 0, false, true},
  };
  for (const Case& c : cases) {
    SetUp();
    g_scm.manager_fails = c.manager_fails;
    g_scm.exists = !c.missing;
    g_scm.account = STANDARD_USER;  // a query right is all they need
    g_scm.queries = {{c.state, 0, 0, c.pid}};
    g_scm.query_fails_at = c.query_fails_at;
    EXPECT_EQ(may_be_starting_service(kOwnPid), c.may_be_service) << c.name;
    g_scm.queries_made = 0;
    EXPECT_EQ(service_is_running(), c.running) << c.name;
    EXPECT_EQ(g_scm.open_handles, 0) << c.name;
  }
}

// The window starts a service again only when it ended in failure, and waits longer each time.
TEST_F(ServiceClientTest, OnlyAFailedServiceIsRestartedWithABackOff) {
  struct Case {
    const char* name;
    ServiceView view;
    bool failed;
  };
  const Case cases[] = {
      {"killed", {kServiceInstalled, STOPPED, 0, true, 1067}, true},
      {"its own error code", {kServiceInstalled, STOPPED, 0, true, 42}, true},
      {"a clean stop, by anyone", {kServiceInstalled, STOPPED, 0, true, 0}, false},
      {"never started since the install", {kServiceInstalled, STOPPED, 0, true, 1077}, false},
      {"running again", {kServiceInstalled, RUNNING, 9, true, 1067}, false},
      {"stopping", {kServiceInstalled, STOP_PENDING, 9, true, 1067}, false},
      {"not installed", {kServiceNotInstalled, 0, 0, true, 1067}, false},
      {"cannot tell", {kServiceUnknown, 0, 0, true, 1067}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(service_failed(&c.view), c.failed) << c.name;
  const int32_t delays[][2] = {{-1, 10000}, {0, 10000}, {1, 30000}, {2, 60000}, {9, 60000}, {INT32_MAX, 60000}};
  for (const auto& d : delays) EXPECT_EQ(failed_service_restart_delay_ms(d[0]), static_cast<uint32_t>(d[1])) << d[0];
  // The manager's exit code reaches the window.
  g_scm.queries = {{STOPPED, 0, 0, 0, 1067}};
  ServiceView view;
  look_at_service(&view, 0);
  EXPECT_TRUE(service_failed(&view));
}

TEST_F(ServiceClientTest, TheWindowLearnsStatePresenceAndWhichActionNeedsApproval) {
  struct Case {
    const char* name;
    Account account;
    bool manager_fails, exists, security_set;
    uint32_t state;
    int32_t presence;
    uint32_t process_id;
    bool may_act;
  };
  const bool kYes = true, kNo = false;
  const Case cases[] = {
      {"running, Quellcore's security: a user may stop it", STANDARD_USER, false, true, true, RUNNING,
       kServiceInstalled, 77, kYes},
      {"running, Windows' default security: stopping needs approval", STANDARD_USER, false, true, false,
       RUNNING, kServiceInstalled, 77, kNo},
      {"stopped, default security: starting needs approval", FILTERED_ADMIN, false, true, false, STOPPED,
       kServiceInstalled, 0, kNo},
      {"stopped, Quellcore's security: a user may start it", FILTERED_ADMIN, false, true, true, STOPPED,
       kServiceInstalled, 0, kYes},
      {"start-pending counts as not running", STANDARD_USER, false, true, true, PENDING, kServiceInstalled, 77,
       kYes},
      {"missing: installing needs approval", STANDARD_USER, false, false, false, STOPPED, kServiceNotInstalled,
       0, kNo},
      {"missing, an elevated administrator may install it", ELEVATED_ADMIN, false, false, false, STOPPED,
       kServiceNotInstalled, 0, kYes},
      {"no manager: cannot tell", STANDARD_USER, true, true, true, RUNNING, kServiceUnknown, 0, kYes},
  };
  for (const Case& c : cases) {
    SetUp();
    g_scm.account = c.account;
    g_scm.manager_fails = c.manager_fails;
    g_scm.exists = c.exists;
    g_scm.security_set = c.security_set;
    g_scm.state = c.state;
    g_scm.process_id = 77;
    ServiceView view;
    look_at_service(&view, 1);
    EXPECT_EQ(view.presence, c.presence) << c.name;
    EXPECT_EQ(view.state, c.presence == kServiceInstalled ? c.state : 0u) << c.name;
    EXPECT_EQ(view.process_id, c.process_id) << c.name;
    EXPECT_EQ(view.may_act, c.may_act) << c.name;
    // Without rights asked, nothing but the status is asked for.
    g_scm.manager_access.clear();
    g_scm.service_access.clear();
    look_at_service(&view, 0);
    for (uint32_t access : g_scm.manager_access) EXPECT_EQ(access, kManagerConnect) << c.name;
    for (uint32_t access : g_scm.service_access) EXPECT_EQ(access, kServiceQueryStatus) << c.name;
  }
}

}  // namespace
