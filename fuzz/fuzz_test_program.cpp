// A test program is read by name from the drive, its variables are written from text
// (`dcservo drive run PROGRAM --var NAME=VALUE`), and it runs on the simulated drive. An
// unknown program or variable and a value that is not a number are refused; nothing that the
// text holds may crash the reader, the drive or the program.
//
// Line 1 names the program; every further line is NAME=VALUE.

#include "app/setup_session.h"
#include "fuzz/fuzz_support.h"
#include "host/zel_coff.h"
#include "host/zel_comm.h"
#include "host/zel_errors.h"
#include "sim/simulated_drive.h"

namespace {

constexpr double kRun_s = 0.02;
constexpr double kTick_s = 0.005;

void Assign(CZel_CoffFormat& coff, const std::string& line) {
  const auto eq = line.find('=');
  if (eq == std::string::npos || eq == 0) return;
  const std::string name = line.substr(0, eq);
  try {
    const double value = ParseValue(line.substr(eq + 1), name, kUnitNone);
    std::string error;
    CZel_Comm::SetUserVariableValue(&coff, name, value, error);
  } catch (const CommandError& e) {
    if (e.code != kExitBadInput) fuzz::Fail("a refused value is not bad input");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Plugin();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 2048) return 0;
  const std::vector<std::string> lines = fuzz::Lines(fuzz::AsText(data, size));
  if (lines.empty()) return 0;
  ZelQuietErrors quiet;
  auto setup = fuzz::BundledSetup();
  auto drive = dcsim::MakeSimulatedDrive(*setup);
  CZel_CommSession session(drive);
  double clock = 0.0;
  CZel_Comm::SetClock([&clock] { return clock; });
  if (!CZel_Comm::DownloadChipParameters(*setup)) fuzz::Fail("the bundled drive was refused");

  CZel_CoffFormat coff(CZel_Comm::GetOutPathName(lines.front()));
  if (coff.ReadCoff()) {
    for (std::size_t k = 1; k < lines.size(); ++k) Assign(coff, lines[k]);
    if (CZel_Comm::ExecuteCode(nullptr, coff.GetProgramName(), &coff, nullptr)) {
      while (drive->ProgramRunning() && clock < kRun_s) {
        clock += kTick_s;
        CZel_Comm::Synchronize();
      }
      CZel_Comm::StopProgram();
      for (const ZelProgramVariable& v : coff.GetVariables()) {
        double value = 0.0;
        std::string error;
        CZel_Comm::GetUserVariableValue(&coff, v.name, value, error);
      }
    }
  }
  CZel_Comm::SetClock(nullptr);
  return 0;
}
