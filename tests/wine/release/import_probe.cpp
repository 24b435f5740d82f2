// A program that imports wtsapi32.dll, no KnownDLL, as quellcore.exe once did: the
// release checks must refuse it.
#include <windows.h>
#include <wtsapi32.h>

int main() {
  WTSFreeMemory(nullptr);
  return 0;
}
