// The usage snapshot: the record the service builds each cycle, the region carries and
// the monitor's graph draws. Its layout is fixed, since two processes share it.
#pragma once

#include <stdint.h>

const int kBarsCapacity = 1004;

// In `flags`, set at every publish. Any process can write the word, so no reader goes by
// it: a reader takes a snapshot when its `sequence` has moved since the reader's last take.
const uint32_t SNAPSHOT_READY = 1u;
const uint8_t HOG_FLAG = 0x80;       // in a bar: the process is throttled; the rest is its share
// How many of a cycle's held processes the service names beside the snapshot.
const int kHeldIdsCapacity = 3;

// Exactly 1024 bytes. One bar per active process, largest share first.
struct UsageSnapshot {
  uint32_t flags;
  uint32_t active_count;
  // The service's count of its publications, 0 before the first; the working copy's is 0.
  uint32_t sequence;
  uint8_t reserved[8];  // always 0
  uint8_t bars[kBarsCapacity];
};

static_assert(sizeof(UsageSnapshot) == 1024, "UsageSnapshot must be 1024 bytes");
static_assert(__builtin_offsetof(UsageSnapshot, flags) == 0, "flags at 0");
static_assert(__builtin_offsetof(UsageSnapshot, active_count) == 4, "active_count at 4");
static_assert(__builtin_offsetof(UsageSnapshot, sequence) == 8, "sequence at 8");
static_assert(__builtin_offsetof(UsageSnapshot, reserved) == 12, "reserved at 12");
static_assert(__builtin_offsetof(UsageSnapshot, bars) == 20, "bars at 20");
