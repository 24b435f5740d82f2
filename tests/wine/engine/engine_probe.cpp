// Runs a few sampling passes against the live system and prints what they saw: the
// processes entered and the bars of each snapshot. It never throttles anything.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "engine/engine.h"

namespace {

const int kDefaultPasses = 3;
const DWORD kPassGapMs = 1200;
const uint32_t kBarsShown = 16;

}  // namespace

int main(int argc, char** argv) {
  const int passes = argc > 1 ? atoi(argv[1]) : kDefaultPasses;
  engine_reset();
  protect_own_process(GetCurrentProcessId());
  for (int pass = 0; pass < passes; ++pass) {
    if (pass > 0) Sleep(kPassGapMs);
    const int result = run_sampling_pass();
    printf("pass %d: result %d, entries %d, active %u, targets %d, bars", pass, result,
           g_engine.entry_count, g_engine.snapshot.active_count, g_engine.targets.target_count);
    for (uint32_t i = 0; i < g_engine.snapshot.active_count && i < kBarsShown; ++i) {
      printf(" %02x", g_engine.snapshot.bars[i]);
    }
    printf("\n");
    g_engine.targets.target_count = 0;
    memset(&g_engine.snapshot, 0, sizeof(g_engine.snapshot));
  }
  return 0;
}
