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
// The kernel gives this id to the System process at boot, and no other process can hold
// it while the system runs, so unlike a name it cannot be copied. System has no image to
// check. The Idle process, id 0, never gets an entry: its time is the unused machine.
const uint32_t kSystemProcessId = 4;

uint64_t combine_halves(PlatformTime time) {
  return (static_cast<uint64_t>(time.high) << 32) | time.low;
}

// The low 8 bits of the quotient, read as a signed byte: 130 becomes -126.
int32_t share_of(int32_t usage, int32_t cpus) {
  const int32_t low = (usage / cpus) & kShareMask;
  return low >= kShareSignBit ? low - kShareWrap : low;
}

void start_entry(ProcessUsageEntry* entry, uint32_t pid, uint64_t creation_time,
                 uint64_t cpu_time) {
  entry->pid = pid;
  entry->creation_time = creation_time;
  entry->prev_cpu_time = 0;
  entry->cpu_time = cpu_time;
  // A fresh start must not inherit the slot's previous usage into this pass's selection.
  entry->usage = 0;
  entry->generation = g_engine.current_generation;
  entry->held_ms = 0;
  entry->verdict = kVerdictUnchecked;
}

void compute_usage(ProcessUsageEntry* entry) {
  const uint32_t elapsed_ms = g_engine.pass_tick - g_engine.previous_pass_tick;  // wraps
  if (elapsed_ms == 0) return;  // no interval to measure over; keep the last value
  // Never negative: the times only move on when the new time has not gone down.
  const uint64_t delta = entry->cpu_time - entry->prev_cpu_time;
  const uint64_t percent = delta / kTimeUnitsPer10Us / elapsed_ms;
  entry->usage = static_cast<int32_t>(static_cast<uint32_t>(percent));
}

// The times come with the system's list, so measuring opens nothing: every listed
// process is measured and drawn, whether or not the throttle may ever touch it.
void measure_process(const PlatformProcessInfo* info) {
  const int slot = find_or_add_process(info->process_id, info->creation_time,
                                       sum_process_times(info->kernel, info->user));
  if (slot == kNoSlot) return;
  ProcessUsageEntry* entry = &g_engine.table[slot];
  entry->parent_pid = info->parent_process_id;
  entry->session_id = info->session_id;
  if (entry->prev_cpu_time != 0) compute_usage(entry);
}

// Marks the protected entries that name this process, and those whose claim names it,
// one bit per entry.
void see_protected(const PlatformProcessInfo* info, uint64_t* seen, uint64_t* claims_seen) {
  const ProtectedPidList* list = &g_engine.protected_pids;
  for (int32_t i = 0; i < list->protected_count && i < kProtectedCapacity; ++i) {
    const ProtectedProcess* entry = &list->processes[i];
    if (entry->pid == info->process_id && entry->creation_time == info->creation_time) {
      *seen |= 1ull << i;
    }
    if (entry->claim.pid == info->process_id && entry->claim.creation_time == info->creation_time) {
      *claims_seen |= 1ull << i;
    }
  }
}

// A claimed program that has ended, or whose id now names another, is spared no more.
void forget_unseen_claims(uint64_t claims_seen) {
  ProtectedPidList* list = &g_engine.protected_pids;
  for (int32_t i = 0; i < list->protected_count && i < kProtectedCapacity; ++i) {
    if ((claims_seen & (1ull << i)) == 0) list->processes[i].claim = SparedProcess{};
  }
}

// A monitor that has ended, or whose id now names another process, loses its entry, so
// no stranger inherits it and the place is free for the next monitor.
void drop_unseen_protection(uint64_t seen) {
  for (int32_t i = g_engine.protected_pids.protected_count - 1; i >= 1; --i) {
    if (i < kProtectedCapacity && (seen & (1ull << i)) == 0) drop_protection(i);
  }
}

