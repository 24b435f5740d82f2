// Who was held, by name: for each column of the graph, the programs the service held in
// that cycle with their shares and how long it held them, and their image names, looked up
// once. The ids come from the region, which anyone can write: the names are a display aid.
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
  uint32_t pid;  // 0 where fewer were held
  int32_t share;  // percent of the machine
  int32_t hold_ms;  // as the service measured it
};

struct HeldColumn {
  HeldProgram held[kHeldIdsCapacity];
};

// A name as the system's list gave it, for the process with this id and creation time.
struct ProgramName {
  uint32_t pid;
  uint64_t creation_time;
  wchar_t name[kProgramNameCapacity];
};

struct HeldHistory {
  HeldColumn columns[kHistoryColumns];  // 0 is the newest column
  ProgramName names[kNameTableCapacity];
  int32_t name_count;
};

// The programs the service's report says it held, as it measured them.
HeldColumn held_column_of(const ServiceReport* report);
// The image name of a process, without its folder, and its creation time; 0 with both
// written on success.
typedef int (*ResolveName)(uint32_t pid, wchar_t* out, int32_t capacity, uint64_t* creation_time);
// 1 when the column or `front` names an id the history has no name for yet: only then is
// the system's list worth reading.
int held_names_missing(const HeldHistory* history, const HeldColumn* column, uint32_t front);
// A new column enters the history (an empty one for a poll without a snapshot), as the
// graph scrolls. `front` is the spared program in front, whose name the Status page shows
// (0 for none). With `resolve` (the list was read) the new ids are named, and a name whose
// id now belongs to a newer process is looked up again; without it the names stay as
// they are. Names no column needs any more go.
void record_held_column(HeldHistory* history, const HeldColumn* column, uint32_t front, ResolveName resolve);

// The column under a client x of the graph area gw wide: 0 for the newest, -1 where no
// column is drawn (right of the newest, or outside the area).
int32_t column_at(int32_t x, int32_t graph_width);

// Texts, written into out (always terminated), with the history's names. A name that
// could not be looked up reads "process N".
// "name 45 %, held 699 ms" lines for a column, or an empty text when nothing was held.
void held_column_tip(const HeldHistory* history, const HeldColumn* column, wchar_t* out, int32_t capacity);
// "Held in the last cycle: a.exe 45 %, b.exe 30 %", or that nothing was.
void held_summary(const HeldHistory* history, const HeldColumn* column, wchar_t* out, int32_t capacity);
// "Spared because it is in front: name and 6 of its processes", or an empty text when
// nothing was spared.
void spared_summary(const HeldHistory* history, uint32_t spared_pid, uint32_t family, wchar_t* out,
                    int32_t capacity);
// "System processes passed over: N", or an empty text for none.
void system_summary(uint32_t passed_over, wchar_t* out, int32_t capacity);
