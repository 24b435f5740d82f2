// Looks at a running Quellcore from outside, as the end-to-end scenarios and the
// benchmark need: the service as the service control manager sees it, the shared region,
// the main window and its children, the About box, the help files and processes' times;
// it also plays a busy program and the user's program in front (frames). One command per
// run; results are printed as key=value words on one line. Exit code 0 when the command did what it
// says (or the awaited state came), 1 when not, 2 on bad usage.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

#include "monitor/layout.h"
#include "monitor/resource.h"
#include "shared/control_block.h"
#include "shared/service_facts.h"

namespace {

const wchar_t kWindowClass[] = L"KESTO";
const wchar_t kWindowTitle[] = L"Quellcore";
const wchar_t kAboutTitle[] = L"About Quellcore";
const DWORD kPollMs = 100;
// The product holds each mutex for a few field accesses; a probe that waits this long
// has found it stuck and says so instead of hanging the scenario.
const DWORD kMutexPatienceMs = 10000;

std::string narrow(const wchar_t* text) {
  char buffer[1024];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  return n > 0 ? std::string(buffer) : std::string();
}

// Wall-clock milliseconds since 1970, the clock the scenario's shell reads too.
long long unix_ms() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const long long since_1601 = ((long long)now.dwHighDateTime << 32 | now.dwLowDateTime) / 10000;
  return since_1601 - 11644473600000LL;
}

// ---- service control manager

// Current state (1..7), 0 when the service is not installed, -1 when the manager cannot be asked.
int service_state(DWORD* pid) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return -1;
  SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS);
  int state = 0;
  if (service) {
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE*)&status, sizeof status, &needed)) {
      state = (int)status.dwCurrentState;
      if (pid) *pid = status.dwProcessId;
    } else {
      state = -1;
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return state;
}

// The full image path of a process, empty when it cannot be read.
std::string image_of(DWORD pid) {
  wchar_t path[MAX_PATH] = L"";
  HANDLE process = pid ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid) : nullptr;
  if (process) {
    DWORD size = MAX_PATH;
    if (!QueryFullProcessImageNameW(process, 0, path, &size)) path[0] = L'\0';
    CloseHandle(process);
  }
  return narrow(path);
}

// A process's image, alone on the line: the path may hold spaces.
int cmd_image(DWORD pid) {
  const std::string image = image_of(pid);
  printf("image=%s\n", image.c_str());
  return image.empty() ? 1 : 0;
}

int cmd_service() {
  DWORD pid = 0;
  int state = service_state(&pid);
  // Last on the line: the image path may hold spaces.
  printf("state=%d pid=%lu image=%s\n", state, pid, image_of(pid).c_str());
  return state >= 0 ? 0 : 1;
}

int cmd_wait_service(int wanted, double seconds) {
  DWORD start = GetTickCount(), pid = 0;
  int state = service_state(&pid);
  while (state != wanted && GetTickCount() - start < seconds * 1000) {
    Sleep(kPollMs);
    state = service_state(&pid);
  }
  printf("state=%d pid=%lu ms=%lu at=%lld\n", state, pid, GetTickCount() - start, unix_ms());
  return state == wanted ? 0 : 1;
}

int cmd_config() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return 1;
  SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_QUERY_CONFIG);
  int rc = 1;
  if (service) {
    union {
      QUERY_SERVICE_CONFIGW config;
      BYTE bytes[8192];
    } buffer;
    DWORD needed = 0;
    if (QueryServiceConfigW(service, &buffer.config, sizeof buffer, &needed)) {
      const QUERY_SERVICE_CONFIGW& c = buffer.config;
      printf("type=%lu start=%lu error=%lu account=%s display=%s path=%s\n", c.dwServiceType, c.dwStartType,
             c.dwErrorControl, c.lpServiceStartName ? narrow(c.lpServiceStartName).c_str() : "",
             c.lpDisplayName ? narrow(c.lpDisplayName).c_str() : "",
             c.lpBinaryPathName ? narrow(c.lpBinaryPathName).c_str() : "");
      rc = 0;
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return rc;
}

// Asks for a start and returns at once; the scenario waits with wait-service.
int cmd_start_service() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return 1;
  SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_START);
  int rc = 1;
  if (service) {
    rc = StartServiceW(service, 0, nullptr) ? 0 : 1;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return rc;
}

// Asks for a stop and returns at once; the scenario waits with wait-service.
int cmd_stop_service() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return 1;
  SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_STOP);
  int rc = 1;
  if (service) {
    SERVICE_STATUS status;
    rc = ControlService(service, SERVICE_CONTROL_STOP, &status) ? 0 : 1;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return rc;
}

// ---- shared region

// The probe opens the region itself rather than through the product's operations: it
// must do what the product never does (keep a mutex, write fields raw, take the ready
// flag from under a monitor) and wait with its own patience, so it sees a stuck product.
struct Region {
  HANDLE mapping = nullptr;
  SharedControlBlock* view = nullptr;
  HANDLE snapshot_mutex = nullptr;
  HANDLE command_mutex = nullptr;
};

// With the rights any interactive user has, and no more: what a hostile user can do.
bool open_region(Region* r) {
  r->mapping = OpenFileMappingW(kRegionUserRights, FALSE, kRegionName);
  if (r->mapping)
    r->view = (SharedControlBlock*)MapViewOfFile(r->mapping, FILE_MAP_WRITE, 0, 0, sizeof(SharedControlBlock));
  r->snapshot_mutex = OpenMutexW(kMutexUserRights, FALSE, kSnapshotMutexName);
  r->command_mutex = OpenMutexW(kMutexUserRights, FALSE, kCommandMutexName);
  return r->view && r->snapshot_mutex && r->command_mutex;
}

void close_region(Region* r) {
  if (r->view) UnmapViewOfFile(r->view);
  if (r->snapshot_mutex) CloseHandle(r->snapshot_mutex);
  if (r->command_mutex) CloseHandle(r->command_mutex);
  if (r->mapping) CloseHandle(r->mapping);
}

// An abandoned mutex is ours all the same, as it is for the product.
bool lock(HANDLE mutex) {
  DWORD r = WaitForSingleObject(mutex, kMutexPatienceMs);
  if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) return true;
  printf("stuck=1 ");
  return false;
}

struct RegionValues {
  uint32_t flags, active_count, sequence, command_flags, monitor_pid, foreground_pid;
  int32_t threshold;
};

