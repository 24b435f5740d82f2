// The service control client over a scripted service control manager, a file system that
// records what is done to it, and a fake clock that only moves when the client pauses or
// queries.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "launcher/scm.h"
#include "launcher/service_client.h"

namespace {

const uint32_t STOPPED = 1, PENDING = 2, STOP_PENDING = 3, RUNNING = 4;

struct FakeScm {
  // Script.
  bool manager_fails = false;
  bool service_missing = false;
  bool create_fails = false;
  bool start_fails = false;
  bool stop_fails = false;
  std::vector<ServiceProgress> queries;  // successive answers; the last one repeats
  int query_fails_at = -1;
  ServiceProgress stop_reply = {STOP_PENDING, 1, 0};
  std::wstring path = L"C:\\Quellcore\\quellcore.exe";
  std::wstring program_files = L"C:\\Program Files";  // empty: the registry has none
  bool copy_fails = false;
  bool move_fails = false;
  std::wstring registered;  // empty: the configuration cannot be read
  bool change_fails = false;
  int has_failure_actions = 0;
  bool set_failure_actions_fails = false;
  uint32_t now = 0;
  uint32_t query_cost_ms = 0;
  // Record.
  int open_handles = 0;
  std::vector<uint32_t> service_access;
  std::vector<uint32_t> pauses;
  int queries_made = 0;
  int starts = 0;
  int stops_sent = 0;
  bool created = false;
  std::wstring command_line;
  std::vector<std::wstring> file_ops;
  std::wstring changed_command_line;
  int failure_actions_set = 0;
};

FakeScm g;
int g_handle_tags[4];

ScmHandle open_handle(int kind) {
  ++g.open_handles;
  return &g_handle_tags[kind];
}

}  // namespace

ScmHandle scm_open_manager() { return g.manager_fails ? nullptr : open_handle(0); }
ScmHandle scm_open_service(ScmHandle manager, uint32_t access) {
  EXPECT_EQ(manager, &g_handle_tags[0]);
  g.service_access.push_back(access);
  return g.service_missing ? nullptr : open_handle(1);
}
ScmHandle scm_create_service(ScmHandle, const wchar_t* command_line) {
  g.command_line = command_line;
  if (g.create_fails) return nullptr;
  g.created = true;
  return open_handle(2);
}
void scm_close(ScmHandle handle) {
  EXPECT_NE(handle, nullptr);
  --g.open_handles;
}
int scm_read_command_line(ScmHandle, wchar_t* buffer, uint32_t capacity) {
  if (g.registered.empty() || g.registered.size() + 1 > capacity) return -1;
  std::copy(g.registered.begin(), g.registered.end(), buffer);
  buffer[g.registered.size()] = L'\0';
  return 0;
}
int scm_change_command_line(ScmHandle, const wchar_t* command_line) {
  g.changed_command_line = command_line;
  return g.change_fails ? -1 : 0;
}
int scm_has_failure_actions(ScmHandle) { return g.has_failure_actions; }
int scm_set_failure_actions(ScmHandle) {
  ++g.failure_actions_set;
  return g.set_failure_actions_fails ? -1 : 0;
}
uint32_t program_files_folder(wchar_t* buffer, uint32_t capacity) {
  const uint32_t length = static_cast<uint32_t>(g.program_files.size());
  if (length == 0 || length + 1 > capacity) return 0;
  std::copy(g.program_files.begin(), g.program_files.end(), buffer);
  buffer[length] = L'\0';
  return length;
}
void make_folder(const wchar_t* path) { g.file_ops.push_back(L"mkdir " + std::wstring(path)); }
int copy_file(const wchar_t* from, const wchar_t* to) {
  g.file_ops.push_back(L"copy " + std::wstring(from) + L" > " + to);
  return g.copy_fails ? -1 : 0;
}
int move_file_replacing(const wchar_t* from, const wchar_t* to) {
  g.file_ops.push_back(L"move " + std::wstring(from) + L" > " + to);
  return g.move_fails ? -1 : 0;
}
void delete_file(const wchar_t* path) { g.file_ops.push_back(L"delete " + std::wstring(path)); }
int scm_query(ScmHandle, ServiceProgress* out) {
  const int i = g.queries_made++;
  g.now += g.query_cost_ms;
  if (i == g.query_fails_at || g.queries.empty()) return -1;
  *out = g.queries[std::min<size_t>(i, g.queries.size() - 1)];
  return 0;
}
int scm_start(ScmHandle) {
  ++g.starts;
  return g.start_fails ? -1 : 0;
}
int scm_send_stop(ScmHandle, ServiceProgress* out) {
  ++g.stops_sent;
  if (g.stop_fails) return -1;
  *out = g.stop_reply;
  return 0;
}
uint32_t own_executable_path(wchar_t* buffer, uint32_t capacity) {
  // As the platform does: a path that does not fit is cut and the capacity returned.
  const uint32_t length = static_cast<uint32_t>(g.path.size());
  const uint32_t copied = std::min(length, capacity - 1);
  std::copy(g.path.begin(), g.path.begin() + copied, buffer);
  buffer[copied] = L'\0';
  return length < capacity ? length : capacity;
}
uint32_t tick_count() { return g.now; }
void pause_ms(uint32_t ms) {
  g.pauses.push_back(ms);
  g.now += ms;
}

