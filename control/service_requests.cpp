// The user's requests about the service, with approval asked for only where needed.
#include "control/service_requests.h"

#include "control/elevation.h"
#include "control/installer.h"
#include "control/service_client.h"

int install_service_or_ask(void* owner_window, uint32_t approval_wait_ms) {
  const int installed = install_service();
  if (installed == 0) {
    start_service_and_wait();
    return 0;
  }
  return installed == kRefusedForRights ? run_own_copy_elevated(owner_window, approval_wait_ms) : -1;
}

void start_service_or_ask(void* owner_window) {
  if (start_service_and_wait() == kRefusedForRights) run_own_copy_elevated(owner_window);
}

void stop_service_or_ask(void* owner_window) {
  if (stop_service_and_wait() == kRefusedForRights) stop_service_elevated(owner_window);
}
