// Pieces of the sampling pass that benchmarks and tests reach on their own.
#pragma once

#include <stdint.h>

#include "engine/platform.h"

// The second half of run_sampling_pass: frees stale entries, fills the working
// snapshot and the target list from the usages, flips the generation.
void run_selection_phase();

// Builds the pid index afresh from the table's entries.
void build_pid_index();
// The slot of the entry with this id, or -1: found through the pid index, which holds
// every entry the pass has seen or added so far, and entries it may still free.
int32_t indexed_slot(uint32_t pid);

// Kernel plus user time as one 64-bit count, carrying from the low halves.
uint64_t sum_process_times(PlatformTime kernel, PlatformTime user);

// Marks, for this pass, the entries that a standing claim spares: the claimed process
// and every listed process descended from it in its session. Reads the fresh entries,
// so it runs before the selection frees the stale ones.
void mark_spared_families();
// The monitor entry whose claim spares the slot in this pass, or 0.
int32_t claim_sparing(int32_t slot);
