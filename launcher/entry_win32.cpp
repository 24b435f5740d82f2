// The process entry: one executable, two roles, chosen by the service's state.
#include <windows.h>

#include "launcher/launcher.h"
#include "monitor/monitor.h"
#include "service/service.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  if (select_role() == ROLE_SERVICE) {
    // Nothing of the monitor is set up in this role.
    return run_service_dispatcher() == 0 ? kExitServiceEnded : kExitNoDispatcher;
  }
  return run_monitor(instance, show_command);
}
