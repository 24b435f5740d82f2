// What the Status page says about the service and which button it offers, worked out
// from what the manager answered, so the host tests can check every case.
#pragma once

#include <stdint.h>

#include "control/service_client.h"

enum StatusButton {
  STATUS_BUTTON_NONE = 0,
  STATUS_BUTTON_STOP = 1,
  STATUS_BUTTON_START = 2,
  STATUS_BUTTON_INSTALL = 3,
};

struct StatusView {
  const wchar_t* headline;
  const wchar_t* detail;  // a second line, or null
  int32_t button;
  int32_t shield;  // 1 when the button's action needs an administrator's approval
};

StatusView status_view(const ServiceView* service);

// What the slider's level does, in the user's terms, for a machine of `cpus` logical
// processors: "70: holds a program using more than 30 % of this machine (0.6 of its 2
// processors) for 0.7 s of every second". Cut to `capacity`, always terminated.
void threshold_readout(int32_t threshold, int32_t cpus, wchar_t* out, int32_t capacity);
