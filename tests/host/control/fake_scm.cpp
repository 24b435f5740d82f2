// The scripted manager and file system of fake_scm.h.
#include "tests/host/control/fake_scm.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "control/elevation.h"
#include "control/registration.h"
#include "control/service_client.h"

FakeScm g_scm;

namespace {

int g_handle_tags[3];
ScmHandle const kManager = &g_handle_tags[0];
ScmHandle const kService = &g_handle_tags[1];

ScmHandle open_handle(ScmHandle tag) {
  ++g_scm.open_handles;
  return tag;
}

ScmHandle refuse(int* failure, int why) {
  if (failure != nullptr) *failure = why;
  return nullptr;
}

}  // namespace

void fake_scm_reset() { g_scm = FakeScm(); }

uint32_t manager_rights(Account account) {
  return account == ELEVATED_ADMIN || account == LOCAL_SYSTEM ? kManagerAllAccess : kManagerUserRights;
}

uint32_t service_rights(Account account) {
  const uint32_t system = g_scm.security_set ? kSystemServiceRights : kDefaultSystemRights;
  const uint32_t interactive = g_scm.security_set ? kInteractiveServiceRights : kDefaultInteractiveRights;
  switch (account) {
    case LOCAL_SYSTEM:
      return system | kOwnerRights;  // the service object is SYSTEM's own
    case ELEVATED_ADMIN:
      return kServiceAllAccess;
    default:
      return interactive;
  }
}

ScmHandle scm_open_manager(uint32_t access, int* failure) {
  g_scm.manager_access.push_back(access);
  if (g_scm.account != LOCAL_SYSTEM) g_scm.user_requests.push_back({0, access});
  if (g_scm.manager_fails) return refuse(failure, kScmFailed);
  if ((access & ~manager_rights(g_scm.account)) != 0) {
    g_scm.refused_access.push_back(access);
    return refuse(failure, kScmDenied);
  }
  return open_handle(kManager);
}

ScmHandle scm_open_service(ScmHandle manager, uint32_t access, int* failure) {
  EXPECT_EQ(manager, kManager);
  g_scm.service_access.push_back(access);
  if (g_scm.account != LOCAL_SYSTEM) g_scm.user_requests.push_back({1, access});
  if (!g_scm.exists) return refuse(failure, kScmNoService);
  if ((access & ~service_rights(g_scm.account)) != 0) {
    g_scm.refused_access.push_back(access);
    return refuse(failure, kScmDenied);
  }
  return open_handle(kService);
}

ScmHandle scm_create_service(ScmHandle manager, const wchar_t* command_line) {
  EXPECT_EQ(manager, kManager);
  g_scm.registered = command_line;
  if (g_scm.create_fails) return nullptr;
  g_scm.created = true;
  g_scm.exists = true;
  g_scm.state = STOPPED;
  g_scm.security_set = false;
  g_scm.failure_actions = false;
  return open_handle(kService);
}

void scm_close(ScmHandle handle) {
  EXPECT_NE(handle, nullptr);
  --g_scm.open_handles;
}

int scm_read_command_line(ScmHandle, wchar_t* buffer, uint32_t capacity) {
  if (g_scm.registered.empty() || g_scm.registered.size() + 1 > capacity) return -1;
  std::copy(g_scm.registered.begin(), g_scm.registered.end(), buffer);
  buffer[g_scm.registered.size()] = L'\0';
  return 0;
}

int scm_change_command_line(ScmHandle, const wchar_t* command_line) {
  g_scm.changed_command_line = command_line;
  if (g_scm.change_fails) return -1;
  g_scm.registered = command_line;
  return 0;
}

int scm_has_failure_actions(ScmHandle) { return g_scm.failure_actions ? -1 : 0; }

int scm_set_failure_actions(ScmHandle) {
  ++g_scm.failure_actions_set;
  g_scm.failure_actions = true;
  return 0;
}

int scm_set_service_security(ScmHandle) {
  ++g_scm.security_writes;
  if (g_scm.set_security_fails) return -1;
  g_scm.security_set = true;
  return 0;
}

