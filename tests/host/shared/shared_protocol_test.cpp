// The control block's layout and both sides' protocol over a plain buffer, with the
// mutexes replaced by recorders.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "shared/control_block.h"

namespace {

int g_snapshot_mutex_tag;
int g_command_mutex_tag;
LinkHandle const kSnapshotMutex = &g_snapshot_mutex_tag;
LinkHandle const kCommandMutex = &g_command_mutex_tag;

std::vector<std::string> g_events;
int g_held = 0;
bool g_lock_times_out = false;  // another process keeps the mutex

std::string mutex_name(LinkHandle mutex) {
  return mutex == kSnapshotMutex ? "snapshot" : mutex == kCommandMutex ? "command" : "?";
}

}  // namespace

int link_lock(LinkHandle mutex) {
  if (g_lock_times_out) {
    g_events.push_back("timeout " + mutex_name(mutex));
    return -1;
  }
  // No thread ever holds both mutexes.
  EXPECT_EQ(g_held, 0) << "second mutex taken while one is held";
  ++g_held;
  g_events.push_back("lock " + mutex_name(mutex));
  return 0;
}

void link_unlock(LinkHandle mutex) {
  --g_held;
  g_events.push_back("unlock " + mutex_name(mutex));
}

namespace {

const uint8_t kFill = 0xA5;

class SharedProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_events.clear();
    g_held = 0;
    g_lock_times_out = false;
    std::memset(&block_, 0, sizeof(block_));
    link_ = {nullptr, &block_, kSnapshotMutex, kCommandMutex};
  }
  void TearDown() override {
    EXPECT_EQ(g_held, 0);
  }
  SharedControlBlock block_;
  SharedLink link_;
};

UsageSnapshot make_snapshot(uint32_t flags, uint32_t active, uint8_t first_bar) {
  UsageSnapshot s;
  std::memset(&s, 0, sizeof(s));
  s.flags = flags;
  s.active_count = active;
  for (int i = 0; i < kBarsCapacity; ++i) s.bars[i] = static_cast<uint8_t>(first_bar + i);
  return s;
}

// Both objects' access lists give interactive users what the monitor asks for, and end in a
// medium label that keeps lower integrity from reading, writing or waiting on them.
TEST(SharedLayoutTest, TheObjectsAccessListsAndLabels) {
  const struct {
    std::wstring sddl;
    uint32_t user_rights;
  } cases[] = {{kRegionSecurity, kRegionUserRights}, {kMutexSecurity, kMutexUserRights}};
  for (const auto& c : cases) {
    const size_t users = c.sddl.find(L";;;IU)"), rights = c.sddl.rfind(L";;", users - 1) + 2;
    EXPECT_EQ(std::stoul(c.sddl.substr(rights, users - rights), nullptr, 16), c.user_rights);
    EXPECT_EQ(c.sddl.substr(c.sddl.find(L"S:")), L"S:(ML;;NWNRNX;;;ME)");
  }
}

