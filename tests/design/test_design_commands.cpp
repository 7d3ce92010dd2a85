// The tune and filters commands, through the real program.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "tests/app/cli_runner.h"

namespace {

using nlohmann::json;
using testing_support::RunDcservo;
using testing_support::ShellQuote;

TEST(TuneCommand, CurrentLoopReportsTheStoredGainsAndSavesThem) {
  testing_support::TempDir dir;
  const std::string out = dir.File("tuned.json");
  const auto r = RunDcservo("tune current --set PB_C=2500 --json --out " + ShellQuote(out));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const json report = json::parse(r.out);
  EXPECT_EQ(report["loop"], "current");
  EXPECT_EQ(report["pass_band"]["value_rad_s"], 2500.0);
  // The gains that the chip pairs give back are held by the Tune tests (test_tune.cpp).
  ASSERT_EQ(report["gains"].size(), 2u);
  EXPECT_TRUE(report["stored_loop"]["stable"].get<bool>());

  const auto shown = RunDcservo("show -s " + ShellQuote(out) + " PB_C Kp_C_scl");
  ASSERT_EQ(shown.exit_code, 0) << shown.err;
  // show rounds to the gain's resolution, one count of its mantissa.
  const auto at = shown.out.find("Kp_C_scl value=");
  ASSERT_NE(at, std::string::npos) << shown.out;
  const double stored = report["gains"][0]["stored"].get<double>();
  EXPECT_NEAR(std::stod(shown.out.substr(at + 15)), stored, stored / 16384);
  EXPECT_NE(shown.out.find("PB_C value=2500"), std::string::npos) << shown.out;
}

// The text report, and what `tune` does with the margins: a loop below the failing limits
// saves nothing and exits 1 unless forced; one between the limits is kept with a warning.
TEST(TuneCommand, TextReportMarginsAndUsage) {
  testing_support::TempDir dir;
  const std::string out = dir.File("tuned.json");
  const std::string filter =
      " --set BQFilter1=1 --set BQFilterLocation1=speed-feedback "
      "--set BQFilterType1=low-pass-2nd-order --set BQFilterF11=";
  const struct {
    std::string args;
    int exit_code;
    const char* said;  // in stdout for 0, stderr otherwise
  } cases[] = {
      {"tune current", 0, "Kp_C_scl   0.5839         0.58388        KPI 19132, SFTKPI 0"},
      {"tune position", 0, "warning: the fixed-point encoding stores Ki_P_scl"},
      {"tune current --set PB_C=20000 --force", 0, "not usable: the loop is unstable"},
      {"tune speed --json", 0, "\"phase_margin_deg\""},
      {"tune speed" + filter + "30", 1, "the biquad filters on the loop make it so"},
      {"tune speed --force" + filter + "30", 0, "not usable: the loop is unstable"},
      {"tune speed" + filter + "80", 0, "warning: the phase margin is"},
      {"tune torque", 2, "torque"},
      {"tune", 2, "LOOP"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    std::filesystem::remove(out);
    const auto r = RunDcservo(c.args + " --out " + ShellQuote(out));
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    const std::string& text = c.exit_code == 0 ? r.out : r.err;
    EXPECT_NE(text.find(c.said), std::string::npos) << text;
    EXPECT_EQ(std::filesystem::exists(out), c.exit_code == 0);
  }
}

// Figures at the resolution they have: a gain and its pass band at one count of the chip
// pair, the model's figures at four significant digits, a pole list at the step of its
// largest radius (the poles near 0 were written as 2.19295e-13).
TEST(TuneCommand, TheTextReportShowsFiguresAtTheirResolution) {
  const struct {
    const char* args;
    std::vector<const char*> said;
  } cases[] = {
      {"tune current",
       {"Ki_C_scl   0.0417         0.04172        KII 1367",
        "largest pole radius 0.92191, -3 dB at 3729 rad/s",
        "\n    poles 0.08426, 0.86151, 0.92191, 0, 0\n"}},
      {"tune speed --apply-proposal",
       {"PB_S = 85.053 rad/s", "-3 dB at 378.4 rad/s",
        "poles 0.23975, 0.43152, 0.88621 +/- 0.11528j, 0.81667, 0.9705, -0.00106, -0.00039, 0, "
        "0, 0\n"}},
      {"tune position", {"0.98807 +/- 0.00247j"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const auto r = RunDcservo(c.args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const char* said : c.said) EXPECT_NE(r.out.find(said), std::string::npos) << r.out;
    const std::string poles = r.out.substr(r.out.find("poles "));
    EXPECT_EQ(poles.substr(0, poles.find('\n')).find('e', 6), std::string::npos) << poles;
  }
}

TEST(FiltersCommand, PrintsTheSlotsTheDriveReads) {
  const auto r = RunDcservo(
      "filters --set BQFilter1=1 --set BQFilterType1=1 --set BQFilterF11=200 --set BQFilterQ1=0.707"
      " --set BQFilter3=1 --set BQFilterLocation3=0 --set BQFilterType3=0"
      " --set BQFilterF13=100 --json");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const json report = json::parse(r.out);
  EXPECT_EQ(report["counts"], json::parse(R"({"SPDREF_BQ_INI":1,"IQREF_BQ_INI":1,"ASPD_BQ_INI":0})"));
  EXPECT_EQ(report["slots"][0], json::parse(R"({"B0":293622725,"B1":293622725,"B2":0,
                                               "A1":-1560238198,"A2":0,"SF":1})"));
  EXPECT_EQ(report["slots"][1], json::parse(R"({"B0":72426337,"B1":144852674,"B2":72426337,
                                               "A1":-1227211551,"A2":443175075,"SF":2})"));
  EXPECT_EQ(report["slots"][2], json::parse(R"({"B0":0,"B1":0,"B2":0,"A1":0,"A2":0,"SF":0})"));
  ASSERT_EQ(report["filters"].size(), 2u);
  EXPECT_EQ(report["filters"][0]["filter"], 3);
  EXPECT_NEAR(report["filters"][1]["dc_gain"].get<double>(), 1.0, 1e-9);
  EXPECT_NEAR(report["filters"][1]["corner_gain_db"].get<double>(), -3.0, 0.02);
}

TEST(FiltersCommand, RefusedFilterFailsWithItsReason) {
  struct Case {
    std::string args;
    const char* reason;
  };
  // A type code above 9 can only come from a file without its range; the range keeps it off
  // the command line and out of a file that has it.
  testing_support::TempDir dir;
  json drive = json::parse(testing_support::ReadFile(testing_support::BundledSetupPath()));
  for (json& p : drive["parameters"]) {
    if (p["name"] != "BQFilterType2") continue;
    p["value"] = 12;
    p.erase("min");
    p.erase("max");
  }
  const std::string odd_type = dir.File("odd-type.json");
  testing_support::WriteFile(odd_type, drive.dump(2));
  const Case cases[] = {
      {"filters --set BQFilter2=1 --set BQFilterF12=1000", "Nyquist limit of 1000 Hz"},
      {"filters --set BQFilter2=1 --json " + ShellQuote(odd_type), "not a filter type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto r = RunDcservo(c.args);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.out.find(c.reason), std::string::npos) << r.out;
    // As a word: "resonance" is a key of the JSON.
    EXPECT_FALSE(std::regex_search(r.out, std::regex("\\bnan\\b", std::regex::icase))) << r.out;
  }
  const auto text = RunDcservo("filters");
  EXPECT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("no filter is on"), std::string::npos) << text.out;
}

}  // namespace
