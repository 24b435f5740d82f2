// The Win32 side of the Help menu beyond help.h: the HTML Help loader, whose state a
// test can inspect and put back, and the About box with its result.
#pragma once

#include <windows.h>

#include "winapi/dyn_calls_win32.h"

struct HtmlHelpLoader {
  int state;              // HelpControlState
  HMODULE library;        // kept loaded for the rest of the process once found
  HtmlHelpWFn entry;      // the control's wide-character entry point
  int load_attempts;
};

extern HtmlHelpLoader g_html_help;

// Loads the HTML Help control on first use and forwards the call; nullptr when the
// control is not available.
HWND html_help(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data);

// The About box's dialog procedure and the modal run that returns IDOK or IDCANCEL.
INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR run_about_box(HINSTANCE instance, HWND owner);
