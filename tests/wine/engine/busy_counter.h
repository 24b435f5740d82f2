// The page a busy helper counts into, shared with the test that started it.
#pragma once

#include <windows.h>

struct BusyCounter {
  volatile LONG count;  // loop iterations so far
  volatile LONG stop;   // set by the test to end the helper
};

// The helper ends on its own after this long, whatever happens to the test.
const DWORD kHelperLifetimeMs = 90000;
