// Throttling engine: process usage table, sampling pass with selection, and the
// duty-cycle throttler. All state is static and touched only by the service's worker thread.
#pragma once

#include <stdint.h>

#include "engine/platform.h"
#include "shared/usage_snapshot.h"

// Room for every process of a terminal server with many sessions; the snapshot still
// carries only the largest bars.
const int kUsageTableCapacity = 8192;
const int kTargetCapacity = 128;
const int kProtectedCapacity = 64;  // one bit each in a pass's 64-bit mask
// One running window per session is the rule; a few more cover a window started while the
// last one is still ending. No session takes more, so none can crowd the others out.
const int32_t kMonitorEntriesPerSession = 4;
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
  // As the latest pass listed them: who started it, and the session it runs in.
  uint32_t parent_pid;
  uint32_t session_id;
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

static_assert(kUsageTableCapacity < 0xFFFF, "histogram counters must not wrap");
static_assert(kProtectedCapacity <= 64, "a pass marks the protected entries in 64 bits");

struct ThrottleTargetList {
  int32_t target_count;
  int32_t target_slot[kTargetCapacity];
};

// The program a user works in, which that user's monitor asks the service to spare.
struct SparedProcess {
  uint32_t pid;  // 0 when none is spared
  uint64_t creation_time;
};

// A process is protected, not an id: a reused id never inherits the protection.
struct ProtectedProcess {
  uint32_t pid;
  uint64_t creation_time;
  uint32_t session_id;
  // A monitor's claim on the program in front of its user; it goes with the entry.
  SparedProcess claim;
};

// Entry 0 is the service's own process, which never claims; every later entry a real
// monitor that announced itself and still runs, oldest first.
struct ProtectedPidList {
  int32_t protected_count;
  ProtectedProcess processes[kProtectedCapacity];
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
  // Per target, its process held open from before its threads are opened until after they
  // are resumed, so its id names no stranger meanwhile; 0 for a target that is not held.
  PlatformHandle processes[kTargetCapacity];
};

// Sessions signing out, or whose monitor was told its session ends: no pass or duty cycle
// holds a process of theirs until the system lists none of it any more.
const int kEndingSessionCapacity = 16;
struct EndingSessions {
  int32_t count;
  uint32_t ids[kEndingSessionCapacity];
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
  // A claimed program in front, when the pass would otherwise have held it or any process
  // of its family; the first monitor's such claim when several spared something. Else 0.
  uint32_t spared_pid;
  int32_t system_passed_over;  // system processes above the limit, left alone
  HeldProcess held[kHeldIdsCapacity];  // largest share first; holds filled in by the duty cycle
  // How many processes of that claimed program's family, besides itself, the pass listed.
  int32_t spared_family;
};

// Finds an entry by its process id in a few probes: a power of two over twice the table,
// so a free place always ends a probe. Each pass builds it afresh from the table, and
// every entry the pass adds goes in.
const int kPidIndexBits = 14;
const int kPidIndexCapacity = 1 << kPidIndexBits;
static_assert(kPidIndexCapacity >= 2 * kUsageTableCapacity, "the pid index needs room to spare");

struct PidIndex {
  uint16_t places[kPidIndexCapacity];  // slot + 1 of the entry with that id, 0 for none
  int32_t used;  // places taken since it was built
};

// Scratch of one pass: which monitor's claim spares each entry, found by following the
// entries' parents once each.
struct FamilyScratch {
  int8_t spared_by[kUsageTableCapacity];  // monitor entry whose claim spares the slot, or a mark
  uint16_t path[kUsageTableCapacity];  // the walk up from one entry
  int16_t family_size[kProtectedCapacity];  // per monitor entry, its claim's family, itself excluded
};

