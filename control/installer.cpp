// The installer's plan: what a user's start does, installing the service from the
// installed copy, and replacing an older copy. It calls down into the installed copy's
// files and the service manager's side, which never call it.
#include "control/installer.h"

#include "control/installed_copy.h"
#include "control/registration.h"
#include "control/scm.h"
#include "control/service_client.h"

int install_service() {
  wchar_t own_path[kExecutablePathCapacity];
  const uint32_t length = own_executable_path(own_path, kExecutablePathCapacity);
  // A path that filled the buffer was cut short; copying it would copy the wrong file.
  if (length == 0 || length >= kExecutablePathCapacity) return -1;
  // Only "no such service" leads to an install.
  if (find_service() != kServiceMissing) return -1;
  // Asked for before any file is copied, so that an account that may not install changes
  // nothing and is asked for an approval.
  if (!may_install_service()) return kRefusedForRights;
  InstallPaths paths;
  wchar_t command_line[kCommandLineCapacity];
  if (locate_installed_copy(&paths) != 0 ||
      build_service_command_line(paths.target, command_line, kCommandLineCapacity) != 0) {
    return -1;
  }
  const bool copied = !same_path(own_path, paths.target);
  // The placed file stays open until it is registered, so nobody replaces it meanwhile.
  FileHolder placed;
  if (copied && place_installed_copy(&paths, &placed) != 0) return -1;
  const int created = create_service(command_line);
  if (created != 0) return created;
  if (copied) add_start_menu_shortcut();
  if (copied) add_startup_shortcut();
  return 0;
}

StartPlan plan_user_start(const StartFacts* facts) {
  StartPlan plan = {false, false, false, false, kThenOpenWindow};
  const bool missing = facts->service == kServiceMissing;
  if (facts->runs_installed_copy) {
    // The window it opens is the trusted one; a second one is left to the window's own
    // rule of one per user.
    plan.install = missing && facts->may_install;
    plan.ask_approval = missing && !facts->may_install;
    plan.start = !missing;
    return plan;
  }
  // The elevated copy an approval started, or a second start beside an open window: it
  // does what it may and brings that window forward. A window of its own would run
  // elevated, or from the wrong file.
  const bool newer = facts->service == kServiceFound && facts->version == kCopyNewer;
  if (facts->window_open) {
    plan.install = missing && facts->may_install;
    plan.replace = newer && facts->may_install;
    plan.start = !missing && !newer;
    plan.then = kThenFrontAndExit;
    return plan;
  }
  if (missing || newer) {
    plan.install = missing && facts->may_install;
    plan.replace = newer && facts->may_install;
    plan.ask_approval = !facts->may_install;
    plan.then = facts->may_install ? kThenHandOver : kThenOpenWindow;
    return plan;
  }
  // Nothing to install: the installed copy starts the service itself. A copy that cannot
  // be read cannot be handed over to; this one opens its window, as before there was one.
  if (facts->version == kInstalledUnreadable) {
    plan.start = true;
    return plan;
  }
  plan.then = kThenHandOver;
  return plan;
}

int replace_installed_copy() {
  InstallPaths paths;
  if (locate_installed_copy(&paths) != 0) return -1;
  // A service that would not stop still lets its file be set aside.
  stop_service_and_wait();
  int result = -1;
  {
    FileHolder placed;
    result = place_installed_copy(&paths, &placed);
  }
  start_service_and_wait();
  // Refused while a window still runs the old copy; the service removes it at a later start.
  delete_file(paths.aside);
  if (result == 0) add_start_menu_shortcut();
  if (result == 0) add_startup_shortcut();
  return result;
}
