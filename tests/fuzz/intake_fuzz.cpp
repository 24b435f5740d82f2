// Any local user can write the shared region, so both sides take its bytes as hostile.
// This fuzzer hands arbitrary bytes to each side's intake, cycle after cycle, and checks
// what the intake leaves behind.
//
// Input: byte 0 picks the side (bit 0: 0 service, 1 monitor); for the service, bits 1-7
// say how many real monitors announced themselves before, so the protected list can start
// anywhere from nearly empty to full, sessions at their cap included. Every further 1088 bytes are what the
// region holds at one cycle; a shorter tail overwrites only the region's first bytes, the
// rest keeping what the previous cycle left there. The service also takes one message
// over its pipe at each cycle, made from the cycle's first bytes (see fuzz_pipe_message).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "engine/engine.h"
#include "monitor/held_programs.h"
#include "monitor/layout.h"
#include "monitor/link.h"
#include "monitor/monitor_state.h"
#include "service/service.h"
#include "shared/control_block.h"
#include "tests/host/engine/fake_platform.h"

#define REQUIRE(condition)                                                   \
  do {                                                                       \
    if (!(condition)) {                                                      \
      fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                               \
    }                                                                        \
  } while (0)

// The mutexes are always had here: their time-outs are the protocol's tests' business.
int link_lock(LinkHandle) { return 0; }
void link_unlock(LinkHandle) {}
void frame_lock() {}
void frame_unlock() {}
void wake_link() {}

// The service's Win32 layer, which the command intake must never reach.
int register_control_handler() { abort(); }
void set_service_status(const ServiceStatusRecord*) { abort(); }
void status_lock() { abort(); }
void status_unlock() { abort(); }
int create_stop_event() { abort(); }
void signal_stop_event() { abort(); }
void release_held_threads() { abort(); }
int wait_for_stop(uint32_t) { abort(); }
int32_t query_logical_cpu_count() { abort(); }
void raise_worker_priority() { abort(); }
uint32_t current_process_id() { abort(); }
int create_shared_link(SharedLink*) { abort(); }
int open_link_pipe() { abort(); }
int serve_link_pipe() { abort(); }
int secure_service_registration() { abort(); }

