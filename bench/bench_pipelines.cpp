// Whole-setup passes on the bundled drive: what a dialog pays on every edit (a sync) and
// what the host pays when it opens a setup (ComputeAllOptions). Target: a sync under 50 us.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "bench/bench_setup.h"
#include "derive/compute_all.h"
#include "derive/pipelines.h"
#include "units/scales.h"

namespace {

using bench_support::BundledDrive;

void BM_ComputeAllOptions(benchmark::State& state) {
  auto setup = BundledDrive();
  for (auto _ : state) {
    dcservo::ComputeAllOptions(setup.get());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ComputeAllOptions)->Unit(benchmark::kMicrosecond);

void BM_Sync(benchmark::State& state) {
  auto setup = BundledDrive();
  for (auto _ : state) {
    dcservo::SynchroniseSetup(*setup);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Sync)->Unit(benchmark::kMicrosecond);

void BM_LoadBundledSetup(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(BundledDrive());
}
BENCHMARK(BM_LoadBundledSetup)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
