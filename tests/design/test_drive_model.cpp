// The loop model held to the simulated firmware (what each test measures against what the
// model predicts for the same run) and to margins worked independently in the frequency
// domain (margin_vectors.h, from make_margin_vectors.py).

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "design/drive_model.h"
#include "tests/app/cli_runner.h"
#include "tests/design/margin_vectors.h"
#include "tests/support/test_setups.h"

namespace {

using dcservo::ModelStructure;
using dcservo::TunedLoop;
using nlohmann::json;
using testing_support::RunDcservo;

json JsonOf(const testing_support::CliResult& r) {
  const auto start = r.out.find('{');
  return start == std::string::npos ? json() : json::parse(r.out.substr(start), nullptr, false);
}

struct AgreementCase {
  const char* args;  // after "test"
  const char* figure;
  double tolerance;  // relative
};

// Each run with its tuned gains: the measured figure within `tolerance` of the predicted one.
TEST(DriveModel, PredictsWhatTheSimulatedFirmwareMeasures) {
  const AgreementCase cases[] = {
      {"current --tune", "rise_time_s", 0.03},
      {"current --tune --set PB_C=4000", "rise_time_s", 0.03},
      // The motor's viscous friction, which the setup does not describe, shifts where the
      // speed counts flip: a twentieth of a count of RMS error.
      {"speed --tune", "rms_error", 0.15},
      {"speed --tune --set BQFilter1=1 --set BQFilterLocation1=speed-feedback "
       "--set BQFilterType1=low-pass-2nd-order --set BQFilterF11=150",
       "rms_error", 0.10},
      // A loop that the filter makes unstable: the model rings as the drive does.
      {"speed --tune --set BQFilter1=1 --set BQFilterLocation1=speed-feedback "
       "--set BQFilterType1=low-pass-2nd-order --set BQFilterF11=30",
       "rms_error", 0.10},
      // The current limit cuts the acceleration: both saturate the same way.
      {"speed --tune --set TestLimitCurrent=0.5", "rms_error", 0.10},
      {"position --tune", "rms_error", 0.10},
      {"position --tune --set PositionControlType=0", "rms_error", 0.10},
  };
  for (const AgreementCase& c : cases) {
    SCOPED_TRACE(c.args);
    const json j = JsonOf(RunDcservo(std::string("test ") + c.args + " --json"));
    ASSERT_TRUE(j.is_object());
    double measured = 0.0, predicted = 0.0;
    if (j["figures"]["measured"].is_object()) {  // a step test; a tuning run has cycles
      measured = j["figures"]["measured"][c.figure].get<double>();
      predicted = j["figures"]["predicted"][c.figure].get<double>();
    } else {
      measured = j["cycles"][0][c.figure].get<double>();
      predicted = j["predicted"][c.figure].get<double>();
    }
    EXPECT_NEAR(measured, predicted, c.tolerance * predicted);
  }
}

dcservo::DriveModel BundledModel() {
  auto setup = testing_support::LoadBundledSetup();
  const auto model = dcservo::DriveModelOf(*setup);
  EXPECT_TRUE(model.has_value());
  return model.value_or(dcservo::DriveModel{});
}

TEST(DriveModel, MarginsAgreeWithTheFrequencyDomain) {
  dcservo::DriveModel bundled = BundledModel();
  // The script's drive: these conversions are the ones it was worked with.
  ASSERT_NEAR(bundled.current_counts_per_A, 3273.6, 1e-9);
  ASSERT_NEAR(bundled.volts_per_count * 32767.0, 48.0, 1e-9);
  ASSERT_EQ(bundled.slper, 10);
  for (const MarginVector& v : kMarginVectors) {
    SCOPED_TRACE(std::string(v.loop) + ", feedback filter " + v.feedback_filter);
    dcservo::DriveModel model = bundled;
    if (v.low_pass_hz > 0.0)
      model.speed_feedback_filters = {{v.b[0], v.b[1], v.b[2], v.a[0], v.a[1]}};
    const TunedLoop loop = std::string(v.loop) == "current" ? TunedLoop::Current
                           : std::string(v.loop) == "speed" ? TunedLoop::Speed
                                                            : TunedLoop::Position;
    const auto m = dcservo::MarginsOf(model, ModelStructure::PositionOverSpeed, loop);
    ASSERT_TRUE(m && m->crossover_rad_s && m->phase_margin_deg && m->gain_margin_db &&
                m->phase_crossover_rad_s);
    EXPECT_NEAR(*m->crossover_rad_s, v.crossover_rad_s, 0.02 * v.crossover_rad_s);
    EXPECT_NEAR(*m->phase_margin_deg, v.phase_margin_deg, 1.5);
    EXPECT_NEAR(*m->gain_margin_db, v.gain_margin_db, 0.5);
    // Where the loop hunts between counts: a period's lag more or less moves it by 5 %.
    EXPECT_NEAR(*m->phase_crossover_rad_s, v.phase_crossover_rad_s, 0.01 * v.phase_crossover_rad_s);
    EXPECT_EQ(m->stable, v.phase_margin_deg > 0.0);
  }
}

// Margins are kept for the models asked last: a model that differs in any one field, or the
// same model asked about another loop or sweep, gets its own answer, and the first model's
// answer is the same after the others as before them.
TEST(DriveModel, MarginsAskedAgainAnswerForTheModelAsked) {
  const dcservo::DriveModel base = BundledModel();
  struct Change {
    const char* what;
    void (*apply)(dcservo::DriveModel&);
    TunedLoop loop;
    int points;
  };
  const Change changes[] = {
      {"inertia", [](dcservo::DriveModel& m) { m.J *= 2.0; }, TunedLoop::Speed, 800},
      {"speed gain", [](dcservo::DriveModel& m) { m.kps *= 1.5; }, TunedLoop::Speed, 800},
      {"slow period", [](dcservo::DriveModel& m) { m.slper = 20; }, TunedLoop::Speed, 800},
      {"feedback low pass",
       [](dcservo::DriveModel& m) {
         m.speed_feedback_filters = {{0.0675, 0.1349, 0.0675, -1.143, 0.4128}};
       },
       TunedLoop::Speed, 800},
      {"another loop", [](dcservo::DriveModel&) {}, TunedLoop::Position, 800},
      {"a coarser sweep", [](dcservo::DriveModel&) {}, TunedLoop::Speed, 200},
  };
  const auto before = dcservo::MarginsOf(base, ModelStructure::PositionOverSpeed, TunedLoop::Speed);
  ASSERT_TRUE(before && before->crossover_rad_s && before->phase_margin_deg);
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    dcservo::DriveModel changed = base;
    c.apply(changed);
    const auto other =
        dcservo::MarginsOf(changed, ModelStructure::PositionOverSpeed, c.loop, c.points);
    ASSERT_TRUE(other && other->crossover_rad_s && other->phase_margin_deg);
    EXPECT_TRUE(*other->crossover_rad_s != *before->crossover_rad_s ||
                *other->phase_margin_deg != *before->phase_margin_deg);
    const auto again = dcservo::MarginsOf(base, ModelStructure::PositionOverSpeed, TunedLoop::Speed);
    ASSERT_TRUE(again && again->crossover_rad_s && again->phase_margin_deg);
    EXPECT_EQ(*again->crossover_rad_s, *before->crossover_rad_s);
    EXPECT_EQ(*again->phase_margin_deg, *before->phase_margin_deg);
    EXPECT_EQ(again->poles, before->poles);
  }
}

}  // namespace