bool read_region(Region* r, RegionValues* v) {
  *v = RegionValues{};
  if (!lock(r->snapshot_mutex)) return false;
  v->flags = r->view->snapshot.flags;
  v->active_count = r->view->snapshot.active_count;
  v->sequence = r->view->snapshot.sequence;
  ReleaseMutex(r->snapshot_mutex);
  if (!lock(r->command_mutex)) return false;
  v->command_flags = r->view->command_flags;
  v->threshold = r->view->threshold;
  v->monitor_pid = r->view->monitor_pid;
  v->foreground_pid = r->view->foreground_pid;
  ReleaseMutex(r->command_mutex);
  return true;
}

int cmd_region() {
  Region r;
  int rc = 1;
  RegionValues v;
  if (open_region(&r)) {
    if (read_region(&r, &v)) {
      printf("flags=%u active=%u command=%u threshold=%d monitor_pid=%u foreground_pid=%u\n", v.flags,
             v.active_count, v.command_flags, v.threshold, v.monitor_pid, v.foreground_pid);
      rc = 0;
    } else {
      printf("\n");
    }
  } else {
    printf("region=missing mapping=%d view=%d snapshot_mutex=%d command_mutex=%d\n", r.mapping ? 1 : 0,
           r.view ? 1 : 0, r.snapshot_mutex ? 1 : 0, r.command_mutex ? 1 : 0);
  }
  close_region(&r);
  return rc;
}

// Samples the snapshot area for a while without writing it: a move of the sequence count
// is the service's publish. Windows take snapshots without writing the region, so what they
// take shows only in their graphs (see columns). With snapshot_only the command area is
// left alone, so the watch works while another process holds the command mutex.
int cmd_watch(double seconds, bool snapshot_only) {
  Region r;
  if (!open_region(&r)) {
    printf("region=missing\n");
    close_region(&r);
    return 1;
  }
  int publishes = 0, commands_seen = 0;
  bool stuck = false;
  auto sample = [&]() {
    RegionValues v = {};
    if (stuck) return v;
    if (!snapshot_only) {
      stuck = !read_region(&r, &v);
    } else if (lock(r.snapshot_mutex)) {
      v.flags = r.view->snapshot.flags;
      v.sequence = r.view->snapshot.sequence;
      ReleaseMutex(r.snapshot_mutex);
    } else {
      stuck = true;
    }
    return v;
  };
  uint32_t last = sample().sequence;
  DWORD start = GetTickCount();
  while (!stuck && GetTickCount() - start < seconds * 1000) {
    Sleep(kPollMs / 2);
    RegionValues v = sample();
    if (v.sequence != last) ++publishes;
    if (v.command_flags) ++commands_seen;
    last = v.sequence;
  }
  RegionValues v = sample();
  if (stuck) {
    printf("\n");
  } else {
    printf("publishes=%d commands_seen=%d flags=%u command=%u threshold=%d monitor_pid=%u\n", publishes,
           commands_seen, v.flags, v.command_flags, v.threshold, v.monitor_pid);
  }
  close_region(&r);
  return stuck ? 1 : 0;
}

// Takes every snapshot the service publishes for SECONDS, beside the window, which takes
// them all the same: one letter per snapshot, H when a bar carries HOG_FLAG (a throttled
// process), . when none does.
int cmd_hogs(double seconds) {
  Region r;
  if (!open_region(&r)) {
    printf("region=missing\n");
    close_region(&r);
    return 1;
  }
  // pattern: H for a snapshot with a throttled process, . without; red: how many red
  // bars each snapshot has (9 for nine or more); held: the ids each snapshot names, one
  // group per snapshot; spared and passed: the last report of a spared program in front
  // and the most system processes passed over.
  std::string pattern, red, held;
  uint32_t spared = 0, passed = 0;
  const ULONGLONG start = GetTickCount64();
  uint32_t taken = 0;  // the newest at the start is the first
  while (GetTickCount64() - start < seconds * 1000) {
    if (!lock(r.snapshot_mutex)) break;
    UsageSnapshot& s = r.view->snapshot;
    if (s.sequence != 0 && s.sequence != taken) {
      taken = s.sequence;
      int hogs = 0;
      for (uint32_t i = 0; i < s.active_count && i < sizeof s.bars; ++i) hogs += (s.bars[i] & HOG_FLAG) != 0;
      pattern += hogs ? 'H' : '.';
      red += (char)('0' + std::min(hogs, 9));
      if (!held.empty()) held += ";";
      const ServiceReport& report = r.view->report;
      for (const HeldReport& h : report.held) {
        if (h.pid == 0) continue;
        if (!held.empty() && held.back() != ';') held += ",";
        held += std::to_string(h.pid);
      }
      if (report.spared_pid != 0) spared = report.spared_pid;
      passed = std::max(passed, report.system_passed_over);
    }
    ReleaseMutex(r.snapshot_mutex);
    Sleep(kPollMs / 5);
  }
  printf("pattern=%s red=%s spared=%u passed=%u held=%s\n", pattern.c_str(), red.c_str(), spared, passed,
         held.c_str());
  close_region(&r);
  return 0;
}

// Clears the ready flag as a take would, so a later look shows whether the service publishes.
int cmd_clear_ready() {
  Region r;
  int rc = 1;
  if (open_region(&r) && lock(r.snapshot_mutex)) {
    r.view->snapshot.flags = 0;
    ReleaseMutex(r.snapshot_mutex);
    rc = 0;
  }
  close_region(&r);
  return rc;
}

// Writes marker values into the command fields without raising a command bit, so the
// scenario can tell later whether a monitor wrote them again.
int cmd_mark(int32_t threshold, uint32_t monitor_pid) {
  Region r;
  int rc = 1;
  if (open_region(&r) && lock(r.command_mutex)) {
    r.view->threshold = threshold;
    r.view->monitor_pid = monitor_pid;
    ReleaseMutex(r.command_mutex);
    rc = 0;
  }
  close_region(&r);
  return rc;
}

