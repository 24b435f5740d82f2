// The monitor role: the main window, its graph and status page, the link to the service.
#pragma once

#include <windows.h>

// Runs the monitor from common-control set-up to shutdown; returns the exit code (0).
// With ask_approval set, the open window asks for an administrator's approval to install
// or update the service's copy. With into_tray set, the monitor starts in the notification
// area with no window shown.
int run_monitor(HINSTANCE instance, int show_command, int ask_approval, bool into_tray);

// Asks the monitor that owns `window` to show its window and come to the front, as its
// notification icon's "Open Quellcore" does.
void open_monitor_window(HWND window);

// Whether a monitor window found is not one that was just told to end: it is watched for
// a moment, since a start and an Exit may come in the same instant. A window hidden in the
// notification area stays open.
bool stays_open(HWND window);
