// Commissioning on the simulated drive against the drive's own truth, all in this process: the
// inertia it ends with over the table of friction and inertia far from the setup's, and the
// armature that its current step finds for a resistance from half to twice the setup's, and
// the notch that the speed step places for a compliant coupling it finds. The setup keeps the bundled motor's data throughout; a speed drive, as the position step
// identifies nothing.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "drivetests/commissioning.h"
#include "drivetests/commissioning_report.h"
#include "drivetests/frequency_response_run.h"
#include "host/zel_comm.h"
#include "host/zel_headless.h"
#include "host/zel_setup.h"
#include "host/zel_ui_backend.h"
#include "names/program_names.h"
#include "sim/simulated_drive.h"
#include "tests/support/test_setups.h"

namespace {

using namespace dcservo;

constexpr double kTolerance = 0.05;
constexpr double kSetupJ = 4.5e-5, kSetupR = 1.2, kSetupL = 1e-3;
// The inertia test's 1.5 A at 0.06 Nm/A.
constexpr double kTestTorque = 0.09;

using Faults = std::vector<std::pair<const char*, double>>;

constexpr double kSpeedDrive = 1.0, kCurrentDrive = 2.0;

// A firmware from before the frequency response program: its program list lacks it.
class DriveWithoutFrequencyProgram : public dcsim::SimulatedDrive {
 public:
  using SimulatedDrive::SimulatedDrive;
  bool DescribeProgram(std::string_view name, std::vector<ZelProgramVariable>& vars) override {
    if (name == drive_program::Frequency_Response_Test) return false;
    return SimulatedDrive::DescribeProgram(name, vars);
  }
};

// A whole commissioning with these faults, the shaft following the notices; the coupling that
// the loop model held for the speed step where `speed_coupling` asks.
CommissioningResult Commission(const Faults& faults, double control_mode = kSpeedDrive,
                               bool frequency_program = true,
                               std::optional<ShaftCoupling>* speed_coupling = nullptr,
                               double load_over_motor = 0.0 /* 0: the setup's */) {
  ZelHeadlessBackend ui;
  ZelScopedUiBackend installed(ui);
  const auto setup = testing_support::LoadBundledSetup();
  setup->SetParameterValueInBaseUnit("ControlMode", control_mode);
  if (load_over_motor > 0.0) setup->SetParameterValueInBaseUnit("Jload_over_J", load_over_motor);
  const std::shared_ptr<dcsim::SimulatedDrive> drive =
      frequency_program ? dcsim::MakeSimulatedDrive(*setup)
                        : std::make_shared<DriveWithoutFrequencyProgram>(
                              dcsim::PlantConfigFromSetup(*setup));
  CZel_CommSession session(drive);
  CZel_Comm::SetClock([&ui] { return ui.NowMs() / 1000.0; });
  std::string error;
  for (const auto& [name, value] : faults) EXPECT_TRUE(drive->Inject(name, value, error)) << error;
  CommissioningHooks hooks;
  hooks.confirm = [&drive](const char*, ZelAskedAction asks) {
    std::string refused;
    drive->Inject("shaft_blocked", asks == ZelAskedAction::BlockShaft ? 1.0 : 0.0, refused);
    return true;
  };
  hooks.prepare = [&](const CommissioningStep& step) {
    if (speed_coupling && std::string_view(step.word) == "speed")
      *speed_coupling = MeasuredCouplingOf(*setup);
  };
  CommissioningResult result = RunCommissioning(*setup, ui, hooks);
  CZel_Comm::SetClock(nullptr);
  return result;
}

// The last value of `name` that a step identified (the speed step's corrected Jt where it
// corrected it); 0 when none did.
double LastIdentified(const CommissioningResult& result, const char* name) {
  double value = 0.0;
  for (const StepOutcome& step : result.steps) {
    for (const IdentifiedValue& v : step.run.identified)
      if (v.name == name) value = v.value;
  }
  return value;
}

// What the commissioning left `name` at among its changes; `unchanged` where it did not change it.
double ChangedTo(const CommissioningResult& result, const char* name, double unchanged) {
  for (const ParameterChange& change : result.changes)
    if (change.name == name) return change.after;
  return unchanged;
}

bool Told(const CommissioningResult& result, const char* what) {
  for (const StepOutcome& step : result.steps) {
    for (const std::string& w : step.run.warnings)
      if (w.find(what) != std::string::npos) return true;
  }
  return false;
}

// The friction that the speed step's log showed.
const FrictionFit& LastFriction(const CommissioningResult& result) {
  return *result.steps.back().friction;
}

TEST(CommissioningIdentification, EndsWithTheInertiaWithinFivePercentOverTheTable) {
  // The corners and middle of dry friction up to half the test torque against a fifth to
  // twenty times the setup's inertia, two with a viscous load that takes a quarter of the test
  // torque at the test speed (at twenty times it reads some 7 % high). Half the torque at twenty times cannot reach the test's speed in
  // its time at 1.5 A: commissioning runs it again at the most current allowed.
  struct Case {
    double friction_share, inertia_times, viscous_share = 0.0;
  };
  const double test_speed = 125.66;
  for (const Case c : {Case{0.0, 0.2}, Case{0.5, 0.2}, Case{0.25, 0.2, 0.25},
                       Case{0.25, 1.0, 0.25}, Case{0.0, 20.0}, Case{0.25, 20.0},
                       Case{0.5, 20.0}}) {
    SCOPED_TRACE(testing::Message() << "friction " << c.friction_share << " inertia x"
                                    << c.inertia_times << " viscous " << c.viscous_share);
    const double j = kSetupJ * c.inertia_times, dry = c.friction_share * kTestTorque;
    // The motor's own viscous friction where no load adds any.
    const double viscous = c.viscous_share > 0.0 ? c.viscous_share * kTestTorque / test_speed : 1e-5;
    const CommissioningResult result =
        Commission({{"friction", dry}, {"inertia", j}, {"viscous", viscous}});
    // Twenty times the inertia without friction, on the speed step's profile, draws more
    // current than the motor carries continuously: the step fails on that, the inertia found.
    if (c.inertia_times >= 20.0 && !result.succeeded) {
      EXPECT_NE(result.steps.back().failure.find("RMS current over the run"), std::string::npos)
          << result.steps.back().failure;
      EXPECT_NEAR(LastIdentified(result, "Jt"), j, kTolerance * j);
      continue;
    }
    ASSERT_TRUE(result.succeeded) << result.steps.back().failure;
    EXPECT_NEAR(LastIdentified(result, "Jt"), j, kTolerance * j);
    // What it identified last is what the setup keeps: the inertia test takes friction off
    // itself, so that the speed step has nothing left to correct.
    EXPECT_NEAR(ChangedTo(result, "Jt", kSetupJ), LastIdentified(result, "Jt"), 1e-6 * j);
    // The speed loop is tuned again for the inertia found.
    EXPECT_TRUE(c.inertia_times == 1.0 || ChangedTo(result, "Kp_S_scl", -1.0) != -1.0);
    ASSERT_TRUE(result.steps.back().friction);
    const FrictionFit& friction = LastFriction(result);
    EXPECT_NEAR(friction.TorqueAt(test_speed), dry + viscous * test_speed,
                0.5 * kTolerance * kTestTorque);
    if (c.viscous_share > 0.0) {
      // The ramps tell the viscous load from the dry friction.
      ASSERT_TRUE(friction.viscous_confidence);
      EXPECT_NEAR(friction.viscous_Nm_s, viscous, kTolerance * viscous);
      EXPECT_NEAR(friction.coulomb_Nm, dry, kTolerance * kTestTorque);
    } else if (friction.viscous_confidence && *friction.viscous_confidence >= 0.5) {
      // The motor's own is too small to read from a few hundred samples: where the fit claims
      // it, it must be right.
      EXPECT_NEAR(friction.viscous_Nm_s, viscous, kTolerance * viscous);
    }
    EXPECT_EQ(Told(result, "the test ran again at 2.7 A"), c.friction_share == 0.5 &&
                                                                c.inertia_times == 20.0);
  }
}

TEST(CommissioningIdentification, TheCurrentStepTakesTheArmatureItFindsFromHalfToTwiceTheSetupsR) {
  // Twice the setup's R halves the armature's time constant that the loop was tuned for: the
  // first run misses its rise time, the second runs with the R and L it found.
  for (const double times : {0.5, 2.0}) {
    SCOPED_TRACE(times);
    const CommissioningResult result = Commission({{"resistance", times * kSetupR}}, kCurrentDrive);
    ASSERT_TRUE(result.succeeded) << result.steps.back().failure;
    EXPECT_NEAR(LastIdentified(result, "R"), times * kSetupR, kTolerance * times * kSetupR);
    EXPECT_NEAR(LastIdentified(result, "L"), kSetupL, kTolerance * kSetupL);
    const bool retuned = Told(result, "the current loop was tuned again");
    EXPECT_EQ(retuned, times == 2.0);
    EXPECT_NEAR(ChangedTo(result, "R", kSetupR), retuned ? times * kSetupR : kSetupR,
                kTolerance * times * kSetupR);
  }
}

TEST(CommissioningIdentification, ALoadTooHeavyForTheMostTestCurrentFailsAndSaysWhatIsLeft) {
  // A hundred times the setup's inertia against 60 mNm of dry friction: 1.5 A leaves 30 mNm,
  // 2.7 A (the most the setup allows) 100 mNm, over 8 s to 80 % of the test's speed.
  const CommissioningResult result =
      Commission({{"friction", 0.06}, {"inertia", 100.0 * kSetupJ}});
  ASSERT_FALSE(result.succeeded);
  EXPECT_STREQ(result.steps.back().step->word, "inertia");
  EXPECT_NE(result.steps.back().failure.find("lower TestMaxSpeed"), std::string::npos)
      << result.steps.back().failure;
  EXPECT_TRUE(Told(result, "the test ran again at 2.7 A"));
}

}  // namespace