TEST(SharedLayoutTest, FieldsSitAtTheirByteOffsets) {
  struct Case {
    const char* field;
    size_t offset;
    void (*write)(SharedControlBlock*);
  };
  const Case cases[] = {
      {"snapshot.flags", 0, [](SharedControlBlock* b) { b->snapshot.flags = 0x11223344; }},
      {"snapshot.active_count", 4, [](SharedControlBlock* b) { b->snapshot.active_count = 0x11223344; }},
      {"snapshot.sequence", 8, [](SharedControlBlock* b) { b->snapshot.sequence = 0x11223344; }},
      {"command_flags", 1024, [](SharedControlBlock* b) { b->command_flags = 0x11223344; }},
      {"foreground_claimant", 1040, [](SharedControlBlock* b) { b->foreground_claimant = 0x11223344; }},
      {"threshold", 1044, [](SharedControlBlock* b) { b->threshold = 0x11223344; }},
      {"monitor_pid", 1048, [](SharedControlBlock* b) { b->monitor_pid = 0x11223344; }},
      {"report.spared_pid", 1052, [](SharedControlBlock* b) { b->report.spared_pid = 0x11223344; }},
      {"report.held[2].pid", 1076, [](SharedControlBlock* b) { b->report.held[2].pid = 0x11223344; }},
      {"report.spared_family", 1084, [](SharedControlBlock* b) { b->report.spared_family = 0x11223344; }},
  };
  EXPECT_EQ(sizeof(SharedControlBlock), 1088u);
  for (const Case& c : cases) {
    unsigned char raw[sizeof(SharedControlBlock)] = {};
    SharedControlBlock block;
    std::memset(&block, 0, sizeof(block));
    c.write(&block);
    std::memcpy(raw, &block, sizeof(raw));
    // The region is little-endian 32-bit words.
    const unsigned char expected[4] = {0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(std::memcmp(raw + c.offset, expected, 4), 0) << c.field;
  }
}

TEST_F(SharedProtocolTest, PublishCopiesThenNumbersAndSetsReadyUnderSnapshotMutex) {
  struct Case {
    const char* name;
    uint32_t region_flags_before;
    uint32_t region_sequence_before;
    uint32_t snapshot_flags;
    uint32_t sequence_after;
  };
  const Case cases[] = {
      {"first publish", 0, 0, 0, 1},
      {"a snapshot still ready is overwritten and counted on", SNAPSHOT_READY, 5, 0, 6},
      {"the copy wipes neither the ready bit nor the count", 0, 5, 0x40, 6},
      // A service started again over a region a window kept: its count goes on.
      {"the count skips 0, which means nothing published", SNAPSHOT_READY, 0xFFFFFFFFu, 0, 1},
  };
  for (const Case& c : cases) {
    SetUp();
    block_.snapshot = make_snapshot(c.region_flags_before, 99, 200);
    block_.snapshot.sequence = c.region_sequence_before;
    block_.command_flags = CMD_THRESHOLD_CHANGED;
    UsageSnapshot source = make_snapshot(c.snapshot_flags, 7, 1);
    source.sequence = 77;
    publish_snapshot(&link_, &source);
    EXPECT_EQ(block_.snapshot.flags, c.snapshot_flags | SNAPSHOT_READY) << c.name;
    EXPECT_EQ(block_.snapshot.sequence, c.sequence_after) << c.name;
    EXPECT_EQ(block_.snapshot.active_count, 7u) << c.name;
    EXPECT_EQ(std::memcmp(block_.snapshot.bars, source.bars, sizeof(source.bars)), 0) << c.name;
    EXPECT_EQ(block_.command_flags, CMD_THRESHOLD_CHANGED) << c.name;
    EXPECT_EQ(g_events, (std::vector<std::string>{"lock snapshot", "unlock snapshot"})) << c.name;
  }
}

TEST_F(SharedProtocolTest, TakeCommandsConsumesEveryBitInOnePass) {
  struct Case {
    const char* name;
    uint32_t flags;
    int expect_result;
    int32_t expect_threshold;
    uint32_t expect_pid;
  };
  const Case cases[] = {
      {"no command", 0, 0, 0, 0},
      {"threshold only", CMD_THRESHOLD_CHANGED, 1, 70, 0},
      {"monitor only", CMD_MONITOR_ATTACHED, 1, 0, 4321},
      {"both bits in one pass", CMD_THRESHOLD_CHANGED | CMD_MONITOR_ATTACHED, 1, 70, 4321},
      {"unknown bits only", 0x80000001u, 1, 0, 0},
      {"every bit", 0xFFFFFFFFu, 1, 70, 4321},
  };
  for (const Case& c : cases) {
    SetUp();
    block_.command_flags = c.flags;
    block_.threshold = 70;
    block_.monitor_pid = 4321;
    TakenCommands taken;
    EXPECT_EQ(take_commands(&link_, &taken), c.expect_result) << c.name;
    EXPECT_EQ(taken.flags, c.flags) << c.name;
    EXPECT_EQ(taken.threshold, c.expect_threshold) << c.name;
    EXPECT_EQ(taken.monitor_pid, c.expect_pid) << c.name;
    EXPECT_EQ(block_.command_flags, 0u) << c.name;
    // The values stay in the region; only the word is the service's to clear.
    EXPECT_EQ(block_.threshold, 70) << c.name;
    EXPECT_EQ(g_events, (std::vector<std::string>{"lock command", "unlock command"})) << c.name;
  }
}

TEST_F(SharedProtocolTest, LastWriterWinsAndBitsMerge) {
  send_threshold(&link_, 40);
  send_threshold(&link_, 60);
  send_threshold(&link_, 90);
  EXPECT_EQ(block_.command_flags, CMD_THRESHOLD_CHANGED);
  EXPECT_EQ(block_.threshold, 90);

  // The service's echo of the monitor it protected goes under the command mutex too.
  echo_monitor(&link_, 222);
  EXPECT_EQ(block_.monitor_pid, 222u);
  EXPECT_EQ(block_.command_flags, CMD_THRESHOLD_CHANGED);
  TakenCommands taken;
  EXPECT_EQ(take_commands(&link_, &taken), 1);
  EXPECT_EQ(taken.flags, CMD_THRESHOLD_CHANGED);
  EXPECT_EQ(taken.threshold, 90);
  EXPECT_EQ(take_commands(&link_, &taken), 0);
  for (size_t i = 0; i < g_events.size(); i += 2) {
    EXPECT_EQ(g_events[i], "lock command");
    EXPECT_EQ(g_events[i + 1], "unlock command");
  }
}

// Two windows and whatever else writes the flags word: a take writes nothing into the
// region, and each reader takes each snapshot once, the newest when it polls.
TEST_F(SharedProtocolTest, EveryReaderTakesEachSnapshotOnceWhateverTheFlagsWord) {
  const int kPublish = -1, kStray = -2;
  struct Step {
    const char* name;
    int reader;  // 0 or 1, or kPublish (active_count `value`), or kStray (flags word `value`)
    uint32_t value;
    uint32_t taken_active;  // 0: nothing taken
  };
  const Step steps[] = {
      {"nothing published", 0, 0, 0},
      {"a stray ready bit before any publish", kStray, SNAPSHOT_READY, 0},
      {"is no snapshot", 1, 0, 0},
      {"first publish", kPublish, 11, 0},
      {"reader 0 takes it", 0, 0, 11},
      {"and only once", 0, 0, 0},
      {"reader 1 takes it too", 1, 0, 11},
      {"two publishes", kPublish, 12, 0},
      {"between polls", kPublish, 13, 0},
      {"reader 1 takes the newest", 1, 0, 13},
      {"another reader clears the word", kStray, 0, 0},
      {"reader 0 still takes the newest", 0, 0, 13},
      {"every bit set", kStray, 0xFFFFFFFFu, 0},
      {"hands reader 0 nothing", 0, 0, 0},
      {"nor reader 1", 1, 0, 0},
  };
  uint32_t last_taken[2] = {0, 0};
  for (const Step& s : steps) {
    if (s.reader == kPublish) {
      const UsageSnapshot source = make_snapshot(0, s.value, 3);
      publish_snapshot(&link_, &source);
      continue;
    }
    if (s.reader == kStray) {
      block_.snapshot.flags = s.value;
      continue;
    }
    const SharedControlBlock before = block_;
    UsageSnapshot out = make_snapshot(0, 0, 0);
    g_events.clear();
    EXPECT_EQ(take_snapshot(&link_, &last_taken[s.reader], &out), s.taken_active != 0 ? 1 : 0) << s.name;
    EXPECT_EQ(out.active_count, s.taken_active) << s.name;
    if (s.taken_active != 0) EXPECT_EQ(out.bars[0], 3) << s.name;
    EXPECT_EQ(std::memcmp(&block_, &before, sizeof(block_)), 0) << s.name;
    EXPECT_EQ(g_events, (std::vector<std::string>{"lock snapshot", "unlock snapshot"})) << s.name;
  }
}

TEST_F(SharedProtocolTest, MissingPiecesMakeEveryOperationANoOp) {
  struct Case {
    const char* name;
    bool view;
    bool snapshot_mutex;
    bool command_mutex;
    bool snapshot_ops_run;
    bool command_ops_run;
  };
  const Case cases[] = {
      {"no view", false, true, true, false, false},
      {"no snapshot mutex", true, false, true, false, true},
      {"no command mutex", true, true, false, true, false},
      {"nothing", false, false, false, false, false},
  };
  for (const Case& c : cases) {
    SetUp();
    block_.command_flags = CMD_MONITOR_ATTACHED;
    link_.view = c.view ? &block_ : nullptr;
    link_.snapshot_mutex = c.snapshot_mutex ? kSnapshotMutex : nullptr;
    link_.command_mutex = c.command_mutex ? kCommandMutex : nullptr;
    const UsageSnapshot source = make_snapshot(0, 5, 9);
    UsageSnapshot out = make_snapshot(0, 0, 0);
    uint32_t last_taken = 0;
    TakenCommands taken;

    publish_snapshot(&link_, &source);
    EXPECT_EQ(block_.snapshot.flags, c.snapshot_ops_run ? SNAPSHOT_READY : 0u) << c.name;
    EXPECT_EQ(take_snapshot(&link_, &last_taken, &out), c.snapshot_ops_run ? 1 : 0) << c.name;
    EXPECT_EQ(take_commands(&link_, &taken), c.command_ops_run ? 1 : 0) << c.name;
    EXPECT_EQ(taken.flags, c.command_ops_run ? CMD_MONITOR_ATTACHED : 0u) << c.name;
    send_threshold(&link_, 77);
    echo_monitor(&link_, 9);
    EXPECT_EQ(block_.threshold, c.command_ops_run ? 77 : 0) << c.name;
    EXPECT_EQ(block_.monitor_pid, c.command_ops_run ? 9u : 0u) << c.name;
    const size_t expected_events = (c.snapshot_ops_run ? 4 : 0) + (c.command_ops_run ? 6 : 0);
    EXPECT_EQ(g_events.size(), expected_events) << c.name;
  }
}

TEST_F(SharedProtocolTest, AMutexHeldElsewhereSkipsTheStepAndTouchesNothing) {
  block_.snapshot = make_snapshot(SNAPSHOT_READY, 3, 9);
  block_.snapshot.sequence = 4;
  block_.command_flags = CMD_THRESHOLD_CHANGED;
  block_.threshold = 55;
  block_.monitor_pid = 77;
  const SharedControlBlock before = block_;
  g_lock_times_out = true;
  const UsageSnapshot fresh = make_snapshot(0, 5, 1);
  publish_snapshot(&link_, &fresh);
  TakenCommands commands;
  EXPECT_EQ(take_commands(&link_, &commands), 0);
  EXPECT_EQ(commands.flags, 0u);
  echo_monitor(&link_, 1234);
  EXPECT_EQ(send_threshold(&link_, 60), -1);
  UsageSnapshot taken = make_snapshot(0, 0, 0);
  uint32_t last_taken = 0;
  EXPECT_EQ(take_snapshot(&link_, &last_taken, &taken), 0);
  EXPECT_EQ(taken.active_count, 0u);
  EXPECT_EQ(last_taken, 0u);
  EXPECT_EQ(std::memcmp(&block_, &before, sizeof(block_)), 0);
  EXPECT_EQ(g_events.size(), 5u);
  for (const std::string& e : g_events) EXPECT_EQ(e.compare(0, 7, "timeout"), 0) << e;
}

}  // namespace
