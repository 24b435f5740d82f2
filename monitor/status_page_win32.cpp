// The Status page: whether the service runs, and the one button that changes it.
#include <windows.h>

#include "launcher/service_client.h"
#include "monitor/layout.h"
#include "monitor/monitor_win32.h"
#include "shared/service_facts.h"

namespace {

const int kTextX = 5;
const int kTextY = 40;
const wchar_t kRunningText[] = L"Quellcore Service is running";
const wchar_t kStoppedText[] = L"Quellcore Service is stopped";
const int kStatusTextLength = sizeof(kRunningText) / sizeof(wchar_t) - 1;
static_assert(sizeof(kRunningText) == sizeof(kStoppedText), "both texts are drawn whole");

}  // namespace

void paint_status_page(HDC dc) {
  RECT page = {0, 0, 0, 0};
  GetClientRect(g_windows.main, &page);
  OffsetRect(&page, 0, kTabStripHeight);
  HBRUSH background = CreateSolidBrush(GetSysColor(COLOR_MENU));
  FillRect(dc, &page, background);
  if (service_is_running() == kYes) {
    TextOutW(dc, kTextX, kTextY, kRunningText, kStatusTextLength);
    ShowWindow(g_windows.start_button, SW_HIDE);
    ShowWindow(g_windows.stop_button, SW_SHOW);
  } else {
    TextOutW(dc, kTextX, kTextY, kStoppedText, kStatusTextLength);
    ShowWindow(g_windows.stop_button, SW_HIDE);
    ShowWindow(g_windows.start_button, SW_SHOW);
  }
  DeleteObject(background);
}
