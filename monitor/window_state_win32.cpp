// The monitor's window handles, the frame the window shows, and the lock the frames pass.
#include <windows.h>

#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"

MonitorWindows g_windows = {};
wchar_t g_window_title[kTextBufferLength] = {};
wchar_t g_window_class[kTextBufferLength] = {};
MonitorFrame g_shown = {};

namespace {

// Statically initialised, so no start-up order to keep.
SRWLOCK g_frame_lock = SRWLOCK_INIT;

}  // namespace

void frame_lock() { AcquireSRWLockExclusive(&g_frame_lock); }

void frame_unlock() { ReleaseSRWLockExclusive(&g_frame_lock); }