// Takes one of the region's mutexes and keeps it for SECONDS, as a hostile program or
// a process that hangs would. Holding the command mutex it also writes a threshold
// command, as a monitor caught in the middle of one. Killed, it leaves the mutex abandoned.
int cmd_hold_mutex(bool command, int32_t threshold, double seconds) {
  Region r;
  if (!open_region(&r)) {
    close_region(&r);
    return 1;
  }
  if (!lock(command ? r.command_mutex : r.snapshot_mutex)) return 1;
  if (command) {
    r.view->command_flags |= CMD_THRESHOLD_CHANGED;
    r.view->threshold = threshold;
  }
  printf("held pid=%lu\n", GetCurrentProcessId());
  fflush(stdout);
  Sleep((DWORD)(seconds * 1000));
  ReleaseMutex(command ? r.command_mutex : r.snapshot_mutex);
  close_region(&r);
  return 0;
}

// Writes a monitor's announcement for any process id, as anyone on the machine can.
int cmd_announce(uint32_t pid) {
  Region r;
  int rc = 1;
  if (open_region(&r) && lock(r.command_mutex)) {
    r.view->command_flags |= CMD_MONITOR_ATTACHED;
    r.view->monitor_pid = pid;
    ReleaseMutex(r.command_mutex);
    rc = 0;
  }
  close_region(&r);
  return rc;
}

int cmd_kill(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  if (!process) return 1;
  int rc = TerminateProcess(process, 9) && WaitForSingleObject(process, 10000) == WAIT_OBJECT_0 ? 0 : 1;
  CloseHandle(process);
  return rc;
}

// ---- windows

struct WindowList {
  std::vector<HWND> windows;
  const wchar_t* cls;
  const wchar_t* title;
  DWORD pid;
};

BOOL CALLBACK collect_top(HWND hwnd, LPARAM lparam) {
  WindowList* list = (WindowList*)lparam;
  wchar_t cls[64] = L"", title[128] = L"";
  GetClassNameW(hwnd, cls, 64);
  GetWindowTextW(hwnd, title, 128);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (list->cls && wcscmp(cls, list->cls) != 0) return TRUE;
  if (list->title && wcscmp(title, list->title) != 0) return TRUE;
  if (list->pid && pid != list->pid) return TRUE;
  list->windows.push_back(hwnd);
  return TRUE;
}

std::vector<HWND> top_windows(const wchar_t* cls, const wchar_t* title, DWORD pid) {
  WindowList list;
  list.cls = cls;
  list.title = title;
  list.pid = pid;
  EnumWindows(collect_top, (LPARAM)&list);
  return list.windows;
}

HWND main_window() { return FindWindowW(kWindowClass, kWindowTitle); }

struct Children {
  HWND tab = nullptr, slider = nullptr, graph = nullptr;
  std::vector<HWND> buttons;
  std::vector<HWND> texts;  // the Status page's lines
};

BOOL CALLBACK collect_child(HWND hwnd, LPARAM lparam) {
  Children* c = (Children*)lparam;
  wchar_t cls[64] = L"";
  GetClassNameW(hwnd, cls, 64);
  if (!_wcsicmp(cls, WC_TABCONTROLW)) c->tab = hwnd;
  else if (!_wcsicmp(cls, TRACKBAR_CLASSW)) c->slider = hwnd;
  else if (!_wcsicmp(cls, L"Static") && (GetWindowLongW(hwnd, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) c->graph = hwnd;
  else if (!_wcsicmp(cls, L"Static")) c->texts.push_back(hwnd);
  else if (!_wcsicmp(cls, L"Button")) c->buttons.push_back(hwnd);
  return TRUE;
}

Children children_of(HWND window) {
  Children c;
  EnumChildWindows(window, collect_child, (LPARAM)&c);
  return c;
}

// The visible buttons' texts, joined with '|'.
std::string visible_buttons(const Children& c) {
  std::string out;
  for (HWND b : c.buttons) {
    if (!IsWindowVisible(b)) continue;
    wchar_t text[64] = L"";
    GetWindowTextW(b, text, 64);
    if (!out.empty()) out += "|";
    out += narrow(text);
  }
  return out;
}

void print_rect(const char* name, HWND hwnd) {
  RECT r = {0, 0, 0, 0};
  if (hwnd) GetWindowRect(hwnd, &r);
  printf(" %s=%ld,%ld,%ld,%ld", name, r.left, r.top, r.right - r.left, r.bottom - r.top);
}

int cmd_window() {
  HWND window = main_window();
  if (!window) {
    printf("window=none count=0\n");
    return 1;
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  Children c = children_of(window);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  RECT client;
  GetClientRect(window, &client);
  int tab = c.tab ? (int)SendMessageW(c.tab, TCM_GETCURSEL, 0, 0) : -2;
  int pos = c.slider ? (int)SendMessageW(c.slider, TBM_GETPOS, 0, 0) : -2;
  printf("window=%p pid=%lu count=%zu visible=%d enabled=%d foreground=%d client=%ld,%ld,%ld,%ld tab=%d slider=%d"
         " slider_visible=%d",
         (void*)window, pid, top_windows(kWindowClass, nullptr, 0).size(), IsWindowVisible(window) ? 1 : 0,
         IsWindowEnabled(window) ? 1 : 0, GetForegroundWindow() == window ? 1 : 0, origin.x, origin.y,
         client.right, client.bottom, tab, pos, c.slider && IsWindowVisible(c.slider) ? 1 : 0);
  print_rect("slider_rect", c.slider);
  print_rect("graph_rect", c.graph);
  print_rect("tab_rect", c.tab);
  HWND shown = nullptr;
  for (HWND b : c.buttons) {
    if (shown == nullptr && IsWindowVisible(b)) shown = b;
  }
  print_rect("button_rect", shown);
  // Which child has the keyboard focus, as the window's thread has it.
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof(gui);
  const char* focus = "none";
  if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &gui) && gui.hwndFocus != nullptr) {
    focus = gui.hwndFocus == c.tab ? "tabs" : gui.hwndFocus == c.slider ? "slider" : gui.hwndFocus == window ? "frame" : "other";
    for (HWND b : c.buttons) {
      if (gui.hwndFocus == b) focus = "button";
    }
  }
  printf(" focus=%s", focus);
  // Last on the line: button texts contain spaces.
  printf(" buttons=%s\n", visible_buttons(c).c_str());
  return 0;
}

int cmd_wait_window(bool present, double seconds) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND window = main_window();
    bool up = window && IsWindowVisible(window);
    if (up == present) break;
    if (GetTickCount() - start >= seconds * 1000) {
      printf("window=%s ms=%lu\n", up ? "present" : "absent", GetTickCount() - start);
      return 1;
    }
    Sleep(kPollMs);
  }
  printf("window=%s ms=%lu\n", present ? "present" : "absent", GetTickCount() - start);
  return 0;
}

