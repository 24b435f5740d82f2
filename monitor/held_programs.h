// Who was held, by name: for each column of the graph, the programs the service held in
// that cycle with their shares and hold time, and their image names, resolved once. The
// ids come from the region, which anyone can write: the names are a display aid only.
#pragma once

#include <stdint.h>

#include "monitor/layout.h"
#include "shared/control_block.h"
#include "shared/usage_snapshot.h"

const int32_t kHistoryColumns = kBufferWidth / kColumnWidth;
const int32_t kProgramNameCapacity = 64;
// Every id the history can hold, and the program in front.
const int32_t kNameTableCapacity = kHistoryColumns * kHeldIdsCapacity + 1;

struct HeldProgram {
  uint32_t pid;
  int32_t share;  // percent of the machine
};

struct HeldColumn {
  HeldProgram held[kHeldIdsCapacity];  // pid 0 where there are fewer
  int32_t hold_ms;                     // how long each was held: the level's hold time
};

struct ProgramName {
  uint32_t pid;
  wchar_t name[kProgramNameCapacity];
};

struct HeldHistory {
  HeldColumn columns[kHistoryColumns];  // 0 is the newest column
  HeldColumn latest;                    // of the newest snapshot, for the Status page
  ProgramName names[kNameTableCapacity];
  int32_t name_count;
};

// Guarded by the snapshot copy lock: the link thread records, the window thread reads.
extern HeldHistory g_held;

void held_history_reset();

// The programs a snapshot says were held, paired with the snapshot's red bars in order,
// and the hold time of the level the monitor asked for.
HeldColumn held_column_of(const UsageSnapshot* snapshot, int32_t threshold);
// The image name of a process, without its folder; 0 with the name in `out` on success.
typedef int (*ResolveName)(uint32_t pid, wchar_t* out, int32_t capacity);
// A new column enters the history (an empty one for a poll without a snapshot), as the
// graph scrolls. Names are resolved once per id; names no column needs any more go.
// `front` is the spared program in front, whose name the Status page shows (0 for none).
void record_held_column(const HeldColumn* column, uint32_t front, ResolveName resolve);

// The column under a client x of the graph area gw wide: 0 for the newest, -1 where no
// column is drawn (right of the newest, or outside the area).
int32_t column_at(int32_t x, int32_t graph_width);

// Texts, written into out (always terminated). A name that could not be resolved reads
// "process N".
// "name 45 %, held 699 ms" lines for a column, or an empty text when nothing was held.
void held_column_tip(const HeldColumn* column, wchar_t* out, int32_t capacity);
// "Held in the last cycle: a.exe 45 %, b.exe 30 %", or that nothing was.
void held_summary(const HeldColumn* column, wchar_t* out, int32_t capacity);
// "Spared in front: name", or an empty text when nothing was spared.
void spared_summary(uint32_t spared_pid, wchar_t* out, int32_t capacity);
// "System processes passed over: N", or an empty text for none.
void system_summary(uint32_t passed_over, wchar_t* out, int32_t capacity);
