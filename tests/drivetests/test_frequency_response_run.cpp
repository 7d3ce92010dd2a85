// The frequency response measured on the simulated drive, held to the drive's true plant (its
// motor and load as the simulation integrates them), not to the tool's model; and the refusal
// of a drive without the program.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string>

#include "derive/pipelines.h"
#include "design/drive_model.h"
#include "drivetests/frequency_response_run.h"
#include "host/zel_comm.h"
#include "sim/simulated_drive.h"
#include "tests/support/fake_drive.h"
#include "tests/support/test_setups.h"

namespace {

using Complex = std::complex<double>;
using dcservo::BodeCurves;

class FrequencyResponseRun : public ::testing::Test {
 protected:
  FrequencyResponseRun() : setup_(testing_support::LoadBundledSetup()) {
    dcservo::SynchroniseSetup(*setup_);
    model_ = *dcservo::DriveModelOf(*setup_);
  }

  // `clock_moves` false: a drive whose time stands still, however long it is waited for.
  dcservo::FrequencyRunResult Run(std::shared_ptr<CZel_DriveLink> link,
                                  const std::vector<double>& frequency_hz, int shift,
                                  bool clock_moves = true) {
    CZel_CommSession comm(link);
    double clock = 0.0;
    CZel_Comm::SetClock([&clock] { return clock; });
    EXPECT_TRUE(CZel_Comm::DownloadChipParameters(*setup_));
    dcservo::FrequencyRunRequest request{frequency_hz, amplitude_A_, shift,
                                         dcservo::kExcitationTurn_rad_s * model_.speed_counts_per_rad_s,
                                         9.0};
    const dcservo::ExcitationTiming timing{model_.FastPeriod(), model_.slper / model_.clper,
                                           link->LogCapacityWords()};
    dcservo::FrequencyRunResult result =
        dcservo::RunFrequencyResponse(request, Scales(), timing, [&clock, clock_moves](double s) {
          if (clock_moves) clock += s;
          CZel_Comm::Synchronize();
        });
    CZel_Comm::SetClock(nullptr);
    return result;
  }

  BodeCurves Measure(dcsim::SimulatedDrive& drive, const std::vector<double>& frequency_hz,
                     int shift) {
    std::shared_ptr<dcsim::SimulatedDrive> shared(&drive, [](dcsim::SimulatedDrive*) {});
    const dcservo::FrequencyRunResult run = Run(shared, frequency_hz, shift);
    EXPECT_EQ(run.error, "");
    BodeCurves curves;
    for (const dcservo::ExcitationLog& log : run.logs) {
      const auto point = dcservo::AnalyseExcitation(log, Scales());
      EXPECT_TRUE(point) << log.frequency_hz;
      if (!point) continue;
      curves.plant.push_back(point->plant);
      curves.open_loop.push_back(point->open_loop);
      curves.current_loop.push_back(point->current_loop);
    }
    return curves;
  }

  dcservo::CountScales Scales() const {
    return {model_.current_counts_per_A, model_.position_counts_per_rad};
  }

