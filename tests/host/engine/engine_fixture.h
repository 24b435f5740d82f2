// Shared set-up for the engine's host tests: a clean engine and platform before each
// test, and after it no handle left open and none closed twice.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "engine/engine.h"
#include "engine/sampler_internal.h"
#include "tests/host/engine/fake_platform.h"

// 100-ns units in one millisecond.
constexpr uint64_t kUnitsPerMs = 10000;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_reset();
    fake_reset();
  }
  void TearDown() override {
    EXPECT_EQ(g_fake.open_handles, 0) << "a handle was left open";
    EXPECT_EQ(g_fake.bad_closes, 0) << "a handle was closed that was not open";
  }

  int pass_at(uint32_t tick) {
    g_fake.tick = tick;
    return run_sampling_pass();
  }

  FakeProcess* process(uint32_t pid) {
    for (FakeProcess& p : g_fake.processes) {
      if (p.pid == pid) return &p;
    }
    return nullptr;
  }

  // The entry of `pid` below entry_count, or null.
  const ProcessUsageEntry* entry_of(uint32_t pid) {
    for (int i = 0; i < g_engine.entry_count; ++i) {
      if (g_engine.table[i].pid == pid) return &g_engine.table[i];
    }
    return nullptr;
  }

  std::vector<int> bars() {
    std::vector<int> out;
    for (uint32_t i = 0; i < g_engine.snapshot.active_count; ++i) {
      out.push_back(g_engine.snapshot.bars[i]);
    }
    return out;
  }

  std::vector<int> target_slots() {
    return std::vector<int>(g_engine.targets.target_slot,
                            g_engine.targets.target_slot + g_engine.targets.target_count);
  }
};