namespace {

const StepOutcome& SpeedStep(const CommissioningResult& result) {
  for (const StepOutcome& step : result.steps)
    if (std::string(step.step->word) == "speed") return step;
  ADD_FAILURE() << "no speed step";
  return result.steps.back();
}

// The speed step's look for a resonance on the bundled drive: its profile's ramps of 0.1 s
// leave 1600 of the log's 2000 points to the two holds, 0.4 s each, logged at the loop's
// 2 kHz (bins of 2000 / 256 Hz). An 800 Hz coupling that the loop rings at a damping of 0.01
// (as the log shows it at 1 kHz, behind the tuner's low pass, it is folded and hidden) is
// named, notched, and rings ten times less with the notch; the rigid drive gets nothing.
TEST(CommissioningNotch, TheLookAtTheLoopsRateNotchesACouplingAndLeavesTheRigidDriveAlone) {
  const Faults rigid = {}, coupled = {{"resonance", 800.0}, {"resonance_damping", 0.01}};
  for (const Faults& faults : {rigid, coupled}) {
    const bool ringing = faults.size() != 0;
    SCOPED_TRACE(ringing ? "coupled at 800 Hz" : "rigid");
    const CommissioningResult result = Commission(faults);
    ASSERT_TRUE(result.succeeded) << result.steps.back().failure;
    const StepOutcome& speed = SpeedStep(result);
    ASSERT_TRUE(speed.resonance_run);
    const ResonanceRun& look = *speed.resonance_run;
    EXPECT_DOUBLE_EQ(look.hold_s, 0.4);
    ASSERT_TRUE(look.current_spectrum);
    EXPECT_DOUBLE_EQ(look.current_spectrum->resolution_hz, 2000.0 / 256.0);
    EXPECT_EQ(look.resonance.has_value(), ringing);
    EXPECT_EQ(speed.notch.has_value(), ringing);
    bool notch_on = false;
    for (const ParameterChange& c : result.changes) {
      if (c.name.rfind("BQFilterF1", 0) == 0 && std::abs(c.after - 800.0) < 40.0) notch_on = true;
    }
    EXPECT_EQ(notch_on, ringing);
    if (!ringing || !look.resonance || !speed.notch) continue;
    EXPECT_NEAR(look.resonance->frequency_hz, 800.0, 40.0);
    EXPECT_TRUE(look.resonance->limits_loop);
    const NotchRun& notch = *speed.notch;
    EXPECT_NEAR(notch.proposal.notch.frequency_hz, 800.0, 40.0);
    ASSERT_TRUE(notch.spectrum_with);
    EXPECT_DOUBLE_EQ(notch.spectrum_with->resolution_hz, 2000.0 / 256.0);
    // The record: a ring of a good part of an ampere before, a tenth of it or less after.
    const nlohmann::ordered_json record =
        CommissioningReportJson(result, *testing_support::LoadBundledSetup(), {});
    const nlohmann::ordered_json* step = nullptr;
    for (const auto& s : record["steps"])
      if (s["step"] == "speed") step = &s;
    ASSERT_NE(step, nullptr);
    const auto& ripple = (*step)["notch"]["ripple_at_resonance_A"];
    EXPECT_GT(ripple["before"].get<double>(), 0.2);
    EXPECT_GE(ripple["before"].get<double>(), 10.0 * ripple["after"].get<double>());
  }
}

}  // namespace

