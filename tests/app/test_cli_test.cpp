// `dcservo test current` end to end: the real program, the test dialog headless on the
// simulated drive, the JSON that scripts read and the exit codes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "host/zel_setup_file.h"
#include "tests/app/cli_runner.h"

namespace {

using testing_support::CliCase;
using testing_support::RunDcservo;
using testing_support::ShellQuote;
using testing_support::TempDir;
using ::testing::HasSubstr;

TEST(TestCommand, ATunedRunPrintsItsVerdictGainsAndFiguresAndWritesItsFiles) {
  TempDir dir;
  const std::string out = dir.File("tuned.json");
  const auto r = RunDcservo("test current --tune --json --set TestProtectionCurrent=5 --png " +
                            ShellQuote(dir.File("step.png")) + " --svg " +
                            ShellQuote(dir.File("step.svg")) + " --csv " +
                            ShellQuote(dir.File("step.csv")) + " --out " + ShellQuote(out));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto json = nlohmann::json::parse(r.out);
  EXPECT_EQ(json["verdict"], "succeeded");
  EXPECT_EQ(json["failure"], "");
  EXPECT_EQ(json["inputs"]["In1"], 4910);  // 1.5 A in counts of the current converter
  EXPECT_TRUE(json["inputs"].contains("Imax_Prot_Test"));
  for (const char* gain : {"Kp_C_scl", "Ki_C_scl", "KPI", "SFTKPI", "KII", "SFTKII"})
    EXPECT_TRUE(json["gains"].contains(gain)) << gain;
  for (const char* side : {"measured", "predicted"}) {
    for (const char* figure :
         {"rise_time_s", "overshoot_pct", "settling_time_s", "steady_state_error"})
      EXPECT_TRUE(json["figures"][side][figure].is_number()) << side << " " << figure;
  }
  for (const char* kind : {"png", "svg", "csv"}) {
    ASSERT_TRUE(json["files"].contains(kind)) << kind;
    EXPECT_GT(std::filesystem::file_size(json["files"][kind].get<std::string>()), 100u) << kind;
  }
  ZelLoadResult saved = LoadSetupFile(out);
  ASSERT_TRUE(saved.setup) << saved.error;
  EXPECT_NEAR(saved.setup->GetParameterValueInBaseUnit("Imax_Prot"), 5.0, 1e-3);
}

struct KeepCase {
  const char* args;
  const char* parameter;
  double stored;  // in the saved setup; NaN: nothing is saved
  double tolerance;
};

// The closing question: --accept keeps the detected value and --out saves it; --reject, or
// neither, keeps nothing and saves nothing.
TEST(TestCommand, DetectedValuesAreSavedOnlyWhenAccepted) {
  const double nothing = std::nan("");
  const KeepCase cases[] = {
      {"vdc --fault vdc=36 --accept", "Vdc", 36.0, 60.0 / 1024},
      {"vdc --fault vdc=36 --reject", "Vdc", nothing, 0.0},
      {"vdc --fault vdc=36", "Vdc", nothing, 0.0},
      {"inertia --fault inertia=9e-5 --accept", "Jt", 9e-5, 0.03 * 9e-5},
  };
  for (const KeepCase& c : cases) {
    TempDir dir;
    const std::string out = dir.File("kept.json");
    const auto r = RunDcservo(std::string("test ") + c.args + " --json --out " + ShellQuote(out));
    ASSERT_EQ(r.exit_code, 0) << c.args << "\n" << r.err;
    const auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["verdict"], "succeeded") << c.args;
    const bool saved = !std::isnan(c.stored);
    EXPECT_EQ(json["kept"], saved) << c.args;
    EXPECT_NEAR(json["results"][c.parameter].get<double>(), saved ? c.stored : 0.0,
                saved ? c.tolerance : 1e300)
        << c.args;
    ASSERT_EQ(std::filesystem::exists(out), saved) << c.args;
    if (!saved) continue;
    ZelLoadResult loaded = LoadSetupFile(out);
    ASSERT_TRUE(loaded.setup) << loaded.error;
    EXPECT_NEAR(loaded.setup->GetParameterValueInBaseUnit(c.parameter), c.stored, c.tolerance)
        << c.args;
  }
}

struct WatchCase {
  const char* args;
  int exit_code;
  const char* result;
  double value, tolerance;
};

// The tests that run until Stop: --act turns the shaft or moves the potentiometer, --until
// presses Stop.
TEST(TestCommand, WatchingTestsRunUntilStopWithTheActionsOfTheRun) {
  const WatchCase cases[] = {
      // Two radians of a 500-line encoder.
      {"encoder --act turn=2@0.3", 0, "APOS", 2.0 * 2000.0 / (2.0 * M_PI), 1.0},
      {"encoder --act turn=2@0.3 --fault encoder_swapped", 0, "APOS",
       -2.0 * 2000.0 / (2.0 * M_PI), 1.0},
      {"encoder --act turn=2@0.3 --fault encoder_b_missing", 1, "pulses_seen", 0.0, 0.0},
      {"encoder --act turn=2@3 --until 1", 1, "pulses_seen", 0.0, 0.0},
      {"analogue --act pot=2.5@0.2 --until 1", 0, "voltage", 2.5, 0.02},
  };
  for (const WatchCase& c : cases) {
    const auto r = RunDcservo(std::string("test ") + c.args + " --json");
    ASSERT_EQ(r.exit_code, c.exit_code) << c.args << "\n" << r.err;
    const auto json = nlohmann::json::parse(r.out);
    EXPECT_NEAR(json["results"][c.result].get<double>(), c.value, c.tolerance) << c.args;
  }
}

TEST(TestCommand, FailuresAndBadInputEndWithTheirCodeAndTextAndSaveNothing) {
  TempDir dir;
  const std::string out = dir.File("never.json");
  for (CliCase c : std::vector<CliCase>{
           {"--fault short_circuit", 1, "Drive / Motor shortcircuit protection triggered."},
           {"--fault enable_off", 1, "Drive / Motor ENABLE input is in DISABLED state."},
           {"--set TestCurrent=2 --set TestProtectionCurrent=1.9", 2,
            "Over current protection must be greater or equal to Test current."},
           {"--fault no_such_fault", 2, "no_such_fault"},
           {"--set NoSuchParameter=1", 2, "NoSuchParameter"},
       }) {
    c.args = "test current " + c.args + " --out " + ShellQuote(out);
    testing_support::ExpectRun(c, {out});
  }
}

}  // namespace
