// The engine over the real platform: a sampling pass sees the running processes with
// their real times, a duty cycle stops a busy helper process while its threads are
// suspended, and programs in the folders only the system writes are never targets.
#include <windows.h>
#include <shlobj.h>

#include <stdio.h>
#include <wchar.h>

#include "engine/engine.h"
#include "tests/wine/common/check.h"
#include "tests/wine/engine/busy_counter.h"

namespace {

const DWORD kObserveEveryMs = 5;
const int kMaxSamples = 4000;
const DWORD kSettleMs = 50;   // suspension of another process's thread is asynchronous
const DWORD kWatchMs = 300;
// A duty cycle at threshold 100 holds its targets for 999 ms; allow for a late observer.
const ULONGLONG kMinStallMs = 700;
// The busy helper uses about 100 % of one processor; a loaded machine gives it less.
const int32_t kMinHelperUsage = 30;

struct Helper {
  HANDLE job;
  HANDLE mapping;
  BusyCounter* counter;
  PROCESS_INFORMATION info;
};

struct Observer {
  volatile LONG done;
  int samples;
  ULONGLONG at_ms[kMaxSamples];
  LONG count[kMaxSamples];
};

Helper g_helper;
Observer g_observer;

LONG counter_now() { return g_helper.counter->count; }

// Where this test's own programs are, with `name` in place of the test's file name.
bool beside_test(const wchar_t* name, wchar_t* path) {
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  wchar_t* slash = wcsrchr(path, L'\\');
  if (slash == nullptr || (slash - path) + 1 + wcslen(name) >= MAX_PATH) return false;
  wcscpy(slash + 1, name);
  return true;
}

// Starts a busy helper from `image` in a job that ends it should this test die first.
bool start_helper(Helper* helper, const wchar_t* image) {
  wchar_t name[64];
  static int started = 0;
  swprintf(name, 64, L"Local\\qc-engine-test-%lu-%d", GetCurrentProcessId(), started++);
  helper->mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       sizeof(BusyCounter), name);
  if (helper->mapping == nullptr) return false;
  helper->counter = static_cast<BusyCounter*>(
      MapViewOfFile(helper->mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(BusyCounter)));
  if (helper->counter == nullptr) return false;

