// The monitor role: the main window, its graph and status page, the link to the service.
#pragma once

#include <windows.h>

// Runs the monitor from common-control set-up to shutdown; returns the exit code (0).
// With install_refused set, the open window asks for approval to install the service.
int run_monitor(HINSTANCE instance, int show_command, int install_refused);
