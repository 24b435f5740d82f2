// The Help menu's two commands.
#pragma once

#include <windows.h>

// Modal About box (dialog 103) owned by the main window; returns when it is closed.
void show_about_box(HINSTANCE instance, HWND owner);
// Opens the help's table of contents, from a temporary .chm the first command writes.
void show_help_file(HWND owner);
// Closes the help and deletes its file, as the monitor ends.
void remove_help_file();
