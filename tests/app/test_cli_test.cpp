// `dcservo test` end to end: the real program, the test dialogs headless on the simulated
// drive, the JSON that scripts read, the exit codes, and the files of the plot.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "host/zel_setup_file.h"
#include "tests/app/cli_runner.h"
#include "tests/support/run_json_schema.h"

namespace {

using namespace testing_support;
using ::testing::HasSubstr;

TEST(TestCommand, ATunedRunPrintsItsVerdictGainsAndFiguresAndWritesItsFiles) {
  TempDir dir;
  const std::string out = dir.File("tuned.json");
  const auto r = RunDcservo("test current --tune --json --set TestProtectionCurrent=5 --png " +
                            ShellQuote(dir.File("step.png")) + " --svg " +
                            ShellQuote(dir.File("step.svg")) + " --csv " +
                            ShellQuote(dir.File("step.csv")) + " --out " + ShellQuote(out));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto report = nlohmann::json::parse(r.out);
  EXPECT_EQ(report["verdict"], "passed");
  EXPECT_EQ(report["failure"], "");
  EXPECT_EQ(report["inputs"]["In1"], 4910);  // 1.5 A in counts of the current converter
  EXPECT_TRUE(report["inputs"].contains("Imax_Prot_Test"));
  for (const char* gain : {"Kp_C_scl", "Ki_C_scl", "KPI", "SFTKPI", "KII", "SFTKII"})
    EXPECT_TRUE(report["gains"].contains(gain)) << gain;
  for (const char* side : {"measured", "predicted"}) {
    for (const char* figure :
         {"rise_time_s", "overshoot_pct", "settling_time_s", "steady_state_error"})
      EXPECT_TRUE(report["figures"][side][figure].is_number()) << side << " " << figure;
  }
  for (const char* kind : {"png", "svg", "csv"}) {
    ASSERT_TRUE(report["files"].contains(kind)) << kind;
    EXPECT_GT(std::filesystem::file_size(report["files"][kind].get<std::string>()), 100u) << kind;
  }
  EXPECT_NEAR(SavedValue(out, "Imax_Prot"), 5.0, 1e-3);
}

struct KeepCase {
  const char* args;
  const char* parameter;
  double measured;  // reported whether or not it is kept
  bool kept;        // and then in the saved setup
  double tolerance;
  const char* failure = "";  // the test fails with this text (exit 1), or succeeds
};

// The closing question: --accept keeps the detected value and --out saves it; --reject, or
// neither, keeps nothing and saves nothing. The report tells what was measured either way. A
// reading at the converter's full scale is a supply the drive cannot measure: the test fails,
// says so, and keeps nothing even when asked to.
TEST(TestCommand, DetectedValuesAreSavedOnlyWhenAccepted) {
  const char* full_scale = "the supply is at or above what the drive can measure, 60.0 V";
  const KeepCase cases[] = {
      {"vdc --fault vdc=36 --accept", "Vdc", 36.0, true, 60.0 / 1024},
      {"vdc --fault vdc=30 --reject", "Vdc", 30.0, false, 60.0 / 1024},
      {"vdc --fault vdc=30", "Vdc", 30.0, false, 60.0 / 1024},
      {"inertia --fault inertia=9e-5 --accept", "Jt", 9e-5, true, 0.03 * 9e-5},
      {"vdc --fault vdc=61 --accept", "Vdc", 60.0, false, 0.1, full_scale},
      {"vdc --fault vdc=70 --accept", "Vdc", 60.0, false, 0.1, full_scale},
  };
  for (const KeepCase& c : cases) {
    SCOPED_TRACE(c.args);
    TempDir dir;
    const std::string out = dir.File("kept.json");
    const auto r = RunDcservo(std::string("test ") + c.args + " --json --out " + ShellQuote(out));
    const bool fails = *c.failure;
    ASSERT_EQ(r.exit_code, fails ? 1 : 0) << r.err;
    const auto report = nlohmann::json::parse(r.out);
    EXPECT_EQ(report["verdict"], fails ? "failed" : "passed");
    EXPECT_EQ(report["failure"], c.failure);
    EXPECT_EQ(report["kept"], c.kept);
    EXPECT_NEAR(report["results"][c.parameter].get<double>(), c.measured, c.tolerance);
    ASSERT_EQ(std::filesystem::exists(out), c.kept);
    if (c.kept) {
      EXPECT_NEAR(SavedValue(out, c.parameter), c.measured, c.tolerance);
    }
  }
}

struct WatchCase {
  const char* args;
  int exit_code;
  const char* result;
  double value, tolerance;
};

// The tests that run until Stop: --act turns the shaft or moves the potentiometer, --until
// presses Stop. What the encoder's faults do to the run is held by the encoder test on the
// simulated drive (tests/drivetests/test_watch_tests.cpp).
TEST(TestCommand, WatchingTestsRunUntilStopWithTheActionsOfTheRun) {
  const WatchCase cases[] = {
      // Two radians of a 500-line encoder.
      {"encoder --act turn=2@0.3", 0, "APOS", 2.0 * 2000.0 / (2.0 * M_PI), 1.0},
      {"encoder --act turn=2@3 --until 1", 1, "pulses_seen", 0.0, 0.0},
      {"analogue --act pot=2.5@0.2 --until 1", 0, "voltage", 2.5, 0.02},
  };
  for (const WatchCase& c : cases) {
    const auto r = RunDcservo(std::string("test ") + c.args + " --json");
    ASSERT_EQ(r.exit_code, c.exit_code) << c.args << "\n" << r.err;
    const auto report = nlohmann::json::parse(r.out);
    EXPECT_NEAR(report["results"][c.result].get<double>(), c.value, c.tolerance) << c.args;
  }
}

struct FailureCase {
  const char* args;
  int exit_code;
  const char* err;            // a fragment of stderr; "" for any
  const char* cause = nullptr;  // a fragment of the diagnosis's cause, where it names one
};

// Failures and bad input end with their code and text and save nothing. Each fault of the
// simulated drive through the test that meets it fails the run: the test's own text stays in
// `failure`, and the diagnosis names the cause.
TEST(TestCommand, FailuresAndBadInputEndWithTheirCodeAndTextAndSaveNothing) {
  TempDir dir;
  const std::string out = dir.File("never.json"), png = dir.File("plot.png");
  const FailureCase cases[] = {
      {"current --fault short_circuit", 1, "Drive / Motor shortcircuit protection triggered.",
       "short-circuit protection tripped"},
      {"current --fault enable_off", 1, "Drive / Motor ENABLE input is in DISABLED state.",
       "ENABLE input is in its disabled state"},
      {"current --set TestCurrent=2 --set TestProtectionCurrent=1.9", 2,
       "Over current protection must be greater or equal to Test current."},
      {"current --fault no_such_fault", 2, "no_such_fault"},
      {"current --fault limit_positive", 1, "", "the positive limit switch is active"},
      {"current --fault limit_negative", 1, "", "the negative limit switch is active"},
      {"inertia --fault shaft_blocked", 1, "", "a brake, a mechanical stop"},
      {"inertia --fault encoder_a_missing", 1, "", "an encoder signal does not reach the drive"},
      {"inertia --fault load_torque=0.2", 1, "", "a load pulls the shaft harder than the test current"},
      {"inertia --fault encoder_swapped", 1, "", "the encoder counts backwards"},
      {"speed --fault enable_off", 1, "Drive / Motor ENABLE input is in DISABLED state.",
       "ENABLE input is in its disabled state"},
      {"speed --set TestLimitCurrent=9 --set TestProtectionCurrent=8", 2,
       "Over current protection must be greater than Drive current limit."},
      {"position --set TaPP=32", 2,
       "Distances between consecutive points on X axis must be greater than 0 and below 32768."},
      {"speed --cycles 0", 2, "--cycles"},
  };
  for (const FailureCase& c : cases) {
    const auto r = ExpectRun({std::string("test ") + c.args + " --json --out " + ShellQuote(out) +
                                  " --png " + ShellQuote(png),
                              c.exit_code, c.err},
                             {out, png});
    if (!c.cause) continue;
    SCOPED_TRACE(c.args);
    const auto report = nlohmann::json::parse(r.out);
    EXPECT_EQ(report["verdict"], "failed");
    ASSERT_TRUE(report["diagnosis"].is_object()) << r.out;
    EXPECT_THAT(report["diagnosis"]["cause"].get<std::string>(), HasSubstr(c.cause));
    // The terminal gets the test's text without its raw tab indents.
    EXPECT_EQ(r.err.find('\t'), std::string::npos);
    EXPECT_THAT(r.err, HasSubstr("dcservo: cause: "));
  }
  const auto swapped = RunDcservo("test encoder --act turn=2@0.3 --fault encoder_swapped --json");
  EXPECT_EQ(nlohmann::json::parse(swapped.out)["failure"],
            "The position counter runs backwards while the shaft turns in its positive "
            "direction.\r\nSwap the encoder's A and B signals, or reverse the encoder counting "
            "in the motor setup.");
}

// Only the test named gets its options built, yet every test is listed, each with its own
// options, and an option of another test is refused.
TEST(TestCommand, HelpListsEveryTestAndEachTestHasItsOwnOptions) {
  const std::string listed = ExpectRun({"test --help", 0, ""}).out;
  for (const char* word : {"current", "vdc", "inertia", "encoder", "analogue", "speed", "position"})
    EXPECT_THAT(listed, HasSubstr(std::string("  ") + word)) << word;
  ExpectRuns({{"test vdc --help", 0, "", "--accept"},
              {"test encoder --help", 0, "", "--until"},
              {"test speed --help", 0, "", "--cycles"},
              {"test position --help", 0, "", "--screenshot"},
              {"test current --cycles 3", 2, "--cycles"},
              {"test speed --accept", 2, "--accept"}});
}

// A repeating online run is stopped after its cycles, each listed.
TEST(TestCommand, ARepeatingOnlineRunListsEachCycle) {
  const auto online = RunDcservo("test speed --online --cycles 3 --json");
  ASSERT_EQ(online.exit_code, 0) << online.err;
  const auto j = nlohmann::json::parse(online.out);
  ASSERT_GE(j["cycles"].size(), 3u);
  EXPECT_EQ(j["cycles"][2]["cycle"], 3);
}

// A tuned run passes its one cycle close to the prediction. Its figures are in the unit the
// setup shows its quantity in, as its plot is: rpm and rot on the bundled drive, not the base
// rad/s and rad. The speed loop runs with the tuner's proposal, which it needs to pass.
TEST(TestCommand, ATunedRunFollowsThePredictionInTheUnitTheSetupShows) {
  TempDir dir;
  const std::string proposed = ShellQuote(ProposedSpeedSetup(dir));
  struct Case {
    const char* kind;
    const char* final_value;
    const char* unit;
    std::string setup;
  };
  const Case cases[] = {{"speed", "TestSpeed", "rpm", proposed},
                        {"position", "TestPosition", "rot", ""}};
  for (const Case& c : cases) {
    const auto r = RunDcservo(std::string("test ") + c.kind + " " + c.setup + " --tune --json");
    ASSERT_EQ(r.exit_code, 0) << c.kind << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["verdict"], "passed") << c.kind;
    ASSERT_EQ(j["cycles"].size(), 1u) << c.kind;
    EXPECT_LT(j["cycles"][0]["deviation_from_prediction_rms"].get<double>(),
              0.03 * std::fabs(j["final_value"].get<double>())) << c.kind;
    EXPECT_TRUE(j["figures"]["predicted"].contains("overshoot_pct")) << c.kind;
    EXPECT_EQ(j["figures"]["measured"], j["cycles"][0]) << c.kind;
    EXPECT_EQ(j["unit"], c.unit) << c.kind;
    // The final value as `show` gives it in the unit its field shows.
    const auto shown = RunDcservo(std::string("show ") + c.final_value);
    double value = 0.0;
    char unit[16] = {};
    const auto at = shown.out.find("shown=\"");
    ASSERT_NE(at, std::string::npos) << shown.out;
    ASSERT_EQ(std::sscanf(shown.out.c_str() + at, "shown=\"%lf %15[^\"]", &value, unit), 2);
    EXPECT_STREQ(unit, c.unit);
    EXPECT_NEAR(std::fabs(j["final_value"].get<double>()), std::fabs(value),
                1e-3 * std::fabs(value)) << c.kind;
    // The error of a loop that follows is a small share of the move, in the same unit.
    EXPECT_LT(j["cycles"][0]["rms_error"].get<double>(),
              0.5 * std::fabs(j["final_value"].get<double>())) << c.kind;
    for (const auto& t : j["targets"]) {
      if (t["figure"] == "tracking error (RMS)") {
        EXPECT_THAT(t["measured"].get<std::string>(), HasSubstr(c.unit)) << c.kind;
      }
    }
    const auto text = RunDcservo(std::string("test ") + c.kind + " " + c.setup + " --tune");
    EXPECT_THAT(text.out, HasSubstr(std::string(" ") + c.unit + "; overshoot")) << c.kind;
  }
}

