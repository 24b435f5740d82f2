// Throttling engine: process usage table, sampling pass with selection, and the
// duty-cycle throttler. All state is static and touched only by the service's worker thread.
#pragma once

#include <stdint.h>

#include "engine/platform.h"
#include "shared/usage_snapshot.h"

const int kUsageTableCapacity = 1023;
const int kTargetCapacity = 128;
const int kProtectedCapacity = 64;  // one bit each in a pass's 64-bit mask
// Entry 0 of the protected list is the service itself; monitors start here.
const int32_t kFirstMonitorEntry = 1;
const int kDefaultThresholdPercent = 50;
// Outside these bounds the duty cycle's suspend or rest time would be negative or endless.
const int32_t kMinThresholdPercent = 1;
const int32_t kMaxThresholdPercent = 100;
// One counter per share a signed 8-bit value can hold without going negative.
const int kHistogramBuckets = 128;

// One process: an id and a creation time, so a reused id is never taken for its predecessor.
struct ProcessUsageEntry {
  uint32_t pid;  // 0 marks a free slot
  uint64_t creation_time;
  uint64_t prev_cpu_time;
  uint64_t cpu_time;
  int32_t usage;
  int32_t generation;
  // How long the last duty cycle held the process suspended; the next pass judges it on
  // what it would have used running free, then clears this.
  uint32_t held_ms;
  // Whether the throttle may hold it: decided once per process, the first time it rises
  // above the limit, so a pass opens no process that it merely measures.
  int32_t verdict;
};

// Values of `verdict`.
const int32_t kVerdictUnchecked = 0;
const int32_t kVerdictHoldable = 1;
const int32_t kVerdictSystem = 2;  // the system's own: never held, still drawn
const int32_t kVerdictNotHoldable = 3;  // cannot be checked, or its threads refuse us

// Scratch of one pass: how many active entries hold each share, and how many of those
// are targets. 16-bit counters cannot wrap, since the table holds fewer entries.
struct UsageHistogram {
  uint16_t counts[kHistogramBuckets];
  uint16_t target_counts[kHistogramBuckets];
};

static_assert(kUsageTableCapacity <= 0xFFFF, "histogram counters must not wrap");
static_assert(kProtectedCapacity <= 64, "a pass marks the protected entries in 64 bits");

struct ThrottleTargetList {
  int32_t target_count;
  int32_t target_slot[kTargetCapacity];
};

// A process is protected, not an id: a reused id never inherits the protection.
struct ProtectedProcess {
  uint32_t pid;
  uint64_t creation_time;
};

// Entry 0 is the service's own process; every later entry a real monitor that announced
// itself and still runs.
struct ProtectedPidList {
  int32_t protected_count;
  ProtectedProcess processes[kProtectedCapacity];
  int32_t next_replaced;  // the monitor entry a newcomer replaces once the list is full
};

// The threads one duty cycle suspended, each with a handle kept from its suspend to its
// resume, so the resume pass touches exactly these and nothing else.
const int kSuspendedCapacity = 4096;

// Parallel arrays, so the crash record is saved straight from `records`.
struct SuspendedThreadTable {
  int32_t count;
  PlatformHandle handles[kSuspendedCapacity];
  int32_t targets[kSuspendedCapacity];  // index into the target list
  SuspensionRecord records[kSuspendedCapacity];
};

// The program the user works in, which the monitor asks the service to spare.
struct SparedProcess {
  uint32_t pid;  // 0 when none is spared
  uint64_t creation_time;
};

// One of the cycle's targets, for the window to name: its share from the pass, and how
// long the duty cycle then really held it.
struct HeldProcess {
  uint32_t pid;  // 0 where there are fewer
  int32_t share;
  uint32_t hold_ms;
  int32_t slot;  // its table entry, through the cycle
};

// What one cycle did beside choosing targets, for the service to publish.
struct PassReport {
  uint32_t spared_pid;  // the spared process when the pass would otherwise have held it, else 0
  int32_t system_passed_over;  // system processes above the limit, left alone
  HeldProcess held[kHeldIdsCapacity];  // largest share first; holds filled in by the duty cycle
};

struct EngineState {
  ProcessUsageEntry table[kUsageTableCapacity];
  int32_t entry_count;
  int32_t current_generation;
  uint32_t pass_tick;
  uint32_t previous_pass_tick;
  UsageSnapshot snapshot;  // the working snapshot the service publishes
  UsageHistogram histogram;
  ThrottleTargetList targets;
  ProtectedPidList protected_pids;
  SuspendedThreadTable suspended;
  // How strict the throttle is, t, from 1 to 100 (the slider sends 40 to 100): a process
  // whose share of the machine is above 100 - t is a target, and each duty cycle holds
  // a target suspended for t * 10 - 1 ms. 50 until the monitor sends its value.
  int32_t threshold_percent;
  int32_t logical_cpu_count;
  SparedProcess spared;
  PassReport report;  // cleared at the start of every pass
};

extern EngineState g_engine;

// Puts every engine value back to its start state (threshold 50, one processor).
void engine_reset();

// Appends a process to the protected list (id 0 and processes already listed are
// ignored); when full, the newest monitor replaces the oldest monitor entry, round-robin
// over entries 1 to 63, and entry 0 (the service itself) never changes.
void protect_process(uint32_t pid, uint64_t creation_time);
// 1 when the process stands in the protected list, else 0. Id 0 is never protected.
int is_protected_process(uint32_t pid, uint64_t creation_time);
// Drops monitor entry `index` (1 and up); the later entries move down into its place.
void drop_protection(int32_t index);

// Protects the service's own process, as the system lists it now; 0 when done.
int protect_own_process(uint32_t pid);
// Protects an announced process only when it is a real monitor: it runs the service's
// own executable image. 0 when it is protected, -1 when refused or not found.
int protect_monitor(uint32_t pid);

// Spares the program in front, as the monitor names it: no pass makes it a target until
// the claim is replaced or forgotten. Taken only while a monitor is protected, and only
// for a process the system lists now with this creation time in a user's session. A new
// claim drops the previous one even when it is refused; 0 when it stands, else -1.
// A pass forgets the claim once the process is gone or no monitor is left.
int spare_program_in_front(uint32_t pid, uint64_t creation_time);
// Nothing is spared any more.
void forget_program_in_front();

// 0 when the pass completed, -1 when the process list cannot be taken.
int run_sampling_pass();
// Slot index of the process's entry, or -1 when it has none and none can be made.
int find_or_add_process(uint32_t pid, uint64_t creation_time, uint64_t cpu_time);

// Suspends the targets' threads in one walk, sleeps, resumes exactly the threads it
// suspended, records in the report how long it held the named ones, sleeps out the
// second, and empties the list. Each suspended thread is in
// the crash record from before its suspension until after its resume.
void run_duty_cycle();
// At service start: resumes, once, every thread the crash record holds whose process
// still has its recorded creation time (a service that died mid-cycle left them
// suspended), then clears the record.
void resume_recorded_threads();