// Moves the slider as a user's drag ends: the trackbar's new position, then the scroll
// notification the window acts on. ms: how long the window took to handle it.
int cmd_slider(int position) {
  HWND window = main_window();
  if (!window) return 1;
  Children c = children_of(window);
  if (!c.slider) return 1;
  SendMessageW(c.slider, TBM_SETPOS, TRUE, position);
  const ULONGLONG start = GetTickCount64();
  SendMessageW(window, WM_VSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), (LPARAM)c.slider);
  printf("slider=%d ms=%llu\n", (int)SendMessageW(c.slider, TBM_GETPOS, 0, 0), GetTickCount64() - start);
  return 0;
}

// Asks the main window something every 100 ms for SECONDS: the longest answer it gave,
// and how often it gave none within a second.
int cmd_answers(double seconds, DWORD interval_ms) {
  HWND window = main_window();
  if (!window) return 1;
  ULONGLONG longest = 0;
  int missed = 0;
  const ULONGLONG start = GetTickCount64();
  while (GetTickCount64() - start < seconds * 1000) {
    const ULONGLONG asked = GetTickCount64();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result)) ++missed;
    if (GetTickCount64() - asked > longest) longest = GetTickCount64() - asked;
    Sleep(interval_ms);
  }
  printf("longest_ms=%llu missed=%d\n", longest, missed);
  return missed == 0 ? 0 : 1;
}

int cmd_post(UINT id) {
  HWND window = main_window();
  if (!window) return 1;
  return PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) ? 0 : 1;
}

// The close box, as the window sees it.
int cmd_close() {
  HWND window = main_window();
  if (!window) return 1;
  return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
}

// The process of `window`, opened to wait for its end and read its exit code; null if none.
HANDLE window_process(HWND window) {
  if (!window) return nullptr;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
}

// Chooses File, Exit, then waits for the monitor process to end; prints its exit code
// and how long it took from the command.
int cmd_exit_and_wait(double seconds) {
  HWND window = main_window();
  HANDLE process = window_process(window);
  if (!process) return 1;
  DWORD start = GetTickCount();
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
  DWORD wait = WaitForSingleObject(process, (DWORD)(seconds * 1000));
  DWORD elapsed = GetTickCount() - start, code = STILL_ACTIVE;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  printf("exited=%d exit=%lu ms=%lu\n", wait == WAIT_OBJECT_0 ? 1 : 0, code, elapsed);
  return wait == WAIT_OBJECT_0 ? 0 : 1;
}

// Sign-out as Windows tells it to the monitor's window: asked, then told the session ends;
// waits for the process to end. agreed: the window's answer to the question.
int cmd_end_session(double seconds) {
  HWND window = main_window();
  HANDLE process = window_process(window);
  if (!process) return 1;
  const DWORD start = GetTickCount();
  DWORD_PTR agreed = 0, ignored = 0;
  SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &agreed);
  SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, (UINT)(seconds * 1000),
                      &ignored);
  const DWORD wait = WaitForSingleObject(process, (DWORD)(seconds * 1000));
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  printf("agreed=%d exited=%d exit=%lu ms=%lu\n", agreed ? 1 : 0, wait == WAIT_OBJECT_0 ? 1 : 0, code,
         GetTickCount() - start);
  return wait == WAIT_OBJECT_0 ? 0 : 1;
}

// The About box: a top-level dialog with its caption, owned by the main window.
int cmd_about(bool present, double seconds) {
  DWORD start = GetTickCount();
  for (;;) {
    std::vector<HWND> boxes = top_windows(L"#32770", kAboutTitle, 0);
    HWND box = nullptr;
    for (HWND b : boxes)
      if (IsWindowVisible(b)) box = b;
    if ((box != nullptr) == present) {
      HWND window = main_window();
      printf("about=%s main_enabled=%d", box ? "present" : "absent", window && IsWindowEnabled(window) ? 1 : 0);
      if (box) {
        HWND ok = GetDlgItem(box, IDOK);
        wchar_t text[32] = L"";
        if (ok) GetWindowTextW(ok, text, 32);
        printf(" owner_is_main=%d ok_text=%s", GetWindow(box, GW_OWNER) == window ? 1 : 0, narrow(text).c_str());
        print_rect("ok_rect", ok);
        print_rect("box_rect", box);
      }
      printf("\n");
      return 0;
    }
    if (GetTickCount() - start >= seconds * 1000) {
      printf("about=%s\n", box ? "present" : "absent");
      return 1;
    }
    Sleep(kPollMs);
  }
}

// Closes every other visible top-level window of the monitor's process (the help viewer).
int cmd_close_others() {
  HWND window = main_window();
  if (!window) return 1;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  int closed = 0;
  for (HWND other : top_windows(nullptr, nullptr, pid)) {
    if (other == window || !IsWindowVisible(other)) continue;
    PostMessageW(other, WM_CLOSE, 0, 0);
    ++closed;
  }
  printf("closed=%d\n", closed);
  return 0;
}

// ---- help files

std::vector<std::wstring> help_copies() {
  std::vector<std::wstring> out;
  wchar_t folder[MAX_PATH];
  if (!GetTempPathW(MAX_PATH, folder)) return out;
  std::wstring pattern = std::wstring(folder) + L"NEW*.chm";
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return out;
  do out.push_back(std::wstring(folder) + found.cFileName);
  while (FindNextFileW(search, &found));
  FindClose(search);
  return out;
}

std::string read_file(const std::wstring& path) {
  std::string data;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return data;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) data.append(buffer, got);
  CloseHandle(file);
  return data;
}

// Every NEW*.chm in the temporary folder must be a byte-for-byte copy of the exe's help resource.
int cmd_help_files(const wchar_t* exe) {
  HMODULE module = LoadLibraryExW(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  std::string resource;
  if (module) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDR_HELP_FILE), MAKEINTRESOURCEW(10));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const char* bytes = loaded ? (const char*)LockResource(loaded) : nullptr;
    if (bytes) resource.assign(bytes, SizeofResource(module, found));
  }
  std::vector<std::wstring> copies = help_copies();
  int same = 0;
  for (const std::wstring& path : copies)
    if (!resource.empty() && read_file(path) == resource) ++same;
  printf("copies=%zu identical=%d resource_bytes=%zu\n", copies.size(), same, resource.size());
  if (module) FreeLibrary(module);
  return !resource.empty() && same == (int)copies.size() ? 0 : 1;
}

