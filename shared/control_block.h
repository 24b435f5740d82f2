// The named region through which the service publishes snapshots and the monitor
// sends its threshold and process id, and the protocol both sides follow over it.
#pragma once

#include <stdint.h>

#include "shared/usage_snapshot.h"

// The region and its two mutexes, in the namespace every session shares.
const wchar_t kRegionName[] = L"Global\\QuellcoreRam";
const wchar_t kSnapshotMutexName[] = L"Global\\QuellcoreMutex1";
const wchar_t kCommandMutexName[] = L"Global\\QuellcoreMutex2";

// Who may use them: SYSTEM, the service, fully, and elevated administrators, who may do
// anything on the machine anyway (a service started again takes the objects over by name,
// and Wine runs its services as such an administrator); interactive users only what the
// protocol needs (map the region to read and write it; wait for a mutex, release it and
// read its owner), so no user can change an object's access list or owner and lock every
// monitor out. The
// medium mandatory label keeps a sandboxed or low-integrity process out, even one whose
// token holds INTERACTIVE: it may neither read, write nor wait on them.
const uint32_t kRegionUserRights = 0x6;      // FILE_MAP_READ | FILE_MAP_WRITE
// SYNCHRONIZE | READ_CONTROL | MUTEX_MODIFY_STATE: reading the owner tells the service's
// mutexes from a stranger's of the same name.
const uint32_t kMutexUserRights = 0x120001;
const wchar_t kRegionSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x6;;;IU)S:(ML;;NWNRNX;;;ME)";
const wchar_t kMutexSecurity[] = L"O:SYD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x120001;;;IU)S:(ML;;NWNRNX;;;ME)";

const uint32_t CMD_THRESHOLD_CHANGED = 2u;
// The bits below travel over the link pipe (shared/link_pipe.h), which names the sender;
// the service acts on none of them from the region, where anyone may write any id.
const uint32_t CMD_MONITOR_ATTACHED = 4u;
// The program in front changed: spare the one named (or none, when the id is 0).
const uint32_t CMD_FOREGROUND_CHANGED = 8u;
// The monitor named in `monitor_pid` is told its session ends: hold nothing of that
// session any more. Beside CMD_MONITOR_ATTACHED the id may be another monitor's (the
// last writer wins), and the service then does not act on it.
const uint32_t CMD_SESSION_ENDING = 16u;

// One process the service held in a cycle, as it measured it: what it used and how long
// the duty cycle really held it. A display aid only: anyone can write the region.
struct HeldReport {
  uint32_t pid;  // 0 where fewer were held
  uint16_t hold_ms;
  uint8_t share;  // percent of the machine
  uint8_t reserved;
};

// What the service reports beside each snapshot, from the same cycle.
struct ServiceReport {
  uint32_t spared_pid;          // the program in front, when it or its own would have been held
  uint32_t system_passed_over;  // system processes above the limit, left alone
  HeldReport held[kHeldIdsCapacity];  // largest share first
  uint32_t spared_family;  // the spared program's own processes besides it
};

struct SharedControlBlock {
  UsageSnapshot snapshot;
  uint32_t command_flags;
  // The program in front, meaningful while CMD_FOREGROUND_CHANGED is set: its id and its
  // creation time in two halves, so the layout is the same for every compiler.
  uint32_t foreground_pid;
  uint32_t foreground_created_low;
  uint32_t foreground_created_high;
  // The monitor that names it: each user's monitor claims the program in front of that
  // user, and the service keeps one claim per monitor.
  uint32_t foreground_claimant;
  int32_t threshold;
  // The monitor the service last took an announcement from (over the pipe): the service
  // writes it, a display aid like the report.
  uint32_t monitor_pid;
  // Beside each snapshot, under the snapshot mutex.
  ServiceReport report;
};