  helper->job = CreateJobObjectW(nullptr, nullptr);
  if (helper->job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(helper->job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  }

  wchar_t command[MAX_PATH + 80];
  swprintf(command, MAX_PATH + 80, L"\"%ls\" %ls", image, name);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (!CreateProcessW(image, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &helper->info)) {
    return false;
  }
  if (helper->job != nullptr) AssignProcessToJobObject(helper->job, helper->info.hProcess);
  // Running once its count moves.
  for (int i = 0; i < 100 && helper->counter->count == 0; ++i) Sleep(50);
  return helper->counter->count != 0;
}

void stop_helper(Helper* helper) {
  if (helper->info.hProcess != nullptr) {
    if (helper->counter != nullptr) helper->counter->stop = 1;
    ResumeThread(helper->info.hThread);  // in case a check left it suspended
    TerminateProcess(helper->info.hProcess, 0);
    WaitForSingleObject(helper->info.hProcess, 5000);
    CloseHandle(helper->info.hThread);
    CloseHandle(helper->info.hProcess);
  }
  if (helper->counter != nullptr) UnmapViewOfFile(helper->counter);
  if (helper->mapping != nullptr) CloseHandle(helper->mapping);
  if (helper->job != nullptr) CloseHandle(helper->job);
  *helper = Helper{};
}

bool advances_over(DWORD ms) {
  const LONG before = counter_now();
  Sleep(ms);
  return counter_now() != before;
}

DWORD WINAPI observe(void*) {
  while (!g_observer.done && g_observer.samples < kMaxSamples) {
    g_observer.at_ms[g_observer.samples] = GetTickCount64();
    g_observer.count[g_observer.samples] = counter_now();
    ++g_observer.samples;
    Sleep(kObserveEveryMs);
  }
  return 0;
}

// The longest time the observer saw the count stand still.
ULONGLONG longest_stall_ms() {
  ULONGLONG longest = 0;
  int run_start = 0;
  for (int i = 1; i < g_observer.samples; ++i) {
    if (g_observer.count[i] != g_observer.count[run_start]) run_start = i;
    const ULONGLONG span = g_observer.at_ms[i] - g_observer.at_ms[run_start];
    if (span > longest) longest = span;
  }
  return longest;
}

int slot_of(uint32_t pid) {
  for (int i = 0; i < g_engine.entry_count; ++i) {
    if (g_engine.table[i].pid == pid) return i;
  }
  return -1;
}

void check_sampling_pass(uint32_t own_pid, uint32_t helper_pid) {
  CHECK_EQ(run_sampling_pass(), 0);
  CHECK(g_engine.entry_count >= 2);
  const int own_slot = slot_of(own_pid);
  CHECK(own_slot >= 0);
  CHECK(slot_of(helper_pid) >= 0);
  int duplicates = 0;
  for (int i = 0; i < g_engine.entry_count; ++i) {
    CHECK(g_engine.table[i].pid != 0);
    for (int j = i + 1; j < g_engine.entry_count; ++j) duplicates += g_engine.table[i].pid == g_engine.table[j].pid;
  }
  CHECK_EQ(duplicates, 0);
  CHECK_EQ(g_engine.snapshot.active_count, 0u);  // no usage in a first pass
  Sleep(kWatchMs);
  CHECK_EQ(run_sampling_pass(), 0);
  CHECK_EQ(slot_of(own_pid), own_slot);
  // The times are the helper's own, not this process's: it keeps one processor busy.
  const int helper_slot = slot_of(helper_pid);
  const int32_t helper_usage = helper_slot >= 0 ? g_engine.table[helper_slot].usage : -1;
  printf("sampling pass: %d processes entered, busy helper at %d %% of one processor\n",
         g_engine.entry_count, helper_usage);
  CHECK(helper_usage >= kMinHelperUsage);
}

// Threshold 100: suspended 999 ms, then 1 ms of rest.
void check_duty_cycle_stops_helper(int helper_slot) {
  g_engine.threshold_percent = 100;
  g_engine.targets.target_slot[0] = helper_slot;
  g_engine.targets.target_count = 1;
  CHECK(advances_over(200));
  HANDLE observer = CreateThread(nullptr, 0, observe, nullptr, 0, nullptr);
  CHECK(observer != nullptr);
  const ULONGLONG started = GetTickCount64();
  run_duty_cycle();
  const ULONGLONG took = GetTickCount64() - started;
  Sleep(kWatchMs);
  g_observer.done = 1;
  if (observer != nullptr) {
    WaitForSingleObject(observer, INFINITE);
    CloseHandle(observer);
  }
  const ULONGLONG stall = longest_stall_ms();
  printf("duty cycle at 100: %llu ms, helper stood still for %llu ms\n", took, stall);
  CHECK(took >= 1000);
  CHECK(stall >= kMinStallMs);
  CHECK_EQ(g_engine.targets.target_count, 0);
  CHECK(advances_over(kWatchMs));  // resumed
}

// A thread suspended by someone else before the cycle is still suspended after it.
void check_outside_suspension_survives(int helper_slot) {
  CHECK(SuspendThread(g_helper.info.hThread) != static_cast<DWORD>(-1));
  g_engine.threshold_percent = 1;
  g_engine.targets.target_slot[0] = helper_slot;
  g_engine.targets.target_count = 1;
  run_duty_cycle();
  Sleep(kSettleMs);
  CHECK(!advances_over(kWatchMs));
  ResumeThread(g_helper.info.hThread);
  CHECK(advances_over(kWatchMs));
}

// Copies of the busy helper in the folders only the system's installer writes are
// measured and drawn but never targets; in the folders below them that users and tasks
// write, elsewhere, or named as a host of a user's own code, they are. A 32-bit test's
// System32 is its SysWOW64, which counts the same.
void check_system_folder_rule() {
  const struct {
    const wchar_t* folder;  // below the Windows folder, or a full path
    const wchar_t* name;
    int target;
  } cases[] = {
      {L"C:\\Demo", L"dwm.exe", 1},
      {L"\\System32", L"dwm.exe", 0},
      {L"\\SystemApps\\QcTest_cw5n1h2txyewy", L"busy.exe", 0},
      {L"\\Temp", L"busy.exe", 1},
      {L"\\sYsTeM32\\TASKS", L"busy.exe", 1},
      {L"\\SystemApps\\QcTest_cw5n1h2txyewy", L"cmd.exe", 1},
  };
  const int kCases = sizeof(cases) / sizeof(cases[0]);
  wchar_t helper_image[MAX_PATH], windows[MAX_PATH];
  const UINT windows_length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  CHECK(beside_test(L"qc_engine_busy_helper.exe", helper_image) && windows_length > 0);
  CreateDirectoryW(L"C:\\Demo", nullptr);
  Helper helpers[kCases] = {};
  wchar_t copies[kCases][MAX_PATH];
  for (int i = 0; i < kCases; ++i) {
    wchar_t folder[MAX_PATH];
    swprintf(folder, MAX_PATH, L"%ls%ls", cases[i].folder[0] == L'\\' ? windows : L"", cases[i].folder);
    SHCreateDirectoryExW(nullptr, folder, nullptr);
    swprintf(copies[i], MAX_PATH, L"%ls\\%ls", folder, cases[i].name);
    CHECK(CopyFileW(helper_image, copies[i], FALSE) && start_helper(&helpers[i], copies[i]));
  }
  g_engine.threshold_percent = 100;
  CHECK_EQ(run_sampling_pass(), 0);
  g_engine.targets.target_count = 0;
  Sleep(kWatchMs);
  CHECK_EQ(run_sampling_pass(), 0);
  int passed_over = 0;
  for (int i = 0; i < kCases; ++i) {
    const int slot = slot_of(helpers[i].info.dwProcessId);
    CHECK(slot >= 0 && g_engine.table[slot].usage > 0);  // it has its bar
    int targeted = 0;
    for (int t = 0; t < g_engine.targets.target_count; ++t) targeted |= g_engine.targets.target_slot[t] == slot;
    if (targeted != cases[i].target) printf("system folder rule: %ls is %s\n", copies[i], targeted ? "held" : "spared");
    CHECK_EQ(targeted, cases[i].target);
    passed_over += !cases[i].target;
  }
  CHECK(g_engine.report.system_passed_over >= passed_over);
  printf("system folder rule: %d targets, %d system processes passed over\n", g_engine.targets.target_count,
         g_engine.report.system_passed_over);
  g_engine.targets.target_count = 0;
  for (int i = 0; i < kCases; ++i) {
    stop_helper(&helpers[i]);
    DeleteFileW(copies[i]);
  }
}

}  // namespace

int main() {
  engine_reset();
  const uint32_t own_pid = GetCurrentProcessId();
  protect_own_process(own_pid);  // never a target, whatever the measurements say
  wchar_t helper_image[MAX_PATH];
  const bool started = beside_test(L"qc_engine_busy_helper.exe", helper_image) &&
                       start_helper(&g_helper, helper_image);
  CHECK(started);
  if (started) {
    const uint32_t helper_pid = g_helper.info.dwProcessId;
    check_sampling_pass(own_pid, helper_pid);
    g_engine.targets.target_count = 0;  // the targets are chosen by hand below
    const int helper_slot = slot_of(helper_pid);
    CHECK(helper_slot >= 0);
    if (helper_slot >= 0) {
      check_duty_cycle_stops_helper(helper_slot);
      check_outside_suspension_survives(helper_slot);
    }
  }
  stop_helper(&g_helper);
  check_system_folder_rule();
  return check_summary("engine_wine_test");
}