// ---- shortcuts

// The target of a shell link (.lnk), as the shell resolves it when a user opens it.
int cmd_shortcut(const wchar_t* lnk) {
  wchar_t target[MAX_PATH] = L"";
  int show = -1;
  CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 (void**)&link))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file))) {
      if (SUCCEEDED(file->Load(lnk, STGM_READ))) link->GetPath(target, MAX_PATH, nullptr, 0);
      file->Release();
    }
    link->Release();
  }
  CoUninitialize();
  // The show command from the file's header, as the shell reads it at a start (Wine's link
  // object does not load it back).
  const DWORD kShowCommandOffset = 0x3C;
  std::string header = read_file(lnk);
  if (header.size() >= kShowCommandOffset + sizeof(DWORD)) memcpy(&show, header.data() + kShowCommandOffset, sizeof(DWORD));
  // Alone on the line: the path may hold spaces.
  printf("show=%d target=%s\n", show, narrow(target).c_str());
  return target[0] ? 0 : 1;
}

// ---- processes

typedef LONG(NTAPI* QuerySystemInformationFn)(ULONG, PVOID, ULONG, PULONG);

// A process's kernel plus user time in 100-ns units from the system's process
// information, which is real under Wine (GetProcessTimes is not); -1 when not listed.
long long process_cpu_time(DWORD pid) {
  static std::vector<BYTE> buffer(1 << 20);
  static QuerySystemInformationFn query = (QuerySystemInformationFn)(void*)GetProcAddress(
      GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
  const ULONG kProcessInformation = 5;
  const LONG kTooSmall = (LONG)0xC0000004;
  ULONG needed = 0;
  LONG status;
  while ((status = query(kProcessInformation, buffer.data(), (ULONG)buffer.size(), &needed)) == kTooSmall)
    buffer.resize(needed + 65536);
  if (status < 0) return -1;
  for (size_t at = 0;;) {
    const SYSTEM_PROCESS_INFORMATION* p = (const SYSTEM_PROCESS_INFORMATION*)(buffer.data() + at);
    if ((DWORD)(ULONG_PTR)p->UniqueProcessId == pid) return p->KernelTime.QuadPart + p->UserTime.QuadPart;
    if (p->NextEntryOffset == 0) return -1;
    at += p->NextEntryOffset;
  }
}

// Starts a thread in another process that spins for ever (the two bytes of "jmp $"): any
// program can become a processor hog this way, a monitor included.
int cmd_spin(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_VM_OPERATION | PROCESS_VM_WRITE |
                                   PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!process) return 1;
  const unsigned char spin[] = {0xEB, 0xFE};
  void* code = VirtualAllocEx(process, nullptr, sizeof spin, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  HANDLE thread = nullptr;
  if (code && WriteProcessMemory(process, code, spin, sizeof spin, nullptr))
    thread = CreateRemoteThread(process, nullptr, 0, (LPTHREAD_START_ROUTINE)code, nullptr, 0, nullptr);
  printf("spinning=%d\n", thread ? 1 : 0);
  if (thread) CloseHandle(thread);
  CloseHandle(process);
  return thread ? 0 : 1;
}

// Waits for the busy process to be held (its processor time stands still for 150 ms
// of this probe's own watching: a gap in the watching, as when the probe itself is held,
// starts the count again), then ends the service's process as a crash or Task Manager's
// End task would.
int cmd_kill_while_held(DWORD busy, DWORD service, double seconds) {
  const ULONGLONG kStillMs = 150, kStepMs = 10, kGapMs = 50;
  const ULONGLONG start = GetTickCount64();
  long long last = process_cpu_time(busy);
  ULONGLONG still_since = GetTickCount64(), looked = still_since;
  while (GetTickCount64() - start < seconds * 1000) {
    Sleep(kStepMs);
    const long long now = process_cpu_time(busy);
    const ULONGLONG at = GetTickCount64();
    if (now != last || at - looked > kGapMs) {
      last = now;
      still_since = at;
    } else if (at - still_since >= kStillMs) {
      const int rc = cmd_kill(service);
      printf("killed=%d at=%lld\n", rc == 0 ? 1 : 0, unix_ms());
      return rc;
    }
    looked = at;
  }
  printf("killed=0\n");
  return 1;
}

// Waits until the process uses processor time again; at: when it was first seen moving.
int cmd_moving(DWORD pid, double seconds) {
  const ULONGLONG start = GetTickCount64();
  const long long first = process_cpu_time(pid);
  while (GetTickCount64() - start < seconds * 1000) {
    const long long now = process_cpu_time(pid);
    if (first >= 0 && now > first) {
      printf("moving=1 at=%lld\n", unix_ms());
      return 0;
    }
    Sleep(10);
  }
  printf("moving=0\n");
  return 1;
}

// Keeps this thread spinning for the given time: a program that wants a whole processor.
int spin(double seconds) {
  const ULONGLONG end = GetTickCount64() + (ULONGLONG)(seconds * 1000);
  volatile unsigned long long spins = 0;
  while (GetTickCount64() < end)
    for (int i = 0; i < 1000000; ++i) spins = spins + 1;
  return 0;
}

int cmd_busy(double seconds) {
  printf("pid=%lu\n", GetCurrentProcessId());
  fflush(stdout);
  return spin(seconds);
}

// The process's processor use over the next SECONDS, in percent of one processor.
// A window in front, on a thread of its own that answers its messages until `end`; as a
// user who works in it, it takes the front back about a second after losing it.
struct Front {
  ULONGLONG end;
  HWND window;
  HANDLE ready;
};

DWORD WINAPI keep_front(LPVOID parameter) {
  Front* front = (Front*)parameter;
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"QcInFront";
  RegisterClassW(&wc);
  front->window = CreateWindowExW(0, wc.lpszClassName, L"In front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 620, 40,
                                  300, 200, nullptr, nullptr, wc.hInstance, nullptr);
  SetForegroundWindow(front->window);
  SetEvent(front->ready);
  ULONGLONG back = 0;
  while (GetTickCount64() < front->end) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    if (GetForegroundWindow() == front->window) {
      back = 0;
    } else if (back == 0) {
      back = GetTickCount64() + 1000;
    } else if (GetTickCount64() >= back) {
      SetForegroundWindow(front->window);
      back = 0;
    }
  }
  return 0;
}