namespace {

const uint32_t kServicePid = 8;
const uint32_t kFirstMonitorPid = 1000;
// More real monitors than the protected list has places, over more sessions than it has
// room for at their cap, so it can fill.
const uint32_t kMonitorCount = kProtectedCapacity + 6;
const uint32_t kMonitorSessions = 20;
const uint32_t kBusyProgramPid = 3000;  // runs another image
const uint32_t kOtherSessionPid = 3001;  // another user's program, in session 2
const uint32_t kShellPid = 3002;  // the system's own, in session 1
const uint32_t kUncheckablePid = 3003;  // cannot be opened to tell who it is
const uint32_t kSessionZeroPid = 2000;  // a service of the system's, in session 0
const uint32_t kOtherSession = 2;  // monitors 1, 21, 41 and 61 run there

SharedControlBlock g_region;
int g_snapshot_mutex;
int g_command_mutex;
const uint8_t* g_next;  // the input not yet written into the region
size_t g_left;

uint64_t creation_time_of(uint32_t pid) { return 0x01D9000000000000ull + pid * 7; }

// The system the service sees: itself, real monitors, and processes that are neither.
void script_processes() {
  fake_reset();
  g_fake.record = false;
  FakeProcess system = {4, 0, 0};
  g_fake.processes.push_back(system);
  FakeProcess service = {kServicePid, 0, 0};
  service.own_image = true;
  g_fake.processes.push_back(service);
  for (uint32_t i = 0; i < kMonitorCount; ++i) {
    FakeProcess monitor = {kFirstMonitorPid + i, 0, 0};
    monitor.own_image = true;
    monitor.session = 1 + i % kMonitorSessions;
    g_fake.processes.push_back(monitor);
  }
  FakeProcess busy = {kBusyProgramPid, 0, 0};
  g_fake.processes.push_back(busy);
  FakeProcess other_session = {kOtherSessionPid, 0, 0};
  other_session.session = kOtherSession;
  g_fake.processes.push_back(other_session);
  FakeProcess shell = {kShellPid, 0, 0};
  shell.process_class = kProcessSystem;
  g_fake.processes.push_back(shell);
  FakeProcess uncheckable = {kUncheckablePid, 0, 0};
  uncheckable.process_class = kProcessUnknown;
  g_fake.processes.push_back(uncheckable);
  FakeProcess session_zero = {kSessionZeroPid, 0, 0};
  session_zero.session = 0;
  g_fake.processes.push_back(session_zero);
  for (FakeProcess& p : g_fake.processes) p.creation_time = creation_time_of(p.pid);
}

SharedLink region_link() {
  SharedLink link = {&g_region, &g_region, &g_snapshot_mutex, &g_command_mutex};
  return link;
}

// Writes the next cycle's bytes over the region; 0 when there were any.
int write_next_region() {
  if (g_left == 0) return -1;
  const size_t n = g_left < sizeof(g_region) ? g_left : sizeof(g_region);
  memcpy(&g_region, g_next, n);
  g_next += n;
  g_left -= n;
  return 0;
}

// Every protected entry is the service or a real monitor that still runs as listed.
int is_listed_own_image(const ProtectedProcess* entry) {
  for (const FakeProcess& p : g_fake.processes) {
    if (p.pid == entry->pid) return p.own_image && p.creation_time == entry->creation_time;
  }
  return 0;
}

const FakeProcess* listed(uint32_t pid) {
  for (const FakeProcess& p : g_fake.processes) {
    if (p.pid == pid) return &p;
  }
  return nullptr;
}

// A claim stands only in a protected monitor's entry, for a listed ordinary process by its
// creation time, outside session 0 and in that monitor's own session.
void check_claims() {
  const ProtectedPidList* list = &g_engine.protected_pids;
  REQUIRE(list->processes[0].claim.pid == 0);
  for (int32_t i = 1; i < list->protected_count && i < kProtectedCapacity; ++i) {
    const SparedProcess* claim = &list->processes[i].claim;
    if (claim->pid == 0) continue;
    const FakeProcess* p = listed(claim->pid);
    const FakeProcess* monitor = listed(list->processes[i].pid);
    REQUIRE(p != nullptr && monitor != nullptr && p->creation_time == claim->creation_time);
    REQUIRE(p->session != 0 && p->session == monitor->session && p->process_class == kProcessOrdinary);
  }
}

void check_service_state() {
  check_claims();
  REQUIRE(g_engine.threshold_percent >= 1 && g_engine.threshold_percent <= 100);
  const ProtectedPidList* list = &g_engine.protected_pids;
  REQUIRE(list->protected_count >= 1 && list->protected_count <= kProtectedCapacity);
  REQUIRE(list->processes[0].pid == kServicePid);
  for (int32_t i = 0; i < list->protected_count; ++i) REQUIRE(is_listed_own_image(&list->processes[i]));
  // No session holds more than its few entries, each under the session it runs in.
  for (int32_t i = 1; i < list->protected_count; ++i) {
    int32_t same = 0;
    for (int32_t j = 1; j < list->protected_count; ++j) same += list->processes[j].session_id == list->processes[i].session_id;
    REQUIRE(same <= kMonitorEntriesPerSession);
    REQUIRE(listed(list->processes[i].pid)->session == list->processes[i].session_id);
  }
  REQUIRE(g_fake.open_handles == 0);
}

// A message over the link pipe, from the cycle's snapshot bytes, which the region's
// intake never reads: byte 0 picks the client (a real monitor, or a process that is
// none), byte 1 whether the pipe names the session the system lists for it, byte 2 the
// message's length (up to a few bytes more than one), then the message; byte 3's top bit
// ends the client's connection afterwards. The pipe names the client truly; what it
// writes is anyone's.
void fuzz_pipe_message() {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&g_region.snapshot);
  const uint32_t strangers[] = {kBusyProgramPid, kOtherSessionPid, kShellPid, kUncheckablePid, kSessionZeroPid, kServicePid};
  const uint32_t choice = bytes[0] % (kMonitorCount + sizeof(strangers) / sizeof(strangers[0]));
  const uint32_t pid = choice < kMonitorCount ? kFirstMonitorPid + choice : strangers[choice - kMonitorCount];
  const FakeProcess* process = listed(pid);
  const uint32_t session = (bytes[1] & 1) ? process->session : process->session + 1;
  const uint32_t length = bytes[2] % (sizeof(LinkRequest) + 4);
  LinkRequest request;
  if (read_link_request(bytes + 3, length, &request) == 0) {
    const LinkReply reply = serve_link_request(&request, pid, session);
    REQUIRE(reply.sequence == request.sequence);
    REQUIRE(((reply.status & LINK_PROTECTED) != 0) == (is_protected_monitor(pid) != 0));
  }
  if (bytes[3] & 0x80) link_client_gone(pid);
}

