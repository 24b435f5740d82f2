// The service control client: install, start and wait, stop and wait, and the two state
// queries. Each operation closes everything it opened before it returns.
#include "launcher/launcher.h"
#include "launcher/scm.h"
#include "launcher/service_client.h"
#include "shared/service_facts.h"

namespace {

const uint32_t kStartPauseDivisor = 10;
const uint32_t kStartPauseMinMs = 1000;
const uint32_t kStartPauseMaxMs = 10000;

// The service with the given access and the manager it came from; null, with nothing
// left open, when either cannot be opened.
ScmHandle open_service_and_manager(uint32_t access, ScmHandle* manager) {
  *manager = scm_open_manager();
  if (*manager == nullptr) return nullptr;
  ScmHandle service = scm_open_service(*manager, access);
  if (service == nullptr) {
    scm_close(*manager);
    *manager = nullptr;
  }
  return service;
}

// -1 yes, 0 no or unknown.
int service_state_is(uint32_t wanted) {
  ScmHandle manager;
  ScmHandle service = open_service_and_manager(kScmAccessAll, &manager);
  if (service == nullptr) return kNo;
  ServiceProgress progress;
  const int queried = scm_query(service, &progress);
  scm_close(service);
  scm_close(manager);
  return queried == 0 && progress.state == wanted ? kYes : kNo;
}

// Polls until the service leaves STOP_PENDING or the cap has passed; 0 while it is
// still worth sending STOP, -1 when the stop wait is over.
int wait_for_pending_stop(ScmHandle service, ServiceProgress* progress, uint32_t begin) {
  while (progress->state == kServiceStopPending) {
    pause_ms(stop_wait_pause_ms(progress->wait_hint, tick_count() - begin));
    if (scm_query(service, progress) != 0) return -1;
    if (progress->state == kServiceStopped) return -1;
    if (tick_count() - begin >= kStopWaitCapMs) return -1;
  }
  return 0;
}

// The installed copy's paths below this machine's Program Files folder.
int locate_installed_copy(InstallPaths* paths) {
  wchar_t program_files[kExecutablePathCapacity];
  const uint32_t length = program_files_folder(program_files, kExecutablePathCapacity);
  if (length == 0 || length >= kExecutablePathCapacity) return -1;
  return find_install_paths(program_files, paths);
}

// Copies the executable to the installed copy's place unless it already runs from there.
// The copy is written beside the target and then moved over it, so the registered path
// never names a half-written file; the staging name inherits the folder's protection.
int put_copy_in_place(const wchar_t* own_path, const InstallPaths* paths) {
  if (same_path(own_path, paths->target) == kYes) return 0;
  make_folder(paths->folder);
  if (copy_file(own_path, paths->staging) != 0 ||
      move_file_replacing(paths->staging, paths->target) != 0) {
    delete_file(paths->staging);
    return -1;
  }
  return 0;
}

}  // namespace

int build_service_command_line(const wchar_t* path, wchar_t* out, uint32_t capacity) {
  uint32_t length = 0;
  int has_space = 0;
  while (path[length] != L'\0') {
    if (path[length] == L' ') has_space = 1;
    ++length;
  }
  const uint32_t quotes = has_space ? 2 : 0;
  if (length == 0 || length + quotes + 1 > capacity) return -1;
  uint32_t at = 0;
  if (has_space) out[at++] = L'"';
  for (uint32_t i = 0; i < length; ++i) out[at++] = path[i];
  if (has_space) out[at++] = L'"';
  out[at] = L'\0';
  return 0;
}

uint32_t start_wait_pause_ms(uint32_t wait_hint) {
  const uint32_t pause = wait_hint / kStartPauseDivisor;
  if (pause < kStartPauseMinMs) return kStartPauseMinMs;
  if (pause > kStartPauseMaxMs) return kStartPauseMaxMs;
  return pause;
}

uint32_t stop_wait_pause_ms(uint32_t wait_hint, uint32_t elapsed_ms) {
  if (elapsed_ms >= kStopWaitCapMs) return 0;
  const uint32_t remaining = kStopWaitCapMs - elapsed_ms;
  return wait_hint < remaining ? wait_hint : remaining;
}

