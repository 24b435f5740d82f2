// Which processes the throttle never touches: the service itself, the monitors that
// announced themselves, and the program in front of each monitor's user with every
// process it started. Anyone can write an announcement into the region, so only a
// process that runs the service's own executable image is taken at its word.
#include <string.h>

#include "engine/engine.h"
#include "engine/platform.h"
#include "engine/sampler_internal.h"

namespace {

const uint32_t kNoProcess = 0;
const uint32_t kServicesSession = 0;
const int32_t kNoSlot = -1;

// 0 with the records of the processes the system lists under these ids now; -1 when the
// list cannot be had or the first is not in it. `second` stays 0 when it is not listed.
int listed_processes(uint32_t pid, PlatformProcessInfo* first, uint32_t other_pid, PlatformProcessInfo* second) {
  PlatformHandle list = platform_open_process_list();
  if (list == nullptr) return -1;
  int found = -1;
  *second = PlatformProcessInfo{};
  PlatformProcessInfo info;
  for (int more = platform_first_process(list, &info); more == 0; more = platform_next_process(list, &info)) {
    if (info.process_id == pid) {
      *first = info;
      found = 0;
    }
    if (info.process_id == other_pid) *second = info;
  }
  platform_close(list);
  return found;
}

int listed_process(uint32_t pid, PlatformProcessInfo* out) {
  PlatformProcessInfo unused;
  return listed_processes(pid, out, kNoProcess, &unused);
}

// The monitor entry (1 and up) of a protected process with this id, or -1.
int32_t monitor_entry_of(uint32_t pid) {
  const ProtectedPidList* list = &g_engine.protected_pids;
  if (pid == kNoProcess) return -1;
  for (int32_t i = kFirstMonitorEntry; i < list->protected_count && i < kProtectedCapacity; ++i) {
    if (list->processes[i].pid == pid) return i;
  }
  return -1;
}

// --- families: the claimed processes and everything they started, at one pass

// Marks in FamilyScratch::spared_by besides a monitor entry's index.
const int8_t kFamilyUnknown = 0;
const int8_t kFamilyNone = -1;
const int8_t kFamilyVisiting = -2;  // on the walk under way: met again, the parents loop
static_assert(kProtectedCapacity <= 127, "a monitor entry's index fits a family mark");

int32_t entry_slots() {
  const int32_t count = g_engine.entry_count;
  if (count < 0) return 0;
  return count > kUsageTableCapacity ? kUsageTableCapacity : count;
}

int is_fresh(const ProcessUsageEntry* entry) {
  return entry->pid != kNoProcess && entry->generation == g_engine.current_generation;
}

// The entry of a process this pass listed; the index also holds entries it has not seen.
int32_t fresh_slot(uint32_t pid) {
  const int32_t slot = indexed_slot(pid);
  return slot != kNoSlot && is_fresh(&g_engine.table[slot]) ? slot : kNoSlot;
}

// The listed parent of an entry, or none. An id names the starter only while that
// process still runs: the id of one that has ended may name a newer process, created
// after the child, which must never adopt it. Sessions never mix in a family.
int32_t parent_slot(int32_t slot) {
  const ProcessUsageEntry* child = &g_engine.table[slot];
  if (child->parent_pid == kNoProcess || child->parent_pid == child->pid) return kNoSlot;
  const int32_t found = fresh_slot(child->parent_pid);
  if (found == kNoSlot) return kNoSlot;
  const ProcessUsageEntry* parent = &g_engine.table[found];
  if (parent->creation_time > child->creation_time || parent->session_id != child->session_id) return kNoSlot;
  return found;
}

// Which claim spares the entry: its own, or its nearest claimed ancestor's. Every entry on
// the way up takes the answer, so each parent is looked up once per pass.
int8_t resolve_family(int32_t slot) {
  FamilyScratch* families = &g_engine.families;
  int32_t depth = 0;
  int8_t found = kFamilyNone;
  for (int32_t at = slot; at != kNoSlot; at = parent_slot(at)) {
    const int8_t mark = families->spared_by[at];
    if (mark != kFamilyUnknown) {
      found = mark == kFamilyVisiting ? kFamilyNone : mark;
      break;
    }
    families->spared_by[at] = kFamilyVisiting;
    families->path[depth++] = static_cast<uint16_t>(at);
  }
  for (int32_t i = 0; i < depth; ++i) families->spared_by[families->path[i]] = found;
  return found;
}

int any_claim() {
  const ProtectedPidList* list = &g_engine.protected_pids;
  for (int32_t i = kFirstMonitorEntry; i < list->protected_count && i < kProtectedCapacity; ++i) {
    if (list->processes[i].claim.pid != kNoProcess) return 1;
  }
  return 0;
}

}  // namespace

