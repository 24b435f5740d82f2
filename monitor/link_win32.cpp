// The monitor link thread on the real system.
#include <windows.h>

#include "control/service_client.h"
#include "monitor/link.h"
#include "monitor/monitor_win32.h"

namespace {

// Presence, state and process id: the link never asks which rights this account has.
void look_without_rights(ServiceView* out) { look_at_service(out, 0); }

void sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t current_process_id() { return GetCurrentProcessId(); }

void repaint_main_window() {
  // Fails harmlessly once the window is gone, so shutdown never waits on a paint.
  RedrawWindow(g_windows.main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

}  // namespace

DWORD WINAPI monitor_link_thread(LPVOID) {
  const LinkPlatform platform = {
      look_without_rights, start_service_and_wait, sleep_ms, open_shared_link, current_process_id,
      repaint_main_window,
  };
  run_monitor_link(&platform);
  return 0;
}