namespace {

// Runs of the model are kept too: a run that differs in its model, its reference, its limits
// or its structure gets its own trace, and the first run's trace is the same after them.
TEST(DriveModel, RunsAskedAgainTraceTheRunAsked) {
  const dcservo::DriveModel base = BundledModel();
  dcservo::ModelRun ramp;
  ramp.structure = ModelStructure::Speed;
  ramp.reference.assign(400, 0.0);
  for (std::size_t k = 1; k < 100; ++k) ramp.reference[k] = 0.5;
  struct Change {
    const char* what;
    void (*apply)(dcservo::DriveModel&, dcservo::ModelRun&);
  };
  const Change changes[] = {
      {"speed gain", [](dcservo::DriveModel& m, dcservo::ModelRun&) { m.kps *= 1.5; }},
      {"inertia", [](dcservo::DriveModel& m, dcservo::ModelRun&) { m.J *= 2.0; }},
      {"reference", [](dcservo::DriveModel&, dcservo::ModelRun& r) { r.reference[150] = 0.5; }},
      {"current limit", [](dcservo::DriveModel&, dcservo::ModelRun& r) { r.current_limit = 50.0; }},
      {"linear", [](dcservo::DriveModel&, dcservo::ModelRun& r) { r.quantised = false; }},
  };
  const dcservo::ModelTrace before = dcservo::SimulateRun(base, ramp);
  ASSERT_EQ(before.response.size(), ramp.reference.size());
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    dcservo::DriveModel model = base;
    dcservo::ModelRun run = ramp;
    c.apply(model, run);
    const dcservo::ModelTrace other = dcservo::SimulateRun(model, run);
    EXPECT_TRUE(other.response != before.response || other.current != before.current);
    const dcservo::ModelTrace again = dcservo::SimulateRun(base, ramp);
    EXPECT_EQ(again.response, before.response);
    EXPECT_EQ(again.current, before.current);
    EXPECT_EQ(again.current_saturated, before.current_saturated);
  }
}

}  // namespace
