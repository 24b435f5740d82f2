// The sampling pass: measures every process's processor use since the previous pass,
// then turns the usages into the working snapshot and the throttle targets.
#include <string.h>

#include "engine/engine.h"
#include "engine/platform.h"
#include "engine/sampler_internal.h"

namespace {

const int kNoSlot = -1;
const uint32_t kNoProcess = 0;
const uint64_t kTimeUnitsPer10Us = 100;  // 100-ns units; 10 us per ms gives percent
const int32_t kFullMachinePercent = 100;
const int32_t kShareMask = 0xFF;  // share is the low 8 bits of the quotient, signed
const int32_t kShareWrap = 0x100;
const int32_t kShareSignBit = 0x80;
const int32_t kMinLogicalCpus = 1;

uint64_t combine_halves(PlatformTime time) {
  return (static_cast<uint64_t>(time.high) << 32) | time.low;
}

// The low 8 bits of the quotient, read as a signed byte: 130 becomes -126.
int32_t share_of(int32_t usage, int32_t cpus) {
  const int32_t low = (usage / cpus) & kShareMask;
  return low >= kShareSignBit ? low - kShareWrap : low;
}

void start_entry(ProcessUsageEntry* entry, uint32_t pid, uint64_t cpu_time) {
  entry->pid = pid;
  entry->prev_cpu_time = 0;
  entry->cpu_time = cpu_time;
  // A fresh start must not inherit the slot's previous usage into this pass's selection.
  entry->usage = 0;
  entry->generation = g_engine.current_generation;
}

void compute_usage(ProcessUsageEntry* entry) {
  const uint32_t elapsed_ms = g_engine.pass_tick - g_engine.previous_pass_tick;  // wraps
  if (elapsed_ms == 0) return;  // no interval to measure over; keep the last value
  // Never negative: the times only move on when the new time has not gone down.
  const uint64_t delta = entry->cpu_time - entry->prev_cpu_time;
  const uint64_t percent = delta / kTimeUnitsPer10Us / elapsed_ms;
  entry->usage = static_cast<int32_t>(static_cast<uint32_t>(percent));
}

void measure_process(uint32_t pid) {
  PlatformHandle process = platform_open_process(pid);
  if (process == nullptr) return;
  PlatformTime kernel;
  PlatformTime user;
  if (platform_process_times(process, &kernel, &user) == 0) {
    const int slot = find_or_add_process(pid, sum_process_times(kernel, user));
    if (slot != kNoSlot) {
      ProcessUsageEntry* entry = &g_engine.table[slot];
      if (entry->prev_cpu_time != 0) compute_usage(entry);
    }
  }
  platform_close(process);
}

int32_t used_entry_count() {
  const int32_t count = g_engine.entry_count;
  if (count < 0) return 0;
  return count > kUsageTableCapacity ? kUsageTableCapacity : count;
}

// Counting sort, largest first. Entries without a bucket keep the front positions at 0;
// past the record's capacity the smallest shares are dropped.
void fill_bars(int32_t active) {
  UsageSnapshot* snapshot = &g_engine.snapshot;
  const uint16_t* counts = g_engine.histogram.counts;
  memset(snapshot->bars, 0, sizeof(snapshot->bars));
  int32_t bucketed = 0;
  for (int b = 0; b < kHistogramBuckets; ++b) bucketed += counts[b];
  int32_t pos = active > bucketed ? active - bucketed : 0;
  for (int b = kHistogramBuckets - 1; b >= 0 && pos < kBarsCapacity; --b) {
    for (int32_t n = counts[b]; n > 0 && pos < kBarsCapacity; --n) {
      snapshot->bars[pos++] = static_cast<uint8_t>(b);
    }
  }
}

}  // namespace

uint64_t sum_process_times(PlatformTime kernel, PlatformTime user) {
  return combine_halves(kernel) + combine_halves(user);
}

int find_or_add_process(uint32_t pid, uint64_t cpu_time) {
  if (pid == kNoProcess) return kNoSlot;
  int free_slot = kNoSlot;
  const int32_t count = used_entry_count();
  // Downwards, so that without a match the last free slot seen is the lowest one.
  for (int32_t i = count - 1; i >= 0; --i) {
    ProcessUsageEntry* entry = &g_engine.table[i];
    if (entry->pid == pid) {
      if (cpu_time >= entry->cpu_time) {
        entry->prev_cpu_time = entry->cpu_time;
        entry->cpu_time = cpu_time;
        entry->generation = g_engine.current_generation;
      } else {
        start_entry(entry, pid, cpu_time);  // the id now names a different process
      }
      return i;
    }
    if (entry->pid == kNoProcess) free_slot = i;
  }
  if (free_slot != kNoSlot) {
    start_entry(&g_engine.table[free_slot], pid, cpu_time);
    return free_slot;
  }
  if (count >= kUsageTableCapacity) return kNoSlot;
  start_entry(&g_engine.table[count], pid, cpu_time);
  g_engine.entry_count = count + 1;
  return count;
}

void run_selection_phase() {
  EngineState* e = &g_engine;
  ThrottleTargetList* targets = &e->targets;
  if (targets->target_count < 0 || targets->target_count > kTargetCapacity) {
    targets->target_count = 0;
  }
  const int32_t cpus =
      e->logical_cpu_count < kMinLogicalCpus ? kMinLogicalCpus : e->logical_cpu_count;
  // 64-bit so that no threshold value can overflow the limit.
  const int64_t limit = static_cast<int64_t>(kFullMachinePercent) - e->threshold_percent;
  int32_t active = 0;
  int32_t last = used_entry_count() - 1;
  // entry_count is read at every step: freeing the last slot lowers it.
  for (int32_t j = 0; j < used_entry_count(); ++j) {
    ProcessUsageEntry* entry = &e->table[j];
    if (entry->generation != e->current_generation) {
      entry->pid = kNoProcess;
      if (j == last) {
        --e->entry_count;
        --last;
      }
      continue;
    }
    if (entry->pid == kNoProcess || entry->usage == 0) continue;
    const int32_t share = share_of(entry->usage, cpus);
    ++active;
    if (share >= 0) ++e->histogram.counts[share];  // a wrapped, negative share has no bar
    if (share > limit && targets->target_count < kTargetCapacity &&
        !is_protected_process(entry->pid)) {
      targets->target_slot[targets->target_count++] = j;
    }
  }
  e->snapshot.active_count = static_cast<uint32_t>(active < kBarsCapacity ? active : kBarsCapacity);
  e->current_generation = 1 - e->current_generation;
  fill_bars(active);
  for (int32_t k = 0; k < targets->target_count; ++k) e->snapshot.bars[k] |= HOG_FLAG;
}

int run_sampling_pass() {
  // Cleared even when the pass then fails, so no count outlives the pass it was for.
  memset(&g_engine.histogram, 0, sizeof(g_engine.histogram));
  PlatformHandle list = platform_open_process_list();
  if (list == nullptr) return -1;
  uint32_t pid = 0;
  if (platform_first_process(list, &pid) != 0) {
    platform_close(list);
    return -1;
  }
  g_engine.pass_tick = platform_tick_count();
  do {
    measure_process(pid);
  } while (platform_next_process(list, &pid) == 0);
  run_selection_phase();
  g_engine.previous_pass_tick = g_engine.pass_tick;
  platform_close(list);
  return 0;
}
