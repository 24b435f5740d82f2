// The process entry: one executable, two roles, chosen by the service's state.
#include <windows.h>

#include "launcher/launcher.h"
#include "monitor/monitor.h"
#include "service/service.h"
#include "winapi/dyn_calls_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  // Libraries loaded later come from the system folder only, never from the folder a
  // downloaded executable sits in; systems without the call keep their usual search.
  SetDefaultDllDirectoriesFn restrict_search = dyn_calls()->SetDefaultDllDirectories;
  if (restrict_search != nullptr) restrict_search(LOAD_LIBRARY_SEARCH_SYSTEM32);
  int install_refused = 0;
  if (select_role(&install_refused) == ROLE_SERVICE) {
    // Nothing of the monitor is set up in this role.
    return run_service_dispatcher() == 0 ? kExitServiceEnded : kExitNoDispatcher;
  }
  return run_monitor(instance, show_command, install_refused);
}
