// The notification icon's state and tooltip line from a frame.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "monitor/tray.h"
#include "shared/service_facts.h"

namespace {

TEST(TrayTest, StateAndTooltipFollowTheServiceAndWhoItHolds) {
  struct Case {
    const char* name;
    int32_t presence;
    uint32_t state;
    HeldProgram held[3];
    bool named;
    int32_t icon;
    const wchar_t* tip;
  };
  const Case cases[] = {
      {"running, nothing held", kServiceInstalled, kServiceRunning, {}, true, TRAY_IDLE, L"Quellcore: nothing held"},
      {"held, with names, largest first", kServiceInstalled, kServiceRunning, {{700, 38, 450}, {0, 0, 0}, {701, 20, 90}},
       true, TRAY_HOLDING, L"Quellcore: holding renderfarm.exe (38 %) and 1 more"},
      {"held alone, with no name", kServiceInstalled, kServiceRunning, {{702, 51, 600}}, false, TRAY_HOLDING,
       L"Quellcore: holding process 702 (51 %)"},
      // The last snapshot of a stopped service still lists whom it held then.
      {"stopped", kServiceInstalled, kServiceStopped, {{700, 38, 450}}, true, TRAY_STOPPED,
       L"Quellcore: the service is stopped"},
      {"not installed", kServiceNotInstalled, 0, {}, true, TRAY_STOPPED, L"Quellcore: the service is not installed"},
      {"cannot tell", kServiceUnknown, 0, {}, true, TRAY_STOPPED, L"Quellcore: cannot tell whether the service runs"},
  };
  static MonitorFrame frame;
  for (const Case& c : cases) {
    memset(&frame, 0, sizeof(frame));
    frame.service.presence = c.presence;
    frame.service.state = c.state;
    for (int i = 0; i < 3; ++i) frame.held.columns[0].held[i] = c.held[i];
    // An older column's program is not the newest snapshot's.
    frame.held.columns[1].held[0] = HeldProgram{800, 90, 900};
    if (c.named) {
      frame.held.names[0] = ProgramName{700, 1, L"renderfarm.exe"};
      frame.held.names[1] = ProgramName{701, 1, L"indexer.exe"};
      frame.held.name_count = 2;
    }
    wchar_t tip[kTrayTipCapacity];
    EXPECT_EQ(tray_view(&frame, tip, kTrayTipCapacity), c.icon) << c.name;
    EXPECT_EQ(std::wstring(tip), std::wstring(c.tip)) << c.name;
  }
  // A short buffer is cut, never overrun.
  wchar_t small[10];
  tray_view(&frame, small, 10);
  EXPECT_EQ(std::wstring(small), L"Quellcore");
}

}  // namespace
