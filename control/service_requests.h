// A user's request to install, start or stop the service, from the window's buttons:
// carried out where this account may, handed to an administrator's approval where it may
// not. Each leaves the outcome to the Status page's next paint.
#pragma once

#include <stdint.h>

// 0 once the service is installed, here or by the approved copy within approval_wait_ms;
// kElevatedCopyStillRunning when that copy was still at work; -1 otherwise.
int install_service_or_ask(void* owner_window, uint32_t approval_wait_ms);
void start_service_or_ask(void* owner_window);
void stop_service_or_ask(void* owner_window);