int protect_own_process(uint32_t pid) {
  PlatformProcessInfo own;
  if (pid == kNoProcess || listed_process(pid, &own) != 0) return -1;
  return protect_process(pid, own.creation_time, own.session_id);
}

int protect_monitor(uint32_t pid) {
  PlatformProcessInfo monitor;
  // The time first: should the id be reused before the image check, the entry names
  // the process that was checked, which no longer runs, and protects nobody.
  if (pid == kNoProcess || listed_process(pid, &monitor) != 0) return -1;
  if (!platform_runs_own_image(pid)) return -1;
  return protect_process(pid, monitor.creation_time, monitor.session_id);
}

int protect_monitor_in_session(uint32_t pid, uint32_t session_id) {
  PlatformProcessInfo monitor;
  if (pid == kNoProcess || listed_process(pid, &monitor) != 0 || monitor.session_id != session_id) return -1;
  return protect_monitor(pid);
}

int is_protected_monitor(uint32_t pid) { return monitor_entry_of(pid) >= 0 ? 1 : 0; }

int spare_program_in_front(uint32_t pid, uint64_t creation_time, uint32_t claimant_pid) {
  const int32_t claimant = monitor_entry_of(claimant_pid);
  if (claimant < 0) return -1;
  ProtectedProcess* monitor = &g_engine.protected_pids.processes[claimant];
  // Another program is in front of this user now, whether or not it can be spared.
  monitor->claim = SparedProcess{};
  if (pid == kNoProcess) return -1;
  PlatformProcessInfo claimed = {}, owner = {};
  if (listed_processes(pid, &claimed, claimant_pid, &owner) != 0 || claimed.creation_time != creation_time) return -1;
  // The claimant as it was protected, not a newer process under its id.
  if (owner.process_id != claimant_pid || owner.creation_time != monitor->creation_time) return -1;
  // Session 0 has no desktop, so nothing there is in front of anyone; any user can write
  // a claim, and it must neither shield a busy service nor reach into another user's
  // session.
  if (claimed.session_id == kServicesSession || claimed.session_id != owner.session_id) return -1;
  // The shell in front would spare every program started from it; a process that cannot
  // be told from the system's own is not trusted with a family either.
  if (platform_process_class(pid) != kProcessOrdinary) return -1;
  monitor->claim.pid = pid;
  monitor->claim.creation_time = creation_time;
  return 0;
}

void mark_spared_families() {
  FamilyScratch* families = &g_engine.families;
  memset(families->spared_by, 0, sizeof(families->spared_by));
  memset(families->family_size, 0, sizeof(families->family_size));
  if (!any_claim()) return;
  const int32_t slots = entry_slots();
  // In entry order, so when two monitors claim one process the first keeps it.
  const ProtectedPidList* list = &g_engine.protected_pids;
  for (int32_t i = kFirstMonitorEntry; i < list->protected_count && i < kProtectedCapacity; ++i) {
    const SparedProcess* claim = &list->processes[i].claim;
    if (claim->pid == kNoProcess) continue;
    const int32_t slot = fresh_slot(claim->pid);
    if (slot == kNoSlot || g_engine.table[slot].creation_time != claim->creation_time) continue;
    if (families->spared_by[slot] == kFamilyUnknown) families->spared_by[slot] = static_cast<int8_t>(i);
  }
  for (int32_t j = 0; j < slots; ++j) {
    if (!is_fresh(&g_engine.table[j])) continue;
    const int8_t by = resolve_family(j);
    if (by > 0 && list->processes[by].claim.pid != g_engine.table[j].pid) ++families->family_size[by];
  }
}

int32_t claim_sparing(int32_t slot) {
  if (slot < 0 || slot >= kUsageTableCapacity) return 0;
  const int8_t by = g_engine.families.spared_by[slot];
  return by > 0 ? by : 0;
}
