#pragma once
// A test run on the simulated drive as a test dialog makes it: the setup's chip parameters
// downloaded, the program loaded and its inputs written, the run watched every 20 ms of a
// virtual clock until the program ends.

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "drivetests/reference_profile.h"
#include "host/zel_coff.h"
#include "host/zel_comm.h"
#include "host/zel_logger.h"
#include "sim/simulated_drive.h"
#include "tests/support/test_setups.h"
#include "units/scales.h"

namespace simtest {

using Inputs = std::vector<std::pair<std::string, double>>;

class SimRun {
 public:
  explicit SimRun(std::unique_ptr<CZel_Setup> s = testing_support::LoadBundledSetup())
      : setup(std::move(s)), drive(dcsim::MakeSimulatedDrive(*setup)), session_(drive) {
    CZel_Comm::SetClock([this] { return clock_; });
  }
  ~SimRun() { CZel_Comm::SetClock(nullptr); }

  void Advance(double seconds) {
    clock_ += seconds;
    CZel_Comm::Synchronize();
  }

  void Fault(const std::string& name, double value = 1.0) {
    std::string error;
    ASSERT_TRUE(drive->Inject(name, value, error)) << error;
  }

  void Schedule(double at, const std::string& name, double value = 1.0) {
    std::string error;
    ASSERT_TRUE(drive->Schedule(at, name, value, error)) << error;
  }

  // Loads and starts a program; the chip parameters go down first.
  void Start(const std::string& program, const Inputs& inputs, CZel_Logger* logger = nullptr) {
    coff = std::make_unique<CZel_CoffFormat>(CZel_Comm::GetOutPathName(program));
    ASSERT_EQ(coff->ReadCoff(), 1) << CZel_Comm::GetLastErrorText();
    for (const auto& [name, value] : inputs) {
      std::string error;
      ASSERT_EQ(CZel_Comm::SetUserVariableValue(coff.get(), name, value, error), 1) << error;
    }
    ASSERT_EQ(CZel_Comm::ExecuteCode(setup.get(), program, coff.get(), logger), 1)
        << CZel_Comm::GetLastErrorText();
  }

  // Watches the run as the dialogs do; true when the program ended before the limit.
  bool WaitForEnd(double limit_s = 10.0) {
    while (drive->Now() < limit_s) {
      Advance(0.02);
      if (!drive->ProgramRunning()) return true;
    }
    return false;
  }

  void Execute(const std::string& program, const Inputs& inputs, CZel_Logger* logger = nullptr,
               double limit_s = 10.0) {
    ASSERT_NO_FATAL_FAILURE(Start(program, inputs, logger));
    ASSERT_TRUE(WaitForEnd(limit_s)) << program << " did not end";
  }

  double Var(const std::string& name) {
    double value = 0.0;
    std::string error;
    EXPECT_EQ(CZel_Comm::GetUserVariableValue(coff.get(), name, value, error), 1) << error;
    return value;
  }

  double Base(const char* name) { return setup->GetParameterValueInBaseUnit(name); }

  // A fresh log of the named variables, kept until the run ends.
  CZel_SingleAxisLogger& Log(std::initializer_list<const char*> variables, int points = 2000,
                             int type = 1) {
    log = std::make_unique<CZel_SingleAxisLogger>(*setup, nullptr);
    for (const char* v : variables) EXPECT_EQ(log->AddVariable(v), 1) << v;
    log->ChangeSettings(points, type, 1);
    return *log;
  }

  void Upload() {
    ASSERT_EQ(log->BeginUploadData(), 1) << CZel_Comm::GetLastErrorText();
    while (log->ReadPoint(nullptr)) {
    }
  }

  // Mean of a logged channel over the points whose time lies in [from, to).
  double Mean(int channel, double from, double to) {
    double sum = 0;
    int n = 0;
    for (std::size_t k = 0; k < log->GetPointsRead(); ++k) {
      const double t = log->GetValue(k, 0);
      if (t >= from && t < to) sum += log->GetValue(k, channel), ++n;
    }
    return n ? sum / n : NAN;
  }

  double Live(const std::string& name) {
    double value = 0.0;
    EXPECT_TRUE(drive->ReadVariable(name, value)) << drive->LastError();
    return value;
  }

  // A parameter in the drive's internal unit, as a test dialog converts it for a program:
  // through the plug-in's scale, whether the setup keeps the value in base or internal unit.
  double Internal(const char* name) {
    CZel_Parameter* p = setup->FindParameter(name);
    if (!p) return NAN;
    return p->GetValueInBaseUnit() / dcservo::ScaleFactor(*setup, p->GetUnitName(), name) -
           dcservo::ScaleOffset(*setup, p->GetUnitName());
  }
  void SetInternal(const char* name, double value) {
    ASSERT_EQ(setup->SetParameterValueInInternalUnit(name, value), 1) << name;
  }
  // A scaled gain as its mantissa and shift.
  void SetGain(const char* mantissa, const char* shift, double gain) {
    const double s = gain > 1.0 ? std::ceil(std::log(gain) / std::log(2.0)) : 0.0;
    SetInternal(shift, s);
    SetInternal(mantissa, gain * 32767.0 / std::ldexp(1.0, static_cast<int>(s)));
  }

  std::unique_ptr<CZel_Setup> setup;
  std::shared_ptr<dcsim::SimulatedDrive> drive;
  std::unique_ptr<CZel_CoffFormat> coff;
  std::unique_ptr<CZel_SingleAxisLogger> log;

 private:
  CZel_CommSession session_;
  double clock_ = 0.0;
};

// The program's inputs for a six-segment reference that the tuning tests built.
inline Inputs ProgramProfile(const dcservo::ReferenceProfile& profile) {
  Inputs inputs;
  for (int i = 0; i < 6; ++i) {
    inputs.emplace_back("a" + std::to_string(i), static_cast<double>(profile[i].count));
    inputs.emplace_back("b" + std::to_string(i), profile[i].slope_q16 / 65536.0);
  }
  return inputs;
}
// The positive reference to `final_internal` on the 0.5 ms slow loop: 0.1 s ramps, 0.5 s at
// the final value, 0.2 s at rest.
inline Inputs PositiveProfile(double final_internal) {
  return ProgramProfile(
      dcservo::BuildReferenceProfile({final_internal, 0.0005, 0.1, 0.5, 0.1, 0.2}));
}

inline Inputs Join(Inputs a, const Inputs& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace simtest
