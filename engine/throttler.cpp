// The duty-cycle throttler: holds every target's threads suspended for part of each
// second, then resumes exactly those threads, and empties the target list for the next
// cycle.
#include "engine/engine.h"
#include "engine/platform.h"

namespace {

const uint32_t kNoProcess = 0;
const int32_t kNoTarget = -1;
const int32_t kDutyCycleMs = 1000;
const int32_t kPercent = 100;
// Outside this range the suspend or rest time would be negative or endless.
const int32_t kMinThrottlePercent = 1;
const int32_t kMaxThrottlePercent = 100;

int32_t clamped_threshold() {
  const int32_t t = g_engine.threshold_percent;
  if (t < kMinThrottlePercent) return kMinThrottlePercent;
  return t > kMaxThrottlePercent ? kMaxThrottlePercent : t;
}

int32_t target_count() {
  const int32_t count = g_engine.targets.target_count;
  if (count < 0) return 0;
  return count > kTargetCapacity ? kTargetCapacity : count;
}

// The process id of target i, or 0 when the list names no usable slot.
uint32_t target_pid(int32_t i) {
  const int32_t slot = g_engine.targets.target_slot[i];
  if (slot < 0 || slot >= kUsageTableCapacity) return kNoProcess;
  return g_engine.table[slot].pid;
}

// The target that owns threads of this process, or kNoTarget. Id 0 is the idle
// pseudo-process and is never anyone's target.
int32_t target_of(const uint32_t* pids, int32_t count, uint32_t owner) {
  if (owner == kNoProcess) return kNoTarget;
  for (int32_t i = 0; i < count; ++i) {
    if (pids[i] == owner) return i;
  }
  return kNoTarget;
}

// One walk of the system's threads opens every thread of every target; past the
// table's capacity further threads are left running.
void open_target_threads() {
  SuspendedThreadTable* table = &g_engine.suspended;
  table->count = 0;
  uint32_t pids[kTargetCapacity];
  const int32_t count = target_count();
  for (int32_t i = 0; i < count; ++i) pids[i] = target_pid(i);
  PlatformHandle list = platform_open_thread_list();
  if (list == nullptr) return;
  PlatformThreadEntry entry;
  if (platform_first_thread(list, &entry) == 0) {
    do {
      const int32_t target = target_of(pids, count, entry.owner_process_id);
      if (target == kNoTarget) continue;
      if (table->count >= kSuspendedCapacity) break;
      PlatformHandle thread = platform_open_thread(entry.thread_id);
      if (thread == nullptr) continue;  // left alone; it may have ended
      SuspendedThread* held = &table->threads[table->count++];
      held->handle = thread;
      held->thread_id = entry.thread_id;
      held->process_id = entry.owner_process_id;
      held->target = target;
    } while (platform_next_thread(list, &entry) == 0);
  }
  platform_close(list);
}

// Suspends the opened threads; one whose suspend fails is closed and dropped, so the
// resume pass never takes a count that this cycle did not add.
void suspend_opened_threads() {
  SuspendedThreadTable* table = &g_engine.suspended;
  int32_t kept = 0;
  for (int32_t i = 0; i < table->count; ++i) {
    SuspendedThread thread = table->threads[i];
    if (platform_suspend_thread(thread.handle) == kPlatformSuspendFailed) {
      platform_close(thread.handle);
      continue;
    }
    table->threads[kept++] = thread;
  }
  table->count = kept;
}

void resume_suspended_threads() {
  SuspendedThreadTable* table = &g_engine.suspended;
  for (int32_t i = 0; i < table->count; ++i) {
    platform_resume_thread(table->threads[i].handle);
    platform_close(table->threads[i].handle);
  }
  table->count = 0;
}

// Tells the next pass how long each target really was held: only targets with a
// suspended thread were held at all.
void record_holds(uint32_t held_ms) {
  const SuspendedThreadTable* table = &g_engine.suspended;
  for (int32_t i = 0; i < table->count; ++i) {
    const int32_t slot = g_engine.targets.target_slot[table->threads[i].target];
    g_engine.table[slot].held_ms = held_ms;
  }
}

}  // namespace

void run_duty_cycle() {
  int32_t suspend_ms = 0;
  if (target_count() > 0) {
    const uint32_t held_from = platform_tick_count();
    open_target_threads();
    suspend_opened_threads();
    suspend_ms = clamped_threshold() * kDutyCycleMs / kPercent - 1;
    platform_sleep(static_cast<uint32_t>(suspend_ms));
    const uint32_t held_until = platform_tick_count();
    record_holds(held_until - held_from);
    resume_suspended_threads();
  }
  g_engine.targets.target_count = 0;
  platform_sleep(static_cast<uint32_t>(kDutyCycleMs - suspend_ms));
}
