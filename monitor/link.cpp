// The monitor link thread: all of the monitor's I/O, and the frames the window shows.
#include "monitor/link.h"

#include <string.h>

#include "monitor/monitor_state.h"
#include "shared/service_facts.h"
#include "shared/wide_text.h"

namespace {

const wchar_t kConsoleHost[] = L"conhost.exe";

// The link thread's own state; the window sees only the frames published from it.
struct LinkRun {
  const LinkPlatform* platform;
  SharedLink link;
  int connected;
  int announced;
  uint32_t announced_to;  // the service process that heard the announcement
  ForegroundClaim claimed;  // what the service was last told of the program in front
  uint32_t taken_sequence;  // the count of the last snapshot taken
  int disconnected;  // the window's session, at the last look
  bool names_taken;  // the last open refused a mutex that is not the service's
  // A service that stopped with an error is started again, later each time.
  int32_t restarts;      // in a row, since it last ran
  int restart_waiting;
  uint32_t restart_due;  // tick
  // The link pipe: each message waits for the service's acknowledgement.
  int pipe_open;
  uint32_t unsent;     // commands to send
  uint32_t in_flight;  // commands of the message awaiting its reply
  uint32_t message_sequence;
  uint32_t sent_tick;
  ForegroundClaim pipe_claim;  // the claim every message with the claim's bit carries
  int refused;          // the last announcement was refused
  uint32_t refused_tick;
  MonitorFrame frame;  // the next frame, 28 KB: static storage
};

LinkRun g_run;

int stop_seen() { return flag_read(&g_monitor.stop_requested) != 0; }

void publish() {
  publish_frame(&g_run.frame);
  g_run.platform->tell_window(NEWS_FRAME);
}

// Asks the manager about the service; 1 when anything the window shows of it changed.
int look() {
  ServiceView view;
  g_run.platform->look_at_service(&view);
  view.names_taken = g_run.names_taken;
  const ServiceView* was = &g_run.frame.service;
  const int changed = view.presence != was->presence || view.state != was->state ||
                      view.process_id != was->process_id || view.may_act != was->may_act ||
                      view.exit_code != was->exit_code || view.names_taken != was->names_taken;
  g_run.frame.service = view;
  return changed;
}

void look_and_publish() {
  if (look()) publish();
}

// The pause before the next try to open the link. The manager is asked only whether to
// start the service; a start that failed or was refused, a service that is missing or
// that this account may not ask about, and a running service whose region will not
// open are all tried again at the snapshot poll's pace, not every half second.
uint32_t bring_service_up() {
  look_and_publish();
  const ServiceView* view = &g_run.frame.service;
  if (view->presence != kServiceInstalled) return kSnapshotPollMs;
  if (view->state == kServiceStartPending || view->state == kServiceStopPending) return kServiceRetryMs;
  if (view->state != kServiceStopped) return kSnapshotPollMs;
  return g_run.platform->start_service_and_wait() == 0 ? kServiceRetryMs : kSnapshotPollMs;
}

// The program in front as the service should know it: none while the window's session
// is disconnected, since nobody sees its front then.
ForegroundClaim current_claim() {
  ForegroundClaim claim = {0, 0};
  const uint32_t pid = __atomic_load_n(&g_monitor.front_pid, __ATOMIC_SEQ_CST);
  if (pid == 0 || g_run.disconnected) return claim;
  // From the system's list, which any user may read: nothing is opened.
  ProcessFacts facts;
  g_run.platform->take_process_list();
  if (g_run.platform->describe_process(pid, &facts) != 0) return claim;
  claim.pid = pid;
  claim.creation_time = facts.creation_time;
  // A console window the system names after its host: the work runs in the shell that
  // started the host, and in the shell's own processes.
  ProcessFacts shell;
  if (same_text_ignoring_case(facts.name, kConsoleHost) && g_run.platform->describe_process(facts.parent_pid, &shell) == 0 &&
      shell.creation_time <= facts.creation_time) {
    claim.pid = facts.parent_pid;
    claim.creation_time = shell.creation_time;
  }
  return claim;
}

// Sends the claim over the pipe when it is new to the service.
void send_claim() {
  const ForegroundClaim claim = current_claim();
  if (claim.pid == g_run.claimed.pid && claim.creation_time == g_run.claimed.creation_time) return;
  g_run.pipe_claim = claim;
  g_run.unsent |= CMD_FOREGROUND_CHANGED;
  g_run.claimed = claim;
}

// The pipe broke: what the last message carried goes again, over the next connection.
void pipe_lost() {
  if (g_run.pipe_open) g_run.platform->close_pipe();
  g_run.pipe_open = 0;
  g_run.unsent |= g_run.in_flight;
  g_run.in_flight = 0;
}

void take_replies() {
  LinkReply reply;
  int got;
  while ((got = g_run.platform->take_reply(&reply)) == 1) {
    // A late reply to a message sent again is not the one awaited.
    if (g_run.in_flight == 0 || reply.sequence != g_run.message_sequence) continue;
    // Refused: the window is not protected, its claims are not taken, and it asks again later.
    g_run.refused = (g_run.in_flight & CMD_MONITOR_ATTACHED) != 0 && (reply.status & LINK_PROTECTED) == 0;
    if (g_run.refused) g_run.refused_tick = g_run.platform->tick_ms();
    g_run.in_flight = 0;
  }
  if (got < 0) pipe_lost();
}

// Sends what the service has not acknowledged, one message at a time, again when no reply
// came within two cycles. Never waits longer than the pipe's bounded write.
void exchange() {
  if (!g_run.connected || g_run.platform->open_pipe == nullptr) return;
  if (!g_run.pipe_open) {
    const uint32_t service_pid = g_run.frame.service.process_id;
    if (service_pid == 0 || g_run.platform->open_pipe(service_pid) != 0) return;
    g_run.pipe_open = 1;
    // A new connection, to a new service process or after the old one ended, which
    // withdrew the window's claim: the window announces itself and claims again.
    g_run.unsent |= CMD_MONITOR_ATTACHED | CMD_FOREGROUND_CHANGED;
    flag_store(&g_monitor.front_unsent, 0);
    g_run.pipe_claim = current_claim();
    g_run.claimed = g_run.pipe_claim;
  }
  take_replies();
  if (!g_run.pipe_open) return;
  const uint32_t now = g_run.platform->tick_ms();
  if (g_run.in_flight != 0) {
    if (now - g_run.sent_tick < kAcknowledgeWaitMs) return;
    g_run.unsent |= g_run.in_flight;
    g_run.in_flight = 0;
  }
  if (g_run.refused && now - g_run.refused_tick >= kRefusedRetryMs) {
    g_run.refused = 0;
    g_run.unsent |= CMD_MONITOR_ATTACHED;
  }
  if (g_run.unsent == 0) return;
  if (++g_run.message_sequence == 0) g_run.message_sequence = 1;
  const ForegroundClaim* claim = &g_run.pipe_claim;
  const LinkRequest request = {g_run.message_sequence, g_run.unsent, claim->pid, static_cast<uint32_t>(claim->creation_time),
                               static_cast<uint32_t>(claim->creation_time >> 32)};
  if (g_run.platform->send_message(&request) != 0) {
    pipe_lost();
    return;
  }
  g_run.in_flight = g_run.unsent;
  g_run.unsent = 0;
  g_run.sent_tick = now;
}

// 0 once the region has the monitor's threshold. The announcement and the program in
// front go over the pipe, which tells the service who sends them, as soon as it opens.
int announce() {
  exchange();
  if (send_threshold(&g_run.link, flag_read(&g_monitor.slider_threshold)) != 0) return -1;
  flag_store(&g_monitor.threshold_unsent, 0);
  return 0;
}

// A button's action, which may wait for the service for many seconds: the frame says it
// is under way meanwhile, and the page follows once it is over.
void carry_out(int32_t action) {
  g_run.frame.action = action;
  ++g_run.frame.actions_taken;
  publish();
  const int result = g_run.platform->run_action(action);
  g_run.frame.action = ACTION_NONE;
  look();
  publish();
  if (action == ACTION_ASK_TO_INSTALL && result == kActionFailed) g_run.platform->tell_window(NEWS_DECLINED);
  if (result == kActionHandOver) g_run.platform->tell_window(NEWS_HAND_OVER);
}

// What the window asked for since the last time: a button's action at any time, the
// slider's level and the program in front once the region is open.
void serve_requests() {
  const int32_t action = flag_take(&g_monitor.action_requested);
  if (action != ACTION_NONE) carry_out(action);
  if (!g_run.connected) return;
  // First, as the window ends right after it asks.
  if (flag_take(&g_monitor.session_end_unsent) != 0) {
    g_run.unsent |= CMD_SESSION_ENDING;
    exchange();
  }
  if (flag_take(&g_monitor.threshold_unsent) != 0 &&
      send_threshold(&g_run.link, flag_read(&g_monitor.slider_threshold)) != 0) {
    flag_store(&g_monitor.threshold_unsent, 1);
  }
  if (flag_take(&g_monitor.front_unsent) != 0) send_claim();
  exchange();
}

// Pauses for `milliseconds`, doing what the window asks meanwhile; -1 once stop_requested
// is seen, which ends the pause at once.
int pause_serving(uint32_t milliseconds) {
  const uint32_t begin = g_run.platform->tick_ms();
  for (;;) {
    serve_requests();
    if (stop_seen()) return -1;
    const uint32_t elapsed = g_run.platform->tick_ms() - begin;
    if (elapsed >= milliseconds) return 0;
    uint32_t wait = milliseconds - elapsed;
    if (g_run.in_flight != 0 && wait > kReplyCheckMs) wait = kReplyCheckMs;  // the reply is looked for
    if (!g_run.platform->wait_ms(wait)) {
      if (stop_seen()) return -1;
      if (wait == milliseconds - elapsed) return 0;
    }
  }
}

int name_from_list(uint32_t pid, wchar_t* out, int32_t capacity, uint64_t* creation_time) {
  ProcessFacts facts;
  if (g_run.platform->describe_process(pid, &facts) != 0) return -1;
  copy_text(out, static_cast<uint32_t>(capacity), facts.name);
  *creation_time = facts.creation_time;
  return 0;
}

// Nothing stays frozen for want of a service: one that stopped with an error (killed, or
// crashed, and not brought back by the manager's own restart) is started again, later each
// time. A clean stop, by anyone, is left alone.
void restart_failed_service(const ServiceView* view) {
  if (!service_failed(view)) {
    if (view->state == kServiceRunning) g_run.restarts = 0;
    g_run.restart_waiting = 0;
    return;
  }
  const uint32_t now = g_run.platform->tick_ms();
  if (!g_run.restart_waiting) {
    g_run.restart_waiting = 1;
    g_run.restart_due = now + failed_service_restart_delay_ms(g_run.restarts);
    return;
  }
  if (static_cast<int32_t>(now - g_run.restart_due) < 0) return;
  g_run.restart_waiting = 0;
  ++g_run.restarts;
  g_run.platform->start_service_and_wait();
}

// One poll: the service, the announcement a new service process needs, the window's
// session, and the newest snapshot with who was held in it.
void poll() {
  int changed = look();
  const ServiceView* view = &g_run.frame.service;
  restart_failed_service(view);
  // A restarted service begins at its default level and knows no monitor.
  if (view->process_id != 0 && view->process_id != g_run.announced_to) g_run.announced = 0;
  if (!g_run.announced && announce() == 0) {
    g_run.announced = 1;
    g_run.announced_to = view->process_id;
  }
  const int disconnected = g_run.platform->session_disconnected();
  if (disconnected != g_run.disconnected) {
    g_run.disconnected = disconnected;
    send_claim();
  }
  exchange();
  UsageSnapshot taken;
  ServiceReport report = {};
  if (take_snapshot(&g_run.link, &g_run.taken_sequence, &taken, &report) != 0) {
    g_run.frame.snapshot = taken;
    g_run.frame.report = report;
    const HeldColumn column = held_column_of(&report);
    // The whole list is read only for a name not yet known, not at every take.
    const int unnamed = held_names_missing(&g_run.frame.held, &column, report.spared_pid);
    if (unnamed) g_run.platform->take_process_list();
    record_held_column(&g_run.frame.held, &column, report.spared_pid, unnamed ? name_from_list : nullptr);
    ++g_run.frame.columns;
    changed = 1;
  }
  if (changed) publish();
}

}  // namespace

int connect_link(const LinkPlatform* platform, SharedLink* opened) {
  g_run.platform = platform;
  uint32_t pause = kServiceRetryMs;
  int opened_as;
  while ((opened_as = platform->open_link(opened)) != 0) {
    g_run.names_taken = opened_as == kLinkNamesTaken;
    // Closing the window must end the process even when the service never comes up.
    if (stop_seen() || pause_serving(pause) != 0) return -1;
    pause = bring_service_up();
  }
  g_run.names_taken = false;
  return 0;
}

void run_monitor_link(const LinkPlatform* platform) {
  memset(&g_run, 0, sizeof(g_run));
  g_run.platform = platform;
  look();
  publish();
  if (connect_link(platform, &g_run.link) != 0) return;
  g_run.connected = 1;
  // A mutex kept by another process delays the announcement to a later poll; it then
  // carries the slider's value of that moment, which also covers any unsent threshold.
  look_and_publish();
  g_run.announced_to = g_run.frame.service.process_id;
  g_run.announced = announce() == 0;
  while (pause_serving(kSnapshotPollMs) == 0) poll();
  platform->close_link(&g_run.link);
}
