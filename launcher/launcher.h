// The process entry's decision between the two roles.
#pragma once

enum ProcessRole { ROLE_MONITOR = 0, ROLE_SERVICE = 1 };

// Installs and starts the service as needed and says which role this process takes.
// *install_refused becomes 1 when the service is missing and this account may not
// install it, so the monitor asks for an administrator's approval; 0 otherwise.
ProcessRole select_role(int* install_refused);

// Exit codes of the service role.
const int kExitServiceEnded = -2;
const int kExitNoDispatcher = -1;
