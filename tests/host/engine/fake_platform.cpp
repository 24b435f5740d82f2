#include "tests/host/engine/fake_platform.h"

#include "engine/platform.h"

FakePlatform g_fake;

namespace {

enum class Kind { Free, ProcessList, ThreadList, Thread, Process };

struct Handle {
  Kind kind = Kind::Free;
  uint32_t id = 0;                   // tid
  std::vector<PlatformProcessInfo> processes;  // a process list as it was when taken
  std::vector<PlatformThreadEntry> threads;  // a thread list as it was when taken
  size_t cursor = 0;
};

std::vector<Handle> g_handles;
std::vector<size_t> g_free_handles;
size_t g_last_listed = 0;  // lets a look-up find the process just listed quickly

void log(const std::string& text) {
  if (g_fake.record) g_fake.calls.push_back(text);
}

PlatformHandle make_handle(Kind kind, uint32_t id) {
  size_t index;
  if (!g_free_handles.empty()) {
    index = g_free_handles.back();
    g_free_handles.pop_back();
  } else {
    index = g_handles.size();
    g_handles.emplace_back();
  }
  g_handles[index].kind = kind;
  g_handles[index].id = id;
  g_handles[index].cursor = 0;
  ++g_fake.open_handles;
  return reinterpret_cast<PlatformHandle>(index + 1);
}

Handle* lookup(PlatformHandle h, Kind kind) {
  const size_t index = reinterpret_cast<size_t>(h);
  if (index == 0 || index > g_handles.size()) return nullptr;
  Handle* handle = &g_handles[index - 1];
  return handle->kind == kind ? handle : nullptr;
}

FakeProcess* find_process(uint32_t pid) {
  if (g_last_listed < g_fake.processes.size() && g_fake.processes[g_last_listed].pid == pid) {
    return &g_fake.processes[g_last_listed];
  }
  for (FakeProcess& p : g_fake.processes) {
    if (p.pid == pid) return &p;
  }
  return nullptr;
}

int list_process(Handle* list, PlatformProcessInfo* info) {
  if (list == nullptr || list->cursor >= list->processes.size()) return -1;
  g_last_listed = list->cursor;
  *info = list->processes[list->cursor++];
  return 0;
}

PlatformTime halves(uint64_t time) {
  return {static_cast<uint32_t>(time), static_cast<uint32_t>(time >> 32)};
}

int list_thread(Handle* list, PlatformThreadEntry* entry) {
  if (list == nullptr || list->cursor >= list->threads.size()) return -1;
  *entry = list->threads[list->cursor++];
  return 0;
}

const char* kind_name(Kind kind) {
  switch (kind) {
    case Kind::ProcessList: return "process_list";
    case Kind::ThreadList: return "thread_list";
    case Kind::Thread: return "thread";
    case Kind::Process: return "process";
    default: return "free";
  }
}

}  // namespace

void fake_reset() {
  g_fake = FakePlatform();
  g_handles.clear();
  g_free_handles.clear();
  g_last_listed = 0;
}

FakeThread* fake_thread(uint32_t tid) {
  for (FakeThread& t : g_fake.threads) {
    if (t.tid == tid) return &t;
  }
  return nullptr;
}

std::vector<std::string> fake_calls_starting(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& c : g_fake.calls) {
    if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
  }
  return out;
}

PlatformHandle platform_open_process_list() {
  log("open_process_list");
  if (g_fake.process_list_fails) return nullptr;
  PlatformHandle h = make_handle(Kind::ProcessList, 0);
  Handle* list = lookup(h, Kind::ProcessList);
  list->processes.clear();
  for (const FakeProcess& p : g_fake.processes) {
    list->processes.push_back(
        {p.pid, p.creation_time, halves(p.kernel_time), halves(p.user_time), p.session, p.parent});
  }
  return h;
}

int platform_first_process(PlatformHandle list, PlatformProcessInfo* info) {
  Handle* handle = lookup(list, Kind::ProcessList);
  if (handle != nullptr) handle->cursor = 0;
  return list_process(handle, info);
}

int platform_next_process(PlatformHandle list, PlatformProcessInfo* info) {
  return list_process(lookup(list, Kind::ProcessList), info);
}

int platform_process_class(uint32_t process_id) {
  log("process_class " + std::to_string(process_id));
  const FakeProcess* p = find_process(process_id);
  return p != nullptr ? p->process_class : kProcessUnknown;
}

int platform_has_ui_access(uint32_t process_id) {
  log("ui_access " + std::to_string(process_id));
  const FakeProcess* p = find_process(process_id);
  return p != nullptr ? p->ui_access : -1;
}

int platform_runs_own_image(uint32_t process_id) {
  const FakeProcess* p = find_process(process_id);
  return p != nullptr && p->own_image ? 1 : 0;
}

