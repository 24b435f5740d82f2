// The monitor's window handles and the lock around its snapshot copy.
#include <windows.h>

#include "monitor/monitor_state.h"
#include "monitor/monitor_win32.h"

MonitorWindows g_windows = {};
wchar_t g_window_title[kTextBufferLength] = {};
wchar_t g_window_class[kTextBufferLength] = {};

namespace {

// Statically initialised, so no start-up order to keep.
SRWLOCK g_snapshot_copy_lock = SRWLOCK_INIT;

}  // namespace

void snapshot_copy_lock() { AcquireSRWLockExclusive(&g_snapshot_copy_lock); }

void snapshot_copy_unlock() { ReleaseSRWLockExclusive(&g_snapshot_copy_lock); }
