// The service role: the worker's setup and cycle, the control handler and the status
// reports to the service control manager.
#pragma once

#include <stdint.h>

#include "shared/control_block.h"
#include "shared/link_pipe.h"
#include "shared/service_facts.h"

// Control codes and the rest of the status record, as the service control manager numbers them.
const uint32_t kServiceOwnProcess = 0x10;
const uint32_t kAcceptStop = 1;
const uint32_t kAcceptSessionChange = 0x80;
const uint32_t kAcceptPreshutdown = 0x100;
const uint32_t kControlStop = 1;
const uint32_t kControlShutdown = 5;
const uint32_t kControlSessionChange = 14;
const uint32_t kControlPreshutdown = 15;
// The session-change event of a sign-out (WTS_SESSION_LOGOFF).
const uint32_t kSessionLogoff = 6;
// What the handler answers the manager: handled, or a control it does not take.
const uint32_t kControlHandled = 0;
const uint32_t kControlNotTaken = 120;  // ERROR_CALL_NOT_IMPLEMENTED
// ERROR_SERVICE_SPECIFIC_ERROR: the reason is in the service-specific exit code.
const uint32_t kServiceSpecificError = 1066;
// Stop; the notice of a shutdown that comes while programs still run (every Windows that
// runs this executable offers it, and then sends no later shutdown notice); and session
// changes, for sign-outs. The manager sends the last two only to an extended handler.
const uint32_t kControlsAccepted = kAcceptStop | kAcceptPreshutdown | kAcceptSessionChange;

// What the service dispatcher did with this process.
const int kDispatcherReturned = 0;          // ran the service until it stopped
const int kDispatcherRefusedUserStart = 1;  // the manager did not start this process
const int kDispatcherFailed = -1;

const uint32_t kStartWaitHintMs = 3000;
// A stop waits for the duty cycle under way (at most about a second and a half), so the
// client knows how long to wait and need not ask without a pause.
const uint32_t kStopWaitHintMs = 2000;
const uint32_t kStopCheckMs = 100;

// Field for field the platform's SERVICE_STATUS.
struct ServiceStatusRecord {
  uint32_t dwServiceType;
  uint32_t dwCurrentState;
  uint32_t dwControlsAccepted;
  uint32_t dwWin32ExitCode;
  uint32_t dwServiceSpecificExitCode;
  uint32_t dwCheckPoint;
  uint32_t dwWaitHint;
};

// Sessions whose sign-out the handler heard and the worker has not yet passed on to the
// engine, which only the worker touches.
const int kSignOutCapacity = 16;

struct ServiceState {
  ServiceStatusRecord status;  // written by both threads, only under the status lock
  uint32_t checkpoint_counter;
  SharedLink link;
  int stop_event_ready;
  // Under the status lock, too.
  int32_t sign_out_count;
  uint32_t signing_out[kSignOutCapacity];
  // The monitor a message of this cycle protected, for the region's echo; the worker's.
  uint32_t echoed_monitor;
};

extern ServiceState g_service;

// Back to the state of a fresh process: checkpoint counter 1, nothing created.
void service_reset();

// Fills the status record for `state` and hands it to the manager, all under the
// status lock so the two threads never interleave a report.
void report_service_status(uint32_t state, uint32_t wait_hint);
// The last report of a start that failed: STOPPED, with the reason as the service-specific
// exit code (one of the kStopReason... values), so the window can say why.
void report_failed_start(uint32_t reason);
// Setup, then the cycle until the stop event is seen, then STOPPED.
void service_worker();
// One cycle; -1 when a stop check saw the stop event, else 0.
int run_service_cycle();
// What service_main and service_control_handler do, kept apart from their Win32
// signatures so the host tests can drive them.
void run_service_main();
// The extended handler's work: `session_id` is the session a session change names (0 for
// other controls). Returns kControlHandled or kControlNotTaken, as the manager reads it.
uint32_t handle_service_control(uint32_t control, uint32_t event_type = 0, uint32_t session_id = 0);
// Hands the sign-outs the handler heard to the engine; the worker's thread only.
void take_sign_outs();
// The processor count to use, from the operating system's count.
int32_t usable_cpu_count(int32_t reported);
// Applies one pass of the region's commands: only the threshold, which any window may set.
void apply_commands(const TakenCommands* commands);
// One window's message over the link pipe, from the process and session the pipe names:
// the announcement, then a session end, then the claim, each as that process's own.
LinkReply serve_link_request(const LinkRequest* request, uint32_t client_pid, uint32_t client_session);
// A window's connection ended: its claim of the program in front goes at once.
void link_client_gone(uint32_t client_pid);

// Run by the service itself (LocalSystem) before it reports running, whoever installed
// it. The first run after an install grants interactive users the start and stop rights
// and registers the failure actions, and records that in the service's own key, so that
// an administrator's later change of either stands. Every run quotes its own command line
// when an installer left it unquoted, and removes a copy a replacement set aside. Each
// step that fails is skipped (and the first-run steps tried again next start); 0 when all
// succeeded.
int secure_service_registration();

// --- supplied by the Win32 layer (or by substitutes in host tests) ---
// 0 when the extended handler is registered (the only form the manager sends the notice
// before a shutdown and session changes to).
int register_control_handler();
void set_service_status(const ServiceStatusRecord* status);
void status_lock();
void status_unlock();
// 0 when the manual-reset stop event exists.
int create_stop_event();
void signal_stop_event();
// Waits up to timeout_ms; 1 when the stop event is set, 0 otherwise.
int wait_for_stop(uint32_t timeout_ms);
// Cuts the duty cycle's hold short, so the worker resumes every held thread at once.
void release_held_threads();
int32_t query_logical_cpu_count();
void raise_worker_priority();
uint32_t current_process_id();
// Makes the link pipe's first instance; 0 when made. A name another process serves
// already is refused, and the windows then find no service's pipe.
int open_link_pipe();
// Takes every connection and message that waits, answers each message through
// serve_link_request and reports ended connections to link_client_gone, never waiting
// for a client. The number of messages served.
int serve_link_pipe();
// Hands the main thread to the service dispatcher; one of the kDispatcher... results.
int run_service_dispatcher();
