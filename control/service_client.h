// Talks to the service control manager about the one service "QuellcoreSvc", asking
// each time only for the rights that call uses. Actions return 0 for success and -1 for
// failure; yes/no questions answer with a bool.
#pragma once

#include <stdint.h>

// An action refused because this account lacks the right; an administrator's approval
// would let it through.
const int kRefusedForRights = -2;

// What the existence probe found.
const int32_t kServiceMissing = 0;
const int32_t kServiceFound = 1;
const int32_t kServiceProbeRefused = 2;  // this account may not look: it exists all the same
const int32_t kServiceNotAsked = 3;      // the manager did not answer

int32_t find_service();
// Creates the service with this command line (own process, demand start, LocalSystem);
// 0, kRefusedForRights without the right to create services, or -1.
int create_service(const wchar_t* command_line);
// Whether this account may install the service: an administrator whose rights are not
// filtered.
bool may_install_service();
// 0 once the start request was accepted, whatever state the wait ends in;
// kRefusedForRights without the right to start it; -1 otherwise.
int start_service_and_wait();
// 0 once the stop is over (stopped, or the wait's cap reached); kRefusedForRights
// without the right to stop it; -1 when no stop could be sent.
int stop_service_and_wait();
// The service's registered command line; 0 with it in `out` (kCommandLineCapacity
// characters), -1 when there is no service or it cannot be asked.
int read_registered_command_line(wchar_t* out);
// Whether the service runs; false also when it cannot be told.
bool service_is_running();
// Whether this process may be the one the manager is starting as the service: only then
// is the service dispatcher asked. The manager marks the service start-pending before it
// creates the process and names the process it created, so any other state or process
// rules this one out; when the manager cannot be asked, the dispatcher decides.
bool may_be_starting_service(uint32_t own_process_id);

// What the window shows about the service and which of its buttons need an
// administrator's approval.
const int32_t kServiceNotInstalled = 0;
const int32_t kServiceInstalled = 1;
const int32_t kServiceUnknown = 2;  // this account may not ask, or the manager did not answer

struct ServiceView {
  int32_t presence;
  uint32_t state;       // the manager's state while installed, else 0
  uint32_t process_id;  // the service's process while one runs, else 0
  // Whether this account may do it; asked only for the action the state offers (install
  // when missing, start when not running, stop when running), else true.
  bool may_act;
  uint32_t exit_code;  // how the last run ended, while installed
  // The window's link found a mutex of the service's name that another program made.
  bool names_taken;
};
// Fills *out; with `rights` 0 only the presence, state, process id and exit code are asked.
void look_at_service(ServiceView* out, int rights);

// Whether the service stopped with an error: killed (1067, as the task manager ends it),
// crashed, or failed by its own account. A clean stop, by anyone, is no failure, nor is a
// service that never ran since it was installed.
bool service_failed(const ServiceView* service);
// How long the window waits before it starts a failed service again, for the attempt-th
// start in a row (0 the first): after the manager's own restart would have come, then
// less and less often, never less often than once a minute.
uint32_t failed_service_restart_delay_ms(int32_t attempt);

// The start wait's pause for a wait hint: a tenth of it, kept within 1 to 10 seconds.
uint32_t start_wait_pause_ms(uint32_t wait_hint);
// The stop wait's pause: a tenth of the hint within 0.1 to 1 second, cut so it ends no
// later than the cap.
uint32_t stop_wait_pause_ms(uint32_t wait_hint, uint32_t elapsed_ms);

const uint32_t kStopWaitCapMs = 30000;
