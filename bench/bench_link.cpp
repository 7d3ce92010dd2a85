// The drive link on loopback: `dcservo simdrive` in its own process, met through the Modbus
// client. A request's round trip, the download of the bundled setup's chip parameters, and
// the scope's frames per second when the host polls as fast as the link lets it.

#include <benchmark/benchmark.h>

#include <memory>

#include "host/zel_comm.h"
#include "host/zel_modbus_link.h"
#include "host/zel_setup.h"
#include "tests/support/simdrive_process.h"
#include "tests/support/test_setups.h"

namespace {

struct Served {
  testing_support::SimDriveProcess server{"--listen 127.0.0.1:0"};
  std::shared_ptr<CZel_ModbusLink> link;
  Served() {
    ZelDriveAddress address;
    std::string error;
    if (ZelDriveAddress::Parse(server.Address(), address, error))
      link = CZel_ModbusLink::Open(address, error);
  }
};

Served& Drive() {
  static Served served;
  return served;
}

void BM_RoundTrip(benchmark::State& state) {
  auto& link = Drive().link;
  if (!link) return state.SkipWithError("no drive served");
  double value = 0.0;
  for (auto _ : state) {
    if (!link->ReadVariable("APOS", value)) return state.SkipWithError(link->LastError().c_str());
  }
}
BENCHMARK(BM_RoundTrip)->Unit(benchmark::kMicrosecond);

void BM_DownloadBundledSetup(benchmark::State& state) {
  auto& link = Drive().link;
  if (!link) return state.SkipWithError("no drive served");
  auto setup = testing_support::LoadBundledSetup();
  CZel_CommSession session(link);
  for (auto _ : state) {
    if (!CZel_Comm::DownloadChipParameters(*setup))
      return state.SkipWithError(CZel_Comm::GetLastErrorText().c_str());
  }
}
BENCHMARK(BM_DownloadBundledSetup)->Unit(benchmark::kMillisecond);

// A stream at one point every slow-loop sample of four variables, polled for a second.
void BM_ScopeFrames(benchmark::State& state) {
  auto& link = Drive().link;
  if (!link) return state.SkipWithError("no drive served");
  ZelStreamRequest request;
  request.variables = {"APOS", "ASPD", "Motor_Current", "Current_Reference"};
  request.period_s = 1e-6;  // the drive rounds it up to one slow-loop sample
  request.points_per_frame = static_cast<int>(state.range(0));
  std::vector<std::uint8_t> message;
  double frames = 0.0, seconds = 0.0;
  for (auto _ : state) {
    if (!link->StartStream(request)) return state.SkipWithError(link->LastError().c_str());
    const double start = link->Now();
    while (link->Now() - start < 1.0) {
      if (link->PopMessage(message)) ++frames;
    }
    seconds += link->Now() - start;
    link->StopStream();
  }
  state.counters["frames_per_s"] = frames / seconds;
  state.counters["points_per_s"] = frames * request.points_per_frame / seconds;
}
BENCHMARK(BM_ScopeFrames)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