int platform_save_suspension_record(const SuspensionRecord* threads, int32_t count) {
  log("save_record " + std::to_string(count));
  if (g_fake.save_fails) return -1;
  g_fake.crash_record.assign(threads, threads + count);
  std::vector<uint32_t> counts;
  for (const FakeThread& t : g_fake.threads) counts.push_back(t.suspend_count);
  g_fake.counts_at_save.push_back(counts);
  return 0;
}

int32_t platform_load_suspension_record(SuspensionRecord* threads, int32_t capacity) {
  log("load_record");
  int32_t n = 0;
  for (; n < capacity && n < static_cast<int32_t>(g_fake.crash_record.size()); ++n) threads[n] = g_fake.crash_record[n];
  return n;
}

void platform_clear_suspension_record() {
  log("clear_record");
  g_fake.crash_record.clear();
}

uint32_t platform_tick_count() {
  log("tick");
  return g_fake.tick;
}

PlatformHandle platform_open_thread_list() {
  log("open_thread_list");
  if (g_fake.thread_list_failures > 0) {
    --g_fake.thread_list_failures;
    return nullptr;
  }
  PlatformHandle h = make_handle(Kind::ThreadList, 0);
  Handle* list = lookup(h, Kind::ThreadList);
  list->threads.clear();
  for (const FakeThread& t : g_fake.threads) list->threads.push_back({t.tid, t.owner_pid});
  return h;
}

int platform_first_thread(PlatformHandle list, PlatformThreadEntry* entry) {
  Handle* handle = lookup(list, Kind::ThreadList);
  if (handle != nullptr) handle->cursor = 0;
  return list_thread(handle, entry);
}

int platform_next_thread(PlatformHandle list, PlatformThreadEntry* entry) {
  return list_thread(lookup(list, Kind::ThreadList), entry);
}

PlatformHandle platform_open_thread(uint32_t thread_id) {
  log("open_thread " + std::to_string(thread_id));
  const FakeThread* t = fake_thread(thread_id);
  if (t == nullptr || !t->opens) return nullptr;
  return make_handle(Kind::Thread, thread_id);
}

uint32_t platform_thread_process_id(PlatformHandle thread) {
  Handle* handle = lookup(thread, Kind::Thread);
  const FakeThread* t = handle != nullptr ? fake_thread(handle->id) : nullptr;
  if (t == nullptr) return 0;
  return t->owner_now != 0 ? t->owner_now : t->owner_pid;
}

PlatformHandle platform_open_process(uint32_t process_id, uint64_t creation_time) {
  log("open_process " + std::to_string(process_id));
  const FakeProcess* p = find_process(process_id);
  if (p == nullptr || !p->opens || p->creation_time != creation_time) return nullptr;
  return make_handle(Kind::Process, process_id);
}

uint32_t platform_suspend_thread(PlatformHandle thread) {
  Handle* handle = lookup(thread, Kind::Thread);
  FakeThread* t = handle != nullptr ? fake_thread(handle->id) : nullptr;
  log("suspend " + std::to_string(handle != nullptr ? handle->id : 0));
  if (t == nullptr || t->suspend_fails) return kPlatformSuspendFailed;
  return t->suspend_count++;
}

uint32_t platform_resume_thread(PlatformHandle thread) {
  Handle* handle = lookup(thread, Kind::Thread);
  FakeThread* t = handle != nullptr ? fake_thread(handle->id) : nullptr;
  log("resume " + std::to_string(handle != nullptr ? handle->id : 0));
  if (t == nullptr) return kPlatformSuspendFailed;
  const uint32_t previous = t->suspend_count;
  if (previous > 0) --t->suspend_count;
  return previous;
}

void platform_close(PlatformHandle handle) {
  const size_t index = reinterpret_cast<size_t>(handle);
  if (index == 0) return;
  if (index > g_handles.size() || g_handles[index - 1].kind == Kind::Free) {
    ++g_fake.bad_closes;
    return;
  }
  Handle* h = &g_handles[index - 1];
  if (g_fake.record) log(std::string("close ") + kind_name(h->kind) + " " + std::to_string(h->id));
  h->kind = Kind::Free;
  g_free_handles.push_back(index - 1);
  --g_fake.open_handles;
}

int platform_hold(uint32_t ms) {
  log("hold " + std::to_string(ms));
  g_fake.sleeps.push_back(ms);
  if (g_fake.on_sleep) g_fake.on_sleep(ms);
  return g_fake.cut_hold ? 1 : 0;
}

void platform_sleep(uint32_t ms) {
  log("sleep " + std::to_string(ms));
  g_fake.sleeps.push_back(ms);
  if (g_fake.on_sleep) g_fake.on_sleep(ms);
}
