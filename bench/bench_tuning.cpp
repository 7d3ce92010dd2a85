// The speed tuning test headless on the simulated drive: the bundled profile, one cycle,
// from Start to the verdict (the run, its upload, the figures and the prediction).
// Target: under 100 ms.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "bench/bench_setup.h"
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

}  // namespace

BENCHMARK_MAIN();
