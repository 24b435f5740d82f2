// Who is never held although above the limit: the system's own processes, and the
// program in front of each monitor's user, with its family, while the monitor spares it.
#include <algorithm>
#include <map>
#include <cwchar>
#include <string>

#include "engine/system_image.h"
#include "tests/host/engine/engine_fixture.h"

namespace {

// One processor at level 100: every busy process uses 90 % of the machine and is above
// the limit. Process n has one thread, n + 1, that opens.
class ExemptionTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    g_engine.threshold_percent = 100;
    busy.clear();
  }

  void add(uint32_t pid, bool is_busy) {
    g_fake.processes.push_back({pid, 1, 0});
    g_fake.threads.push_back({pid + 1, pid});
    if (is_busy) busy.push_back(pid);
  }

  // One second later, with the target list emptied as the duty cycle leaves it.
  void pass() {
    for (uint32_t pid : busy) {
      if (process(pid) != nullptr) process(pid)->kernel_time += 900 * kUnitsPerMs;
    }
    g_engine.targets.target_count = 0;
    pass_at(g_fake.tick + 1000);
  }

  // By id, whichever slots they took.
  std::vector<uint32_t> held() {
    std::vector<uint32_t> pids;
    for (int slot : target_slots()) pids.push_back(g_engine.table[slot].pid);
    std::sort(pids.begin(), pids.end());
    return pids;
  }

  std::vector<uint32_t> busy;
};

TEST_F(ExemptionTest, TheSystemsOwnProcessesAreDrawnButNeverHeldAndAskedAboutOnce) {
  // 4 is System, whatever its process says. The platform layer calls 30 a system process
  // (critical, or the system folder's own dwm.exe and its kind); 40 cannot be opened to
  // check; 50's threads refuse to open; 60 is ordinary, like a user's own dwm.exe
  // elsewhere; 70 is calm.
  for (uint32_t pid : {4u, 30u, 40u, 50u, 60u}) add(pid, true);
  add(70, false);
  process(30)->process_class = kProcessSystem;
  process(40)->process_class = kProcessUnknown;
  fake_thread(51)->opens = false;
  pass();
  EXPECT_TRUE(fake_calls_starting("process_class").empty());  // measuring opens nothing
  pass();
  EXPECT_EQ(held(), std::vector<uint32_t>{60});
  EXPECT_EQ(bars(), (std::vector<int>{0x80 | 90, 90, 90, 90, 90}));
  EXPECT_EQ(g_engine.report.system_passed_over, 2);
  pass();
  EXPECT_EQ(fake_calls_starting("process_class"),
            (std::vector<std::string>{"process_class 30", "process_class 40", "process_class 50",
                                      "process_class 60"}));
  // 60 ends and a system process comes to have its id: it is asked about afresh.
  process(60)->creation_time = 2;
  process(60)->process_class = kProcessSystem;
  pass();
  pass();
  EXPECT_TRUE(held().empty());
  EXPECT_EQ(g_engine.report.system_passed_over, 3);
}

// Assistive technology, told by the UI Access in its token, counts as the system's own;
// a token that cannot be read changes nothing. Each is asked about once.
TEST_F(ExemptionTest, AProcessWithUiAccessIsPassedOverAndAnUnreadableTokenChangesNothing) {
  // 110's token carries UI Access, 120's does not, 130's cannot be read.
  const struct {
    uint32_t pid;
    int ui_access;
  } cases[] = {{110, 1}, {120, 0}, {130, -1}};
  for (const auto& c : cases) {
    add(c.pid, true);
    process(c.pid)->ui_access = c.ui_access;
  }
  pass();
  pass();
  pass();
  EXPECT_EQ(held(), (std::vector<uint32_t>{120, 130}));
  EXPECT_EQ(g_engine.report.system_passed_over, 1);
  std::vector<std::string> asked = fake_calls_starting("ui_access");
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<std::string>{"ui_access 110", "ui_access 120", "ui_access 130"}));
}

