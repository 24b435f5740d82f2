// An administrator's approval for what this account may not do itself. Windows asks the
// user; nothing here waits for the elevated program, whose effect the window's link and
// Status page see as they see any change of the service.
#pragma once

// Starts this executable again with an administrator's rights. The copy runs the ordinary
// role selection: it installs the service when it is missing, starts it when it is not
// running, finds this window open, brings it to the front and ends. 0 once it started;
// -1 when the user declined or it could not start.
int run_own_copy_elevated(void* owner_window);
// Has Windows' own service tool stop the service with an administrator's rights, for a
// service whose access list does not yet let interactive users stop it. 0 or -1 as above.
int stop_service_elevated(void* owner_window);
