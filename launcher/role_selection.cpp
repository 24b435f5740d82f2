// Which role this process takes, and what a user's start does before its window. The
// dispatcher alone tells the manager's own start from a user's; a user's start makes sure
// the service's copy is installed, current and running, and leaves the window to it.
#include "control/installed_copy.h"
#include "control/installer.h"
#include "control/service_client.h"
#include "launcher/launcher.h"
#include "service/service.h"

ProcessRole select_role(uint32_t own_process_id) {
  if (!may_be_starting_service(own_process_id)) return ROLE_USER_START;
  const int dispatched = run_service_dispatcher();
  if (dispatched == kDispatcherReturned) return ROLE_SERVICE_ENDED;
  return dispatched == kDispatcherRefusedUserStart ? ROLE_USER_START : ROLE_NO_DISPATCHER;
}

UserStart start_as_user(bool window_open, bool into_notification_area) {
  StartFacts facts;
  facts.runs_installed_copy = runs_installed_copy();
  facts.service = find_service();
  facts.version = facts.runs_installed_copy ? kCopySame : compare_with_installed_copy();
  facts.window_open = window_open;
  // Asked only where it matters, so a start with nothing to install asks for no more than
  // a user's rights.
  const bool newer = !facts.runs_installed_copy && facts.service == kServiceFound && facts.version == kCopyNewer;
  facts.may_install = (facts.service == kServiceMissing || newer) && may_install_service();
  const StartPlan plan = plan_user_start(&facts);
  UserStart start = {plan.then, plan.ask_approval, true};
  if (plan.install) {
    const int installed = install_service();
    if (installed == 0) {
      start_service_and_wait();
    } else {
      // Nothing to hand over to: the window opens here, and asks when it was refused.
      start.done = false;
      if (start.then == kThenHandOver) start.then = kThenOpenWindow;
      start.ask_approval = installed == kRefusedForRights && start.then == kThenOpenWindow;
    }
  }
  if (plan.replace && replace_installed_copy() != 0) start.done = false;
  // A start refused for want of the right is left to the window's link and buttons.
  if (plan.start && !into_notification_area && !service_is_running()) start_service_and_wait();
  return start;
}

bool starts_in_notification_area(bool show_command_given, int32_t show_command) {
  if (!show_command_given) return false;
  return show_command == kShowMinimized || show_command == kShowMinimize || show_command == kShowMinNoActive ||
         show_command == kShowForceMinimize;
}
