#include "monitor/help.h"
#include "monitor/help_win32.h"
#include "monitor/resource.h"

namespace {
constexpr LPARAM kNoDialogParameter = 0;
}  // namespace

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;  // the system puts the focus on the default button
    case WM_COMMAND: {
      const WORD id = LOWORD(wparam);
      if (id == IDOK || id == IDCANCEL) {
        EndDialog(dialog, id);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

INT_PTR run_about_box(HINSTANCE instance, HWND owner) {
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, about_dialog_proc,
                         kNoDialogParameter);
}

void show_about_box(HINSTANCE instance, HWND owner) { run_about_box(instance, owner); }
