// The tests of the drive, headless on the bundled drive with the shaft blocked:
//  - TestCurrentWhole: the current test as `dcservo test current --tune` runs it (dialog
//    built, Tune, Start, the run watched every 20 ms, upload, prediction and figures).
//    Target: under 50 ms.
//  - TimerTick: one 20 ms tick of the run timer with its 20 ms of simulated drive, the
//    tick that finds the program ended and uploads its 100 points into the plot.
//    Target: under 0.5 ms.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "bench/bench_setup.h"
#include "drivetests/current_test_dlg.h"
#include "host/zel_comm.h"
#include "host/zel_headless.h"
#include "sim/simulated_drive.h"

namespace {

using bench_support::BundledDrive;

// The drive, the headless front end on its virtual clock and the test dialog.
struct Run {
  explicit Run(CZel_Setup& setup) : drive(dcsim::MakeSimulatedDrive(setup)), comm(drive) {
    std::string error;
    drive->Inject("shaft_blocked", 1.0, error);
    CZel_Comm::SetClock([this] { return ui.NowMs() / 1000.0; });
    dlg = std::make_unique<dcservo::CTestCurrent>(setup);
  }
  ~Run() { CZel_Comm::SetClock(nullptr); }

  std::shared_ptr<dcsim::SimulatedDrive> drive;
  CZel_CommSession comm;
  ZelHeadlessBackend ui;
  ZelScopedUiBackend installed{ui};
  std::unique_ptr<dcservo::CTestCurrent> dlg;
};

void StartTunedRun(dcservo::CTestCurrent& d) {
  d.UserSelect(dcservo::kCtTab, kTestPage);
  d.UserClick(dcservo::kCtTune);
  d.UserClick(kIdcTestStartStop);
}

void TestCurrentWhole(benchmark::State& state) {
  auto setup = BundledDrive();
  for (auto _ : state) {
    Run run(*setup);
    run.ui.Then([&run](CZel_Dialog&) {
      StartTunedRun(*run.dlg);
      while (run.dlg->m_bTestRunning) run.ui.Advance(20.0);
    });
    run.dlg->DoModal();
    if (run.dlg->m_nTestResult != 1) state.SkipWithError(run.dlg->m_strError.c_str());
  }
}
BENCHMARK(TestCurrentWhole)->Unit(benchmark::kMillisecond);

// Each tick of a run is timed on its own; the iteration's time is its slowest tick (the one
// that finds the program ended, checks it and uploads the plot), the mean of all ticks is a
// counter.
void TimerTick(benchmark::State& state) {
  auto setup = BundledDrive();
  double ticks = 0.0, ticks_s = 0.0;
  for (auto _ : state) {
    Run run(*setup);
    double slowest_s = 0.0;
    run.ui.Then([&](CZel_Dialog&) {
      StartTunedRun(*run.dlg);
      while (run.dlg->m_bTestRunning) {
        const auto start = std::chrono::steady_clock::now();
        run.ui.Advance(20.0);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        slowest_s = std::max(slowest_s, s);
        ticks_s += s;
        ticks += 1.0;
      }
    });
    run.dlg->DoModal();
    if (run.dlg->m_nTestResult != 1) state.SkipWithError(run.dlg->m_strError.c_str());
    state.SetIterationTime(slowest_s);
  }
  state.counters["mean_tick_us"] = ticks > 0 ? ticks_s / ticks * 1e6 : 0.0;
  state.counters["ticks_per_run"] = ticks / static_cast<double>(state.iterations());
}
BENCHMARK(TimerTick)->Unit(benchmark::kMicrosecond)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
