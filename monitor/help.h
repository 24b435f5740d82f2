// The Help menu's two commands.
#pragma once

#include <windows.h>

// Modal About box (dialog 103) owned by the main window; returns when it is closed.
void show_about_box(HINSTANCE instance, HWND owner);
// Writes the embedded help to a new temporary .chm and opens its table of contents.
void show_help_file(HWND owner);
