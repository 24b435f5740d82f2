// Whether the service failed, and when the window starts it again: answers from what the
// manager reported, so the window's link and the host tests share them.
#include "control/service_client.h"

#include "shared/service_facts.h"

namespace {

// ERROR_SERVICE_NEVER_STARTED: installed, and never run since.
const uint32_t kNeverStarted = 1077;
// The window's restarts of a failed service: later than the manager's own first restart,
// so the two do not race, and then at the pace of its last one.
const uint32_t kFailedRestartDelaysMs[] = {10000, 30000, 60000};
const int32_t kFailedRestartDelayCount = sizeof(kFailedRestartDelaysMs) / sizeof(kFailedRestartDelaysMs[0]);

}  // namespace

bool service_failed(const ServiceView* service) {
  return service->presence == kServiceInstalled && service->state == kServiceStopped && service->exit_code != 0 &&
         service->exit_code != kNeverStarted;
}

uint32_t failed_service_restart_delay_ms(int32_t attempt) {
  if (attempt < 0) attempt = 0;
  if (attempt >= kFailedRestartDelayCount) attempt = kFailedRestartDelayCount - 1;
  return kFailedRestartDelaysMs[attempt];
}

