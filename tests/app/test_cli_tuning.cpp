// `dcservo test speed|position`: the verdict and its exit code, the per-cycle figures, the
// refusals with their texts, and the files of the plot.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/app/cli_runner.h"

namespace {

using testing_support::RunDcservo;
using ::testing::HasSubstr;

TEST(CliTuningTest, ATunedSpeedRunPassesAndReportsItsFiguresAgainstThePrediction) {
  const auto r = RunDcservo("test speed --tune --json");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["result"], "passed");
  ASSERT_EQ(j["cycles"].size(), 1u);
  EXPECT_LT(j["cycles"][0]["deviation_from_prediction_rms"].get<double>(),
            0.03 * j["final_value"].get<double>());
  EXPECT_TRUE(j["predicted"].contains("overshoot_percent"));
}

TEST(CliTuningTest, ARepeatingOnlineRunIsStoppedAfterItsCyclesWithEachListed) {
  const auto r = RunDcservo("test speed --online --cycles 3 --json");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  ASSERT_GE(j["cycles"].size(), 3u);
  EXPECT_EQ(j["cycles"][2]["cycle"], 3);
}

TEST(CliTuningTest, FailuresExitNonZeroWithTheirTextsAndWriteNothing) {
  testing_support::TempDir dir;
  const std::string png = dir.File("plot.png");
  for (testing_support::CliCase c : std::vector<testing_support::CliCase>{
           {"test speed --fault enable_off", 1, "Drive / Motor ENABLE input is in DISABLED state."},
           {"test speed --set TestLimitCurrent=9 --set TestProtectionCurrent=8", 1,
            "Over current protection must be greater than Drive current limit."},
           {"test position --set TaPP=32", 1,
            "Distances between consecutive points on X axis must be greater than 0 and below "
            "32768."},
           {"test speed --fault no_such_fault", 2, "no_such_fault"},
           {"test speed --cycles 0", 2, "--cycles"},
       }) {
    c.args += " --png " + png;
    testing_support::ExpectRun(c, {png});
  }
}

TEST(CliTuningTest, TheJsonReportNamesTheSegmentThatEndedTheRun) {
  const auto r = RunDcservo("test position --set TaNP=32 --json");
  EXPECT_EQ(r.exit_code, 1);
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["result"], "failed");
  EXPECT_EQ(j["segment"], 3);
}

TEST(CliTuningTest, APassedRunSavesItsPlotAndTheTunedSetup) {
  testing_support::TempDir dir;
  const auto r = RunDcservo("test position --tune --svg " + dir.File("p.svg") + " --csv " +
                            dir.File("p.csv") + " --out " + dir.File("tuned.json"));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(testing_support::ReadFile(dir.File("p.svg")), HasSubstr("<svg"));
  EXPECT_THAT(testing_support::ReadFile(dir.File("p.csv")), HasSubstr("Predicted Load_Position"));
  EXPECT_THAT(testing_support::ReadFile(dir.File("tuned.json")), HasSubstr("Kp_P_scl"));
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

TEST(CliTuningTest, ScreenshotsOfBothTestsAfterARunAndOfTheScopeDuringOneFitTheScreen) {
  testing_support::TempDir dir;
  const char* runs[] = {"test speed --tune", "test position --tune",
                        "test speed --online --cycles 2"};
  int n = 0;
  for (const char* run : runs) {
    const std::string png = dir.File("shot" + std::to_string(n++) + ".png");
    const auto r = RunDcservo(std::string(run) + " --screenshot " + png, "QT_QPA_PLATFORM=offscreen");
    ASSERT_EQ(r.exit_code, 0) << run << "\n" << r.err;
    const auto [w, h] = PngSize(testing_support::ReadFile(png));
    EXPECT_GT(w, 600) << run;
    EXPECT_LE(w, 1366) << run;
    EXPECT_LE(h, 768) << run;
  }
}

}  // namespace
