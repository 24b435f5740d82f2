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
