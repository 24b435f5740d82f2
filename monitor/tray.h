// What the notification icon shows: its state and its tooltip's line, from the frame the
// window shows, so the host tests can check every case.
#pragma once

#include <stdint.h>

#include "monitor/monitor_state.h"

// The icon's three states; each has its own shape, not only its own colour.
enum TrayState {
  TRAY_HOLDING = 0,  // the service holds something now
  TRAY_IDLE = 1,     // the service runs and holds nothing
  TRAY_STOPPED = 2,  // the service is stopped, not installed, or cannot be asked about
};

// The shell's limit for a tooltip, with its terminator.
const int32_t kTrayTipCapacity = 128;

// The icon's state, and its tooltip in `tip` (always terminated).
int32_t tray_view(const MonitorFrame* frame, wchar_t* tip, int32_t capacity);
