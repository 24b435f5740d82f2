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
const uint32_t kServicesSession = 0;

int32_t clamped_threshold() {
  const int32_t t = g_engine.threshold_percent;
  if (t < kMinThresholdPercent) return kMinThresholdPercent;
  return t > kMaxThresholdPercent ? kMaxThresholdPercent : t;
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

// Pins every target that may be held: its process, opened and checked against the
// entry's creation time, stays open until its threads are resumed. A target whose id
// already names another process, that cannot be opened, or whose session is ending, gets
// no id in `pids` and is not held.
void pin_targets(uint32_t* pids, int32_t count) {
  SuspendedThreadTable* table = &g_engine.suspended;
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t pid = target_pid(i);
    table->processes[i] = nullptr;
    pids[i] = kNoProcess;
    if (pid == kNoProcess) continue;
    const ProcessUsageEntry* entry = &g_engine.table[g_engine.targets.target_slot[i]];
    if (session_is_ending(entry->session_id)) continue;
    table->processes[i] = platform_open_process(pid, entry->creation_time);
    if (table->processes[i] != nullptr) pids[i] = pid;
  }
}

void unpin_targets(int32_t count) {
  SuspendedThreadTable* table = &g_engine.suspended;
  for (int32_t i = 0; i < count; ++i) {
    platform_close(table->processes[i]);
    table->processes[i] = nullptr;
  }
}

// One walk of the threads the pass's list recorded opens every thread of every pinned
// target. An id in the list may since name another thread, so each opened thread's
// process is asked again: with the target pinned, a thread that belongs to its id is its.
// Past the table's capacity further threads are left running.
void open_target_threads(int32_t count) {
  SuspendedThreadTable* table = &g_engine.suspended;
  table->count = 0;
  uint32_t pids[kTargetCapacity];
  pin_targets(pids, count);
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
      if (platform_thread_process_id(thread) != pids[target]) {
        platform_close(thread);  // the id is another process's thread now
        continue;
      }
      const int32_t i = table->count++;
      table->handles[i] = thread;
      table->targets[i] = target;
      table->records[i].process_id = pids[target];
      table->records[i].thread_id = entry.thread_id;
      table->records[i].creation_time = g_engine.table[g_engine.targets.target_slot[target]].creation_time;
    } while (platform_next_thread(list, &entry) == 0);
  }
  platform_close(list);
}

// Closes the opened threads without touching them.
void close_opened_threads() {
  SuspendedThreadTable* table = &g_engine.suspended;
  for (int32_t i = 0; i < table->count; ++i) platform_close(table->handles[i]);
  table->count = 0;
}

// Suspends the opened threads; one whose suspend fails is closed and dropped, so the
// resume pass never takes a count that this cycle did not add. Returns how many failed.
int32_t suspend_opened_threads() {
  SuspendedThreadTable* table = &g_engine.suspended;
  int32_t kept = 0;
  for (int32_t i = 0; i < table->count; ++i) {
    if (platform_suspend_thread(table->handles[i]) == kPlatformSuspendFailed) {
      platform_close(table->handles[i]);
      continue;
    }
    table->handles[kept] = table->handles[i];
    table->targets[kept] = table->targets[i];
    table->records[kept] = table->records[i];
    ++kept;
  }
  const int32_t failed = table->count - kept;
  table->count = kept;
  return failed;
}

void resume_suspended_threads() {
  SuspendedThreadTable* table = &g_engine.suspended;
  for (int32_t i = 0; i < table->count; ++i) {
    platform_resume_thread(table->handles[i]);
    platform_close(table->handles[i]);
  }
  table->count = 0;
}

// Tells the next pass how long each target really was held: only targets with a
// suspended thread were held at all.
void record_holds(uint32_t held_ms) {
  const SuspendedThreadTable* table = &g_engine.suspended;
  for (int32_t i = 0; i < table->count; ++i) {
    const int32_t slot = g_engine.targets.target_slot[table->targets[i]];
    g_engine.table[slot].held_ms = held_ms;
  }
}

// The named targets' holds go into the report beside the snapshot they are red in.
void report_holds() {
  for (HeldProcess& held : g_engine.report.held) {
    if (held.slot < 0 || held.slot >= kUsageTableCapacity || held.pid == kNoProcess) continue;
    if (g_engine.table[held.slot].pid == held.pid) held.hold_ms = g_engine.table[held.slot].held_ms;
  }
}

// The recorded thread that this live thread is, or -1.
int32_t recorded_index(const SuspensionRecord* records, int32_t count, const PlatformThreadEntry* thread) {
  for (int32_t i = 0; i < count; ++i) {
    if (records[i].thread_id == thread->thread_id && records[i].process_id == thread->owner_process_id) {
      return i;
    }
  }
  return -1;
}

// Keeps only the records whose process the system still lists with the recorded creation
// time: a reused id names a stranger, whose threads are not the service's to resume.
int32_t keep_records_of_live_processes(SuspensionRecord* records, int32_t count) {
  PlatformHandle list = platform_open_process_list();
  if (list == nullptr) return 0;
  uint8_t alive[kSuspendedCapacity] = {};
  PlatformProcessInfo info;
  for (int more = platform_first_process(list, &info); more == 0; more = platform_next_process(list, &info)) {
    for (int32_t i = 0; i < count; ++i) {
      if (records[i].process_id == info.process_id && records[i].creation_time == info.creation_time) {
        alive[i] = 1;
      }
    }
  }
  platform_close(list);
  int32_t kept = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (alive[i]) records[kept++] = records[i];
  }
  return kept;
}

}  // namespace

