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

namespace {

int32_t listed_count() {
  const int32_t count = g_engine.protected_pids.protected_count;
  if (count < 0) return 0;
  return count > kProtectedCapacity ? kProtectedCapacity : count;
}

// How many monitor entries the session holds; *newest is the last of them, or -1.
int32_t session_entries(uint32_t session_id, int32_t* newest) {
  const ProtectedPidList* list = &g_engine.protected_pids;
  int32_t count = 0;
  *newest = -1;
  for (int32_t i = kFirstMonitorEntry; i < listed_count(); ++i) {
    if (list->processes[i].session_id != session_id) continue;
    ++count;
    *newest = i;
  }
  return count;
}

// The newest entry of the session that holds the most, when it holds more than one: its
// older window stays. -1 when every session holds one.
int32_t spare_place() {
  int32_t most = 1, place = -1;
  for (int32_t i = kFirstMonitorEntry; i < listed_count(); ++i) {
    int32_t newest = -1;
    const int32_t count = session_entries(g_engine.protected_pids.processes[i].session_id, &newest);
    if (count > most) {
      most = count;
      place = newest;
    }
  }
  return place;
}

}  // namespace

int protect_process(uint32_t pid, uint64_t creation_time, uint32_t session_id) {
  if (pid == kNoProcess) return -1;
  // A monitor that announces itself again needs no second entry.
  if (is_protected_process(pid, creation_time)) return 0;
  ProtectedPidList* list = &g_engine.protected_pids;
  if (listed_count() > kServiceEntry) {
    int32_t newest = -1;
    if (session_entries(session_id, &newest) >= kMonitorEntriesPerSession) return -1;
    if (listed_count() >= kProtectedCapacity) {
      const int32_t place = spare_place();
      if (place < 0) return -1;
      drop_protection(place);
    }
  }
  list->protected_count = listed_count();
  list->processes[list->protected_count++] = ProtectedProcess{pid, creation_time, session_id, SparedProcess{}};
  return 0;
}

void drop_protection(int32_t index) {
  ProtectedPidList* list = &g_engine.protected_pids;
  if (index <= kServiceEntry || index >= list->protected_count || list->protected_count > kProtectedCapacity) {
    return;
  }
  for (int32_t i = index; i + 1 < list->protected_count; ++i) list->processes[i] = list->processes[i + 1];
  --list->protected_count;
  list->processes[list->protected_count] = ProtectedProcess{};
}