// The system's own programs are told by where they live: only folders that the system's
// installer alone can write count, each spelt as the system may hand it over.
TEST(SystemImageTest, OnlyFoldersTheSystemAloneWritesHoldItsOwnPrograms) {
  const struct {
    const wchar_t* image;
    int trusted;
  } cases[] = {
      {L"C:\\Windows\\explorer.exe", 1},
      {L"c:\\WINDOWS\\Explorer.EXE", 1},
      {L"\\\\?\\C:\\Windows\\explorer.exe", 1},
      {L"\\\\?\\c:\\windows\\system32\\DWM.exe", 1},
      {L"C:\\Windows\\SysWOW64\\fontdrvhost.exe", 1},
      {L"\\\\?\\C:\\WINDOWS\\systemapps\\Shell\\deeper\\StartMenuExperienceHost.exe", 1},
      // The trees only the system's installer writes.
      {L"C:\\Windows\\WinSxS\\amd64_microsoft-windows-servicingstack_31bf\\TiWorker.exe", 1},
      {L"C:\\Windows\\servicing\\TrustedInstaller.exe", 1},
      {L"C:\\Windows\\System32\\DriverStore\\FileRepository\\audio.inf_amd64_1\\AudioSrv.exe", 1},
      {L"C:\\Windows\\Microsoft.NET\\Framework\\v4.0.30319\\ngen.exe", 1},
      {L"C:\\Windows\\Microsoft.NET\\Framework64\\v4.0.30319\\mscorsvw.exe", 1},
      {L"C:\\Windows\\UUS\\amd64\\MoUsoCoreWorker.exe", 1},
      {L"C:\\Windows\\ImmersiveControlPanel\\SystemSettings.exe", 1},
      {L"C:\\Windows\\System32\\DriverStore\\busy.exe", 0},
      {L"C:\\Windows\\Microsoft.NET\\busy.exe", 0},
      {L"C:\\Windows\\Microsoft.NET\\FrameworkX\\busy.exe", 0},
      {L"C:\\Windows\\Microsoft.NET\\Framework64\\v4.0.30319\\Temporary ASP.NET Files\\root\\w3wp.exe", 0},
      {L"C:\\Windows\\WinSxS\\Temp\\busy.exe", 0},
      {L"C:\\Windows\\servicing\\Tasks\\busy.exe", 0},
      // Folders any user may make in the root, beside the Windows folder.
      {L"C:\\WindowsXSystem32\\busy.exe", 0},
      {L"C:\\Windows_SystemApps\\x\\busy.exe", 0},
      // Subfolders any user or task may write to.
      {L"\\\\?\\C:\\WINDOWS\\TEMP\\busy.exe", 0},
      {L"C:\\Windows\\Tasks\\busy.exe", 0},
      {L"c:\\windows\\system32\\tasks\\busy.exe", 0},
      {L"C:\\Windows\\SysWOW64\\Tasks\\busy.exe", 0},
      {L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe", 0},
      // The system's hosts of a user's own code, wherever they are.
      {L"C:\\Windows\\System32\\cmd.exe", 0},
      {L"C:\\Windows\\SysWOW64\\RUNDLL32.EXE", 0},
      {L"\\\\?\\C:\\Windows\\System32\\cscript.exe", 0},
      {L"C:\\Windows\\System32\\WScript.exe", 0},
      {L"C:\\Windows\\SystemApps\\Any\\mshta.exe", 0},
      {L"C:\\Windows\\System32\\dllhost.exe", 0},
      {L"C:\\Windows\\SysWOW64\\regsvr32.exe", 0},
      {L"C:\\Windows\\System32\\msiexec.exe", 0},
      {L"C:\\Windows\\hh.exe", 0},
      // Paths that only look trusted.
      {L"C:\\Windows\\Temp\\..\\explorer.exe", 0},
      {L"C:\\Windows\\SystemApps\\..\\Temp\\busy.exe", 0},
      {L"C:\\Windows\\System32\\", 0},
      {L"C:\\Windows\\Tracing:busy.exe", 0},
      {L"C:\\Windows\\Temp/busy.exe", 0},
      {L"C:\\WindowsApps\\busy.exe", 0},
  };
  const wchar_t* const folders[] = {L"C:\\Windows", L"\\\\?\\c:\\windows\\"};
  for (const auto& c : cases) {
    for (const wchar_t* folder : folders) {
      const int32_t length = static_cast<int32_t>(std::wcslen(c.image));
      std::string shown;
      for (int32_t i = 0; i < length; ++i) shown += static_cast<char>(c.image[i]);
      EXPECT_EQ(is_system_image(c.image, length, folder, static_cast<int32_t>(std::wcslen(folder))), c.trusted)
          << shown;
    }
  }
}

// 10 is the service; 20 a monitor in session 1, 30 one in session 2 and 15 one in session
// 0. 40 is the shell in session 1, which started the busy 50 and 60; 70 is busy in session
// 0 with the services, 90 in session 2; 80 is calm. Every process was created at 1.
class SpareTest : public ExemptionTest {
 protected:
  void SetUp() override {
    ExemptionTest::SetUp();
    for (uint32_t pid : {10u, 15u, 20u, 30u, 40u}) add(pid, false);
    for (uint32_t pid : {50u, 60u, 70u}) add(pid, true);
    add(80, false);
    add(90, true);
    process(10)->own_image = process(15)->own_image = process(20)->own_image = process(30)->own_image = true;
    process(15)->session = 0;
    process(30)->session = process(90)->session = 2;
    process(40)->process_class = kProcessSystem;
    process(50)->parent = process(60)->parent = 40;
    process(70)->session = 0;
    protect_own_process(10);
  }

  void end_process(uint32_t pid) {
    for (size_t i = 0; i < g_fake.processes.size(); ++i) {
      if (g_fake.processes[i].pid == pid) g_fake.processes.erase(g_fake.processes.begin() + i);
    }
  }

  // What each monitor entry claims, in entry order.
  std::vector<uint32_t> claims() {
    std::vector<uint32_t> out;
    for (int32_t i = 1; i < g_engine.protected_pids.protected_count; ++i) {
      out.push_back(g_engine.protected_pids.processes[i].claim.pid);
    }
    return out;
  }
};

enum SpareEvent { kNothing, kMonitorEnds, kSparedEnds, kSparedIdReused, kMonitorIdReusedBefore };

struct Claim {
  uint32_t claimant;
  uint32_t pid;
};

TEST_F(SpareTest, TheProgramInFrontIsSparedOnlyWhileItsMonitorsClaimStands) {
  const struct {
    const char* name;
    bool monitors;  // both monitors are protected when the claim comes
    Claim earlier;  // a claim accepted before this one, or none
    Claim claim;
    uint64_t created;
    int result;
    SpareEvent then;
    std::vector<uint32_t> held;  // two passes later
    uint32_t reported;  // the spared id the pass reports
    std::vector<uint32_t> claims;  // still standing after those passes, per monitor
  } cases[] = {
      {"spared while claimed", true, {}, {20, 50}, 1, 0, kNothing, {60, 70, 90}, 50, {50, 0}},
      {"held again once the claim moves", true, {20, 50}, {20, 60}, 1, 0, kNothing, {50, 70, 90}, 60, {60, 0}},
      {"session 0 refused, the old claim dropped", true, {20, 50}, {20, 70}, 1, -1, kNothing, {50, 60, 70, 90}, 0,
       {0, 0}},
      {"a monitor in session 0 spares nothing there", true, {}, {15, 70}, 1, -1, kNothing, {50, 60, 70, 90}, 0,
       {0, 0, 0}},
      {"stale id: another creation time", true, {}, {20, 50}, 2, -1, kNothing, {50, 60, 70, 90}, 0, {0, 0}},
      {"not listed", true, {}, {20, 99}, 1, -1, kNothing, {50, 60, 70, 90}, 0, {0, 0}},
      {"the shell in front spares nothing", true, {}, {20, 40}, 1, -1, kNothing, {50, 60, 70, 90}, 0, {0, 0}},
      {"no monitor, nothing spared", false, {}, {20, 50}, 1, -1, kNothing, {50, 60, 70, 90}, 0, {}},
      {"a busy program names itself the claimant", true, {}, {60, 60}, 1, -1, kNothing, {50, 60, 70, 90}, 0, {0, 0}},
      {"the service never claims", true, {}, {10, 50}, 1, -1, kNothing, {50, 60, 70, 90}, 0, {0, 0}},
      {"another session's program refused", true, {}, {20, 90}, 1, -1, kNothing, {50, 60, 70, 90}, 0, {0, 0}},
      {"the other user's monitor spares in its session", true, {}, {30, 90}, 1, 0, kNothing, {50, 60, 70}, 90,
       {0, 90}},
      {"two claims: both spared, the first monitor's reported", true, {30, 90}, {20, 50}, 1, 0, kNothing,
       {60, 70}, 50, {50, 90}},
      {"a refused claim leaves the other monitor's", true, {30, 90}, {20, 70}, 1, -1, kNothing, {50, 60, 70}, 90,
       {0, 90}},
      {"the claimant's id names a newer process", true, {}, {20, 50}, 1, -1, kMonitorIdReusedBefore,
       {50, 60, 70, 90}, 0, {0}},
      {"calm: spared, nothing to report", true, {}, {20, 80}, 1, 0, kNothing, {50, 60, 70, 90}, 0, {80, 0}},
      {"forgotten when its monitor goes, the other's kept", true, {30, 90}, {20, 50}, 1, 0, kMonitorEnds,
       {50, 60, 70}, 90, {90}},
      {"forgotten when the program ends", true, {}, {20, 50}, 1, 0, kSparedEnds, {60, 70, 90}, 0, {0, 0}},
      {"forgotten when its id names another", true, {}, {20, 50}, 1, 0, kSparedIdReused, {50, 60, 70, 90}, 0,
       {0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    if (c.monitors) ASSERT_EQ(protect_monitor(20) + protect_monitor(30), 0);
    if (c.claim.claimant == 15) ASSERT_EQ(protect_monitor(15), 0);
    pass();
    if (c.then == kMonitorIdReusedBefore) process(20)->creation_time = 2;
    if (c.earlier.pid != 0) ASSERT_EQ(spare_program_in_front(c.earlier.pid, 1, c.earlier.claimant), 0);
    EXPECT_EQ(spare_program_in_front(c.claim.pid, c.created, c.claim.claimant), c.result);
    if (c.then == kMonitorEnds) end_process(20);
    if (c.then == kSparedEnds) end_process(50);
    if (c.then == kSparedIdReused) process(50)->creation_time = 2;
    pass();
    pass();
    EXPECT_EQ(held(), c.held);
    EXPECT_EQ(g_engine.report.spared_pid, c.reported);
    EXPECT_EQ(claims(), c.claims);
  }
}

// The claimed 50 and every busy process below, each as the system lists it: its
// parent's id, its creation time and its session.
TEST_F(SpareTest, TheProgramInFrontIsSparedWithEveryProcessItStartedInItsSession) {
  const struct {
    uint32_t pid, parent;
    uint64_t created;
    uint32_t session;
    bool spared;  // while its family is whole
    bool spared_once_51_ends;
  } family[] = {
      {51, 50, 2, 1, true, false},    // a child; it ends later
      {52, 51, 3, 1, true, false},    // a grandchild, whose parent ends
      {53, 52, 3, 1, true, false},    // three deep, created in the same tick as its parent
      {54, 53, 4, 1, true, false},    // started after the claim
      {55, 50, 0, 1, false, false},   // older than 50: its own starter ended and 50 took the id
      {56, 99, 2, 1, false, false},   // its starter has ended, nobody has the id
      {57, 50, 2, 2, false, false},   // another session's child
      {58, 57, 3, 1, false, false},   // back in session 1, below that one
      {59, 59, 2, 1, false, false},   // names itself
      {61, 62, 2, 1, false, false},   // two that name each other, which no system lists,
      {62, 61, 2, 1, false, false},   //   must not hold up the pass
      {63, 50, 5, 1, true, true},     // another child, which outlives 51
  };
  ASSERT_EQ(protect_monitor(20), 0);
  for (const auto& f : family) {
    if (f.pid == 54) continue;
    add(f.pid, true);
    process(f.pid)->parent = f.parent;
    process(f.pid)->creation_time = f.created;
    process(f.pid)->session = f.session;
  }
  pass();
  ASSERT_EQ(spare_program_in_front(50, 1, 20), 0);
  pass();
  // A tab opened now is spared from its first pass above the limit.
  add(54, true);
  process(54)->parent = 53;
  process(54)->creation_time = 4;
  pass();
  pass();
  std::vector<uint32_t> held_whole = {60, 70, 90}, held_after = {60, 70, 90};
  for (const auto& f : family) {
    if (!f.spared) held_whole.push_back(f.pid);
    if (!f.spared_once_51_ends && f.pid != 51) held_after.push_back(f.pid);
  }
  std::sort(held_whole.begin(), held_whole.end());
  std::sort(held_after.begin(), held_after.end());
  EXPECT_EQ(held(), held_whole);
  EXPECT_EQ(g_engine.report.spared_pid, 50u);
  EXPECT_EQ(g_engine.report.spared_family, 5);
  end_process(51);
  pass();
  pass();
  EXPECT_EQ(held(), held_after);
  EXPECT_EQ(g_engine.report.spared_family, 1);
}

// A terminal server's worth: every process is measured, the busy one listed last is held,
// and a family whose entries lie far past the first thousand slots is traced.
TEST_F(SpareTest, EightThousandProcessesAreEachMeasuredHeldAndTracedAsAFew) {
  const int kProcesses = 8000;
  const size_t kRoot = 3000, kChild = 5000, kGrandchild = 7000;  // positions in the list
  g_engine.threshold_percent = 50;
  ASSERT_EQ(protect_monitor(20), 0);
  for (uint32_t pid = 1000; g_fake.processes.size() + 1 < kProcesses; pid += 4) add(pid, false);
  const uint32_t root = g_fake.processes[kRoot].pid, child = g_fake.processes[kChild].pid;
  const uint32_t grandchild = g_fake.processes[kGrandchild].pid, last = 1000 + 4 * kProcesses;
  process(child)->parent = root;
  process(grandchild)->parent = child;
  busy.push_back(grandchild);
  add(last, true);
  pass();
  ASSERT_EQ(spare_program_in_front(root, 1, 20), 0);
  for (int n = 0; n < 2; ++n) {
    for (FakeProcess& p : g_fake.processes) p.kernel_time += 10 * kUnitsPerMs;  // 1 % each
    pass();
  }
  std::map<uint32_t, int32_t> usage_of;
  for (int32_t i = 0; i < g_engine.entry_count; ++i) usage_of[g_engine.table[i].pid] = g_engine.table[i].usage;
  for (const FakeProcess& p : g_fake.processes) {
    const bool is_busy = std::find(busy.begin(), busy.end(), p.pid) != busy.end();
    ASSERT_EQ(usage_of.count(p.pid), 1u) << p.pid;
    EXPECT_EQ(usage_of[p.pid], is_busy ? 91 : 1) << p.pid;
  }
  EXPECT_GT(entry_of(root) - g_engine.table, 1023);
  EXPECT_EQ(held(), (std::vector<uint32_t>{50, 60, 70, 90, last}));
  EXPECT_EQ(g_engine.report.spared_pid, root);
  EXPECT_EQ(g_engine.report.spared_family, 2);
  EXPECT_EQ(g_engine.snapshot.active_count, static_cast<uint32_t>(kBarsCapacity));
}

}  // namespace