void run_duty_cycle() {
  int32_t suspend_ms = 0;
  int cut_short = 0;
  const int32_t count = target_count();
  if (count > 0) {
    SuspendedThreadTable* table = &g_engine.suspended;
    const uint32_t held_from = platform_tick_count();
    open_target_threads(count);
    // Recorded before any suspension lands: should the service die while it holds
    // them, its next start resumes them. Without that record nothing is suspended, as a
    // thread held then could stay frozen until the machine restarts.
    int has_threads = table->count > 0;
    if (has_threads && platform_save_suspension_record(table->records, table->count) != 0) {
      close_opened_threads();
      has_threads = 0;
    }
    // Whatever failed is taken out again.
    if (suspend_opened_threads() > 0) platform_save_suspension_record(table->records, table->count);
    suspend_ms = clamped_threshold() * kDutyCycleMs / kPercent - 1;
    cut_short = platform_hold(static_cast<uint32_t>(suspend_ms));
    const uint32_t held_until = platform_tick_count();
    record_holds(held_until - held_from);
    resume_suspended_threads();
    unpin_targets(count);
    if (has_threads) platform_clear_suspension_record();
    report_holds();
  }
  g_engine.targets.target_count = 0;
  // Cut short, the service is on its way out or a session signs out: no rest before the
  // next stop check.
  if (!cut_short) platform_sleep(static_cast<uint32_t>(kDutyCycleMs - suspend_ms));
}

void end_session_holds(uint32_t session_id) {
  EndingSessions* ending = &g_engine.ending_sessions;
  if (session_id == kServicesSession || session_is_ending(session_id)) return;
  // Full, the oldest mark gives way: the newest sign-out matters now.
  if (ending->count >= kEndingSessionCapacity) {
    for (int32_t i = 1; i < kEndingSessionCapacity; ++i) ending->ids[i - 1] = ending->ids[i];
    ending->count = kEndingSessionCapacity - 1;
  }
  ending->ids[ending->count++] = session_id;
}

int end_monitor_session(uint32_t monitor_pid) {
  if (monitor_pid == kNoProcess || monitor_pid == g_engine.protected_pids.processes[0].pid) return -1;
  for (int32_t j = 0; j < g_engine.entry_count && j < kUsageTableCapacity; ++j) {
    const ProcessUsageEntry* entry = &g_engine.table[j];
    if (entry->pid != monitor_pid || !is_protected_process(entry->pid, entry->creation_time)) continue;
    end_session_holds(entry->session_id);
    return 0;
  }
  return -1;
}

bool session_is_ending(uint32_t session_id) {
  const EndingSessions* ending = &g_engine.ending_sessions;
  for (int32_t i = 0; i < ending->count && i < kEndingSessionCapacity; ++i) {
    if (ending->ids[i] == session_id) return true;
  }
  return false;
}

void forget_ended_sessions() {
  EndingSessions* ending = &g_engine.ending_sessions;
  if (ending->count <= 0) return;
  bool listed[kEndingSessionCapacity] = {};
  for (int32_t j = 0; j < g_engine.entry_count && j < kUsageTableCapacity; ++j) {
    const ProcessUsageEntry* entry = &g_engine.table[j];
    if (entry->pid == kNoProcess || entry->generation != g_engine.current_generation) continue;
    for (int32_t i = 0; i < ending->count && i < kEndingSessionCapacity; ++i) {
      if (ending->ids[i] == entry->session_id) listed[i] = true;
    }
  }
  int32_t kept = 0;
  for (int32_t i = 0; i < ending->count && i < kEndingSessionCapacity; ++i) {
    if (listed[i]) ending->ids[kept++] = ending->ids[i];
  }
  ending->count = kept;
}

void resume_recorded_threads() {
  SuspensionRecord* records = g_engine.suspended.records;
  int32_t count = platform_load_suspension_record(records, kSuspendedCapacity);
  if (count <= 0) return;
  if (count > kSuspendedCapacity) count = kSuspendedCapacity;
  count = keep_records_of_live_processes(records, count);
  PlatformHandle list = count > 0 ? platform_open_thread_list() : nullptr;
  PlatformThreadEntry entry;
  if (list != nullptr && platform_first_thread(list, &entry) == 0) {
    do {
      const int32_t i = recorded_index(records, count, &entry);
      if (i < 0) continue;
      PlatformHandle thread = platform_open_thread(entry.thread_id);
      if (thread == nullptr) continue;
      if (platform_thread_process_id(thread) != entry.owner_process_id) {
        platform_close(thread);  // the id passed to another process's thread since the list
        continue;
      }
      platform_resume_thread(thread);
      platform_close(thread);
      records[i].thread_id = 0;  // once only, whatever the list holds
    } while (platform_next_thread(list, &entry) == 0);
  }
  platform_close(list);
  platform_clear_suspension_record();
}