struct EngineState {
  ProcessUsageEntry table[kUsageTableCapacity];
  int32_t entry_count;
  int32_t lowest_free;  // no slot below it is free: where a new process looks first
  PidIndex pid_index;
  int32_t current_generation;
  uint32_t pass_tick;
  uint32_t previous_pass_tick;
  UsageSnapshot snapshot;  // the working snapshot the service publishes
  UsageHistogram histogram;
  ThrottleTargetList targets;
  ProtectedPidList protected_pids;
  SuspendedThreadTable suspended;
  EndingSessions ending_sessions;
  // How strict the throttle is, t, from 1 to 100 (the slider sends 40 to 100): a process
  // whose share of the machine is above 100 - t is a target, and each duty cycle holds
  // a target suspended for t * 10 - 1 ms. 50 until the monitor sends its value.
  int32_t threshold_percent;
  int32_t logical_cpu_count;
  FamilyScratch families;
  PassReport report;  // cleared at the start of every pass
};

extern EngineState g_engine;

// Puts every engine value back to its start state (threshold 50, one processor).
void engine_reset();

// Appends a process to the protected list: the first is the service itself, every later
// one a monitor. 0 when it stands in the list (already, or now); -1 for id 0 and for a
// monitor refused: its session already holds kMonitorEntriesPerSession entries, or the list
// is full and no session holds more than one, whose newest entry would make room. So no
// session ever pushes out another session's only window, and entry 0 never changes.
int protect_process(uint32_t pid, uint64_t creation_time, uint32_t session_id);
// 1 when the process stands in the protected list, else 0. Id 0 is never protected.
int is_protected_process(uint32_t pid, uint64_t creation_time);
// Drops monitor entry `index` (1 and up); the later entries move down into its place.
void drop_protection(int32_t index);

// Protects the service's own process, as the system lists it now; 0 when done.
int protect_own_process(uint32_t pid);
// Protects an announced process only when it is a real monitor: it runs the service's
// own executable image. 0 when it is protected, -1 when refused or not found.
int protect_monitor(uint32_t pid);
// The same for a monitor whose session the system named apart from the list (the pipe's
// client session): refused when the list puts the process in another session.
int protect_monitor_in_session(uint32_t pid, uint32_t session_id);
// 1 when the id names a protected monitor (an entry from 1 on), else 0.
int is_protected_monitor(uint32_t pid);

// Spares the program in front of the claimant's user, and every process descended from
// it in its session: no pass makes them targets until the claim is replaced or forgotten.
// Taken only from a protected monitor (never entry 0), and only for a process the system
// lists now with this creation time, outside session 0, in the claimant's own session,
// and not one of the system's own (the shell is every program's ancestor). A new claim
// drops that claimant's previous one even when it is refused, and pid 0 only withdraws
// it; 0 when the claim stands, else -1. A pass forgets a claim once its process is gone,
// and the claim goes with its monitor's entry.
int spare_program_in_front(uint32_t pid, uint64_t creation_time, uint32_t claimant_pid);

// 0 when the pass completed, -1 when the process list cannot be taken.
int run_sampling_pass();
// Slot index of the process's entry, or -1 when it has none and none can be made.
int find_or_add_process(uint32_t pid, uint64_t creation_time, uint64_t cpu_time);

// Suspends the targets' threads in one walk, sleeps, resumes exactly the threads it
// suspended, records in the report how long it held the named ones, sleeps out the
// second, and empties the list. Each suspended thread is in
// the crash record from before its suspension until after its resume.
void run_duty_cycle();
// A session signs out (or its monitor's session ends): nothing of it is held from now on,
// until a pass lists no process of it. Session 0, the services', never signs out.
void end_session_holds(uint32_t session_id);
// The same for the session of a protected monitor (never entry 0), as the last pass
// listed it; 0 when done, -1 when the id names no protected monitor.
int end_monitor_session(uint32_t monitor_pid);
// Whether processes of this session must not be held.
bool session_is_ending(uint32_t session_id);
// Called by the pass once it has measured: a session no entry of this pass lies in is gone.
void forget_ended_sessions();
// At service start: resumes, once, every thread the crash record holds whose process
// still has its recorded creation time (a service that died mid-cycle left them
// suspended), then clears the record.
void resume_recorded_threads();
