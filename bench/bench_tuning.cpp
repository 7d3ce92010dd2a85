// The speed tuning test headless on the simulated drive: the bundled profile, one cycle,
// from Start to the verdict (the run, its upload, the figures and the prediction).
// Target: under 100 ms.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <vector>

#include "bench/bench_setup.h"
#include "derive/pipelines.h"
#include "design/drive_model.h"
#include "design/notch_proposal.h"
#include "design/resonance.h"
#include "drivetests/tuning_test_dlg.h"
#include "host/zel_comm.h"
#include "host/zel_headless.h"
#include "sim/simulated_drive.h"
#include "units/scales.h"

namespace {

using bench_support::BundledDrive;

void BM_SpeedTestSingleCycle(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto setup = BundledDrive();
    ZelHeadlessBackend ui;
    ZelScopedUiBackend installed(ui);
    CZel_CommSession comm(dcsim::MakeSimulatedDrive(*setup));
    CZel_Comm::SetClock([&ui] { return ui.NowMs() / 1000.0; });
    dcservo::CTestSpeedTuning dlg(*setup);
    int result = 0;
    ui.Then([&](CZel_Dialog&) {
      dlg.UserSelect(dcservo::kTuningTab, kTestPage);
      state.ResumeTiming();
      dlg.UserClick(kIdcTestStartStop);
      while (dlg.m_bTestRunning) ui.Advance(20.0);
      state.PauseTiming();
      result = dlg.m_nTestResult;
    });
    dlg.DoModal();
    CZel_Comm::SetClock(nullptr);
    if (result != 1) state.SkipWithError(dlg.m_strError.c_str());
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SpeedTestSingleCycle)->Unit(benchmark::kMillisecond)->Iterations(10);

// What the resonance adds to a speed test: the spectrum of the current over the default
// profile's stretch of constant speed (0.4 s at 2 kHz), the loop's phase crossover (where it
// hunts) from the loop model, the peak off the hunting tones, and the notch with its margins
// on the loop model. Target: under 10 ms.
void BM_ResonanceSpectrumAndNotch(benchmark::State& state) {
  auto setup = BundledDrive();
  dcservo::SynchroniseSetup(*setup);
  const auto model = dcservo::DriveModelOf(*setup);
  const auto structure = dcservo::StructureOfLoop(*setup, dcservo::TunedLoop::Speed);
  std::vector<std::vector<double>> stretch(1);
  for (int i = 0; i < 790; ++i) stretch[0].push_back(0.3 * std::sin(i * 2.5) + 0.01 * (i % 7));
  for (auto _ : state) {
    const auto spectrum = dcservo::AverageSpectrum(stretch, 0.5e-3);
    const auto margins = dcservo::MarginsOf(*model, structure, dcservo::TunedLoop::Speed,
                                            dcservo::kHuntingSweepPoints);
    benchmark::DoNotOptimize(dcservo::FindResonance(
        *spectrum, *margins->phase_crossover_rad_s / (2.0 * std::numbers::pi)));
    benchmark::DoNotOptimize(dcservo::ProposeNotch(*model, structure, 800.0));
  }
}
BENCHMARK(BM_ResonanceSpectrumAndNotch)->Unit(benchmark::kMillisecond);

// The loop model's open loop of the bundled drive's speed loop at 8000 frequencies up to the
// Nyquist frequency: a margin sweep is 800 of them, commissioning asks for some 38,000. The
// lifting of the loop is a few per cent of it.
void BM_OpenLoopSweep(benchmark::State& state) {
  auto setup = BundledDrive();
  dcservo::SynchroniseSetup(*setup);
  const auto model = dcservo::DriveModelOf(*setup);
  const auto structure = dcservo::StructureOfLoop(*setup, dcservo::TunedLoop::Speed);
  std::vector<double> omega;
  for (int k = 0; k < 8000; ++k) omega.push_back(1.0 + 6000.0 * k / 8000.0);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        dcservo::OpenLoopFrequencyResponse(*model, structure, dcservo::TunedLoop::Speed, omega));
}
BENCHMARK(BM_OpenLoopSweep)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
