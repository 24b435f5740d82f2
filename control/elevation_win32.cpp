// Elevation through the shell's "runas" verb, which shows Windows' consent prompt.
#include <windows.h>
#include <shellapi.h>

#include "control/elevation.h"
#include "control/registration.h"
#include "shared/service_facts.h"

namespace {

const wchar_t kRunAs[] = L"runas";
const wchar_t kServiceTool[] = L"\\sc.exe";
const wchar_t kStopArguments[] = L"stop " QC_SERVICE_NAME;

// 0 once started and, with wait_ms, ended with exit code 0; see run_own_copy_elevated.
int run_elevated(void* owner_window, const wchar_t* file, const wchar_t* parameters, int show, uint32_t wait_ms) {
  SHELLEXECUTEINFOW run = {};
  run.cbSize = sizeof(run);
  // No asynchronous hand-off: the call returns once the prompt is answered and the
  // program started, so the result says which. No SEE_MASK_FLAG_NO_UI: it suppresses
  // every prompt, the security warning for a downloaded file among them, and the shell
  // may then refuse the start without a word.
  run.fMask = SEE_MASK_NOASYNC | (wait_ms > 0 ? SEE_MASK_NOCLOSEPROCESS : 0);
  run.hwnd = static_cast<HWND>(owner_window);
  run.lpVerb = kRunAs;
  run.lpFile = file;
  run.lpParameters = parameters;
  run.nShow = show;
  if (!ShellExecuteExW(&run)) return -1;
  if (run.hProcess == nullptr) return 0;  // nothing to wait for: started, nothing more known
  int result = kElevatedCopyStillRunning;
  DWORD exit_code = 0;
  if (WaitForSingleObject(run.hProcess, wait_ms) == WAIT_OBJECT_0) {
    result = GetExitCodeProcess(run.hProcess, &exit_code) && exit_code == 0 ? 0 : -1;
  }
  CloseHandle(run.hProcess);
  return result;
}

}  // namespace

int run_own_copy_elevated(void* owner_window, uint32_t wait_ms) {
  wchar_t own_path[kExecutablePathCapacity];
  const DWORD length = GetModuleFileNameW(nullptr, own_path, kExecutablePathCapacity);
  if (length == 0 || length >= kExecutablePathCapacity) return -1;
  return run_elevated(owner_window, own_path, nullptr, SW_SHOWNORMAL, wait_ms);
}

int stop_service_elevated(void* owner_window) {
  // The system folder's tool by its full path, never one found beside this executable.
  wchar_t tool[MAX_PATH];
  const UINT length = GetSystemDirectoryW(tool, MAX_PATH);
  if (length == 0 || length + sizeof(kServiceTool) / sizeof(wchar_t) > MAX_PATH) return -1;
  lstrcatW(tool, kServiceTool);
  return run_elevated(owner_window, tool, kStopArguments, SW_HIDE, 0);
}
