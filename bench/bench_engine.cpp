// Cost of one sampling pass at several process counts, with a family spared, and of the
// selection alone.
#include <benchmark/benchmark.h>

#include <string.h>

#include "engine/engine.h"
#include "engine/sampler_internal.h"
#include "tests/host/engine/fake_platform.h"

namespace {

const uint64_t kUnitsPerMs = 10000;
const uint32_t kPassGapMs = 1200;

// Spread of per-pass processor time so the shares fill many buckets and some qualify.
uint64_t busy_units(size_t i) { return (i * 37 % 4800) * kUnitsPerMs; }

void set_up_processes(size_t n) {
  engine_reset();
  fake_reset();
  g_fake.record = false;
  g_engine.logical_cpu_count = 4;
  // Ids from 8 on: 4 is System, which is never held. One thread each, so that the
  // processes above the limit can be held and the selection has targets to choose.
  for (size_t i = 0; i < n; ++i) {
    const uint32_t pid = static_cast<uint32_t>(4 * (i + 2));
    g_fake.processes.push_back({pid, 1, 1});
    g_fake.threads.push_back({pid + 1, pid});
  }
}

// Passes over the processes set up, each after the busy ones used some time.
void run_passes(benchmark::State& state, size_t n) {
  run_sampling_pass();  // enters every process
  for (auto _ : state) {
    g_fake.tick += kPassGapMs;
    for (size_t i = 0; i < n; ++i) g_fake.processes[i].kernel_time += busy_units(i);
    benchmark::DoNotOptimize(run_sampling_pass());
    // What the duty cycle and the service cycle do before the next pass.
    g_engine.targets.target_count = 0;
    memset(&g_engine.snapshot, 0, sizeof(g_engine.snapshot));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
  state.counters["measured"] = g_engine.entry_count;
}

void BM_SamplingPass(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  set_up_processes(n);
  run_passes(state, n);
}
BENCHMARK(BM_SamplingPass)->Arg(1000)->Arg(4000)->Arg(8000)->Unit(benchmark::kMicrosecond);

// The same pass with a program in front claimed whose family is the whole list, one
// chain as deep as the table: every entry is traced to the claim in every pass.
void BM_SamplingPassSparingAFamily(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  set_up_processes(n);
  // The first two are the service and a monitor, which claims the chain's root.
  for (size_t i = 3; i < n; ++i) g_fake.processes[i].parent = g_fake.processes[i - 1].pid;
  protect_process(g_fake.processes[0].pid, 1, 0);
  protect_process(g_fake.processes[1].pid, 1, 1);
  g_engine.protected_pids.processes[1].claim = SparedProcess{g_fake.processes[2].pid, 1};
  run_passes(state, n);
  state.counters["family"] = g_engine.families.family_size[1];
}
BENCHMARK(BM_SamplingPassSparingAFamily)->Arg(1000)->Arg(8000)->Unit(benchmark::kMicrosecond);

void BM_SelectionPhase(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  set_up_processes(n);
  run_sampling_pass();
  g_fake.tick += kPassGapMs;
  for (size_t i = 0; i < n; ++i) g_fake.processes[i].kernel_time += busy_units(i);
  run_sampling_pass();  // every entry now holds a usage
  const int32_t generation = 1 - g_engine.current_generation;
  for (auto _ : state) {
    // Back to the state right after the measurement phase: the same entries fresh.
    g_engine.current_generation = generation;
    g_engine.targets.target_count = 0;
    memset(&g_engine.histogram, 0, sizeof(g_engine.histogram));
    run_selection_phase();
    benchmark::DoNotOptimize(g_engine.snapshot.bars[0]);
  }
  state.counters["active"] = g_engine.snapshot.active_count;
  state.counters["targets"] = g_engine.targets.target_count;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}
BENCHMARK(BM_SelectionPhase)->Arg(1000)->Arg(8000)->Unit(benchmark::kMicrosecond);

// 1,000 processes of four threads each, eight of them busy enough to be held: one pass,
// then the duty cycle (its sleeps cost nothing here), each timed on its own.
const size_t kHeldBusy = 8;
void set_up_eight_targets(size_t n) {
  engine_reset();
  fake_reset();
  g_fake.record = false;
  g_engine.logical_cpu_count = 4;
  g_engine.threshold_percent = 80;  // a share above 20 is a target
  for (size_t i = 0; i < n; ++i) {
    const uint32_t pid = static_cast<uint32_t>(4 * (i + 2));
    g_fake.processes.push_back({pid, 1, 1});
    for (uint32_t t = 1; t <= 4; ++t) g_fake.threads.push_back({pid * 16 + t, pid});
  }
  run_sampling_pass();
}
void advance_eight_targets(size_t n) {
  g_fake.tick += kPassGapMs;
  for (size_t i = 0; i < n; ++i) {
    g_fake.processes[i].kernel_time += i < kHeldBusy ? kPassGapMs * kUnitsPerMs : (i % 7) * kUnitsPerMs;
  }
}

void BM_PassWithEightTargets(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  set_up_eight_targets(n);
  for (auto _ : state) {
    advance_eight_targets(n);
    benchmark::DoNotOptimize(run_sampling_pass());
    state.PauseTiming();
    state.counters["targets"] = g_engine.targets.target_count;
    run_duty_cycle();
    g_fake.sleeps.clear();
    memset(&g_engine.snapshot, 0, sizeof(g_engine.snapshot));
    state.ResumeTiming();
  }
}
BENCHMARK(BM_PassWithEightTargets)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_DutyCycleWithEightTargets(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  set_up_eight_targets(n);
  for (auto _ : state) {
    state.PauseTiming();
    advance_eight_targets(n);
    run_sampling_pass();
    state.counters["targets"] = g_engine.targets.target_count;
    state.ResumeTiming();
    run_duty_cycle();
    state.PauseTiming();
    g_fake.sleeps.clear();
    memset(&g_engine.snapshot, 0, sizeof(g_engine.snapshot));
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DutyCycleWithEightTargets)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