static_assert(sizeof(HeldReport) == 8, "HeldReport must be 8 bytes");
static_assert(sizeof(SharedControlBlock) == 1088, "SharedControlBlock must be 1088 bytes");
static_assert(__builtin_offsetof(SharedControlBlock, snapshot) == 0, "snapshot at 0");
static_assert(__builtin_offsetof(SharedControlBlock, command_flags) == 1024, "command_flags at 1024");
static_assert(__builtin_offsetof(SharedControlBlock, foreground_pid) == 1028, "foreground_pid at 1028");
static_assert(__builtin_offsetof(SharedControlBlock, foreground_created_low) == 1032, "creation time at 1032");
static_assert(__builtin_offsetof(SharedControlBlock, foreground_claimant) == 1040, "foreground_claimant at 1040");
static_assert(__builtin_offsetof(SharedControlBlock, threshold) == 1044, "threshold at 1044");
static_assert(__builtin_offsetof(SharedControlBlock, monitor_pid) == 1048, "monitor_pid at 1048");
static_assert(__builtin_offsetof(SharedControlBlock, report) == 1052, "the report at 1052");
static_assert(__builtin_offsetof(SharedControlBlock, report.held) == 1060, "held processes at 1060");
static_assert(__builtin_offsetof(SharedControlBlock, report.spared_family) == 1084, "spared_family at 1084");

// The program in front as the monitor names it: 0 for none.
struct ForegroundClaim {
  uint32_t pid;
  uint64_t creation_time;
};

// Opaque kernel handles, so the protocol compiles and is tested on the host.
typedef void* LinkHandle;

// One side's handles on the region and its two mutexes. A null view or mutex means
// that piece is missing; no operation writes through a missing view.
struct SharedLink {
  LinkHandle region;
  SharedControlBlock* view;
  LinkHandle snapshot_mutex;
  LinkHandle command_mutex;
};

// Any process can take the region's mutexes and keep them, so no thread waits for one
// longer than this; the step that needed it is skipped and tried again next time.
const uint32_t kLinkLockTimeoutMs = 250;

// 0 once the mutex is held (an abandoned mutex counts as acquired), -1 when the wait
// timed out or failed. Supplied by the Win32 layer, or by a substitute in host tests.
int link_lock(LinkHandle mutex);
void link_unlock(LinkHandle mutex);

// --- monitor side ---
// Opens the region, maps it and opens both mutexes; 0 on success. On any failure
// closes what it opened, leaves *link all null and returns -1, or kLinkNamesTaken when a
// mutex is not the system's or the Administrators' (not the service's own).
int open_shared_link(SharedLink* link);
// Closes the mutexes and the region handle (the view goes with the process).
void close_shared_link(SharedLink* link);
// Sets CMD_THRESHOLD_CHANGED with the threshold; 0 when written; -1 when the link lacks the
// command area or the mutex was not had.
int send_threshold(SharedLink* link, int32_t threshold);
// Takes the newest snapshot into *out, and the service's report into *report when given,
// when its sequence count is not 0 and differs from *last_taken, this reader's count of its
// own last take (0 before the first), which then follows. Writes nothing into the region,
// so every window sees every snapshot whatever the others do. 1 when it took one; else 0,
// also when the mutex was not had, and nothing is written.
int take_snapshot(SharedLink* link, uint32_t* last_taken, UsageSnapshot* out, ServiceReport* report = nullptr);

// What opening or creating the link found when an object already existed that neither
// LocalSystem nor the Administrators own: any user may make a mutex in the global
// namespace before the service runs, and whoever holds it could lock out every exchange.
const int kLinkNamesTaken = -2;

// --- service side ---
// Creates (or takes over by name) the region, its view and both mutexes. Whatever
// cannot be made stays null and the rest is kept: the service throttles regardless.
// 0 when all four exist, kLinkNamesTaken (with every handle closed and null) when an
// existing object is not the system's or the Administrators', else -1. Handles stay open
// for the life of the process.
int create_shared_link(SharedLink* link);
// Copies the snapshot over the region's snapshot area with the report beside it, then
// numbers it one past the region's count and sets SNAPSHOT_READY, under the snapshot mutex. Does nothing without a view and a
// snapshot mutex, or when the mutex was not had.
void publish_snapshot(SharedLink* link, const UsageSnapshot* snapshot, const ServiceReport* report = nullptr);
// The service notes the monitor it last protected, under the command mutex.
void echo_monitor(SharedLink* link, uint32_t monitor_pid);

// The commands found in one pass; a field is meaningful only when its bit is in `flags`.
struct TakenCommands {
  uint32_t flags;
  int32_t threshold;
  uint32_t monitor_pid;
  ForegroundClaim foreground;
  uint32_t foreground_claimant;
};

// Reads and clears `command_flags` under the command mutex, copying out the values
// its bits refer to. Returns 1 when the word was non-zero (whatever bits it held), 0
// when no command waited, the view or command mutex is missing, or the mutex was not had.
int take_commands(SharedLink* link, TakenCommands* out);
