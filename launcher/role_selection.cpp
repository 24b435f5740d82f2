// Which role this process takes. The service control manager's own start finds the
// service start-pending; any other start makes sure the service runs, its registration is
// sound, and is the monitor.
#include "launcher/launcher.h"
#include "launcher/service_client.h"

ProcessRole select_role() {
  int result = install_service();
  if (result == 0) result = start_service_and_wait();
  if (result == 0) return ROLE_MONITOR;
  if (service_is_start_pending() != 0) return ROLE_SERVICE;
  // Before any start, so the manager never starts the service through a flawed registration.
  repair_service_registration();
  if (service_is_running() == 0) start_service_and_wait();
  return ROLE_MONITOR;
}
