// The service control client: install, start and wait, stop and wait, the state queries,
// what the window shows, and the service's care of its own registration. Each operation
// closes everything it opened before it returns.
#include "control/service_client.h"

#include "control/registration.h"
#include "control/scm.h"
#include "shared/service_facts.h"

namespace {

const uint32_t kStartPauseDivisor = 10;
const uint32_t kStartPauseMinMs = 1000;
const uint32_t kStartPauseMaxMs = 10000;
const uint32_t kStopPauseDivisor = 10;
const uint32_t kStopPauseMinMs = 100;
const uint32_t kStopPauseMaxMs = 1000;

// The service with the given access and the manager it came from; null, with nothing
// left open, when either cannot be opened, *failure saying why.
ScmHandle open_service_and_manager(uint32_t access, ScmHandle* manager, int* failure) {
  *manager = scm_open_manager(kManagerConnect, failure);
  if (*manager == nullptr) return nullptr;
  ScmHandle service = scm_open_service(*manager, access, failure);
  if (service == nullptr) {
    scm_close(*manager);
    *manager = nullptr;
  }
  return service;
}

// The service opened for an action and its manager; null, with *refused the action's
// result (kRefusedForRights without the right, -1 otherwise), when either cannot be opened.
ScmHandle open_for_action(uint32_t access, ScmHandle* manager, int* refused) {
  int failure = 0;
  ScmHandle service = open_service_and_manager(access, manager, &failure);
  if (service == nullptr) *refused = failure == kScmDenied ? kRefusedForRights : -1;
  return service;
}

// -1 yes, 0 no or unknown.
int service_state_is(uint32_t wanted) {
  ScmHandle manager;
  int failure = 0;
  ScmHandle service = open_service_and_manager(kServiceQueryStatus, &manager, &failure);
  if (service == nullptr) return kNo;
  ServiceProgress progress;
  const int queried = scm_query(service, &progress);
  scm_close(service);
  scm_close(manager);
  return queried == 0 && progress.state == wanted ? kYes : kNo;
}

// -1 when the service opens with these rights, 0 when the manager refuses them, -1 when
// the answer is anything else: only a refusal is worth an administrator's approval.
int may_open_service(ScmHandle manager, uint32_t access) {
  int failure = 0;
  ScmHandle service = scm_open_service(manager, access, &failure);
  if (service != nullptr) scm_close(service);
  return service == nullptr && failure == kScmDenied ? kNo : kYes;
}

int may_create_service() {
  int failure = 0;
  ScmHandle creator = scm_open_manager(kManagerConnect | kManagerCreateService, &failure);
  if (creator != nullptr) scm_close(creator);
  return creator == nullptr && failure == kScmDenied ? kNo : kYes;
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
  if (copy_file(own_path, paths->staging) != 0) {
    delete_file(paths->staging);
    return -1;
  }
  remove_download_mark(paths->staging);
  if (move_file_replacing(paths->staging, paths->target) != 0) {
    delete_file(paths->staging);
    return -1;
  }
  return 0;
}

// Creates the service from the installed copy; 0, kRefusedForRights or -1.
int create_service_from_copy(const wchar_t* own_path) {
  int failure = 0;
  // Asked for only now, so that an account that may not install asks for nothing more.
  ScmHandle manager = scm_open_manager(kManagerConnect | kManagerCreateService, &failure);
  if (manager == nullptr) return failure == kScmDenied ? kRefusedForRights : -1;
  InstallPaths paths;
  wchar_t command_line[kCommandLineCapacity];
  ScmHandle created = nullptr;
  if (locate_installed_copy(&paths) == 0 && put_copy_in_place(own_path, &paths) == 0 &&
      build_service_command_line(paths.target, command_line, kCommandLineCapacity) == 0) {
    created = scm_create_service(manager, command_line);
  }
  if (created != nullptr) scm_close(created);
  scm_close(manager);
  return created != nullptr ? 0 : -1;
}

// Quotes the registered command line when it is this executable's path, unquoted with a
// space in it. 0 when nothing was left to correct.
int quote_own_command_line(ScmHandle service) {
  wchar_t own_path[kExecutablePathCapacity];
  const uint32_t length = own_executable_path(own_path, kExecutablePathCapacity);
  if (length == 0 || length >= kExecutablePathCapacity) return -1;
  wchar_t registered[kCommandLineCapacity];
  wchar_t quoted[kCommandLineCapacity];
  if (scm_read_command_line(service, registered, kCommandLineCapacity) != 0) return -1;
  if (command_line_needs_quotes(registered, own_path) != kYes) return 0;
  if (build_service_command_line(registered, quoted, kCommandLineCapacity) != 0) return -1;
  return scm_change_command_line(service, quoted);
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
  uint32_t pause = wait_hint / kStopPauseDivisor;
  if (pause < kStopPauseMinMs) pause = kStopPauseMinMs;
  if (pause > kStopPauseMaxMs) pause = kStopPauseMaxMs;
  return pause < remaining ? pause : remaining;
}

int install_service() {
  wchar_t own_path[kExecutablePathCapacity];
  const uint32_t length = own_executable_path(own_path, kExecutablePathCapacity);
  // A path that filled the buffer was cut short; copying it would copy the wrong file.
  if (length == 0 || length >= kExecutablePathCapacity) return -1;
  int failure = 0;
  ScmHandle manager = scm_open_manager(kManagerConnect, &failure);
  if (manager == nullptr) return -1;
  // The probe comes before any copy: the manager's own start of the service passes here
  // too. Only "no such service" leads to an install: a service this account may not see
  // exists all the same.
  ScmHandle probe = scm_open_service(manager, kServiceQueryStatus, &failure);
  if (probe != nullptr) scm_close(probe);
  scm_close(manager);
  if (probe != nullptr || failure != kScmNoService) return -1;
  return create_service_from_copy(own_path);
}

int start_service_and_wait() {
  ScmHandle manager;
  int result = -1;
  ScmHandle service = open_for_action(kServiceStart | kServiceQueryStatus, &manager, &result);
  if (service == nullptr) return result;
  ServiceProgress progress;
  if (scm_query(service, &progress) == 0 && progress.state != kServiceRunning) {
    const int started = scm_start(service);
    if (started == kScmDenied) result = kRefusedForRights;
    if (started == 0 && scm_query(service, &progress) == 0) result = 0;
  }
  if (result == 0) {
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

int stop_service_and_wait() {
  const uint32_t begin = tick_count();
  ScmHandle manager;
  int result = -1;
  ScmHandle service = open_for_action(kServiceStop | kServiceQueryStatus, &manager, &result);
  if (service == nullptr) return result;
  ServiceProgress progress;
  if (scm_query(service, &progress) == 0) {
    result = 0;
    if (progress.state != kServiceStopped && wait_for_pending_stop(service, &progress, begin) == 0) {
      if (scm_send_stop(service, &progress) != 0) {
        result = -1;
      } else {
        while (progress.state != kServiceStopped) {
          pause_ms(stop_wait_pause_ms(progress.wait_hint, tick_count() - begin));
          if (scm_query(service, &progress) != 0) break;
          if (tick_count() - begin >= kStopWaitCapMs) break;
        }
      }
    }
  }
  scm_close(service);
  scm_close(manager);
  return result;
}

int service_is_start_pending() { return service_state_is(kServiceStartPending); }

int service_is_running() { return service_state_is(kServiceRunning); }

void look_at_service(ServiceView* out, int rights) {
  out->presence = kServiceUnknown;
  out->state = 0;
  out->process_id = 0;
  out->may_act = kYes;
  int failure = 0;
  ScmHandle manager = scm_open_manager(kManagerConnect, &failure);
  if (manager == nullptr) return;
  ScmHandle service = scm_open_service(manager, kServiceQueryStatus, &failure);
  ServiceProgress progress;
  if (service == nullptr) {
    if (failure == kScmNoService) {
      out->presence = kServiceNotInstalled;
      if (rights) out->may_act = may_create_service();
    }
  } else if (scm_query(service, &progress) == 0) {
    out->presence = kServiceInstalled;
    out->state = progress.state;
    out->process_id = progress.process_id;
    if (rights) {
      const uint32_t action = progress.state == kServiceRunning ? kServiceStop : kServiceStart;
      out->may_act = may_open_service(manager, action);
    }
  }
  if (service != nullptr) scm_close(service);
  scm_close(manager);
}

int secure_service_registration() {
  int failure = 0;
  ScmHandle manager = scm_open_manager(kManagerConnect, &failure);
  if (manager == nullptr) return -1;
  int result = 0;
  // The service object belongs to SYSTEM, so the service may always rewrite its access
  // list; the list it writes then lets it change its own configuration.
  ScmHandle service = scm_open_service(manager, kServiceWriteDac, &failure);
  if (service == nullptr || scm_set_service_security(service) != 0) result = -1;
  if (service != nullptr) scm_close(service);
  // A restart action needs the start right on the handle that registers it.
  service = scm_open_service(manager, kServiceQueryConfig | kServiceChangeConfig | kServiceStart, &failure);
  if (service == nullptr) {
    result = -1;
  } else {
    if (scm_has_failure_actions(service) != kYes && scm_set_failure_actions(service) != 0) result = -1;
    if (quote_own_command_line(service) != 0) result = -1;
    scm_close(service);
  }
  scm_close(manager);
  return result;
}
