// The simulated drive's speed: a 2 s speed-profile run of the full model (firmware loops,
// motor, sensors, protections, test program and data log) on the bundled drive, reported as
// simulated seconds per CPU second. Target: at least 1000.
//
// `bench_sim --steps=N` runs N fast-loop steps of the same run and nothing else, for counting
// instructions per step:
//   valgrind --tool=callgrind --toggle-collect='*SimulatedDrive::RunPeriods*' bench_sim --steps=40000

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/zel_coff.h"
#include "host/zel_comm.h"
#include "host/zel_logger.h"
#include "host/zel_setup_file.h"
#include "sim/simulated_drive.h"

namespace {

constexpr double kRun_s = 2.0;

std::unique_ptr<CZel_Setup> BundledDrive() {
  ZelLoadResult loaded = LoadSetupFile(std::string(DCSERVO_RESOURCE_DIR) + "/setups/default.json");
  if (!loaded.setup) {
    std::fprintf(stderr, "%s\n", loaded.error.c_str());
    std::exit(1);
  }
  return std::move(loaded.setup);
}

// 20 counts per sample (1200 rpm) reached in 0.1 s, held 0.8 s, back to rest in 0.1 s and
// held there: 4000 slow-loop samples.
void WriteProfile(CZel_CoffFormat& coff) {
  const double counts[6] = {199, 1, 1600, 199, 1, 2000};
  const double slopes[6] = {6554, 6474, 0, -6554, -6474, 0};
  std::string error;
  for (int i = 0; i < 6; ++i) {
    CZel_Comm::SetUserVariableValue(&coff, "a" + std::to_string(i), counts[i], error);
    CZel_Comm::SetUserVariableValue(&coff, "b" + std::to_string(i), slopes[i] / 65536.0, error);
  }
  CZel_Comm::SetUserVariableValue(&coff, "IlimPS_Test", 26189, error);
  CZel_Comm::SetUserVariableValue(&coff, "Imax_Prot_Test", 29462, error);
}

struct ProfileRun {
  std::shared_ptr<dcsim::SimulatedDrive> drive;
  CZel_CommSession session;
  CZel_CoffFormat coff;
  CZel_SingleAxisLogger logger;

  explicit ProfileRun(CZel_Setup& setup)
      : drive(dcsim::MakeSimulatedDrive(setup)),
        session(drive),
        coff(CZel_Comm::GetOutPathName("Speed_Controller_Tuning_Test")),
        logger(setup, &coff) {
    coff.ReadCoff();
    WriteProfile(coff);
    for (const char* v : {"Speed_Reference", "Load_Speed", "Current_Reference", "Motor_Current"})
      logger.AddVariable(v);
    logger.ChangeSettings(2000, 1, 1);
    if (!CZel_Comm::ExecuteCode(&setup, "Speed_Controller_Tuning_Test", &coff, &logger)) {
      std::fprintf(stderr, "%s\n", CZel_Comm::GetLastErrorText().c_str());
      std::exit(1);
    }
  }
};

void BM_SpeedProfileRun(benchmark::State& state) {
  auto setup = BundledDrive();
  double simulated = 0.0;
  for (auto _ : state) {
    ProfileRun run(*setup);
    // Looked at every 20 ms, as a test dialog does.
    int on = 1;
    for (double t = 0.02; t <= kRun_s + 1e-9; t += 0.02) {
      run.drive->AdvanceTo(t);
      CZel_Comm::GetAxisOn(on);
    }
    simulated += run.drive->Now();
    benchmark::DoNotOptimize(run.drive->Mer());
  }
  state.counters["realtime_factor"] = benchmark::Counter(simulated, benchmark::Counter::kIsRate);
  state.counters["ns_per_fast_step"] = benchmark::Counter(
      simulated / 50e-6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
      benchmark::Counter::kIs1000);
}
BENCHMARK(BM_SpeedProfileRun)->Unit(benchmark::kMillisecond);

int RunSteps(long steps) {
  auto setup = BundledDrive();
  ProfileRun run(*setup);
  // Into the plateau first, so that the counted steps are the run's steady work.
  run.drive->AdvanceTo(0.2);
  run.drive->AdvanceTo(0.2 + static_cast<double>(steps) * run.drive->PwmPeriod());
  std::printf("%llu PWM periods simulated, MER=%u\n",
              static_cast<unsigned long long>(run.drive->PeriodsSimulated()), run.drive->Mer());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--steps=", 8) == 0) return RunSteps(std::atol(argv[i] + 8));
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
