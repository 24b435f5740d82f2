// An administrator's approval for what this account may not do itself. Windows asks the
// user; the window's link and Status page see the elevated program's effect as they see
// any change of the service.
#pragma once

#include <stdint.h>

// The elevated copy was started and was still at work when the wait ended.
const int kElevatedCopyStillRunning = 1;

// Starts this executable again with an administrator's rights. The copy runs the ordinary
// start-up: it installs the service when it is missing, puts a newer copy in place of the
// installed one, starts the service when it is not running, finds this window open,
// brings it to the front and ends. With wait_ms 0: 0 once it started. Otherwise it waits
// up to wait_ms: 0 when it ended having done its work, kElevatedCopyStillRunning when it
// had not ended. -1 when the user declined, it could not start, or its work failed.
int run_own_copy_elevated(void* owner_window, uint32_t wait_ms = 0);
// Has Windows' own service tool stop the service with an administrator's rights, for a
// service whose access list does not yet let interactive users stop it. 0 or -1 as above.
int stop_service_elevated(void* owner_window);
