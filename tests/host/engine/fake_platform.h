// A scripted stand-in for the engine's platform operations: tests describe the
// processes, threads, ticks and failures, then read back the calls the engine made.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/platform.h"

struct FakeProcess {
  uint32_t pid;
  uint64_t kernel_time;
  uint64_t user_time;
  uint64_t creation_time = 1;
  bool own_image = false;  // runs the same executable as the service
  int process_class = kProcessOrdinary;
  int ui_access = 0;  // 1: its token carries UI Access; -1: the token cannot be read
  uint32_t session = 1;
  uint32_t parent = 0;  // the starter's id as the system lists it
  bool opens = true;  // for the throttle to keep open while it holds it
};

struct FakeThread {
  uint32_t tid;
  uint32_t owner_pid;
  bool opens = true;
  bool suspend_fails = false;
  uint32_t suspend_count = 0;
  // The process that really owns the thread when it is opened, if not the listed owner:
  // the id has passed to another process's thread since the list was taken.
  uint32_t owner_now = 0;
};

struct FakePlatform {
  std::vector<FakeProcess> processes;
  std::vector<FakeThread> threads;
  uint32_t tick = 0;
  bool process_list_fails = false;
  int thread_list_failures = 0;  // so many next thread lists fail
  // Calls as text ("suspend 11", "sleep 499"); off for benchmarks.
  bool record = true;
  std::vector<std::string> calls;
  int open_handles = 0;
  int bad_closes = 0;  // closes of handles that were not open
  std::function<void(uint32_t ms)> on_sleep;  // also at a hold
  bool cut_hold = false;  // a shutdown cuts every hold short
  std::vector<uint32_t> sleeps;
  // The crash record as the system keeps it between service processes.
  std::vector<SuspensionRecord> crash_record;
  // Suspend counts of all threads whenever the record is saved: nothing may be
  // suspended yet that the record does not hold.
  std::vector<std::vector<uint32_t>> counts_at_save;
  bool save_fails = false;  // the crash record cannot be written
};

extern FakePlatform g_fake;

// Empties the script, the call log and the handle table.
void fake_reset();
FakeThread* fake_thread(uint32_t tid);
// The calls recorded whose text starts with `prefix`.
std::vector<std::string> fake_calls_starting(const std::string& prefix);
