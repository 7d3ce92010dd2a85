// Whole-setup passes on the bundled drive: what a dialog pays on every edit (a sync) and
// what the host pays when it opens a setup (ComputeAllOptions). Target: a sync under 50 us.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "derive/compute_all.h"
#include "derive/pipelines.h"
#include "host/zel_setup_file.h"
#include "units/scales.h"

namespace {

double Factor(CZel_Setup* s, const char* unit, const char* name) {
  return dcservo::ScaleFactor(*s, unit, name);
}
double Offset(CZel_Setup* s, const char* unit) { return dcservo::ScaleOffset(*s, unit); }

std::unique_ptr<CZel_Setup> BundledDrive() {
  ZelLoadResult loaded = LoadSetupFile(std::string(DCSERVO_RESOURCE_DIR) + "/setups/default.json");
  if (!loaded.setup) {
    std::fprintf(stderr, "%s\n", loaded.error.c_str());
    std::exit(1);
  }
  loaded.setup->SetScaleFunctions(Factor, Offset);
  return std::move(loaded.setup);
}

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
    dcservo::ComputeChipParameters(*setup);
    dcservo::ComputeScaledParameters(*setup);
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
