// The protocol over the region: what each side reads and writes, in which order and
// under which mutex. Kernel objects are reached only through link_lock/link_unlock.
#include <string.h>

#include "shared/control_block.h"
#include "shared/link_pipe.h"

namespace {

// The region is shared with any process on the machine, so every access goes through
// a volatile view: the compiler must neither cache nor re-read a field on its own.
volatile SharedControlBlock* shared_view(SharedLink* link) { return link->view; }

int has_snapshot_area(const SharedLink* link) {
  return link != nullptr && link->view != nullptr && link->snapshot_mutex != nullptr;
}

int has_command_area(const SharedLink* link) {
  return link != nullptr && link->view != nullptr && link->command_mutex != nullptr;
}

// Byte by byte through the volatile view: the region's fields are never cached or re-read.
void copy_bytes(volatile void* to, const volatile void* from, unsigned bytes) {
  volatile uint8_t* dst = static_cast<volatile uint8_t*>(to);
  const volatile uint8_t* src = static_cast<const volatile uint8_t*>(from);
  for (unsigned i = 0; i < bytes; ++i) dst[i] = src[i];
}

}  // namespace

void publish_snapshot(SharedLink* link, const UsageSnapshot* snapshot, const ServiceReport* report) {
  if (!has_snapshot_area(link) || snapshot == nullptr) return;
  volatile SharedControlBlock* block = shared_view(link);
  if (link_lock(link->snapshot_mutex) != 0) return;
  // Counted on from the region's own count, so a service started again over a region that
  // a window kept open never repeats the count of the window's last take.
  uint32_t sequence = block->snapshot.sequence + 1;
  if (sequence == 0) sequence = 1;  // 0 means nothing published
  copy_bytes(&block->snapshot, snapshot, sizeof(UsageSnapshot));
  const ServiceReport none = {};
  copy_bytes(&block->report, report != nullptr ? report : &none, sizeof(ServiceReport));
  // After the copy, so the copied fields cannot wipe the count or the ready bit.
  block->snapshot.sequence = sequence;
  block->snapshot.flags = block->snapshot.flags | SNAPSHOT_READY;
  link_unlock(link->snapshot_mutex);
}

int take_commands(SharedLink* link, TakenCommands* out) {
  out->flags = 0;
  out->threshold = 0;
  out->monitor_pid = 0;
  out->foreground.pid = 0;
  out->foreground.creation_time = 0;
  out->foreground_claimant = 0;
  if (!has_command_area(link)) return 0;
  volatile SharedControlBlock* block = shared_view(link);
  if (link_lock(link->command_mutex) != 0) return 0;
  const uint32_t flags = block->command_flags;
  if (flags != 0) {
    out->flags = flags;
    if (flags & CMD_THRESHOLD_CHANGED) out->threshold = block->threshold;
    if (flags & (CMD_MONITOR_ATTACHED | CMD_SESSION_ENDING)) out->monitor_pid = block->monitor_pid;
    if (flags & CMD_FOREGROUND_CHANGED) {
      out->foreground.pid = block->foreground_pid;
      out->foreground.creation_time =
          (static_cast<uint64_t>(block->foreground_created_high) << 32) | block->foreground_created_low;
      out->foreground_claimant = block->foreground_claimant;
    }
    block->command_flags = 0;
  }
  link_unlock(link->command_mutex);
  return flags != 0 ? 1 : 0;
}

int send_threshold(SharedLink* link, int32_t threshold) {
  if (!has_command_area(link)) return -1;
  volatile SharedControlBlock* block = shared_view(link);
  if (link_lock(link->command_mutex) != 0) return -1;
  block->command_flags = block->command_flags | CMD_THRESHOLD_CHANGED;
  block->threshold = threshold;
  link_unlock(link->command_mutex);
  return 0;
}

int take_snapshot(SharedLink* link, uint32_t* last_taken, UsageSnapshot* out, ServiceReport* report) {
  if (!has_snapshot_area(link) || last_taken == nullptr || out == nullptr) return 0;
  volatile SharedControlBlock* block = shared_view(link);
  if (link_lock(link->snapshot_mutex) != 0) return 0;
  const uint32_t sequence = block->snapshot.sequence;
  const int fresh = sequence != 0 && sequence != *last_taken;
  if (fresh) {
    copy_bytes(out, &block->snapshot, sizeof(UsageSnapshot));
    if (report != nullptr) copy_bytes(report, &block->report, sizeof(ServiceReport));
  }
  link_unlock(link->snapshot_mutex);
  if (fresh) *last_taken = sequence;
  return fresh;
}

int read_link_request(const void* bytes, uint32_t size, LinkRequest* out) {
  if (bytes == nullptr || out == nullptr || size != sizeof(LinkRequest)) return -1;
  memcpy(out, bytes, sizeof(LinkRequest));
  if (out->sequence == 0 || out->commands == 0 || (out->commands & ~kLinkCommands) != 0) return -1;
  return 0;
}

ForegroundClaim link_request_claim(const LinkRequest* request) {
  ForegroundClaim claim;
  claim.pid = request->foreground_pid;
  claim.creation_time = (static_cast<uint64_t>(request->foreground_created_high) << 32) | request->foreground_created_low;
  return claim;
}

void echo_monitor(SharedLink* link, uint32_t monitor_pid) {
  if (!has_command_area(link)) return;
  volatile SharedControlBlock* block = shared_view(link);
  if (link_lock(link->command_mutex) != 0) return;
  block->monitor_pid = monitor_pid;
  link_unlock(link->command_mutex);
}
