// The Status page's texts and button for each answer of the manager.
#include "monitor/status_view.h"

#include "shared/service_facts.h"

namespace {

const wchar_t kRunningText[] = L"Quellcore Service is running";
const wchar_t kStoppedText[] = L"Quellcore Service is stopped";
const wchar_t kNotInstalledText[] = L"Quellcore Service is not installed";
const wchar_t kUnknownText[] = L"Quellcore cannot tell whether its service runs";
const wchar_t kStopNeedsApproval[] = L"Stopping it needs an administrator's approval.";
const wchar_t kStartNeedsApproval[] = L"Starting it needs an administrator's approval.";
const wchar_t kInstallNeedsApproval[] = L"Installing it needs an administrator's approval.";
const wchar_t kMayNotAsk[] = L"Windows does not let this account ask about the service.";
// The service's own reasons for a failed start.
const wchar_t kNamesTakenText[] = L"Quellcore Service stopped: another program holds Quellcore's names";
const wchar_t kNoStopEventText[] = L"Quellcore Service stopped: Windows gave it no stop event";
const wchar_t kNamesTakenDetail[] = L"Another program holds Quellcore's names; this window does not use them.";

// The headline of a stopped service: its own reason when it gave one.
const wchar_t* stopped_text(const ServiceView* service) {
  if (service->state == kServiceStopped && service->exit_code == kStopReasonNamesTaken) return kNamesTakenText;
  if (service->state == kServiceStopped && service->exit_code == kStopReasonNoStopEvent) return kNoStopEventText;
  return kStoppedText;
}

StatusView make_view(const wchar_t* headline, const wchar_t* detail, int32_t button, int32_t shield) {
  StatusView view;
  view.headline = headline;
  view.detail = detail;
  view.button = button;
  view.shield = shield;
  return view;
}

}  // namespace

StatusView status_view(const ServiceView* service) {
  const int32_t refused = service->may_act ? 0 : 1;
  if (service->presence == kServiceNotInstalled) {
    return make_view(kNotInstalledText, refused ? kInstallNeedsApproval : nullptr, STATUS_BUTTON_INSTALL,
                     refused);
  }
  if (service->presence != kServiceInstalled) return make_view(kUnknownText, kMayNotAsk, STATUS_BUTTON_NONE, 0);
  if (service->state == kServiceRunning) {
    const wchar_t* detail = refused ? kStopNeedsApproval : service->names_taken ? kNamesTakenDetail : nullptr;
    return make_view(kRunningText, detail, STATUS_BUTTON_STOP, refused);
  }
  // Start- and stop-pending count as stopped: the service is not throttling yet, or no more.
  return make_view(stopped_text(service), refused ? kStartNeedsApproval : nullptr, STATUS_BUTTON_START, refused);
}

namespace {

struct Words {
  wchar_t* out;
  int32_t capacity;
  int32_t length;
};

void put(Words* w, const wchar_t* text) {
  for (; *text != L'\0' && w->length + 1 < w->capacity; ++text) w->out[w->length++] = *text;
  w->out[w->length] = L'\0';
}

void put_number(Words* w, int32_t value) {
  wchar_t digits[12];
  int32_t n = 0;
  uint32_t rest = static_cast<uint32_t>(value < 0 ? -value : value);
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  if (value < 0) put(w, L"-");
  wchar_t one[2] = {0, 0};
  while (n > 0) {
    one[0] = digits[--n];
    put(w, one);
  }
}

// Tenths, rounded half up: 6 as "0.6", 48 as "4.8".
void put_tenths(Words* w, int32_t tenths) {
  put_number(w, tenths / 10);
  put(w, L".");
  put_number(w, tenths % 10);
}

}  // namespace

void threshold_readout(int32_t threshold, int32_t cpus, wchar_t* out, int32_t capacity) {
  if (out == nullptr || capacity <= 0) return;
  Words w = {out, capacity, 0};
  out[0] = L'\0';
  if (threshold < 0) threshold = 0;
  if (threshold > 100) threshold = 100;
  if (cpus < 1) cpus = 1;
  const int32_t share = 100 - threshold;
  put_number(&w, threshold);
  put(&w, L": holds a program using more than ");
  put_number(&w, share);
  put(&w, L" % of this machine (");
  put_tenths(&w, (share * cpus + 5) / 10);
  put(&w, L" of its ");
  put_number(&w, cpus);
  put(&w, cpus == 1 ? L" processor) for " : L" processors) for ");
  put_tenths(&w, (threshold + 5) / 10);
  put(&w, L" s of every second");
}
