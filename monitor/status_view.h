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