// Holdable when a thread of it opens for suspend and resume; a protected process refuses,
// and a target that cannot be held must not be drawn red. Unchecked, to be asked again,
// when the thread list cannot be had.
int32_t thread_verdict(uint32_t pid) {
  PlatformHandle list = platform_open_thread_list();
  if (list == nullptr) return kVerdictUnchecked;
  int32_t verdict = kVerdictNotHoldable;
  PlatformThreadEntry entry;
  for (int more = platform_first_thread(list, &entry); more == 0 && verdict != kVerdictHoldable;
       more = platform_next_thread(list, &entry)) {
    if (entry.owner_process_id != pid) continue;
    PlatformHandle thread = platform_open_thread(entry.thread_id);
    if (thread == nullptr) continue;
    platform_close(thread);
    verdict = kVerdictHoldable;
  }
  platform_close(list);
  return verdict;
}

// Asked once per process (the entry starts afresh when its id is reused), so a process
// is opened only when it first rises above the limit.
int32_t decide_verdict(uint32_t pid) {
  if (pid == kSystemProcessId) return kVerdictSystem;
  const int process_class = platform_process_class(pid);
  if (process_class == kProcessSystem) return kVerdictSystem;
  // Who it is cannot be checked, so it may be one of the system's own: left alone.
  if (process_class != kProcessOrdinary) return kVerdictNotHoldable;
  // Assistive technology: held, it would freeze for the user who depends on it, and its
  // input hooks would be dropped by Windows for good. A token that cannot be read leaves
  // the process to the rules above.
  if (platform_has_ui_access(pid) == 1) return kVerdictSystem;
  return thread_verdict(pid);
}

int32_t used_entry_count() {
  const int32_t count = g_engine.entry_count;
  if (count < 0) return 0;
  return count > kUsageTableCapacity ? kUsageTableCapacity : count;
}

const uint32_t kPidIndexMask = kPidIndexCapacity - 1;
const uint32_t kGoldenRatio32 = 2654435761u;  // spreads neighbouring ids over the index
static_assert(kPidIndexCapacity == 1 << kPidIndexBits, "the index's size is a power of two");
static_assert(kUsageTableCapacity < 0xFFFF, "slot + 1 fits an index place");

// Windows gives ids in steps of four, so the low bits say nothing.
uint32_t index_start(uint32_t pid) { return ((pid >> 2) * kGoldenRatio32) >> (32 - kPidIndexBits); }

void place_in_index(int32_t slot) {
  PidIndex* index = &g_engine.pid_index;
  uint32_t at = index_start(g_engine.table[slot].pid);
  while (index->places[at] != 0) at = (at + 1) & kPidIndexMask;
  index->places[at] = static_cast<uint16_t>(slot + 1);
  ++index->used;
}

// Places of freed entries stay until the next build. Past half full the index is built
// again, with this entry in it, so that a free place still ends every probe.
void index_new_entry(int32_t slot) {
  if (g_engine.pid_index.used >= kPidIndexCapacity / 2) {
    build_pid_index();
  } else {
    place_in_index(slot);
  }
}

// The lowest free slot below entry_count, or entry_count. Within a pass slots are only
// taken, never freed, so the search goes on from where the last one ended.
int32_t lowest_free_slot(int32_t count) {
  int32_t slot = g_engine.lowest_free < 0 ? 0 : g_engine.lowest_free;
  while (slot < count && g_engine.table[slot].pid != kNoProcess) ++slot;
  g_engine.lowest_free = slot;
  return slot < count ? slot : count;
}