// As the service cycle does it: take the commands, then apply them to the engine; then a
// message over the pipe.
void fuzz_service(int earlier_monitors) {
  engine_reset();
  REQUIRE(protect_own_process(kServicePid) == 0);
  for (int i = 0; i < earlier_monitors; ++i) {
    const uint32_t pid = kFirstMonitorPid + i % kMonitorCount;
    protect_monitor(pid);  // as their accepted announcements did
  }
  SharedLink link = region_link();
  while (write_next_region() == 0) {
    TakenCommands commands;
    if (take_commands(&link, &commands)) apply_commands(&commands);
    check_service_state();
    fuzz_pipe_message();
    check_service_state();
  }
}

// What the window draws and writes from each frame the link publishes: the newest column,
// rectangle by rectangle, and the texts of the tooltip and the Status page.
void show_frame(int32_t) {
  static MonitorFrame frame;
  load_frame(&frame);
  const uint32_t count = drawable_bar_count(frame.snapshot.active_count);
  REQUIRE(count <= static_cast<uint32_t>(kBarsCapacity));
  int32_t bottom = kBufferHeight;
  for (uint32_t i = 0; i < count; ++i) {
    const ColumnBar bar = column_bar(frame.snapshot.bars[i], bottom);
    const LayoutRect r = bar.rect;
    REQUIRE(r.left >= 0 && r.left <= r.right && r.right <= kBufferWidth);
    REQUIRE(r.top >= 0 && r.top <= r.bottom && r.bottom <= kBufferHeight);
    bottom = r.top;
  }
  static wchar_t text[96];
  const ServiceReport* report = &frame.report;
  for (int32_t c = 0; c < kHistoryColumns; ++c) {
    held_column_tip(&frame.held, &frame.held.columns[c], text, 96);
    REQUIRE(text[95] == L'\0' || wcslen(text) < 96);
  }
  held_summary(&frame.held, &frame.held.columns[0], text, 96);
  spared_summary(&frame.held, report->spared_pid, report->spared_family, text, 96);
  system_summary(report->system_passed_over, text, 96);
  REQUIRE(wcslen(text) < 96);
  REQUIRE(frame.held.name_count >= 0 && frame.held.name_count <= kNameTableCapacity);
}

void fake_look_at_service(ServiceView* out) { *out = ServiceView{kServiceInstalled, 4, 10, true}; }
int fake_start_service() { return 0; }
// Each poll's pause is where another process writes the region; out of input, the
// window closes.
int fake_wait(uint32_t ms) {
  if (ms == kSnapshotPollMs && write_next_region() != 0) flag_store(&g_monitor.stop_requested, 1);
  return 0;
}
uint32_t fake_tick() { return 0; }
int fake_open_link(SharedLink* link) {
  *link = region_link();
  return 0;
}
void fake_close_link(SharedLink*) {}
uint32_t fake_monitor_pid() { return kFirstMonitorPid; }
void fake_take_list() {}
// Every id gets a name of the largest size, so a hostile id exercises the whole table.
int fake_describe(uint32_t pid, ProcessFacts* out) {
  out->creation_time = pid;
  out->parent_pid = pid - 1;
  for (int32_t i = 0; i < kProgramNameCapacity; ++i) out->name[i] = L'n';
  return 0;
}
int fake_connected() { return 0; }
int fake_action(int32_t) { return 0; }

const LinkPlatform kLinkPlatform = {
    fake_look_at_service, fake_start_service, fake_wait,     fake_tick,     fake_open_link, fake_close_link,
    fake_monitor_pid,     show_frame,         fake_take_list, fake_describe, fake_connected, fake_action,
};

// The link thread's whole run, with the window's drawing at each frame it publishes.
void fuzz_monitor() {
  monitor_state_reset();
  g_monitor.slider_threshold = kSliderStart;
  run_monitor_link(&kLinkPlatform);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  script_processes();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  memset(&g_region, 0, sizeof(g_region));
  g_next = data + 1;
  g_left = size - 1;
  if ((data[0] & 1) == 0) {
    fuzz_service(data[0] >> 1);
  } else {
    fuzz_monitor();
  }
  return 0;
}
