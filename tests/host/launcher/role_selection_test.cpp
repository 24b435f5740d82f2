// The entry's choice of role over a scripted service control client.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/service_client.h"
#include "launcher/launcher.h"

namespace {

struct Script {
  int install;
  std::vector<int> starts;  // results of successive start calls
  int start_pending;
  int running;
};

Script g_script;
std::vector<std::string> g_calls;
size_t g_start_calls;

}  // namespace

int install_service() {
  g_calls.push_back("install");
  return g_script.install;
}
int start_service_and_wait() {
  g_calls.push_back("start");
  const size_t i = g_start_calls++;
  return i < g_script.starts.size() ? g_script.starts[i] : -1;
}
int stop_service_and_wait() {
  g_calls.push_back("stop");
  return 0;
}
int service_is_start_pending() {
  g_calls.push_back("pending?");
  return g_script.start_pending;
}
int service_is_running() {
  g_calls.push_back("running?");
  return g_script.running;
}

namespace {

TEST(RoleSelectionTest, RoleFollowsTheServiceState) {
  struct Case {
    const char* name;
    Script script;
    ProcessRole role;
    std::vector<std::string> calls;
    int install_refused;
  };
  const Case cases[] = {
      {"first start creates and starts the service", {0, {0}, 0, 0}, ROLE_MONITOR,
       {"install", "start"}, 0},
      {"started by the manager", {-1, {}, -1, 0}, ROLE_SERVICE, {"install", "pending?"}, 0},
      {"user start while start-pending takes the service role", {-1, {}, -1, -1},
       ROLE_SERVICE, {"install", "pending?"}, 0},
      {"installed but stopped: started once", {-1, {-1}, 0, 0}, ROLE_MONITOR,
       {"install", "pending?", "running?", "start"}, 0},
      {"already running: no start", {-1, {}, 0, -1}, ROLE_MONITOR, {"install", "pending?", "running?"}, 0},
      {"created but the start failed: tried a second time", {0, {-1, -1}, 0, 0}, ROLE_MONITOR,
       {"install", "start", "pending?", "running?", "start"}, 0},
      {"missing, and this account may not install it: the window asks", {kRefusedForRights, {}, 0, 0},
       ROLE_MONITOR, {"install", "pending?"}, 1},
      {"no right to start it: tried once, left to the window", {-1, {kRefusedForRights}, 0, 0},
       ROLE_MONITOR, {"install", "pending?", "running?", "start"}, 0},
  };
  for (const Case& c : cases) {
    g_script = c.script;
    g_calls.clear();
    g_start_calls = 0;
    int install_refused = -7;
    EXPECT_EQ(select_role(&install_refused), c.role) << c.name;
    EXPECT_EQ(g_calls, c.calls) << c.name;
    EXPECT_EQ(install_refused, c.install_refused) << c.name;
  }
}

}  // namespace