// Counting sort, largest first; within a share the targets' bars come first and carry
// HOG_FLAG, so the red bars are exactly the targets'. Entries without a bucket keep the
// front positions at 0; past the record's capacity the smallest shares are dropped.
void fill_bars(int32_t active) {
  UsageSnapshot* snapshot = &g_engine.snapshot;
  const UsageHistogram* histogram = &g_engine.histogram;
  memset(snapshot->bars, 0, sizeof(snapshot->bars));
  int32_t bucketed = 0;
  for (int b = 0; b < kHistogramBuckets; ++b) bucketed += histogram->counts[b];
  int32_t pos = active > bucketed ? active - bucketed : 0;
  for (int b = kHistogramBuckets - 1; b >= 0 && pos < kBarsCapacity; --b) {
    const int32_t targets = histogram->target_counts[b];
    for (int32_t n = 0; n < histogram->counts[b] && pos < kBarsCapacity; ++n) {
      const uint8_t flag = n < targets ? HOG_FLAG : 0;
      snapshot->bars[pos++] = static_cast<uint8_t>(b | flag);
    }
  }
}

// The share a process is judged on. One that the last duty cycle held suspended is
// judged on its demand: what it used, scaled up to the time it was allowed to run.
// Otherwise the hold itself would pull its share under the limit and it would run free
// every other cycle.
int64_t judged_share(const ProcessUsageEntry* entry, int32_t share, int32_t cpus, uint32_t held) {
  const uint32_t elapsed = g_engine.pass_tick - g_engine.previous_pass_tick;
  if (held == 0 || held >= elapsed) return share;
  const int64_t demand = static_cast<int64_t>(entry->usage) * elapsed / (elapsed - held) / cpus;
  return demand > kFullMachinePercent ? kFullMachinePercent : demand;
}

// Up to three targets, largest share first, for the window to name; an equal share keeps
// the earlier target ahead.
void name_held_targets(int32_t cpus) {
  HeldProcess* held = g_engine.report.held;
  for (int32_t i = 0; i < kHeldIdsCapacity; ++i) held[i] = HeldProcess{kNoProcess, -1, 0, kNoSlot};
  for (int32_t t = 0; t < g_engine.targets.target_count; ++t) {
    const int32_t slot = g_engine.targets.target_slot[t];
    const ProcessUsageEntry* entry = &g_engine.table[slot];
    const int32_t share = share_of(entry->usage, cpus);
    int32_t at = kHeldIdsCapacity;
    while (at > 0 && held[at - 1].share < share) --at;
    if (at == kHeldIdsCapacity) continue;
    for (int32_t i = kHeldIdsCapacity - 1; i > at; --i) held[i] = held[i - 1];
    held[at] = HeldProcess{entry->pid, share, 0, slot};
  }
  for (int32_t i = 0; i < kHeldIdsCapacity; ++i) {
    if (held[i].pid == kNoProcess) held[i].share = 0;
  }
}

}  // namespace

uint64_t sum_process_times(PlatformTime kernel, PlatformTime user) {
  return combine_halves(kernel) + combine_halves(user);
}

void build_pid_index() {
  PidIndex* index = &g_engine.pid_index;
  memset(index, 0, sizeof(*index));
  const int32_t count = used_entry_count();
  for (int32_t j = 0; j < count; ++j) {
    if (g_engine.table[j].pid != kNoProcess) place_in_index(j);
  }
}

int32_t indexed_slot(uint32_t pid) {
  const PidIndex* index = &g_engine.pid_index;
  if (pid == kNoProcess) return kNoSlot;
  for (uint32_t at = index_start(pid); index->places[at] != 0; at = (at + 1) & kPidIndexMask) {
    const int32_t slot = index->places[at] - 1;
    if (g_engine.table[slot].pid == pid) return slot;
  }
  return kNoSlot;
}

