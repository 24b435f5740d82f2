// The scripted manager and file system of fake_scm.h.
#include "tests/host/control/fake_scm.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "control/elevation.h"
#include "control/installed_copy.h"
#include "control/registration.h"
#include "control/service_client.h"

FakeScm g_scm;

namespace {

int g_manager_tag;
ScmHandle const kManager = &g_manager_tag;
// A service handle is the rights it was opened with, so calls can check them as Windows does.
uint32_t g_service_handles[64];
int g_next_service_handle = 0;

ScmHandle open_handle(ScmHandle tag) {
  ++g_scm.open_handles;
  return tag;
}

ScmHandle open_service_handle(uint32_t access) {
  uint32_t* handle = &g_service_handles[g_next_service_handle++ % 64];
  *handle = access;
  return open_handle(handle);
}

bool granted(ScmHandle service, uint32_t access) { return (*static_cast<uint32_t*>(service) & access) == access; }

// An open file is its path; the empty path is this executable's own image.
std::wstring g_file_handles[64];
int g_next_file_handle = 0;

FileHandle open_file(const std::wstring& path) {
  std::wstring* file = &g_file_handles[g_next_file_handle++ % 64];
  *file = path;
  ++g_scm.open_files;
  return file;
}

std::string& contents_of(FileHandle file) {
  const std::wstring& path = *static_cast<std::wstring*>(file);
  return path.empty() ? g_scm.image : g_scm.files[path];
}

ScmHandle refuse(int* failure, int why) {
  if (failure != nullptr) *failure = why;
  return nullptr;
}

}  // namespace

void fake_scm_reset() {
  g_scm = FakeScm();
  g_pinned_image = PinnedImage();
}

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
  return open_service_handle(access);
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
  g_scm.registration_recorded = false;
  return open_service_handle(kServiceQueryStatus);
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

int scm_set_failure_actions(ScmHandle service, const uint32_t* restart_delays_ms, uint32_t count,
                            uint32_t reset_seconds) {
  // Windows refuses a restart action on a handle without the start right.
  if (!granted(service, kServiceChangeConfig | kServiceStart)) return -1;
  ++g_scm.failure_actions_set;
  g_scm.failure_actions = true;
  g_scm.restart_delays.assign(restart_delays_ms, restart_delays_ms + count);
  g_scm.reset_seconds = reset_seconds;
  return 0;
}

int scm_set_service_security(ScmHandle) {
  ++g_scm.security_writes;
  if (g_scm.set_security_fails) return -1;
  g_scm.security_set = true;
  return 0;
}

bool scm_registration_recorded() { return g_scm.registration_recorded; }

int scm_record_registration() {
  if (g_scm.record_fails) return -1;
  g_scm.registration_recorded = true;
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
  const bool has_process = g_scm.state == RUNNING || g_scm.state == PENDING;
  *out = ServiceProgress{g_scm.state, 0, 0, has_process ? g_scm.process_id : 0};
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

FileHandle open_own_image() {
  if (g_scm.pin_fails) return nullptr;
  return open_file(L"");
}

FileHandle open_file_to_read(const wchar_t* path) {
  if (g_scm.files.count(path) == 0) return nullptr;
  return open_file(path);
}

FileHandle create_file_to_write(const wchar_t* path) {
  g_scm.file_ops.push_back(L"write " + std::wstring(path));
  if (g_scm.copy_fails) return nullptr;
  g_scm.files[path].clear();
  return open_file(path);
}

int32_t read_file_at(FileHandle file, uint64_t offset, uint8_t* buffer, uint32_t capacity) {
  const std::string& contents = contents_of(file);
  if (offset >= contents.size()) return 0;
  const size_t length = std::min<size_t>(capacity, contents.size() - offset);
  std::copy(contents.begin() + offset, contents.begin() + offset + length, buffer);
  return static_cast<int32_t>(length);
}

int write_file(FileHandle file, const uint8_t* bytes, uint32_t length) {
  contents_of(file).append(reinterpret_cast<const char*>(bytes), length);
  return 0;
}

void close_file(FileHandle file) {
  EXPECT_NE(file, nullptr);
  --g_scm.open_files;
}

int read_file_version(const wchar_t* path, uint64_t* version) {
  if (path != nullptr && g_scm.files.count(path) == 0) return -1;
  *version = path == nullptr ? g_scm.own_version : g_scm.installed_version;
  return *version != 0 ? 0 : -1;
}

int move_file_replacing(const wchar_t* from, const wchar_t* to) {
  g_scm.file_ops.push_back(L"move " + std::wstring(from) + L" > " + to);
  if (g_scm.move_fails || g_scm.files.count(from) == 0) return -1;
  g_scm.files[to] = g_scm.files[from] + (g_scm.moves_corrupt ? "!" : "");
  g_scm.files.erase(from);
  return 0;
}

void delete_file(const wchar_t* path) {
  if (g_scm.files.erase(path) > 0) g_scm.file_ops.push_back(L"delete " + std::wstring(path));
}

int make_start_menu_shortcut(const wchar_t* target, const wchar_t*) {
  g_scm.file_ops.push_back(L"shortcut " + std::wstring(target));
  return 0;
}

int make_startup_shortcut(const wchar_t* target, const wchar_t*) {
  g_scm.file_ops.push_back(L"startup " + std::wstring(target));
  return 0;
}

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

int run_own_copy_elevated(void*, uint32_t) { return elevate(g_scm.elevated_copy); }

int stop_service_elevated(void*) {
  return elevate([] { stop_service_and_wait(); });
}

uint32_t tick_count() { return g_scm.now; }

void pause_ms(uint32_t ms) {
  g_scm.pauses.push_back(ms);
  g_scm.now += ms;
}
