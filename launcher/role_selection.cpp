// Which role this process takes. The service control manager's own start finds the
// service start-pending; any other start makes sure the service is installed and runs,
// and is the monitor.
#include "control/service_client.h"
#include "launcher/launcher.h"

ProcessRole select_role(int* install_refused) {
  *install_refused = 0;
  int result = install_service();
  if (result == 0) result = start_service_and_wait();
  if (result == 0) return ROLE_MONITOR;
  if (service_is_start_pending() != 0) return ROLE_SERVICE;
  // Approval is asked for once the window is open, so that the elevated copy finds it.
  if (result == kRefusedForRights) {
    *install_refused = 1;
    return ROLE_MONITOR;
  }
  // A start refused for want of the right is left to the window's link and buttons.
  if (service_is_running() == 0) start_service_and_wait();
  return ROLE_MONITOR;
}
