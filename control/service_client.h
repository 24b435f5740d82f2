// Talks to the service control manager about the one service "QuellcoreSvc", asking
// each time only for the rights that call uses. Actions return 0 for success and -1 for
// failure; queries -1 for yes and 0 for no.
#pragma once

#include <stdint.h>

// An action refused because this account lacks the right; an administrator's approval
// would let it through.
const int kRefusedForRights = -2;

// 0 when it created the service now; kRefusedForRights when the service is missing and
// this account may not install services; -1 otherwise (it exists, or something failed).
int install_service();
// 0 once the start request was accepted, whatever state the wait ends in;
// kRefusedForRights without the right to start it; -1 otherwise.
int start_service_and_wait();
// 0 once the stop is over (stopped, or the wait's cap reached); kRefusedForRights
// without the right to stop it; -1 when no stop could be sent.
int stop_service_and_wait();
int service_is_start_pending();
int service_is_running();

// What the window shows about the service and which of its buttons need an
// administrator's approval.
const int32_t kServiceNotInstalled = 0;
const int32_t kServiceInstalled = 1;
const int32_t kServiceUnknown = 2;  // this account may not ask, or the manager did not answer

struct ServiceView {
  int32_t presence;
  uint32_t state;       // the manager's state while installed, else 0
  uint32_t process_id;  // the service's process while one runs, else 0
  // -1 when this account may do it, 0 when not; asked only for the action the state offers
  // (install when missing, start when not running, stop when running), else -1.
  int32_t may_act;
};
// Fills *out; with `rights` 0 only the presence, state and process id are asked.
void look_at_service(ServiceView* out, int rights);

// Run by the service itself (LocalSystem) before it reports running, whoever installed
// it: grants interactive users the start and stop rights, registers the failure actions
// and quotes its own command line when an installer left it unquoted. Each step that
// fails is skipped; 0 when all succeeded.
int secure_service_registration();

// The start wait's pause for a wait hint: a tenth of it, kept within 1 to 10 seconds.
uint32_t start_wait_pause_ms(uint32_t wait_hint);
// The stop wait's pause: a tenth of the hint within 0.1 to 1 second, cut so it ends no
// later than the cap.
uint32_t stop_wait_pause_ms(uint32_t wait_hint, uint32_t elapsed_ms);

const uint32_t kStopWaitCapMs = 30000;