// Starts the window in front for SECONDS; 1 when it is in front now.
int start_front(double seconds) {
  static Front front;
  front.end = GetTickCount64() + (ULONGLONG)(seconds * 1000);
  front.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CreateThread(nullptr, 0, keep_front, &front, 0, nullptr);
  WaitForSingleObject(front.ready, 10000);
  return GetForegroundWindow() == front.window ? 1 : 0;
}

// A busy program the user works in: its window in front, a thread that keeps a processor busy.
int cmd_busy_front(double seconds) {
  const int front = start_front(seconds);
  printf("pid=%lu front=%d\n", GetCurrentProcessId(), front);
  fflush(stdout);
  return spin(seconds);
}

// Starts this probe again with ARGUMENTS, in a job that ends it with this process. Its
// output goes to `output` (none when null). The child's process handle, or null.
HANDLE start_child(const std::wstring& arguments, HANDLE output, DWORD* pid) {
  static HANDLE job = nullptr;
  if (!job) {
    job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job) SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  wchar_t self[MAX_PATH];
  if (!GetModuleFileNameW(nullptr, self, MAX_PATH)) return nullptr;
  std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output;
  PROCESS_INFORMATION info;
  if (!CreateProcessW(self, &command[0], nullptr, nullptr, output != nullptr, 0, nullptr, nullptr, &startup, &info))
    return nullptr;
  if (job) AssignProcessToJobObject(job, info.hProcess);
  CloseHandle(info.hThread);
  *pid = info.dwProcessId;
  return info.hProcess;
}

// A program in front whose work runs in a process it started, as a browser's tabs or a
// console's build do: its window in front, a busy child.
int cmd_busy_front_child(double seconds) {
  const int front = start_front(seconds);
  DWORD child = 0;
  HANDLE process = start_child(L"busy " + std::to_wstring(seconds), nullptr, &child);
  printf("pid=%lu child=%lu front=%d\n", GetCurrentProcessId(), child, front);
  fflush(stdout);
  if (!process) return 1;
  WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
  return 0;
}

// The frame loop of `frames` run by a child of the program whose window is in front; its
// line comes out here after the child's id.
int cmd_frames_front_child(double seconds, const wchar_t* path, double settle) {
  start_front(settle + seconds + 1);
  Sleep((DWORD)(settle * 1000));
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE reader = nullptr, writer = nullptr;
  if (!CreatePipe(&reader, &writer, &inherited, 0)) return 1;
  SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
  DWORD child = 0;
  HANDLE process = start_child(L"frames " + std::to_wstring(seconds) + L" \"" + path + L"\"", writer, &child);
  CloseHandle(writer);
  std::string line;
  char buffer[512];
  DWORD got = 0;
  while (process && ReadFile(reader, buffer, sizeof buffer, &got, nullptr) && got) line.append(buffer, got);
  CloseHandle(reader);
  DWORD code = 1;
  if (process) {
    WaitForSingleObject(process, INFINITE);
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
  }
  printf("child=%lu %s", child, line.c_str());
  return (int)code;
}

// The Status page's visible lines, joined with '|'.
int cmd_texts() {
  HWND window = main_window();
  std::string out;
  if (window) {
    for (HWND line : children_of(window).texts) {
      if (!IsWindowVisible(line)) continue;
      wchar_t text[256] = L"";
      GetWindowTextW(line, text, 256);
      if (!out.empty()) out += "|";
      out += narrow(text);
    }
  }
  printf("texts=%s\n", out.c_str());
  return window ? 0 : 1;
}

// The text of the monitor's tooltip that shows now, lines joined with '|'; with `tray`,
// of the notification icon's, which the shell's process shows.
int cmd_tooltip(bool tray) {
  HWND window = main_window();
  DWORD monitor = 0;
  if (window && !tray) GetWindowThreadProcessId(window, &monitor);
  std::string text = "none";
  for (HWND tip : top_windows(TOOLTIPS_CLASSW, nullptr, tray ? 0 : monitor)) {
    if (!IsWindowVisible(tip)) continue;
    // Asked of the tooltip itself: another process's GetWindowTextW reads only the title.
    wchar_t buffer[512] = L"";
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(tip, WM_GETTEXT, 512, (LPARAM)buffer, SMTO_ABORTIFHUNG, 2000, &copied);
    if (tray && wcsncmp(buffer, L"Quellcore", 9) != 0) continue;
    text = narrow(buffer);
    for (char& c : text) {
      if (c == '\r') c = ' ';
      if (c == '\n') c = '|';
    }
  }
  printf("tip=%s\n", text.c_str());
  return text == "none" ? 1 : 0;
}

int cmd_cpu(DWORD pid, double seconds) {
  const long long before = process_cpu_time(pid);
  const ULONGLONG start = GetTickCount64();
  Sleep((DWORD)(seconds * 1000));
  const long long after = process_cpu_time(pid);
  const ULONGLONG elapsed = GetTickCount64() - start;
  if (before < 0 || after < 0) {
    printf("percent=none\n");
    return 1;
  }
  printf("percent=%lld used_ms=%lld elapsed_ms=%llu\n", (after - before) / 100 / (long long)elapsed,
         (after - before) / 10000, elapsed);
  return 0;
}

double now_ms() {
  static LARGE_INTEGER frequency = {};
  if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return count.QuadPart * 1000.0 / frequency.QuadPart;
}

volatile unsigned g_work_sink;

void work(unsigned iterations) {
  for (unsigned i = 0; i < iterations; ++i) g_work_sink = g_work_sink * 33 + i;
}

// Loop iterations per millisecond: the fastest of many short tries, since busy programs
// may share the processor while it is measured.
double iterations_per_ms() {
  const unsigned kTry = 20000;
  double best = 1e9;
  for (int i = 0; i < 50; ++i) {
    const double t = now_ms();
    work(kTry);
    best = std::min(best, now_ms() - t);
  }
  return kTry / std::max(best, 1e-3);
}