int find_or_add_process(uint32_t pid, uint64_t creation_time, uint64_t cpu_time) {
  if (pid == kNoProcess) return kNoSlot;
  const int32_t found = indexed_slot(pid);
  if (found != kNoSlot) {
    ProcessUsageEntry* entry = &g_engine.table[found];
    if (creation_time == entry->creation_time && cpu_time >= entry->cpu_time) {
      entry->prev_cpu_time = entry->cpu_time;
      entry->cpu_time = cpu_time;
      entry->generation = g_engine.current_generation;
    } else {
      // The id now names another process: a fresh entry, whatever its time.
      start_entry(entry, pid, creation_time, cpu_time);
    }
    return found;
  }
  const int32_t count = used_entry_count();
  const int32_t slot = lowest_free_slot(count);
  if (slot == count) {
    if (count >= kUsageTableCapacity) return kNoSlot;
    g_engine.entry_count = count + 1;
  }
  start_entry(&g_engine.table[slot], pid, creation_time, cpu_time);
  index_new_entry(slot);
  return slot;
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
  // Before the walk below frees stale entries: families are traced over this pass's list.
  mark_spared_families();
  int32_t sparing = 0;  // the first monitor entry whose claim kept a target from the list
  int32_t active = 0;
  int32_t last = used_entry_count() - 1;
  // entry_count is read at every step: freeing the last slot lowers it.
  for (int32_t j = 0; j < used_entry_count(); ++j) {
    ProcessUsageEntry* entry = &e->table[j];
    if (entry->generation != e->current_generation) {
      entry->pid = kNoProcess;
      if (j < e->lowest_free) e->lowest_free = j;
      if (j == last) {
        --e->entry_count;
        --last;
      }
      continue;
    }
    // A hold is judged once, in the pass right after it.
    const uint32_t held_ms = entry->held_ms;
    entry->held_ms = 0;
    if (entry->pid == kNoProcess || entry->usage == 0) continue;
    const int32_t share = share_of(entry->usage, cpus);
    ++active;
    // A wrapped, negative share has no bar and is never a target.
    if (share < 0) continue;
    ++e->histogram.counts[share];
    if (judged_share(entry, share, cpus, held_ms) <= limit ||
        is_protected_process(entry->pid, entry->creation_time)) {
      continue;
    }
    if (entry->verdict == kVerdictUnchecked) entry->verdict = decide_verdict(entry->pid);
    if (entry->verdict == kVerdictSystem) ++e->report.system_passed_over;
    if (entry->verdict != kVerdictHoldable || targets->target_count >= kTargetCapacity) continue;
    if (session_is_ending(entry->session_id)) continue;  // its user is signing out
    const int32_t spared_by = claim_sparing(j);
    if (spared_by != 0) {
      if (sparing == 0 || spared_by < sparing) sparing = spared_by;
      continue;
    }
    targets->target_slot[targets->target_count++] = j;
    ++e->histogram.target_counts[share];
  }
  if (sparing != 0) {
    e->report.spared_pid = e->protected_pids.processes[sparing].claim.pid;
    e->report.spared_family = e->families.family_size[sparing];
  }
  e->snapshot.active_count = static_cast<uint32_t>(active < kBarsCapacity ? active : kBarsCapacity);
  e->current_generation = 1 - e->current_generation;
  fill_bars(active);
  name_held_targets(cpus);
}

int run_sampling_pass() {
  // Cleared even when the pass then fails, so no count outlives the pass it was for.
  memset(&g_engine.histogram, 0, sizeof(g_engine.histogram));
  memset(&g_engine.report, 0, sizeof(g_engine.report));
  PlatformHandle list = platform_open_process_list();
  if (list == nullptr) return -1;
  PlatformProcessInfo info;
  if (platform_first_process(list, &info) != 0) {
    platform_close(list);
    return -1;
  }
  g_engine.pass_tick = platform_tick_count();
  // Every entry left holds a process the last pass saw; the ones this pass adds join it.
  build_pid_index();
  uint64_t protected_seen = 0;
  uint64_t claims_seen = 0;
  do {
    see_protected(&info, &protected_seen, &claims_seen);
    measure_process(&info);
  } while (platform_next_process(list, &info) == 0);
  // Claims first, while the bits still match the entries: dropping a monitor moves the
  // later ones down, and its claim goes with it, so with no monitor nothing is spared.
  forget_unseen_claims(claims_seen);
  drop_unseen_protection(protected_seen);
  forget_ended_sessions();
  run_selection_phase();
  g_engine.previous_pass_tick = g_engine.pass_tick;
  platform_close(list);
  return 0;
}
