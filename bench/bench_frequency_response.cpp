// The analysis of a frequency response measured on the bundled simulated drive: 60 frequencies
// from 10 Hz to 1.5 kHz, each log fitted block by block, the model's curves at the same
// frequencies, the margins of both and the two-mass fit. The drive's runs are recorded once,
// outside the timing. Target: at most 20 ms of CPU.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "bench/bench_setup.h"
#include "derive/pipelines.h"
#include "design/drive_model.h"
#include "design/frequency_response.h"
#include "design/two_mass_fit.h"
#include "drivetests/frequency_response_run.h"
#include "host/zel_comm.h"
#include "sim/simulated_drive.h"

namespace {

struct Recorded {
  dcservo::DriveModel model;
  std::vector<dcservo::ExcitationLog> logs;
};

const Recorded& Recording() {
  static const Recorded recorded = [] {
    auto setup = bench_support::BundledDrive();
    dcservo::SynchroniseSetup(*setup);
    Recorded r{*dcservo::DriveModelOf(*setup), {}};
    CZel_CommSession comm(dcsim::MakeSimulatedDrive(*setup));
    double clock = 0.0;
    CZel_Comm::SetClock([&clock] { return clock; });
    CZel_Comm::DownloadChipParameters(*setup);
    const dcservo::FrequencyRunRequest request{
        dcservo::LogSpacedFrequencies(10.0, 1500.0, 60), 1.0, 0,
        dcservo::kExcitationTurn_rad_s * r.model.speed_counts_per_rad_s, 9.0};
    const dcservo::ExcitationTiming timing{r.model.FastPeriod(), r.model.slper / r.model.clper,
                                           CZel_Comm::GetLink()->LogCapacityWords()};
    auto run = dcservo::RunFrequencyResponse(request,
                                             {r.model.current_counts_per_A,
                                              r.model.position_counts_per_rad},
                                             timing, [&clock](double s) {
                                               clock += s;
                                               CZel_Comm::Synchronize();
                                             });
    CZel_Comm::SetClock(nullptr);
    if (!run.error.empty()) {
      std::fprintf(stderr, "%s\n", run.error.c_str());
      std::exit(1);
    }
    r.logs = std::move(run.logs);
    return r;
  }();
  return recorded;
}

void BM_FrequencyResponseAnalysis(benchmark::State& state) {
  const Recorded& r = Recording();
  const dcservo::CountScales scales{r.model.current_counts_per_A, r.model.position_counts_per_rad};
  for (auto _ : state) {
    dcservo::BodeCurves measured;
    std::vector<double> f;
    for (const dcservo::ExcitationLog& log : r.logs) {
      const auto p = dcservo::AnalyseExcitation(log, scales);
      if (!p) continue;
      f.push_back(log.frequency_hz);
      measured.plant.push_back(p->plant);
      measured.open_loop.push_back(p->open_loop);
    }
    const dcservo::BodeCurves model = dcservo::ModelCurves(r.model, f);
    benchmark::DoNotOptimize(dcservo::MarginsOfCurve(measured.open_loop));
    benchmark::DoNotOptimize(dcservo::MarginsOfCurve(model.open_loop));
    benchmark::DoNotOptimize(dcservo::IdentifyPlant(measured.plant, r.model.K));
  }
}
BENCHMARK(BM_FrequencyResponseAnalysis)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