// Stands for the program in front: wakes every 16 ms, works about 2 ms and records how
// late each wake was. A slot is missed when no frame finished inside it. Each wake is
// judged against the slot after the previous frame's, so a hold during the work shows as
// the next wake's lateness; a late frame then drops the slots already gone. Lateness
// values (ms) go one per line to FILE.
int cmd_frames(double seconds, const wchar_t* path) {
  const double kFrameMs = 16, kWorkMs = 2, kHeldMs = 100;
  const unsigned work_iterations = (unsigned)(iterations_per_ms() * kWorkMs);
  const double start = now_ms();
  const long slots = (long)(seconds * 1000 / kFrameMs) - 1;
  std::vector<double> late;
  long on_time = 0, held = 0;
  for (long slot = 1; slot <= slots;) {
    const double due = start + slot * kFrameMs;
    const double wait = due - now_ms();
    if (wait >= 1) Sleep((DWORD)wait);
    while (now_ms() < due) {
    }  // the last fraction of a millisecond, which Sleep cannot express
    const double lateness = now_ms() - due;
    late.push_back(lateness);
    // No scheduler keeps a waiting thread off a processor this long: it was suspended.
    if (lateness > kHeldMs) ++held;
    work(work_iterations);
    const double end = now_ms();
    if (end <= due + kFrameMs) ++on_time;
    slot = lateness > kFrameMs ? (long)((end - start) / kFrameMs) + 1 : slot + 1;
  }
  if (late.empty()) return 1;
  if (path) {
    FILE* out = _wfopen(path, L"w");
    if (!out) return 1;
    for (double v : late) fprintf(out, "%.3f\n", v);
    fclose(out);
  }
  std::sort(late.begin(), late.end());
  printf("frames=%zu slots=%ld median_ms=%.2f p99_ms=%.2f max_ms=%.1f missed_pct=%.1f held=%ld\n", late.size(), slots,
         late[late.size() / 2], late[(size_t)(0.99 * (late.size() - 1))], late.back(),
         100.0 * (slots - on_time) / slots, held);
  return 0;
}

// Samples the process's processor time for SECONDS and finds when it ran freely again:
// the start of the first second in which it used at least 75 % of a processor, as
// wall-clock ms (-1 if never). A throttled process cannot do that: each duty cycle holds
// it for hundreds of milliseconds of every second. Says "sampling" once it has begun.
int cmd_recovery(DWORD pid, double seconds) {
  const DWORD kStepMs = 50, kWindowMs = 1000;
  const long long kFreeUnits = kWindowMs * 10000LL * 3 / 4;
  std::vector<long long> at, cpu;
  const long long start = unix_ms();
  printf("sampling\n");
  fflush(stdout);
  while (unix_ms() - start < seconds * 1000) {
    at.push_back(unix_ms());
    cpu.push_back(process_cpu_time(pid));
    Sleep(kStepMs);
  }
  long long free_at = -1;
  for (size_t i = 0; i < at.size() && free_at < 0; ++i)
    for (size_t j = i + 1; j < at.size(); ++j)
      if (at[j] - at[i] >= kWindowMs) {
        if (cpu[i] >= 0 && cpu[j] - cpu[i] >= kFreeUnits) free_at = at[i];
        break;
      }
  printf("free_at=%lld\n", free_at);
  return free_at >= 0 ? 0 : 1;
}

int cmd_processes() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return 1;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  int count = 0;
  std::string pids;
  for (BOOL more = Process32FirstW(snap, &entry); more; more = Process32NextW(snap, &entry)) {
    if (_wcsicmp(entry.szExeFile, L"quellcore.exe") != 0) continue;
    ++count;
    pids += (pids.empty() ? "" : ",") + std::to_string(entry.th32ProcessID);
  }
  CloseHandle(snap);
  printf("quellcore_processes=%d pids=%s\n", count, pids.c_str());
  return 0;
}

// Stands in for the rest of a desktop session: Wine ends service processes as soon as
// no ordinary process is left, which a real desktop never lets happen.
int cmd_idle(double seconds) {
  Sleep((DWORD)(seconds * 1000));
  return 0;
}

// Columns of the window's Graph page that show a bar at their foot, read from the screen:
// each column taken while a process is busy has one. -1 without a window. The image covers
// the client area from its top to the graph's foot, the tab strip's rows included.
int graph_bar_columns() {
  HWND window = main_window();
  if (!window) return -1;
  const Children c = children_of(window);
  RECT graph;
  if (!c.graph || !GetWindowRect(c.graph, &graph)) return -1;
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  const int width = graph.right - graph.left, height = graph.bottom - graph.top + kTabStripHeight;
  HDC screen = GetDC(nullptr);
  int columns = 0;
  // The newest column fills buffer x 551 to 558 once scrolled, each older one 10 to the left.
  for (int x = kColumnLeft - kScrollStep + kColumnWidth / 2; x > 0; x -= kColumnWidth) {
    bool bar = false;
    for (int y : {kBufferHeight - 10, kBufferHeight - 6, kBufferHeight - 3}) {
      const COLORREF p = GetPixel(screen, origin.x + (2 * x + 1) * width / (2 * kBufferWidth),
                                  origin.y + (2 * y + 1) * height / (2 * kBufferHeight));
      // Green bars, and red ones (the grid ORs its green into them); not the threshold line.
      const bool green = GetGValue(p) == 255 && GetRValue(p) == 0 && GetBValue(p) == 0;
      const bool red = GetRValue(p) == 255 && GetBValue(p) == 0;
      bar = bar || green || red;
    }
    columns += bar;
  }
  ReleaseDC(nullptr, screen);
  return columns;
}

// A second window's reader beside the window: it takes every snapshot the service publishes,
// as fast as it can and as a window takes them, and keeps a processor busy in between, so
// each column the window's graph takes shows a bar. After a warm-up it counts for SECONDS
// the snapshots it took (taken) and the columns the window's graph took (columns).
int cmd_columns(double seconds) {
  SharedLink link;
  if (open_shared_link(&link) != 0) {
    printf("region=missing\n");
    return 1;
  }
  const unsigned work_per_ms = (unsigned)iterations_per_ms();
  uint32_t last_taken = 0;
  static UsageSnapshot copy;
  int taken = 0;
  int before = -1;
  bool counting = false;
  // Busy for a pass first, so that every snapshot the window takes in the count shows it.
  const double kWarmUpS = 2.5;
  const ULONGLONG start = GetTickCount64();
  while (GetTickCount64() - start < (kWarmUpS + seconds) * 1000) {
    if (!counting && GetTickCount64() - start >= kWarmUpS * 1000) {
      counting = true;
      before = graph_bar_columns();
      taken = 0;
    }
    taken += take_snapshot(&link, &last_taken, &copy);
    work(work_per_ms);
  }
  const int after = graph_bar_columns();
  close_shared_link(&link);
  printf("taken=%d columns=%d columns_before=%d columns_after=%d\n", taken, after - before, before, after);
  return before >= 0 && after >= 0 ? 0 : 1;
}

