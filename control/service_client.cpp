// The service control client: install, start and wait, stop and wait, the state queries,
// what the window shows, and the service's care of its own registration. Each operation
// closes everything it opened before it returns.
#include "control/service_client.h"

#include "control/installed_copy.h"
#include "control/registration.h"
#include "control/scm.h"
#include "shared/service_facts.h"
#include "shared/wide_text.h"

namespace {

const uint32_t kStartPauseDivisor = 10;
const uint32_t kStartPauseMinMs = 1000;
const uint32_t kStartPauseMaxMs = 10000;
const uint32_t kStopPauseDivisor = 10;
const uint32_t kStopPauseMinMs = 100;
const uint32_t kStopPauseMaxMs = 1000;

// The service with the given access, and the manager it came from; the service's holder
// stays empty when either cannot be opened, *failure saying why.
void open_service_and_manager(uint32_t access, ScmHolder* manager, ScmHolder* service, int* failure) {
  manager->handle = scm_open_manager(kManagerConnect, failure);
  if (manager->handle != nullptr) service->handle = scm_open_service(manager->handle, access, failure);
}

// The result of an action whose service could not be opened.
int refused_action(int failure) { return failure == kScmDenied ? kRefusedForRights : -1; }

// Whether the service opens with these rights; only a refusal says no, since only a
// refusal is worth an administrator's approval.
bool may_open_service(ScmHandle manager, uint32_t access) {
  int failure = 0;
  ScmHolder service(scm_open_service(manager, access, &failure));
  return service.handle != nullptr || failure != kScmDenied;
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

// Creates the service from the installed copy; 0, kRefusedForRights or -1.
int create_service_from_copy(const wchar_t* own_path) {
  int failure = 0;
  // Asked for only now, so that an account that may not install asks for nothing more.
  ScmHolder manager(scm_open_manager(kManagerConnect | kManagerCreateService, &failure));
  if (manager.handle == nullptr) return refused_action(failure);
  InstallPaths paths;
  wchar_t command_line[kCommandLineCapacity];
  FileHolder placed;
  if (locate_installed_copy(&paths) != 0 ||
      build_service_command_line(paths.target, command_line, kCommandLineCapacity) != 0) {
    return -1;
  }
  const bool copied = !same_path(own_path, paths.target);
  // The placed file stays open until it is registered, so nobody replaces it meanwhile.
  if (copied && place_installed_copy(&paths, &placed) != 0) return -1;
  ScmHolder created(scm_create_service(manager.handle, command_line));
  if (created.handle == nullptr) return -1;
  if (copied) add_start_menu_shortcut();
  if (copied) add_startup_shortcut();
  return 0;
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
  if (!command_line_needs_quotes(registered, own_path)) return 0;
  if (build_service_command_line(registered, quoted, kCommandLineCapacity) != 0) return -1;
  return scm_change_command_line(service, quoted);
}

// The access list and the failure actions, as the first run after an install sets them.
int set_up_registration(ScmHandle manager) {
  int failure = 0;
  int result = 0;
  {
    // The service object belongs to SYSTEM, so the service may always write its access
    // list; the list it writes then lets it change its own configuration.
    ScmHolder service(scm_open_service(manager, kServiceWriteDac, &failure));
    if (service.handle == nullptr || scm_set_service_security(service.handle) != 0) result = -1;
  }
  // A restart action needs the start right on the handle that registers it.
  ScmHolder service(scm_open_service(manager, kServiceChangeConfig | kServiceStart, &failure));
  if (service.handle == nullptr ||
      scm_set_failure_actions(service.handle, kRestartDelaysMs, kRestartDelayCount, kFailureCountResetSeconds) !=
          0) {
    result = -1;
  }
  return result;
}

}  // namespace

int build_service_command_line(const wchar_t* path, wchar_t* out, uint32_t capacity) {
  const uint32_t length = text_length(path);
  bool has_space = false;
  for (uint32_t i = 0; i < length; ++i) has_space = has_space || path[i] == L' ';
  const uint32_t quotes = has_space ? 2 : 0;
  if (length == 0 || length + quotes + 1 > capacity) return -1;
  uint32_t at = 0;
  if (has_space) out[at++] = L'"';
  at += copy_text(out + at, capacity - at, path);
  if (has_space) copy_text(out + at, capacity - at, L"\"");
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

int32_t find_service() {
  int failure = 0;
  ScmHolder manager(scm_open_manager(kManagerConnect, &failure));
  if (manager.handle == nullptr) return kServiceNotAsked;
  ScmHolder probe(scm_open_service(manager.handle, kServiceQueryStatus, &failure));
  if (probe.handle != nullptr) return kServiceFound;
  // A service this account may not look at exists all the same.
  if (failure == kScmDenied) return kServiceProbeRefused;
  return failure == kScmNoService ? kServiceMissing : kServiceNotAsked;
}

int install_service() {
  wchar_t own_path[kExecutablePathCapacity];
  const uint32_t length = own_executable_path(own_path, kExecutablePathCapacity);
  // A path that filled the buffer was cut short; copying it would copy the wrong file.
  if (length == 0 || length >= kExecutablePathCapacity) return -1;
  // Only "no such service" leads to an install.
  if (find_service() != kServiceMissing) return -1;
  return create_service_from_copy(own_path);
}

bool may_install_service() {
  int failure = 0;
  ScmHolder creator(scm_open_manager(kManagerConnect | kManagerCreateService, &failure));
  return creator.handle != nullptr || failure != kScmDenied;
}

int start_service_and_wait() {
  ScmHolder manager;
  ScmHolder service;
  int failure = 0;
  open_service_and_manager(kServiceStart | kServiceQueryStatus, &manager, &service, &failure);
  if (service.handle == nullptr) return refused_action(failure);
  ServiceProgress progress;
  if (scm_query(service.handle, &progress) != 0 || progress.state == kServiceRunning) return -1;
  const int started = scm_start(service.handle);
  if (started == kScmDenied) return kRefusedForRights;
  if (started != 0 || scm_query(service.handle, &progress) != 0) return -1;
  uint32_t clock_start = tick_count();
  uint32_t last_checkpoint = progress.checkpoint;
  while (progress.state == kServiceStartPending) {
    pause_ms(start_wait_pause_ms(progress.wait_hint));
    if (scm_query(service.handle, &progress) != 0) break;
    if (progress.checkpoint > last_checkpoint) {
      clock_start = tick_count();
      last_checkpoint = progress.checkpoint;
    } else if (tick_count() - clock_start > progress.wait_hint) {
      break;
    }
  }
  return 0;
}

int stop_service_and_wait() {
  const uint32_t begin = tick_count();
  ScmHolder manager;
  ScmHolder service;
  int failure = 0;
  open_service_and_manager(kServiceStop | kServiceQueryStatus, &manager, &service, &failure);
  if (service.handle == nullptr) return refused_action(failure);
  ServiceProgress progress;
  if (scm_query(service.handle, &progress) != 0) return -1;
  if (progress.state == kServiceStopped || wait_for_pending_stop(service.handle, &progress, begin) != 0) return 0;
  if (scm_send_stop(service.handle, &progress) != 0) return -1;
  while (progress.state != kServiceStopped) {
    pause_ms(stop_wait_pause_ms(progress.wait_hint, tick_count() - begin));
    if (scm_query(service.handle, &progress) != 0) break;
    if (tick_count() - begin >= kStopWaitCapMs) break;
  }
  return 0;
}

bool service_is_running() {
  ScmHolder manager;
  ScmHolder service;
  int failure = 0;
  open_service_and_manager(kServiceQueryStatus, &manager, &service, &failure);
  ServiceProgress progress;
  return service.handle != nullptr && scm_query(service.handle, &progress) == 0 &&
         progress.state == kServiceRunning;
}

bool may_be_starting_service(uint32_t own_process_id) {
  ScmHolder manager;
  ScmHolder service;
  int failure = 0;
  open_service_and_manager(kServiceQueryStatus, &manager, &service, &failure);
  if (service.handle == nullptr) return failure != kScmNoService;
  ServiceProgress progress;
  if (scm_query(service.handle, &progress) != 0) return true;
  if (progress.state != kServiceStartPending) return false;
  return progress.process_id == 0 || progress.process_id == own_process_id;
}

void look_at_service(ServiceView* out, int rights) {
  out->presence = kServiceUnknown;
  out->state = 0;
  out->process_id = 0;
  out->may_act = true;
  out->exit_code = 0;
  int failure = 0;
  ScmHolder manager(scm_open_manager(kManagerConnect, &failure));
  if (manager.handle == nullptr) return;
  ScmHolder service(scm_open_service(manager.handle, kServiceQueryStatus, &failure));
  ServiceProgress progress;
  if (service.handle == nullptr) {
    if (failure == kScmNoService) {
      out->presence = kServiceNotInstalled;
      if (rights) out->may_act = may_install_service();
    }
  } else if (scm_query(service.handle, &progress) == 0) {
    out->presence = kServiceInstalled;
    out->state = progress.state;
    out->process_id = progress.process_id;
    out->exit_code = progress.exit_code;
    if (rights) {
      const uint32_t action = progress.state == kServiceRunning ? kServiceStop : kServiceStart;
      out->may_act = may_open_service(manager.handle, action);
    }
  }
}

int secure_service_registration() {
  int failure = 0;
  ScmHolder manager(scm_open_manager(kManagerConnect, &failure));
  if (manager.handle == nullptr) return -1;
  int result = 0;
  // Once per install: an administrator who restricts the service afterwards is not
  // overruled at its next start. A step that failed leaves it unrecorded, to try again.
  if (!scm_registration_recorded()) {
    if (set_up_registration(manager.handle) != 0 || scm_record_registration() != 0) result = -1;
  }
  ScmHolder service(scm_open_service(manager.handle, kServiceQueryConfig | kServiceChangeConfig, &failure));
  if (service.handle == nullptr || quote_own_command_line(service.handle) != 0) result = -1;
  // A copy a replacement set aside while a window still ran it.
  InstallPaths paths;
  if (locate_installed_copy(&paths) == 0) delete_file(paths.aside);
  return result;
}