  std::unique_ptr<CZel_Setup> setup_;
  dcservo::DriveModel model_;
  double amplitude_A_ = 1.0;
};

// The rigid motor: K / (J s + B) from the current to the speed.
TEST_F(FrequencyResponseRun, TheRigidPlantIsMeasuredWithinFivePercentAndFiveDegrees) {
  auto drive = dcsim::MakeSimulatedDrive(*setup_);
  const dcsim::PlantConfig& truth = drive->GetPlant().Config();
  const BodeCurves curves =
      Measure(*drive, dcservo::LogSpacedFrequencies(10.0, 200.0, 8), 3);
  ASSERT_EQ(curves.plant.size(), 8u);
  for (const dcservo::BodePoint& p : curves.plant) {
    SCOPED_TRACE(p.frequency_hz);
    const Complex s{0.0, 2.0 * std::numbers::pi * p.frequency_hz};
    const Complex expected = truth.K_Nm_per_A / (truth.J_kgm2 * s + truth.viscous_Nm_s);
    EXPECT_NEAR(std::abs(p.response / expected), 1.0, 0.05);
    EXPECT_NEAR(std::arg(p.response / expected) * 180.0 / std::numbers::pi, 0.0, 5.0);
    EXPECT_GT(p.coherence, dcservo::kLeastCoherence);
  }
}

// The speed loop on its tuned gains: the measured open loop crosses where the model says.
TEST_F(FrequencyResponseRun, TheTunedSpeedLoopsMarginsAgreeWithTheModelOnTheRigidDrive) {
  auto drive = dcsim::MakeSimulatedDrive(*setup_);
  const std::vector<double> f = dcservo::LogSpacedFrequencies(20.0, 800.0, 24);
  const BodeCurves curves = Measure(*drive, f, 0);
  const dcservo::CurveMargins measured = dcservo::MarginsOfCurve(curves.open_loop);
  const dcservo::CurveMargins model = dcservo::MarginsOfCurve(dcservo::ModelCurves(model_, f).open_loop);
  ASSERT_TRUE(measured.phase_margin_deg && model.phase_margin_deg);
  EXPECT_NEAR(*measured.phase_margin_deg, *model.phase_margin_deg, dcservo::kMarginAgreement_deg);
  EXPECT_NEAR(*measured.crossover_rad_s / *model.crossover_rad_s, 1.0, 0.05);
}

struct MeasuredCoupling {
  double hz, damping, load_over_motor;  // 0 Hz: rigid
};

// The coupling's resonance and anti-resonance within 3 %, the inertias within 10 %; on the
// rigid drive nothing at all. The sweep reaches past the highest resonance, with a sine of 3 A
// so that the encoder sees the motor swing near it.
TEST_F(FrequencyResponseRun, ACouplingIsFittedFromTheMeasuredPlantAndNothingOnARigidDrive) {
  const MeasuredCoupling cases[] = {
      {0, 0.05, 0.5},    {150, 0.01, 0.5}, {150, 0.03, 1.0}, {200, 0.01, 1.0}, {200, 0.03, 0.5},
      {300, 0.01, 0.5},  {300, 0.03, 1.0}, {400, 0.01, 1.0}, {400, 0.03, 0.5}, {500, 0.01, 0.5},
      {500, 0.03, 1.0},  {600, 0.01, 1.0}, {600, 0.03, 0.5}, {800, 0.01, 0.5}, {800, 0.03, 1.0},
  };
  amplitude_A_ = 3.0;
  for (const MeasuredCoupling& c : cases) {
    SCOPED_TRACE(testing::Message() << c.hz << " Hz, damping " << c.damping << ", Jload/J "
                                    << c.load_over_motor);
    setup_->SetParameterValueInBaseUnit("Jload_over_J", c.load_over_motor);
    auto drive = dcsim::MakeSimulatedDrive(*setup_);
    std::string error;
    ASSERT_TRUE(drive->Inject("resonance", c.hz, error) &&
                drive->Inject("resonance_damping", c.damping, error))
        << error;
    const BodeCurves curves = Measure(*drive, dcservo::LogSpacedFrequencies(20.0, 1500.0, 50), 3);
    const auto id = dcservo::IdentifyPlant(curves.plant, model_.K);
    ASSERT_TRUE(id);
    const double total = drive->GetPlant().Config().J_kgm2;
    EXPECT_NEAR(id->total_inertia_kgm2 / total, 1.0, 0.1);
    if (c.hz == 0.0) {
      EXPECT_FALSE(id->coupling);
      continue;
    }
    ASSERT_TRUE(id->coupling);
    const double motor = total / (1.0 + c.load_over_motor);
    EXPECT_NEAR(id->coupling->resonance_hz / c.hz, 1.0, 0.03);
    EXPECT_NEAR(id->coupling->anti_resonance_hz / (c.hz * std::sqrt(motor / total)), 1.0, 0.03);
    EXPECT_NEAR(id->coupling->motor_inertia_kgm2 / motor, 1.0, 0.1);
    EXPECT_NEAR(id->coupling->load_inertia_kgm2 / (total - motor), 1.0, 0.1);
  }
}

// The loop model with the coupling that the fit found: its phase margin is the one measured
// on the tuned speed loop, where the rigid model's is far off. Couplings whose peak lifts the
// loop over 0 dB, so that the margin is the coupling's.
TEST_F(FrequencyResponseRun, TheLoopModelWithTheFittedCouplingHasTheMeasuredMargins) {
  const MeasuredCoupling cases[] = {{150, 0.01, 1.0}, {300, 0.01, 1.0}, {200, 0.03, 1.0}};
  amplitude_A_ = 3.0;
  const std::vector<double> f = dcservo::LogSpacedFrequencies(20.0, 1500.0, 50);
  for (const MeasuredCoupling& c : cases) {
    SCOPED_TRACE(testing::Message() << c.hz << " Hz, damping " << c.damping);
    setup_->SetParameterValueInBaseUnit("Jload_over_J", c.load_over_motor);
    auto drive = dcsim::MakeSimulatedDrive(*setup_);
    std::string error;
    ASSERT_TRUE(drive->Inject("resonance", c.hz, error) &&
                drive->Inject("resonance_damping", c.damping, error))
        << error;
    const BodeCurves curves = Measure(*drive, f, 0);
    const auto id = dcservo::IdentifyPlant(curves.plant, model_.K);
    ASSERT_TRUE(id);
    const auto coupling = dcservo::ConfidentCoupling(*id);
    ASSERT_TRUE(coupling);
    const dcservo::CurveMargins measured = dcservo::MarginsOfCurve(curves.open_loop);
    dcservo::DriveModel coupled = model_;
    coupled.coupling = coupling;
    const auto rigid = dcservo::MarginsOf(model_, dcservo::ModelStructure::Speed, dcservo::TunedLoop::Speed);
    const auto model = dcservo::MarginsOf(coupled, dcservo::ModelStructure::Speed, dcservo::TunedLoop::Speed);
    ASSERT_TRUE(measured.phase_margin_deg && model && model->phase_margin_deg && rigid);
    EXPECT_NEAR(*model->phase_margin_deg, *measured.phase_margin_deg, 2.0 * dcservo::kMarginAgreement_deg);
    EXPECT_GT(std::abs(*rigid->phase_margin_deg - *measured.phase_margin_deg), 10.0);
  }
}

TEST_F(FrequencyResponseRun, ADriveWithoutTheProgramIsRefusedBeforeAnythingRuns) {
  auto fake = std::make_shared<testing_support::FakeDrive>();
  const dcservo::FrequencyRunResult run = Run(fake, {10.0, 20.0}, 3);
  EXPECT_EQ(run.error, "this drive's firmware has no frequency response program");
  EXPECT_TRUE(fake->starts.empty());
  EXPECT_TRUE(run.logs.empty());
}

// A run that cannot go on ends with its reason and leaves the drive stopped: a drive whose time
// stands still would otherwise be waited for without end; a protection that trips keeps what
// the drive logged up to it.
TEST_F(FrequencyResponseRun, ARunThatCannotGoOnEndsWithItsReason) {
  struct Case {
    const char* name;
    const char* fault;  // or nullptr
    bool clock_moves;
    const char* error;
    bool keeps_log;
  };
  const Case cases[] = {
      {"time stands still", nullptr, false, "the drive's time did not advance", false},
      {"short circuit", "short_circuit", true, "short circuit protection", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto drive = dcsim::MakeSimulatedDrive(*setup_);
    std::string refused;
    if (c.fault) ASSERT_TRUE(drive->Inject(c.fault, 1.0, refused)) << refused;
    const dcservo::FrequencyRunResult run = Run(drive, {50.0, 100.0}, 3, c.clock_moves);
    EXPECT_NE(run.error.find(c.error), std::string::npos) << run.error;
    // Asked to stop: it stops at its next sample, whenever its time moves on.
    drive->AdvanceTo(drive->Now() + 0.01);
    EXPECT_FALSE(drive->ProgramRunning());
    EXPECT_TRUE(run.logs.empty());
    ASSERT_EQ(run.stopped.has_value(), c.keeps_log);
    if (run.stopped) {
      EXPECT_DOUBLE_EQ(run.stopped->frequency_hz, 50.0);
      EXPECT_GE(run.stopped->current.size(), 2u);
    }
  }
}

}  // namespace
