// The service's order of work: setup, the once-per-cycle driver, the control handler
// and the status reports. Platform calls go through the operations of service.h.
#include <string.h>

#include "control/service_client.h"
#include "engine/engine.h"
#include "service/service.h"

ServiceState g_service;

namespace {

const uint32_t kNoWaitHint = 0;
const uint32_t kFirstCheckpoint = 1;
const uint32_t kMaxReportedHoldMs = 0xFFFF;  // what the report's field holds
const uint32_t kControlInterrogate = 4;

// The status lock is held by the caller.
void report_locked(uint32_t state, uint32_t wait_hint) {
  ServiceStatusRecord* status = &g_service.status;
  status->dwCurrentState = state;
  // Only a failed start sets a reason, and its STOPPED report is the last.
  status->dwWin32ExitCode = status->dwServiceSpecificExitCode != 0 ? kServiceSpecificError : 0;
  status->dwWaitHint = wait_hint;
  if (state == kServiceStartPending) {
    status->dwControlsAccepted = 0;
    status->dwCheckPoint = g_service.checkpoint_counter++;
  } else {
    status->dwControlsAccepted = kControlsAccepted;
    if (state == kServiceRunning || state == kServiceStopped) {
      status->dwCheckPoint = 0;
    } else {
      status->dwCheckPoint = g_service.checkpoint_counter++;
    }
  }
  // Still under the lock: the manager must see reports in checkpoint order.
  set_service_status(status);
}

// The engine's report as the region carries it.
ServiceReport region_report(const PassReport* pass) {
  ServiceReport report = {};
  report.spared_pid = pass->spared_pid;
  report.system_passed_over = static_cast<uint32_t>(pass->system_passed_over);
  report.spared_family = static_cast<uint32_t>(pass->spared_family);
  for (int32_t i = 0; i < kHeldIdsCapacity; ++i) {
    const HeldProcess* held = &pass->held[i];
    report.held[i].pid = held->pid;
    report.held[i].share = static_cast<uint8_t>(held->share);
    report.held[i].hold_ms = static_cast<uint16_t>(held->hold_ms > kMaxReportedHoldMs ? kMaxReportedHoldMs : held->hold_ms);
  }
  return report;
}

}  // namespace

void service_reset() {
  memset(&g_service, 0, sizeof(g_service));
  g_service.checkpoint_counter = kFirstCheckpoint;
}

void report_service_status(uint32_t state, uint32_t wait_hint) {
  status_lock();
  report_locked(state, wait_hint);
  status_unlock();
}

void report_failed_start(uint32_t reason) {
  status_lock();
  g_service.status.dwServiceSpecificExitCode = reason;
  report_locked(kServiceStopped, kNoWaitHint);
  status_unlock();
}

void take_sign_outs() {
  uint32_t sessions[kSignOutCapacity];
  status_lock();
  const int32_t count = g_service.sign_out_count;
  for (int32_t i = 0; i < count; ++i) sessions[i] = g_service.signing_out[i];
  g_service.sign_out_count = 0;
  status_unlock();
  for (int32_t i = 0; i < count; ++i) end_session_holds(sessions[i]);
}

uint32_t handle_service_control(uint32_t control, uint32_t event_type, uint32_t session_id) {
  if (control == kControlSessionChange) {
    if (event_type != kSessionLogoff) return kControlHandled;
    // The engine is the worker's alone: the sign-out waits for it under the status lock.
    // More sign-outs at once than there is room for: the oldest stays unheard, and its
    // processes are still held until its session is gone.
    status_lock();
    if (g_service.sign_out_count < kSignOutCapacity) g_service.signing_out[g_service.sign_out_count++] = session_id;
    status_unlock();
    // The programs signing out are saving their work: the hold under way ends now (every
    // target's, for one cycle), and the worker passes the sign-out on before it holds again.
    if (g_service.stop_event_ready) release_held_threads();
    return kControlHandled;
  }
  const bool shutdown = control == kControlShutdown || control == kControlPreshutdown;
  if (control == kControlStop || shutdown) {
    // The manager sends these only after the RUNNING report, which the worker makes
    // under the status lock after the event exists; this report's lock orders the read.
    report_service_status(kServiceStopPending, kStopWaitHintMs);
    if (g_service.stop_event_ready) {
      signal_stop_event();
      // At a shutdown nobody may wait out a hold, such as a program saving its work:
      // the hold ends now, and the stop check after it ends the service.
      if (shutdown) release_held_threads();
    }
    return kControlHandled;
  }
  // One hold for the read and the report, so a state the worker reports in between
  // is never followed by the stale one.
  status_lock();
  report_locked(g_service.status.dwCurrentState, kNoWaitHint);
  status_unlock();
  return control == kControlInterrogate ? kControlHandled : kControlNotTaken;
}

