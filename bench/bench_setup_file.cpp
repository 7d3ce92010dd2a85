// Opening a setup: parse, check and index every parameter, then the check that no scale input
// is kept in internal units. Target: linear in the file, 100,000 parameters under 1 s.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/zel_setup_file.h"
#include "units/scales.h"

namespace {

double Factor(CZel_Setup* s, const char* unit, const char* name) {
  return dcservo::ScaleFactor(*s, unit, name);
}
double Offset(CZel_Setup* s, const char* unit) { return dcservo::ScaleOffset(*s, unit); }

// The bundled drive and `extra` more parameters, half of them in internal units, as a saved
// setup reads.
std::string SetupText(int extra) {
  ZelLoadResult loaded = LoadSetupFile(std::string(DCSERVO_RESOURCE_DIR) + "/setups/default.json");
  if (!loaded.setup) {
    std::fprintf(stderr, "%s\n", loaded.error.c_str());
    std::exit(1);
  }
  for (int i = 0; i < extra; ++i) {
    CZel_Setup::QuantityDesc d;
    d.name = "Extra_" + std::to_string(i);
    d.unit = i % 2 ? "rpm" : "A";
    d.stored_in_base = i % 2 == 0;
    d.value = i;
    d.min = -1e6;
    d.max = 1e6;
    loaded.setup->AddParameter(d);
  }
  return SetupToText(*loaded.setup);
}

void BM_LoadSetup(benchmark::State& state) {
  const std::string text = SetupText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ZelLoadResult loaded = ParseSetupText(text, "bench.json");
    loaded.setup->SetScaleFunctions(Factor, Offset);
    benchmark::DoNotOptimize(loaded.setup->CheckScaleInputs());
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_LoadSetup)
    ->RangeMultiplier(4)
    ->Range(6250, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
