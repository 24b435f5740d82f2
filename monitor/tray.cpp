// The notification icon's state and tooltip, from the newest frame.
#include "monitor/tray.h"

#include "shared/service_facts.h"
#include "shared/wide_text.h"

namespace {

const wchar_t kNothingHeld[] = L"Quellcore: nothing held";
const wchar_t kStopped[] = L"Quellcore: the service is stopped";
const wchar_t kNotInstalled[] = L"Quellcore: the service is not installed";
const wchar_t kUnknown[] = L"Quellcore: cannot tell whether the service runs";
const int32_t kNumberCapacity = 11;  // the ten digits of the largest 32-bit value, then the terminator

void put(wchar_t* tip, int32_t capacity, int32_t* length, const wchar_t* part) {
  if (*length >= capacity) return;
  *length += static_cast<int32_t>(copy_text(tip + *length, static_cast<uint32_t>(capacity - *length), part));
}

void put_number(wchar_t* tip, int32_t capacity, int32_t* length, uint32_t value) {
  wchar_t digits[kNumberCapacity];
  int32_t at = kNumberCapacity - 1;
  digits[at] = L'\0';
  do {
    digits[--at] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  put(tip, capacity, length, digits + at);
}

const wchar_t* name_of(const HeldHistory* history, uint32_t pid) {
  for (int32_t i = 0; i < history->name_count && i < kNameTableCapacity; ++i) {
    if (history->names[i].pid == pid && history->names[i].name[0] != L'\0') return history->names[i].name;
  }
  return nullptr;
}

}  // namespace

int32_t tray_view(const MonitorFrame* frame, wchar_t* tip, int32_t capacity) {
  if (capacity <= 0) return TRAY_STOPPED;
  tip[0] = L'\0';
  int32_t length = 0;
  const ServiceView* service = &frame->service;
  if (service->presence == kServiceNotInstalled) {
    put(tip, capacity, &length, kNotInstalled);
    return TRAY_STOPPED;
  }
  if (service->presence != kServiceInstalled) {
    put(tip, capacity, &length, kUnknown);
    return TRAY_STOPPED;
  }
  // A stopped service's last snapshot still names who it held: that is over now.
  if (service->state != kServiceRunning) {
    put(tip, capacity, &length, kStopped);
    return TRAY_STOPPED;
  }
  // The newest column is the newest snapshot's; the service lists the largest share first.
  const HeldColumn* newest = &frame->held.columns[0];
  const HeldProgram* first = nullptr;
  int32_t others = 0;
  for (const HeldProgram& held : newest->held) {
    if (held.pid == 0) continue;
    if (first == nullptr) {
      first = &held;
    } else {
      ++others;
    }
  }
  if (first == nullptr) {
    put(tip, capacity, &length, kNothingHeld);
    return TRAY_IDLE;
  }
  put(tip, capacity, &length, L"Quellcore: holding ");
  const wchar_t* name = name_of(&frame->held, first->pid);
  if (name != nullptr) {
    put(tip, capacity, &length, name);
  } else {
    put(tip, capacity, &length, L"process ");
    put_number(tip, capacity, &length, first->pid);
  }
  put(tip, capacity, &length, L" (");
  put_number(tip, capacity, &length, static_cast<uint32_t>(first->share < 0 ? 0 : first->share));
  put(tip, capacity, &length, L" %)");
  if (others > 0) {
    put(tip, capacity, &length, L" and ");
    put_number(tip, capacity, &length, static_cast<uint32_t>(others));
    put(tip, capacity, &length, L" more");
  }
  return TRAY_HOLDING;
}