TEST(TestCommand, ThePositionRunNamesTheSegmentThatEndedItOrSavesItsPlotAndTheTunedSetup) {
  const auto failed = RunDcservo("test position --set TaNP=32 --json");
  EXPECT_EQ(failed.exit_code, 2);  // a profile the drive cannot run is bad input
  const auto j = nlohmann::json::parse(failed.out);
  EXPECT_EQ(j["verdict"], "failed");
  EXPECT_EQ(j["segment"], 3);

  TempDir dir;
  const auto r = RunDcservo("test position --tune --svg " + dir.File("p.svg") + " --csv " +
                            dir.File("p.csv") + " --out " + dir.File("tuned.json"));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("saved " + dir.File("tuned.json") + "\n"));
  // Every command that saves a setup with --out says so.
  for (const char* command : {"tune current", "filters", "sync", "compute"}) {
    const std::string out = dir.File("saved.json");
    const auto saved = RunDcservo(std::string(command) + " --out " + ShellQuote(out));
    EXPECT_THAT(saved.err, HasSubstr("dcservo: saved " + out + "\n")) << command;
  }
  EXPECT_THAT(ReadFile(dir.File("p.svg")), HasSubstr("<svg"));
  EXPECT_THAT(ReadFile(dir.File("p.csv")), HasSubstr("Predicted Load_Position"));
  EXPECT_THAT(ReadFile(dir.File("tuned.json")), HasSubstr("Kp_P_scl"));
}

