// The monitor role: the main window, its graph and status page, the link to the service.
#pragma once

#include <windows.h>

// Runs the monitor from common-control set-up to shutdown; returns the exit code (0).
// With ask_approval set, the open window asks for an administrator's approval to install
// or update the service's copy.
int run_monitor(HINSTANCE instance, int show_command, int ask_approval);

// Whether a monitor window found open is not one that was just told to close: a closing
// window hides first, and it is watched for a moment, since a start and a close may come
// in the same instant.
bool stays_open(HWND window);