namespace {

const StepOutcome* StepNamed(const CommissioningResult& result, const char* word) {
  for (const StepOutcome& step : result.steps)
    if (std::string(step.step->word) == word) return &step;
  return nullptr;
}

// The frequency response step between the inertia and the speed step: the rigid drive
// identifies nothing; a coupling at 300 Hz with a damping of 0.01 (which the speed step's own
// look at its current cannot find) is fitted within 3 % and held by the loop model when the
// speed step is tuned, behind the proposal's low pass it needs no notch; at 200 Hz with a load
// as heavy as the motor it would leave the proposed loop 25 deg and 4.2 dB, and a notch at the
// measured resonance keeps the margins; a firmware without the program skips the step and
// the speed step sees the setup's rigid load.
TEST(CommissioningFrequencyResponse, FindsTheCouplingForTheSpeedStepAndSkipsWithoutTheProgram) {
  struct Case {
    const char* name;
    Faults faults;
    double load_over_motor;  // 0: the setup's
    bool program;
    double resonance_hz;  // 0: none to find
    const char* note;
    bool notched;
  };
  const Faults at_300 = {{"resonance", 300.0}, {"resonance_damping", 0.01}};
  const Case cases[] = {
      {"rigid", {}, 0.0, true, 0.0, "no compliant coupling", false},
      {"coupled at 300 Hz", at_300, 0.0, true, 300.0,
       "the loop model takes it for the steps after this one", false},
      {"coupled at 200 Hz",
       {{"resonance", 200.0}, {"resonance_damping", 0.01}},
       1.0,
       true,
       200.0,
       "the notch at 200 Hz",
       true},
      {"no program", at_300, 0.0, false, 0.0,
       "skipped: this drive's firmware has no frequency response program", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<ShaftCoupling> seen_by_speed_step;
    const CommissioningResult result =
        Commission(c.faults, kSpeedDrive, c.program, &seen_by_speed_step, c.load_over_motor);
    ASSERT_TRUE(result.succeeded) << result.steps.back().failure;
    const StepOutcome* frequency = StepNamed(result, "frequency");
    ASSERT_NE(frequency, nullptr);
    EXPECT_TRUE(frequency->succeeded);
    EXPECT_TRUE(Told(result, c.note));
    EXPECT_EQ(frequency->svg.empty(), !c.program);
    double resonance = 0.0;
    for (const IdentifiedValue& v : frequency->run.identified) {
      EXPECT_NE(v.name, "Jt");  // the inertia step's to tell
      EXPECT_FALSE(v.unit.empty()) << v.name;
      EXPECT_GT(v.confidence, 0.5) << v.name;
      if (v.name == "resonance") resonance = v.value;
    }
    EXPECT_NEAR(resonance, c.resonance_hz, 0.03 * c.resonance_hz);
    ASSERT_EQ(seen_by_speed_step.has_value(), c.resonance_hz > 0.0);
    if (seen_by_speed_step)
      EXPECT_NEAR(seen_by_speed_step->resonance_hz, c.resonance_hz, 0.03 * c.resonance_hz);
    bool notch_on = false;
    for (const ParameterChange& change : result.changes)
      if (change.name.rfind("BQFilterF1", 0) == 0 && std::abs(change.after - c.resonance_hz) < 1.0)
        notch_on = true;
    EXPECT_EQ(notch_on, c.notched);
    EXPECT_EQ(Told(result, "the frequency response measured at"), c.notched);
  }
}

}  // namespace
