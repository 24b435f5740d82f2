// The monitor link thread's logic over the shared region.
#include "monitor/link.h"

#include <string.h>

#include "monitor/monitor_state.h"
#include "shared/service_facts.h"

namespace {

int stop_seen() { return flag_read(&g_monitor.stop_requested) != 0; }

// The view and the mutexes go to the window thread through g_monitor.link; the
// ready flag is raised last, so the window thread never sees half a link.
void publish_link(const SharedLink* opened) {
  g_monitor.link = *opened;
  flag_store(&g_monitor.link_ready, 1);
}

// Asks the manager about the service; a new presence or state repaints, so the Status
// page follows a start or stop made elsewhere.
void look(const LinkPlatform* platform, ServiceView* view) {
  platform->look_at_service(view);
  const int changed = view->presence != g_monitor.service_presence || view->state != g_monitor.service_state;
  g_monitor.service_presence = view->presence;
  g_monitor.service_state = view->state;
  if (changed) platform->repaint_main_window();
}

// The pause before the next try to open the link. The manager is asked only whether to
// start the service; a start that failed or was refused, a service that is missing or
// that this account may not ask about, and a running service whose region will not
// open are all tried again at the snapshot poll's pace, not every half second.
uint32_t bring_service_up(const LinkPlatform* platform) {
  ServiceView view;
  look(platform, &view);
  if (view.presence != kServiceInstalled) return kSnapshotPollMs;
  if (view.state == kServiceStartPending || view.state == kServiceStopPending) return kServiceRetryMs;
  if (view.state != kServiceStopped) return kSnapshotPollMs;
  return platform->start_service_and_wait() == 0 ? kServiceRetryMs : kSnapshotPollMs;
}

// Sends the program in front as last claimed; kept unsent when the mutex was not had.
void send_foreground_claim() {
  const ForegroundClaim claim = load_foreground();
  flag_store(&g_monitor.foreground_unsent, send_foreground(&g_monitor.link, &claim) != 0 ? 1 : 0);
}

// 0 once the service has the monitor's threshold and id. The program in front follows:
// the service takes it from a monitor it protects.
int announce(const LinkPlatform* platform) {
  if (announce_monitor(&g_monitor.link, flag_read(&g_monitor.slider_threshold), platform->current_process_id()) !=
      0) {
    return -1;
  }
  send_foreground_claim();
  return 0;
}

void resend_unsent_threshold() {
  if (flag_take(&g_monitor.threshold_unsent) == 0) return;
  if (send_threshold(&g_monitor.link, flag_read(&g_monitor.slider_threshold)) != 0) {
    flag_store(&g_monitor.threshold_unsent, 1);
  }
}

void poll_snapshot(const LinkPlatform* platform) {
  UsageSnapshot taken;
  taken.flags = 0;
  ServiceReport report = {0, 0};
  if (take_snapshot(&g_monitor.link, &taken, &report) == 0) return;
  // The copy carries the ready bit only when take_snapshot really copied.
  const int ready = (taken.flags & SNAPSHOT_READY) != 0;
  if (ready) {
    store_snapshot_copy(&taken);
    store_service_report(&report);
  }
  // One entry per column the graph scrolls in, an empty one for a poll without a snapshot.
  HeldColumn column;
  memset(&column, 0, sizeof(column));
  if (ready) column = held_column_of(&taken, flag_read(&g_monitor.slider_threshold));
  snapshot_copy_lock();
  record_held_column(&column, ready ? report.spared_pid : 0, platform->resolve_name);
  if (ready) g_held.latest = column;
  snapshot_copy_unlock();
  flag_store(&g_monitor.column_pending, 1);
  flag_store(&g_monitor.scroll_pending, 1);
  platform->repaint_main_window();
}

}  // namespace

int connect_link(const LinkPlatform* platform, SharedLink* opened) {
  uint32_t pause = kServiceRetryMs;
  while (platform->open_link(opened) != 0) {
    // Closing the window must end the process even when the service never comes up.
    if (stop_seen()) return -1;
    platform->sleep_ms(pause);
    if (stop_seen()) return -1;
    pause = bring_service_up(platform);
  }
  return 0;
}

void run_monitor_link(const LinkPlatform* platform) {
  SharedLink opened;
  if (connect_link(platform, &opened) != 0) return;
  publish_link(&opened);
  // A mutex kept by another process delays the announcement to a later poll; it then
  // carries the slider's value of that moment, which also covers any unsent threshold.
  ServiceView view;
  look(platform, &view);
  uint32_t announced_to = view.process_id;
  int announced = announce(platform) == 0;
  while (!stop_seen()) {
    platform->sleep_ms(kSnapshotPollMs);
    look(platform, &view);
    // A restarted service begins at its default level and knows no monitor.
    if (view.process_id != 0 && view.process_id != announced_to) announced = 0;
    if (!announced) {
      announced = announce(platform) == 0;
      if (announced) announced_to = view.process_id;
    } else {
      resend_unsent_threshold();
      if (flag_read(&g_monitor.foreground_unsent) != 0) send_foreground_claim();
    }
    poll_snapshot(platform);
  }
}

void claim_program_in_front(const ForegroundClaim* claim) {
  store_foreground(claim);
  if (flag_read(&g_monitor.link_ready) == 0) return;
  if (send_foreground(&g_monitor.link, claim) != 0) flag_store(&g_monitor.foreground_unsent, 1);
}

void follow_program_in_front(const ForegroundClaim* claim) {
  const ForegroundClaim claimed = load_foreground();
  if (claim->pid != claimed.pid || claim->creation_time != claimed.creation_time) claim_program_in_front(claim);
}

void send_slider_threshold(int32_t threshold) {
  if (flag_read(&g_monitor.link_ready) == 0) return;
  if (send_threshold(&g_monitor.link, threshold) != 0) flag_store(&g_monitor.threshold_unsent, 1);
}
