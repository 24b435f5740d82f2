// The duty-cycle throttler: holds every target's threads suspended for part of each
// second, then resumes them, and empties the target list for the next cycle.
#include "engine/engine.h"
#include "engine/platform.h"

namespace {

const uint32_t kNoProcess = 0;
const int32_t kDutyCycleMs = 1000;
const int32_t kPercent = 100;
// Outside this range the suspend or rest time would be negative or endless.
const int32_t kMinThrottlePercent = 1;
const int32_t kMaxThrottlePercent = 100;
const int kSuspend = 1;
const int kResume = 0;

int32_t clamped_threshold() {
  const int32_t t = g_engine.threshold_percent;
  if (t < kMinThrottlePercent) return kMinThrottlePercent;
  return t > kMaxThrottlePercent ? kMaxThrottlePercent : t;
}

// The process id of target i, or 0 when the list names no usable slot.
uint32_t target_pid(int32_t i) {
  const int32_t slot = g_engine.targets.target_slot[i];
  if (slot < 0 || slot >= kUsageTableCapacity) return kNoProcess;
  return g_engine.table[slot].pid;
}

// Visits every target in list order, whatever an earlier pass achieved.
void apply_to_targets(int suspend) {
  ThrottleTargetList* targets = &g_engine.targets;
  for (int32_t i = 0; i < targets->target_count && i < kTargetCapacity; ++i) {
    const uint32_t pid = target_pid(i);
    // Id 0 would match the idle pseudo-process's threads.
    if (pid != kNoProcess) set_process_suspended(pid, suspend);
  }
}

}  // namespace

int set_process_suspended(uint32_t process_id, int suspend) {
  PlatformHandle list = platform_open_thread_list();
  if (list == nullptr) return 0;
  PlatformThreadEntry entry;
  if (platform_first_thread(list, &entry) != 0) {
    platform_close(list);
    return 0;
  }
  do {
    if (entry.owner_process_id != process_id) continue;
    PlatformHandle thread = platform_open_thread(entry.thread_id);
    if (thread == nullptr) continue;  // left alone; it may have ended
    // Results ignored: a failed suspend is skipped, and a resume of a running thread
    // does nothing.
    if (suspend) {
      platform_suspend_thread(thread);
    } else {
      platform_resume_thread(thread);
    }
    platform_close(thread);
  } while (platform_next_thread(list, &entry) == 0);
  platform_close(list);
  return 1;
}

int run_duty_cycle() {
  int32_t suspend_ms = 0;
  if (g_engine.targets.target_count > 0) {
    apply_to_targets(kSuspend);
    suspend_ms = clamped_threshold() * kDutyCycleMs / kPercent - 1;
    platform_sleep(static_cast<uint32_t>(suspend_ms));
  }
  apply_to_targets(kResume);
  g_engine.targets.target_count = 0;
  platform_sleep(static_cast<uint32_t>(kDutyCycleMs - suspend_ms));
  return 0;
}