namespace {

class ServiceClientTest : public ::testing::Test {
 protected:
  void SetUp() override { g = FakeScm(); }
  // Every operation closes what it opened, on every path.
  void TearDown() override { EXPECT_EQ(g.open_handles, 0); }
};

TEST_F(ServiceClientTest, StartWaitPauseIsATenthOfTheHintWithinOneToTenSeconds) {
  const uint32_t cases[][2] = {{0, 1000},      {3000, 1000},     {10009, 1000},
                               {10010, 1001},  {50000, 5000},    {100000, 10000},
                               {200000, 10000}, {0xFFFFFFFFu, 10000}};
  for (const auto& c : cases) EXPECT_EQ(start_wait_pause_ms(c[0]), c[1]) << c[0];
}

TEST_F(ServiceClientTest, StopWaitPauseNeverRunsPastTheCap) {
  const uint32_t cases[][3] = {{0, 0, 0},         {1000, 0, 1000},        {0xFFFFFFFFu, 0, 30000},
                               {5000, 29000, 1000}, {5000, 30000, 0},    {5000, 0xFFFFFF00u, 0}};
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

TEST_F(ServiceClientTest, InstallRegistersACopyInProgramFiles) {
  const std::wstring downloaded = L"C:\\Users\\me\\Downloads\\quellcore.exe";
  const std::wstring target = L"C:\\Program Files\\Quellcore\\quellcore.exe";
  const std::wstring staging = target + L".new";
  const std::wstring quoted = L"\"" + target + L"\"";
  const std::vector<std::wstring> copied = {L"mkdir C:\\Program Files\\Quellcore",
                                            L"copy " + downloaded + L" > " + staging,
                                            L"move " + staging + L" > " + target};
  struct Case {
    const char* name;
    std::wstring path;
    std::wstring program_files;
    bool service_exists, copy_fails, move_fails, create_fails;
    int result;
    std::vector<std::wstring> file_ops;
    const wchar_t* command_line;  // null: nothing created
  };
  const std::vector<Case> cases = {
      {"a copy needed", downloaded, L"C:\\Program Files", false, false, false, false, 0,
       copied, quoted.c_str()},
      {"already in place", L"c:\\program files\\QUELLCORE\\quellcore.exe", L"C:\\Program Files",
       false, false, false, false, 0, {}, quoted.c_str()},
      {"the copy fails: nothing registered", downloaded, L"C:\\Program Files", false, true,
       false, false, -1, {copied[0], copied[1], L"delete " + staging}, nullptr},
      {"the move fails: nothing registered", downloaded, L"C:\\Program Files", false, false,
       true, false, -1, {copied[0], copied[1], copied[2], L"delete " + staging}, nullptr},
      {"existing registration is left alone, nothing copied", downloaded, L"C:\\Program Files",
       true, false, false, false, -1, {}, nullptr},
      {"creation refused", downloaded, L"C:\\Program Files", false, false, false, true, -1,
       copied, quoted.c_str()},
      {"no Program Files folder", downloaded, L"", false, false, false, false, -1, {},
       nullptr},
      {"Program Files path too long for the copy", downloaded,
       L"C:\\" + std::wstring(240, L'p'), false, false, false, false, -1, {}, nullptr},
      {"own path cut short is never copied", L"C:\\" + std::wstring(300, L'x') + L".exe",
       L"C:\\Program Files", false, false, false, false, -1, {}, nullptr},
  };
  for (const Case& c : cases) {
    SetUp();
    g.path = c.path;
    g.program_files = c.program_files;
    g.service_missing = !c.service_exists;
    g.copy_fails = c.copy_fails;
    g.move_fails = c.move_fails;
    g.create_fails = c.create_fails;
    EXPECT_EQ(install_service(), c.result) << c.name;
    EXPECT_EQ(g.file_ops, c.file_ops) << c.name;
    if (c.command_line != nullptr) {
      EXPECT_EQ(g.command_line, c.command_line) << c.name;
    } else {
      EXPECT_TRUE(g.command_line.empty()) << c.name;
    }
    EXPECT_EQ(g.failure_actions_set, c.result == 0 ? 1 : 0) << c.name;
    if (!g.service_access.empty()) {
      EXPECT_EQ(g.service_access[0], kScmAccessDelete) << c.name;
    }
    EXPECT_EQ(g.open_handles, 0) << c.name;
  }
}

TEST_F(ServiceClientTest, RepairQuotesTheRegisteredPathAndAddsFailureActions) {
  const std::wstring target = L"C:\\Program Files\\Quellcore\\quellcore.exe";
  const std::wstring quoted = L"\"" + target + L"\"";
  const std::wstring elsewhere = L"D:\\My Apps\\quellcore.exe";
  struct Case {
    const char* name;
    std::wstring own_path, registered;
    int has_failure_actions;
    bool service_missing, change_fails;
    int result;
    std::wstring changed;
    int failure_actions_set;
  };
  const std::vector<Case> cases = {
      {"installer's unquoted path, started from it", target, target, 0, false, false, 0, quoted,
       1},
      {"letters compared without regard to case", target,
       L"c:\\PROGRAM FILES\\quellcore\\QUELLCORE.EXE", -1, false, false, 0,
       L"\"c:\\PROGRAM FILES\\quellcore\\QUELLCORE.EXE\"", 0},
      {"installer's unquoted path, started from elsewhere", elsewhere, target, -1, false, false, 0,
       quoted, 0},
      {"this executable's own unquoted path", elsewhere, elsewhere, -1, false, false, 0,
       L"\"" + elsewhere + L"\"", 0},
      {"already quoted: left alone", target, quoted, -1, false, false, 0, L"", 0},
      {"another program's path: left alone", target, L"C:\\Other Tools\\other.exe", -1, false,
       false, 0, L"", 0},
      {"a command line with arguments: left alone", target, target + L" -x", -1, false, false, 0,
       L"", 0},
      {"a path without a space needs no quotes", L"C:\\Tools\\quellcore.exe",
       L"C:\\Tools\\quellcore.exe", -1, false, false, 0, L"", 0},
      {"configuration unreadable: only the failure actions", target, L"", 0, false, false, 0, L"",
       1},
      {"change refused", target, target, -1, false, true, -1, quoted, 0},
      {"no service", target, target, 0, true, false, -1, L"", 0},
  };
  for (const Case& c : cases) {
    SetUp();
    g.path = c.own_path;
    g.registered = c.registered;
    g.has_failure_actions = c.has_failure_actions;
    g.service_missing = c.service_missing;
    g.change_fails = c.change_fails;
    EXPECT_EQ(repair_service_registration(), c.result) << c.name;
    EXPECT_EQ(g.changed_command_line, c.changed) << c.name;
    EXPECT_EQ(g.failure_actions_set, c.failure_actions_set) << c.name;
    EXPECT_EQ(g.service_access, std::vector<uint32_t>{kScmAccessRepair}) << c.name;
    EXPECT_TRUE(g.file_ops.empty()) << c.name;
    EXPECT_EQ(g.open_handles, 0) << c.name;
  }
  g.set_failure_actions_fails = true;
  g.registered = quoted;
  EXPECT_EQ(repair_service_registration(), -1);
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
    g.queries = c.queries;
    g.start_fails = c.start_fails;
    g.query_fails_at = c.query_fails_at;
    EXPECT_EQ(start_service_and_wait(), c.result) << c.name;
    EXPECT_EQ(g.starts, c.starts) << c.name;
    EXPECT_EQ(g.pauses, c.pauses) << c.name;
    EXPECT_EQ(g.service_access, std::vector<uint32_t>{kScmAccessAll}) << c.name;
    EXPECT_EQ(g.open_handles, 0) << c.name;
  }
}

TEST_F(ServiceClientTest, StartWithoutManagerOrServiceFails) {
  g.manager_fails = true;
  EXPECT_EQ(start_service_and_wait(), -1);
  g.manager_fails = false;
  g.service_missing = true;
  EXPECT_EQ(start_service_and_wait(), -1);
  EXPECT_EQ(g.starts, 0);
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
      {"pending stop that ends: nothing sent",
       {{STOP_PENDING, 1, 500}, {STOP_PENDING, 2, 500}, stopped}, stopped, false, 0, 0, 1000,
       1300},
      {"pending stop that never ends: nothing sent", {{STOP_PENDING, 1, kHuge}}, stopped, false,
       0, 0, 30000, 30100},
      {"pending stop that turns running: stop sent", {{STOP_PENDING, 1, 500}, running, stopped},
       {STOP_PENDING, 3, 0}, false, 0, 1, 500, 800},
  };
  for (const Case& c : cases) {
    SetUp();
    g.queries = c.queries;
    g.stop_reply = c.stop_reply;
    g.stop_fails = c.stop_fails;
    g.now = c.start_tick;
    // Each query costs 100 ms, so a hint of 0 still moves the clock.
    g.query_cost_ms = 100;
    stop_service_and_wait();
    const uint32_t elapsed = g.now - c.start_tick;
    EXPECT_EQ(g.stops_sent, c.stops_sent) << c.name;
    EXPECT_GE(elapsed, c.min_elapsed) << c.name;
    EXPECT_LE(elapsed, c.max_elapsed) << c.name;
    for (uint32_t pause : g.pauses) EXPECT_LE(pause, kStopWaitCapMs) << c.name;
    EXPECT_EQ(g.service_access, std::vector<uint32_t>{kScmAccessStop}) << c.name;
    EXPECT_EQ(g.open_handles, 0) << c.name;
  }
}

