// The whole headless commissioning of the bundled drive on the simulated drive: every step
// through its dialog on the virtual clock, and the report rendered (JSON and the HTML page
// with its plots), as `dcservo commission` does it without the files.
// Target: under 2 s of CPU (a real drive needs the profiles' own time on top).

#include <benchmark/benchmark.h>

#include "bench/bench_setup.h"
#include "drivetests/commissioning.h"
#include "drivetests/commissioning_report.h"
#include "host/zel_comm.h"
#include "host/zel_headless.h"
#include "names/dialog_names.h"
#include "sim/simulated_drive.h"

namespace {

void CommissionBundledDrive(benchmark::State& state) {
  for (auto _ : state) {
    auto setup = bench_support::BundledDrive();
    auto drive = dcsim::MakeSimulatedDrive(*setup);
    CZel_CommSession comm(drive);
    ZelHeadlessBackend ui;
    ZelScopedUiBackend installed(ui);
    CZel_Comm::SetClock([&ui] { return ui.NowMs() / 1000.0; });
    dcservo::CommissioningHooks hooks;
    hooks.confirm = [&](const char*, ZelAskedAction asks) {
      std::string error;
      drive->Inject("shaft_blocked", asks == ZelAskedAction::BlockShaft, error);
      return true;
    };
    const dcservo::CommissioningResult result = dcservo::RunCommissioning(*setup, ui, hooks);
    CZel_Comm::SetClock(nullptr);
    if (!result.succeeded) {
      state.SkipWithError(result.steps.back().failure.c_str());
      break;
    }
    std::vector<std::string> svgs;
    for (const auto& s : result.steps) svgs.push_back(s.svg);
    dcservo::ReportFiles files;
    files.setup = "setup.json";
    const auto report = dcservo::CommissioningReportJson(result, *setup, files);
    benchmark::DoNotOptimize(dcservo::CommissioningReportHtml(report, svgs));
    benchmark::DoNotOptimize(report.dump(2));
  }
}
BENCHMARK(CommissionBundledDrive)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
