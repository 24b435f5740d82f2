// The monitor link thread's logic over the shared region.
#include "monitor/link.h"

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

// 0 once the service has the monitor's threshold and id.
int announce(const LinkPlatform* platform) {
  return announce_monitor(&g_monitor.link, flag_read(&g_monitor.slider_threshold),
                          platform->current_process_id());
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
  if (take_snapshot(&g_monitor.link, &taken) == 0) return;
  // The copy carries the ready bit only when take_snapshot really copied.
  if ((taken.flags & SNAPSHOT_READY) != 0) store_snapshot_copy(&taken);
  flag_store(&g_monitor.column_pending, 1);
  flag_store(&g_monitor.scroll_pending, 1);
  platform->repaint_main_window();
}

}  // namespace

int wait_for_service(const LinkPlatform* platform) {
  while (platform->service_is_running() != kYes) {
    // Closing the window must end the process even when the service never comes up.
    if (stop_seen()) return -1;
    platform->sleep_ms(kServiceRetryMs);
    if (stop_seen()) return -1;
    if (platform->service_is_running() == kYes) break;
    platform->start_service_and_wait();
  }
  return 0;
}

void run_monitor_link(const LinkPlatform* platform) {
  if (wait_for_service(platform) != 0) return;
  SharedLink opened;
  // A missing view or mutex is handled like a missing region: nothing stays open.
  if (platform->open_link(&opened) != 0) return;
  publish_link(&opened);
  // A mutex kept by another process delays the announcement to a later poll; it then
  // carries the slider's value of that moment, which also covers any unsent threshold.
  int announced = announce(platform) == 0;
  while (!stop_seen()) {
    platform->sleep_ms(kSnapshotPollMs);
    if (!announced) {
      announced = announce(platform) == 0;
    } else {
      resend_unsent_threshold();
    }
    poll_snapshot(platform);
  }
}

void send_slider_threshold(int32_t threshold) {
  if (flag_read(&g_monitor.link_ready) == 0) return;
  if (send_threshold(&g_monitor.link, threshold) != 0) flag_store(&g_monitor.threshold_unsent, 1);
}