int install_service() {
  wchar_t own_path[kExecutablePathCapacity];
  const uint32_t length = own_executable_path(own_path, kExecutablePathCapacity);
  // A path that filled the buffer was cut short; copying it would copy the wrong file.
  if (length == 0 || length >= kExecutablePathCapacity) return -1;
  ScmHandle manager = scm_open_manager();
  if (manager == nullptr) return -1;
  // The probe comes before any copy: the manager's own start of the service passes here too.
  ScmHandle probe = scm_open_service(manager, kScmAccessDelete);
  if (probe != nullptr) {
    // Already registered: left exactly as it is.
    scm_close(probe);
    scm_close(manager);
    return -1;
  }
  InstallPaths paths;
  wchar_t command_line[kCommandLineCapacity];
  ScmHandle created = nullptr;
  if (locate_installed_copy(&paths) == 0 && put_copy_in_place(own_path, &paths) == 0 &&
      build_service_command_line(paths.target, command_line, kCommandLineCapacity) == 0) {
    created = scm_create_service(manager, command_line);
  }
  if (created == nullptr) {
    scm_close(manager);
    return -1;
  }
  // Without them the service still works; the monitor's start-up puts them in place later.
  scm_set_failure_actions(created);
  scm_close(created);
  scm_close(manager);
  return 0;
}

int repair_service_registration() {
  wchar_t own_path[kExecutablePathCapacity];
  const uint32_t length = own_executable_path(own_path, kExecutablePathCapacity);
  if (length == 0 || length >= kExecutablePathCapacity) own_path[0] = L'\0';
  InstallPaths paths;
  if (locate_installed_copy(&paths) != 0) paths.target[0] = L'\0';
  ScmHandle manager;
  ScmHandle service = open_service_and_manager(kScmAccessRepair, &manager);
  if (service == nullptr) return -1;
  int result = 0;
  wchar_t registered[kCommandLineCapacity];
  wchar_t quoted[kCommandLineCapacity];
  if (scm_read_command_line(service, registered, kCommandLineCapacity) == 0 &&
      (command_line_needs_quotes(registered, own_path) == kYes ||
       command_line_needs_quotes(registered, paths.target) == kYes)) {
    if (build_service_command_line(registered, quoted, kCommandLineCapacity) != 0 ||
        scm_change_command_line(service, quoted) != 0) {
      result = -1;
    }
  }
  if (scm_has_failure_actions(service) != kYes && scm_set_failure_actions(service) != 0) {
    result = -1;
  }
  scm_close(service);
  scm_close(manager);
  return result;
}

int start_service_and_wait() {
  ScmHandle manager;
  ScmHandle service = open_service_and_manager(kScmAccessAll, &manager);
  if (service == nullptr) return -1;
  ServiceProgress progress;
  int result = -1;
  if (scm_query(service, &progress) == 0 && progress.state != kServiceRunning &&
      scm_start(service) == 0 && scm_query(service, &progress) == 0) {
    result = 0;
    uint32_t clock_start = tick_count();
    uint32_t last_checkpoint = progress.checkpoint;
    while (progress.state == kServiceStartPending) {
      pause_ms(start_wait_pause_ms(progress.wait_hint));
      if (scm_query(service, &progress) != 0) break;
      if (progress.checkpoint > last_checkpoint) {
        clock_start = tick_count();
        last_checkpoint = progress.checkpoint;
      } else if (tick_count() - clock_start > progress.wait_hint) {
        break;
      }
    }
  }
  scm_close(service);
  scm_close(manager);
  return result;
}

void stop_service_and_wait() {
  const uint32_t begin = tick_count();
  ScmHandle manager;
  ScmHandle service = open_service_and_manager(kScmAccessStop, &manager);
  if (service == nullptr) return;
  ServiceProgress progress;
  if (scm_query(service, &progress) == 0 && progress.state != kServiceStopped &&
      wait_for_pending_stop(service, &progress, begin) == 0 &&
      scm_send_stop(service, &progress) == 0 && progress.state != kServiceStopped) {
    for (;;) {
      pause_ms(stop_wait_pause_ms(progress.wait_hint, tick_count() - begin));
      if (scm_query(service, &progress) != 0) break;
      if (progress.state == kServiceStopped) break;
      if (tick_count() - begin >= kStopWaitCapMs) break;
    }
  }
  scm_close(service);
  scm_close(manager);
}

int service_is_start_pending() { return service_state_is(kServiceStartPending); }

int service_is_running() { return service_state_is(kServiceRunning); }
