// The engine's one state record and the protected-process list. Nothing here touches
// the platform, so the service's host tests can link it with their own pass and cycle.
#include <string.h>

#include "engine/engine.h"

namespace {

const uint32_t kNoProcess = 0;
const int32_t kServiceEntry = 0;  // the service's own id; never replaced
const int32_t kSingleProcessor = 1;

}  // namespace

// All zero, so its tables take no room in the executable; every process that runs the
// engine calls engine_reset first (the service does so before its dispatcher starts).
EngineState g_engine;

void engine_reset() {
  memset(&g_engine, 0, sizeof(g_engine));
  g_engine.threshold_percent = kDefaultThresholdPercent;
  g_engine.logical_cpu_count = kSingleProcessor;
  g_engine.protected_pids.next_replaced = kFirstMonitorEntry;
}

int is_protected_process(uint32_t pid, uint64_t creation_time) {
  if (pid == kNoProcess) return 0;
  const ProtectedPidList* list = &g_engine.protected_pids;
  int32_t count = list->protected_count;
  if (count > kProtectedCapacity) count = kProtectedCapacity;
  for (int32_t i = 0; i < count; ++i) {
    const ProtectedProcess* entry = &list->processes[i];
    if (entry->pid == pid && entry->creation_time == creation_time) return 1;
  }
  return 0;
}

void protect_process(uint32_t pid, uint64_t creation_time) {
  // A monitor that announces itself again needs no second entry.
  if (pid == kNoProcess || is_protected_process(pid, creation_time)) return;
  ProtectedPidList* list = &g_engine.protected_pids;
  const ProtectedProcess process = {pid, creation_time, SparedProcess{}};
  if (list->protected_count >= 0 && list->protected_count < kProtectedCapacity) {
    list->processes[list->protected_count++] = process;
    return;
  }
  // Full: the newest monitor takes the place of the oldest, round-robin over the
  // monitor entries, so the service's entry stays and recent monitors stay protected.
  int32_t victim = list->next_replaced;
  if (victim <= kServiceEntry || victim >= kProtectedCapacity) victim = kFirstMonitorEntry;
  list->processes[victim] = process;
  list->next_replaced = victim + 1 < kProtectedCapacity ? victim + 1 : kFirstMonitorEntry;
}

void drop_protection(int32_t index) {
  ProtectedPidList* list = &g_engine.protected_pids;
  if (index <= kServiceEntry || index >= list->protected_count || list->protected_count > kProtectedCapacity) {
    return;
  }
  for (int32_t i = index; i + 1 < list->protected_count; ++i) list->processes[i] = list->processes[i + 1];
  --list->protected_count;
  list->processes[list->protected_count] = ProtectedProcess{};
  if (list->next_replaced > index) --list->next_replaced;
  if (list->next_replaced < kFirstMonitorEntry) list->next_replaced = kFirstMonitorEntry;
}