// Width and height from a PNG's header; zero when the file is not a PNG.
std::pair<int, int> PngSize(const std::string& bytes) {
  if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return {0, 0};
  auto be32 = [&bytes](std::size_t at) {
    int v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return v;
  };
  return {be32(16), be32(20)};
}

TEST(TestCommand, ScreenshotsOfBothTestsAfterARunAndOfTheScopeDuringOneFitTheScreen) {
  TempDir dir;
  const std::string png = dir.File("shot.png");
  const std::string proposed = ShellQuote(ProposedSpeedSetup(dir));
  for (const std::string& run : {"test speed " + proposed + " --tune", std::string("test position --tune"),
                                 "test speed " + proposed + " --online --cycles 2"}) {
    std::remove(png.c_str());
    const auto r = RunDcservo(run + " --screenshot " + png, "QT_QPA_PLATFORM=offscreen");
    ASSERT_EQ(r.exit_code, 0) << run << "\n" << r.err;
    const auto [w, h] = PngSize(ReadFile(png));
    EXPECT_GT(w, 600) << run;
    // The room a window has on a 1366 x 768 screen beside its title bar and a panel.
    EXPECT_LE(w, 1300) << run;
    EXPECT_LE(h, 700) << run;
  }
}

// Every kind of test answers --json in one shape, whatever it adds, and every test that runs
// writes its run as CSV in one header style, `Name [unit]`: the tests that read their results
// from the program too, from what they read at each look. The tuning tests give the figures of
// their first cycle as their figures and the profile they wrote among their inputs.
TEST(TestCommand, EveryKindOfTestGivesTheSameJsonShapeAndWritesItsRunWithUnits) {
  struct Case {
    std::string args;
    const char* header;  // empty: only its style is checked; null: no run to write
  };
  TempDir dir;
  const Case cases[] = {
      {"vdc", "Time [s],Vdc [V]"},
      {"inertia", "Time [s],Motor_Speed [rpm],Motor_Current [A],Voltage_Reference [V]"},
      {"current --tune", ""},
      {"speed --tune " + ShellQuote(ProposedSpeedSetup(dir)), ""},
      {"position --tune", ""},
      // Stopped before anything moved, the watching tests fail.
      {"encoder --until 0.5", nullptr},
      {"analogue --until 0.5", nullptr},
  };
  const std::regex style(R"([^,\[\]]+ \[[^\]]+\](,[^,\[\]]+ \[[^\]]+\])*)");
  const std::string csv = dir.File("run.csv");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto r = RunDcservo(std::string("test ") + c.args + " --json" +
                              (c.header ? " --csv " + ShellQuote(csv) : ""));
    const auto report = nlohmann::ordered_json::parse(r.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << r.err;
    testing_support::ExpectRunShape(report, c.args);
    if (std::string_view(c.args).starts_with("speed") || std::string_view(c.args).starts_with("position"))
      testing_support::ExpectTrackingRun(report, c.args);
    EXPECT_EQ(report["verdict"] == "passed", r.exit_code == 0);
    if (!c.header) continue;
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(report["files"]["csv"], csv);
    std::istringstream lines(ReadFile(csv));
    std::string header, first;
    std::getline(lines, header);
    std::getline(lines, first);
    EXPECT_TRUE(std::regex_match(header, style)) << header;
    if (*c.header) {
      EXPECT_EQ(header, c.header);
    }
    EXPECT_FALSE(first.empty()) << "no sample";
  }
}

}  // namespace
