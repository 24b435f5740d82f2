// Who was held: the graph's columns' held programs, their names, and the texts built from them.
#include "monitor/held_programs.h"

#include <string.h>

#include "shared/wide_text.h"

namespace {

// Appends to a terminated text without ever passing the capacity.
struct Text {
  wchar_t* out;
  int32_t capacity;
  int32_t length;
};

void add(Text* text, const wchar_t* part) {
  if (text->capacity <= 0) return;
  text->length += static_cast<int32_t>(
      copy_text(text->out + text->length, static_cast<uint32_t>(text->capacity - text->length), part));
}

void add_number(Text* text, uint32_t value) {
  wchar_t digits[11];  // the ten of the largest 32-bit value, then the terminator
  int32_t at = 10;
  digits[at] = L'\0';
  do {
    digits[--at] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  add(text, digits + at);
}

Text begin(wchar_t* out, int32_t capacity) {
  Text text = {out, capacity, 0};
  if (capacity > 0) out[0] = L'\0';
  return text;
}

const ProgramName* find_name(const HeldHistory* history, uint32_t pid) {
  for (int32_t i = 0; i < history->name_count; ++i) {
    if (history->names[i].pid == pid) return &history->names[i];
  }
  return nullptr;
}

void add_name(Text* text, const HeldHistory* history, uint32_t pid) {
  const ProgramName* known = find_name(history, pid);
  if (known != nullptr && known->name[0] != L'\0') {
    add(text, known->name);
    return;
  }
  add(text, L"process ");
  add_number(text, pid);
}

int32_t is_needed(const HeldHistory* history, uint32_t pid, uint32_t front) {
  if (pid == front) return 1;
  for (const HeldColumn& column : history->columns) {
    for (const HeldProgram& held : column.held) {
      if (held.pid == pid) return 1;
    }
  }
  return 0;
}

void drop_unneeded_names(HeldHistory* history, uint32_t front) {
  int32_t kept = 0;
  for (int32_t i = 0; i < history->name_count; ++i) {
    if (is_needed(history, history->names[i].pid, front)) history->names[kept++] = history->names[i];
  }
  history->name_count = kept;
}

void look_up(ProgramName* entry, ResolveName resolve) {
  if (resolve(entry->pid, entry->name, kProgramNameCapacity, &entry->creation_time) != 0) {
    entry->name[0] = L'\0';
    entry->creation_time = 0;
  }
  entry->name[kProgramNameCapacity - 1] = L'\0';
}

// Looked up once: an id already named keeps its name while any column shows it.
void name_once(HeldHistory* history, uint32_t pid, ResolveName resolve) {
  if (pid == 0 || find_name(history, pid) != nullptr || history->name_count >= kNameTableCapacity) return;
  ProgramName* entry = &history->names[history->name_count++];
  entry->pid = pid;
  look_up(entry, resolve);
}

// With the list just read: an id the system gave to a newer process takes that one's name.
void rename_reused(HeldHistory* history, ResolveName resolve) {
  for (int32_t i = 0; i < history->name_count; ++i) {
    ProgramName* entry = &history->names[i];
    ProgramName now = {entry->pid, 0, {}};
    look_up(&now, resolve);
    if (now.creation_time != 0 && now.creation_time != entry->creation_time) *entry = now;
  }
}

int32_t needs_name(const HeldHistory* history, uint32_t pid) {
  return pid != 0 && find_name(history, pid) == nullptr && history->name_count < kNameTableCapacity;
}

}  // namespace

HeldColumn held_column_of(const ServiceReport* report) {
  HeldColumn column;
  memset(&column, 0, sizeof(column));
  for (int32_t i = 0; i < kHeldIdsCapacity; ++i) {
    const HeldReport* held = &report->held[i];
    if (held->pid == 0) continue;
    column.held[i] = HeldProgram{held->pid, held->share, held->hold_ms};
  }
  return column;
}

void record_held_column(HeldHistory* history, const HeldColumn* column, uint32_t front, ResolveName resolve) {
  memmove(&history->columns[1], &history->columns[0], sizeof(HeldColumn) * (kHistoryColumns - 1));
  history->columns[0] = *column;
  drop_unneeded_names(history, front);
  if (resolve == nullptr) return;
  rename_reused(history, resolve);
  for (const HeldProgram& held : column->held) name_once(history, held.pid, resolve);
  name_once(history, front, resolve);
}

int held_names_missing(const HeldHistory* history, const HeldColumn* column, uint32_t front) {
  for (const HeldProgram& held : column->held) {
    if (needs_name(history, held.pid)) return 1;
  }
  return needs_name(history, front);
}

int32_t column_at(int32_t x, int32_t graph_width) {
  if (graph_width <= 0 || x < 0 || x >= graph_width) return -1;
  // The page shows the whole buffer stretched; after each scroll the newest column lies
  // just left of the last two column widths, which stay black.
  const int32_t buffer_x = static_cast<int32_t>(static_cast<int64_t>(x) * kBufferWidth / graph_width);
  const int32_t newest_left = kColumnLeft - kScrollStep;
  if (buffer_x >= newest_left + kColumnWidth) return -1;
  return (newest_left - buffer_x + kColumnWidth - 1) / kColumnWidth;
}

void held_column_tip(const HeldHistory* history, const HeldColumn* column, wchar_t* out, int32_t capacity) {
  Text text = begin(out, capacity);
  for (const HeldProgram& held : column->held) {
    if (held.pid == 0) continue;
    if (text.length > 0) add(&text, L"\r\n");
    add_name(&text, history, held.pid);
    add(&text, L" ");
    add_number(&text, static_cast<uint32_t>(held.share));
    add(&text, L" %, held ");
    add_number(&text, static_cast<uint32_t>(held.hold_ms));
    add(&text, L" ms");
  }
}

void held_summary(const HeldHistory* history, const HeldColumn* column, wchar_t* out, int32_t capacity) {
  Text text = begin(out, capacity);
  add(&text, L"Held in the last cycle:");
  int32_t any = 0;
  for (const HeldProgram& held : column->held) {
    if (held.pid == 0) continue;
    add(&text, any ? L", " : L" ");
    add_name(&text, history, held.pid);
    add(&text, L" ");
    add_number(&text, static_cast<uint32_t>(held.share));
    add(&text, L" %");
    any = 1;
  }
  if (!any) add(&text, L" nothing");
}

void spared_summary(const HeldHistory* history, uint32_t spared_pid, uint32_t family, wchar_t* out,
                    int32_t capacity) {
  Text text = begin(out, capacity);
  if (spared_pid == 0) return;
  add(&text, L"Spared because it is in front: ");
  add_name(&text, history, spared_pid);
  if (family == 0) return;
  add(&text, L" and ");
  add_number(&text, family);
  add(&text, L" of its processes");
}

void system_summary(uint32_t passed_over, wchar_t* out, int32_t capacity) {
  Text text = begin(out, capacity);
  if (passed_over == 0) return;
  add(&text, L"System processes passed over: ");
  add_number(&text, passed_over);
}