void run_service_main() {
  if (register_control_handler() != 0) return;
  status_lock();
  g_service.status.dwServiceType = kServiceOwnProcess;
  g_service.status.dwServiceSpecificExitCode = 0;
  status_unlock();
  report_service_status(kServiceStartPending, kStartWaitHintMs);
  service_worker();
}

int32_t usable_cpu_count(int32_t reported) { return reported > 0 ? reported : 1; }

void apply_commands(const TakenCommands* commands) {
  if (commands->flags & CMD_THRESHOLD_CHANGED) {
    // Any user can write the region; a level outside 1..100 would break the duty cycle.
    const int32_t threshold = commands->threshold;
    if (threshold >= kMinThresholdPercent && threshold <= kMaxThresholdPercent) {
      g_engine.threshold_percent = threshold;
    }
  }
}

LinkReply serve_link_request(const LinkRequest* request, uint32_t client_pid, uint32_t client_session) {
  LinkReply reply = {request->sequence, 0};
  if ((request->commands & CMD_MONITOR_ATTACHED) && protect_monitor_in_session(client_pid, client_session) == 0) {
    g_service.echoed_monitor = client_pid;
  }
  if (request->commands & CMD_SESSION_ENDING) end_monitor_session(client_pid);
  // After the announcement, which the engine takes a claim from only once it protects it.
  if (request->commands & CMD_FOREGROUND_CHANGED) {
    const ForegroundClaim claim = link_request_claim(request);
    if (spare_program_in_front(claim.pid, claim.creation_time, client_pid) == 0) reply.status |= LINK_CLAIM_TAKEN;
  }
  if (is_protected_monitor(client_pid)) reply.status |= LINK_PROTECTED;
  return reply;
}

void link_client_gone(uint32_t client_pid) {
  // Id 0 withdraws the claim; nothing of another process is touched.
  if (is_protected_monitor(client_pid)) spare_program_in_front(0, 0, client_pid);
}

int run_service_cycle() {
  if (wait_for_stop(kStopCheckMs)) return -1;
  take_sign_outs();
  run_sampling_pass();
  if (wait_for_stop(kStopCheckMs)) return -1;
  TakenCommands commands;
  const int region_commands = take_commands(&g_service.link, &commands);
  if (region_commands) apply_commands(&commands);
  const int messages = serve_link_pipe();
  if (g_service.echoed_monitor != 0) {
    echo_monitor(&g_service.link, g_service.echoed_monitor);
    g_service.echoed_monitor = 0;
  }
  if ((region_commands || messages > 0) && wait_for_stop(kStopCheckMs)) return -1;
  // A sign-out heard since the pass: its session's targets are not held.
  take_sign_outs();
  // Whether it runs its course or a shutdown cuts its hold short, it resumes every
  // thread it suspended before it returns.
  run_duty_cycle();
  // After the duty cycle, so that the snapshot goes out with how long it really held its
  // targets: the window shows what the service did, not what it meant to do.
  const ServiceReport report = region_report(&g_engine.report);
  publish_snapshot(&g_service.link, &g_engine.snapshot, &report);
  // The pass writes only the bars it has, so the next one must start from all zeros.
  memset(&g_engine.snapshot, 0, sizeof(g_engine.snapshot));
  return 0;
}

void service_worker() {
  // Missing pieces stay null; publishing and commands are skipped, throttling is not.
  // Names another program made first are not used, and the service says so: running
  // blind, it would spare nobody's program in front, without a word.
  if (create_shared_link(&g_service.link) == kLinkNamesTaken) {
    report_failed_start(kStopReasonNamesTaken);
    return;
  }
  // Without it no window is protected or spared; the service throttles regardless.
  open_link_pipe();
  report_service_status(kServiceStartPending, kStartWaitHintMs);
  if (create_stop_event() != 0) {
    report_failed_start(kStopReasonNoStopEvent);
    return;
  }
  g_service.stop_event_ready = 1;
  // Before anything else runs: threads a crashed predecessor left suspended go free.
  resume_recorded_threads();
  // Whoever installed the service, interactive users may start and stop it from here on,
  // and a crash brings it back. Refused or not implemented, the service runs regardless.
  secure_service_registration();
  report_service_status(kServiceRunning, kNoWaitHint);
  g_engine.logical_cpu_count = usable_cpu_count(query_logical_cpu_count());
  raise_worker_priority();
  protect_own_process(current_process_id());
  while (run_service_cycle() == 0) {
  }
  report_service_status(kServiceStopped, kNoWaitHint);
}
