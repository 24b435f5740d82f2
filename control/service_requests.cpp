// The user's requests about the service, with approval asked for only where needed.
#include "control/service_requests.h"

#include "control/elevation.h"
#include "control/service_client.h"

void install_service_or_ask(void* owner_window) {
  const int installed = install_service();
  if (installed == 0) {
    start_service_and_wait();
  } else if (installed == kRefusedForRights) {
    run_own_copy_elevated(owner_window);
  }
}

void start_service_or_ask(void* owner_window) {
  if (start_service_and_wait() == kRefusedForRights) run_own_copy_elevated(owner_window);
}

void stop_service_or_ask(void* owner_window) {
  if (stop_service_and_wait() == kRefusedForRights) stop_service_elevated(owner_window);
}