int usage() {
  fprintf(stderr,
          "usage: qc_probe service | wait-service STATE SECONDS | config | stop-service | region |\n"
          "       start-service | watch SECONDS | watch-snapshots SECONDS | clear-ready | mark THRESHOLD PID |\n"
          "       hold-mutex snapshot|command THRESHOLD SECONDS | announce PID | answers SECONDS [MS] |\n"
          "       kill PID | window | wait-window present|absent SECONDS | post ID | close | exit-and-wait SECONDS |\n"
          "       end-session SECONDS |\n"
          "       about present|absent SECONDS | close-others | help-files EXE | shortcut LNK | processes | image PID |\n"
          "       idle SECONDS | slider POSITION | hogs SECONDS | columns SECONDS | busy SECONDS | busy-front SECONDS |\n"
          "       busy-front-child SECONDS | tooltip [tray] | texts |\n"
          "       cpu PID SECONDS |\n"
          "       recovery PID SECONDS | spin PID | kill-while-held BUSY_PID SERVICE_PID SECONDS | moving PID SECONDS |\n"
          "       frames SECONDS [FILE] | frames-front SECONDS FILE | frames-front-child SECONDS FILE\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return usage();
  // Window rectangles in the screen's own pixels, as xdotool and screenshots have them,
  // whatever the display's scale.
  SetProcessDPIAware();
  std::wstring cmd = argv[1];
  auto num = [&](int i) { return i < argc ? wcstod(argv[i], nullptr) : 0.0; };
  auto word = [&](int i) { return i < argc ? std::wstring(argv[i]) : std::wstring(); };
  if (cmd == L"service") return cmd_service();
  if (cmd == L"wait-service" && argc == 4) return cmd_wait_service((int)num(2), num(3));
  if (cmd == L"config") return cmd_config();
  if (cmd == L"stop-service") return cmd_stop_service();
  if (cmd == L"region") return cmd_region();
  if (cmd == L"watch" && argc == 3) return cmd_watch(num(2), false);
  if (cmd == L"watch-snapshots" && argc == 3) return cmd_watch(num(2), true);
  if (cmd == L"clear-ready") return cmd_clear_ready();
  if (cmd == L"mark" && argc == 4) return cmd_mark((int32_t)num(2), (uint32_t)num(3));
  if (cmd == L"hold-mutex" && argc == 5) return cmd_hold_mutex(word(2) == L"command", (int32_t)num(3), num(4));
  if (cmd == L"start-service") return cmd_start_service();
  if (cmd == L"announce" && argc == 3) return cmd_announce((uint32_t)num(2));
  if (cmd == L"answers" && (argc == 3 || argc == 4)) return cmd_answers(num(2), argc == 4 ? (DWORD)num(3) : kPollMs);
  if (cmd == L"spin" && argc == 3) return cmd_spin((DWORD)num(2));
  if (cmd == L"kill-while-held" && argc == 5) return cmd_kill_while_held((DWORD)num(2), (DWORD)num(3), num(4));
  if (cmd == L"moving" && argc == 4) return cmd_moving((DWORD)num(2), num(3));
  if (cmd == L"kill" && argc == 3) return cmd_kill((DWORD)num(2));
  if (cmd == L"window") return cmd_window();
  if (cmd == L"wait-window" && argc == 4) return cmd_wait_window(word(2) == L"present", num(3));
  if (cmd == L"post" && argc == 3) return cmd_post((UINT)num(2));
  if (cmd == L"close") return cmd_close();
  if (cmd == L"end-session" && argc == 3) return cmd_end_session(num(2));
  if (cmd == L"exit-and-wait" && argc == 3) return cmd_exit_and_wait(num(2));
  if (cmd == L"about" && argc == 4) return cmd_about(word(2) == L"present", num(3));
  if (cmd == L"close-others") return cmd_close_others();
  if (cmd == L"help-files" && argc == 3) return cmd_help_files(argv[2]);
  if (cmd == L"shortcut" && argc == 3) return cmd_shortcut(argv[2]);
  if (cmd == L"processes") return cmd_processes();
  if (cmd == L"image" && argc == 3) return cmd_image((DWORD)num(2));
  if (cmd == L"idle" && argc == 3) return cmd_idle(num(2));
  if (cmd == L"slider" && argc == 3) return cmd_slider((int)num(2));
  if (cmd == L"hogs" && argc == 3) return cmd_hogs(num(2));
  if (cmd == L"columns" && argc == 3) return cmd_columns(num(2));
  if (cmd == L"busy" && argc == 3) return cmd_busy(num(2));
  if (cmd == L"busy-front" && argc == 3) return cmd_busy_front(num(2));
  if (cmd == L"busy-front-child" && argc == 3) return cmd_busy_front_child(num(2));
  if (cmd == L"tooltip") return cmd_tooltip(word(2) == L"tray");
  if (cmd == L"texts") return cmd_texts();
  if (cmd == L"cpu" && argc == 4) return cmd_cpu((DWORD)num(2), num(3));
  if (cmd == L"recovery" && argc == 4) return cmd_recovery((DWORD)num(2), num(3));
  if (cmd == L"frames" && (argc == 3 || argc == 4)) return cmd_frames(num(2), argc == 4 ? argv[3] : nullptr);
  // The frame loop of a program the user works in: its window in front meanwhile, from a
  // few seconds before the loop starts, as a user has it in front before it matters.
  const double kFrontSettleS = 3;
  if (cmd == L"frames-front" && argc == 4) {
    start_front(kFrontSettleS + num(2) + 1);
    Sleep((DWORD)(kFrontSettleS * 1000));
    return cmd_frames(num(2), argv[3]);
  }
  if (cmd == L"frames-front-child" && argc == 4) return cmd_frames_front_child(num(2), argv[3], kFrontSettleS);
  return usage();
}