int scm_query(ScmHandle, ServiceProgress* out) {
  const int i = g_scm.queries_made++;
  g_scm.now += g_scm.query_cost_ms;
  if (i == g_scm.query_fails_at) return -1;
  if (!g_scm.queries.empty()) {
    *out = g_scm.queries[std::min<size_t>(i, g_scm.queries.size() - 1)];
    return 0;
  }
  *out = ServiceProgress{g_scm.state, 0, 0, g_scm.state == RUNNING ? g_scm.process_id : 0};
  return 0;
}

int scm_start(ScmHandle) {
  ++g_scm.starts;
  if (g_scm.start_fails) return kScmFailed;
  if (!g_scm.queries.empty()) return 0;
  if (g_scm.state != STOPPED) return kScmFailed;
  // The manager launches a new service process; it reports running after its start-up.
  g_scm.state = PENDING;
  g_scm.process_id = g_scm.next_process_id++;
  if (g_scm.on_service_start) {
    const Account caller = g_scm.account;
    g_scm.account = LOCAL_SYSTEM;
    g_scm.on_service_start();
    g_scm.account = caller;
  }
  g_scm.state = RUNNING;
  return 0;
}

int scm_send_stop(ScmHandle, ServiceProgress* out) {
  ++g_scm.stops_sent;
  if (g_scm.stop_fails) return -1;
  if (g_scm.queries.empty()) {
    g_scm.state = STOPPED;
    g_scm.process_id = 0;
    *out = ServiceProgress{STOPPED, 0, 0, 0};
    return 0;
  }
  *out = g_scm.stop_reply;
  return 0;
}

uint32_t own_executable_path(wchar_t* buffer, uint32_t capacity) {
  // As the platform does: a path that does not fit is cut and the capacity returned.
  const uint32_t length = static_cast<uint32_t>(g_scm.path.size());
  const uint32_t copied = std::min(length, capacity - 1);
  std::copy(g_scm.path.begin(), g_scm.path.begin() + copied, buffer);
  buffer[copied] = L'\0';
  return length < capacity ? length : capacity;
}

uint32_t program_files_folder(wchar_t* buffer, uint32_t capacity) {
  const uint32_t length = static_cast<uint32_t>(g_scm.program_files.size());
  if (length == 0 || length + 1 > capacity) return 0;
  std::copy(g_scm.program_files.begin(), g_scm.program_files.end(), buffer);
  buffer[length] = L'\0';
  return length;
}

void make_folder(const wchar_t* path) { g_scm.file_ops.push_back(L"mkdir " + std::wstring(path)); }

int copy_file(const wchar_t* from, const wchar_t* to) {
  g_scm.file_ops.push_back(L"copy " + std::wstring(from) + L" > " + to);
  return g_scm.copy_fails ? -1 : 0;
}

void remove_download_mark(const wchar_t* path) { g_scm.file_ops.push_back(L"unmark " + std::wstring(path)); }

int move_file_replacing(const wchar_t* from, const wchar_t* to) {
  g_scm.file_ops.push_back(L"move " + std::wstring(from) + L" > " + to);
  return g_scm.move_fails ? -1 : 0;
}

void delete_file(const wchar_t* path) { g_scm.file_ops.push_back(L"delete " + std::wstring(path)); }

namespace {

// Windows' consent prompt, then the approved program as an elevated administrator.
int elevate(const std::function<void()>& program) {
  ++g_scm.elevation_requests;
  if (g_scm.user_declines) return -1;
  const Account caller = g_scm.account;
  g_scm.account = ELEVATED_ADMIN;
  if (program) program();
  g_scm.account = caller;
  return 0;
}

}  // namespace

int run_own_copy_elevated(void*) { return elevate(g_scm.elevated_copy); }

int stop_service_elevated(void*) {
  return elevate([] { stop_service_and_wait(); });
}

uint32_t tick_count() { return g_scm.now; }

void pause_ms(uint32_t ms) {
  g_scm.pauses.push_back(ms);
  g_scm.now += ms;
}
