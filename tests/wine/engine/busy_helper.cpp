// A busy process for the throttling test: counts loop iterations into the named
// mapping given as its argument until told to stop.
#include <windows.h>

#include "tests/wine/engine/busy_counter.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, argv[1]);
  if (mapping == nullptr) return 3;
  BusyCounter* counter =
      static_cast<BusyCounter*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(BusyCounter)));
  if (counter == nullptr) {
    CloseHandle(mapping);
    return 4;
  }
  const ULONGLONG started = GetTickCount64();
  while (!counter->stop) {
    InterlockedIncrement(&counter->count);
    if ((counter->count & 0xFFFF) == 0 && GetTickCount64() - started > kHelperLifetimeMs) break;
  }
  UnmapViewOfFile(counter);
  CloseHandle(mapping);
  return 0;
}
