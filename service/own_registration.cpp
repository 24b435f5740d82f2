// The service's care of its own registration, run by the service itself (LocalSystem)
// before it reports running, whoever installed it.
#include "control/installed_copy.h"
#include "control/registration.h"
#include "control/scm.h"
#include "service/service.h"

namespace {

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
