// The wait before a commissioning step on the simulated drive: a shaft that the inertia test left
// turning is braked to rest by the drive's speed program instead of coasting on its friction,
// a heavy load too, a shaft at rest is only watched, and a brake that the drive stops leaves
// the shaft to coast.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "derive/pipelines.h"
#include "drivetests/commissioning_step_run.h"
#include "host/zel_comm.h"
#include "host/zel_headless.h"
#include "host/zel_ui_backend.h"
#include "sim/simulated_drive.h"
#include "tests/support/test_setups.h"
#include "units/scales.h"

namespace {

using namespace dcservo;

// The motor's viscous friction alone takes some 27 s to stop the shaft from the inertia
// test's speed; the brake a fraction of a second, then the half second that proves rest.
constexpr double kBrakedWithin_s = 3.0;
constexpr double kRestWindow_s = 0.5;
// Far below what the speed reading tells from zero (about 6 rad/s a count); the axis going off
// after the brake leaves the shaft a creep of a tenth of this.
constexpr double kStill_rad_s = 1.0;

struct RestCase {
  const char* name;
  double inertia_times;    // the setup's Jt, in the setup and the drive
  bool spun;               // the inertia program ran first
  double protection_A;     // TestProtectionCurrent for the brake; 0: the setup's
  bool brake_started;
  double least_s, most_s;  // the wait, the proof of rest included
};

class CommissioningRest : public ::testing::Test {
 protected:
  // The inertia program to its end: the shaft left at 80 % of TestMaxSpeed, the axis off.
  void Spin(dcsim::SimulatedDrive& drive) {
    std::vector<ZelProgramVariable> vars;
    ASSERT_TRUE(drive.DescribeProgram("Total_Inertia_Identification_Test", vars));
    for (ZelProgramVariable& v : vars) {
      if (v.name == "In1") v.value = std::round(DriveInternalValue(*setup_, "TestCurrent"));
      if (v.name == "LimitSpeedMax")
        v.value = std::round(DriveInternalValue(*setup_, "TestMaxSpeed"));
      if (v.name == "Imax_Prot_Test")
        v.value = std::round(DriveInternalValue(*setup_, "TestProtectionCurrent"));
    }
    ASSERT_NE(drive.StartProgram("Total_Inertia_Identification_Test", vars), 0u);
    for (int i = 0; i < 500 && drive.ProgramRunning(); ++i) {
      ui_.Advance(20.0);
      CZel_Comm::Synchronize();
    }
    ASSERT_FALSE(drive.ProgramRunning());
    ASSERT_GT(std::abs(drive.GetPlant().Speed()), 150.0) << "the inertia test spun the shaft";
  }

  std::unique_ptr<CZel_Setup> setup_;
  ZelHeadlessBackend ui_;
};

TEST_F(CommissioningRest, BrakesATurningShaftAndWatchesAStillOne) {
  const RestCase cases[] = {
      {"the inertia test's spin", 1.0, true, 0.0, true, kRestWindow_s, kBrakedWithin_s},
      {"a shaft at rest", 1.0, false, 0.0, false, kRestWindow_s, kRestWindow_s + 1e-9},
      // Braked at the rate of the test current a load twenty times the motor's takes seconds;
      // a reference stepped to zero held the loop at its limit until its control error tripped.
      {"twenty times the inertia", 20.0, true, 0.0, true, kRestWindow_s, 10.0},
      // The drive stops the brake at once: the shaft coasts, as it did before there was one.
      {"a protection under the brake's current", 1.0, true, 0.3, true, 10.0, 120.0},
  };
  for (const RestCase& c : cases) {
    SCOPED_TRACE(c.name);
    setup_ = testing_support::LoadBundledSetup();
    // As the inertia step leaves it: the setup holds the inertia that the drive turns.
    const double inertia = c.inertia_times * setup_->GetParameterValueInBaseUnit("Jt");
    setup_->SetParameterValueInBaseUnit("Jt", inertia);
    SynchroniseSetup(*setup_);
    ComputeChipParameters(*setup_);
    ZelScopedUiBackend installed(ui_);
    const std::shared_ptr<dcsim::SimulatedDrive> drive = dcsim::MakeSimulatedDrive(*setup_);
    std::string refused;
    ASSERT_TRUE(drive->Inject("inertia", inertia, refused)) << refused;
    CZel_CommSession session(drive);
    CZel_Comm::SetClock([this] { return ui_.NowMs() / 1000.0; });
    ASSERT_TRUE(CZel_Comm::DownloadChipParameters(*setup_));
    if (c.spun) Spin(*drive);
    if (c.protection_A > 0.0)
      setup_->SetParameterValueInBaseUnit("TestProtectionCurrent", c.protection_A);
    const std::uint64_t run_before = drive->LoadedRun();
    const double start_s = ui_.NowMs() / 1000.0;

    EXPECT_EQ(commissioning::WaitForRest(*setup_, ui_), "");

    const double waited_s = ui_.NowMs() / 1000.0 - start_s;
    EXPECT_EQ(drive->LoadedRun() != run_before, c.brake_started);
    EXPECT_FALSE(drive->ProgramRunning());
    EXPECT_FALSE(drive->AxisOn());
    EXPECT_LT(std::abs(drive->GetPlant().Speed()), kStill_rad_s) << "the plant itself";
    EXPECT_GE(waited_s, c.least_s);
    EXPECT_LT(waited_s, c.most_s);
    CZel_Comm::SetClock(nullptr);
  }
}

}  // namespace