TEST_F(ServiceClientTest, StateQueriesAnswerYesOnlyWhenSure) {
  struct Case {
    const char* name;
    bool manager_fails, service_missing;
    int query_fails_at;
    uint32_t state;
    int start_pending, running;
  };
  const Case cases[] = {
      {"stopped", false, false, -1, STOPPED, 0, 0},
      {"start-pending", false, false, -1, PENDING, -1, 0},
      {"stop-pending", false, false, -1, STOP_PENDING, 0, 0},
      {"running", false, false, -1, RUNNING, 0, -1},
      {"no manager", true, false, -1, RUNNING, 0, 0},
      {"no service", false, true, -1, RUNNING, 0, 0},
      {"query fails", false, false, 0, RUNNING, 0, 0},
  };
  for (const Case& c : cases) {
    SetUp();
    g.manager_fails = c.manager_fails;
    g.service_missing = c.service_missing;
    g.queries = {{c.state, 0, 0}};
    g.query_fails_at = c.query_fails_at;
    EXPECT_EQ(service_is_start_pending(), c.start_pending) << c.name;
    g.queries_made = 0;
    EXPECT_EQ(service_is_running(), c.running) << c.name;
    EXPECT_EQ(g.open_handles, 0) << c.name;
  }
}

}  // namespace
