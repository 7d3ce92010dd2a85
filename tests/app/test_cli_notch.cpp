// A compliant coupling on the simulated drive through the program: what `test speed --json`
// shows of it, the notch that `tune speed --notch --apply-notch` places, and
// `dcservo filters --spectrum REPORT [--apply-notch]`: the notch that the filters place for the
// resonance that a speed test's report named, and what they refuse.

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "tests/app/cli_runner.h"
#include "tests/support/test_setups.h"
#include "tests/support/test_tones.h"

namespace {

using nlohmann::json;
using testing_support::ExpectRun;
using testing_support::RunDcservo;
using testing_support::ShellQuote;

// A `test speed --json` report with only what the filters read.
std::string Report(const testing_support::TempDir& dir, const char* name, double period_s,
                   const json& resonance) {
  const dcservo::Spectrum s = testing_support::LoggedSpectrum(period_s, 800, 0.45);
  const std::string path = dir.File(name);
  testing_support::WriteFile(
      path, json{{"current_spectrum", {{"resolution_hz", s.resolution_hz}, {"amplitude_A", s.amplitude}}},
                 {"resonance", resonance}}
                .dump());
  return path;
}

const json kAt800 = {{"frequency_hz", 800.0}, {"peak_db", 43.5}, {"loop_gain_db", 2.0}, {"limits_loop", true}};

TEST(CliNotch, TheFiltersPlaceTheNotchOfAReportAtTheLoopsRateAndRefuseTheRest) {
  testing_support::TempDir dir;
  const std::string at_rate = ShellQuote(Report(dir, "at-rate.json", 0.0005, kAt800));
  const std::string folded = ShellQuote(Report(dir, "folded.json", 0.001, kAt800));
  const std::string unnamed = ShellQuote(Report(dir, "unnamed.json", 0.0005, nullptr));
  const std::string odd = dir.File("odd.json");
  testing_support::WriteFile(odd, R"({"current_spectrum": {"resolution_hz": 7.8125, "amplitude_A": [0, 1, 2, "x"]}})");
  const std::string other = dir.File("other.json");
  testing_support::WriteFile(other, R"({"verdict": "succeeded"})");
  json yes_no = kAt800;
  yes_no["limits_loop"] = "yes";
  const std::string worded = ShellQuote(Report(dir, "worded.json", 0.0005, yes_no));
  const std::string notched = dir.File("notched.json");
  testing_support::ExpectRuns({
      {"filters --spectrum " + worded, 2, "resonance.limits_loop is not true or false"},
      {"filters --spectrum " + folded, 2, "not the speed loop's Nyquist frequency 1000 Hz"},
      {"filters --spectrum " + ShellQuote(odd), 2, "current_spectrum.amplitude_A[3] is not a number"},
      {"filters --spectrum " + ShellQuote(other), 2, "no current_spectrum"},
      {"filters --apply-notch", 2, "--apply-notch places the notch"},
      {"filters --apply-notch --spectrum " + unnamed, 1, "named no resonance"},
      {"filters --set BQFilter1=1 --set BQFilter2=1 --set BQFilter3=1 --apply-notch --spectrum " +
           at_rate + " --out " + ShellQuote(notched),
       1, "no filter is free"},
  }, {notched});
  // Filter 2 is a low pass on the speed feedback: the notch takes filter 1.
  const auto r = ExpectRun({"filters --set BQFilter2=1 --set BQFilterLocation2=2 "
                            "--set BQFilterF12=300 --apply-notch --json "
                            "--spectrum " + at_rate,
                            0, ""});
  const json out = json::parse(r.out);
  EXPECT_EQ(out.at("resonance").at("frequency_hz"), 800.0);
  EXPECT_EQ(out.at("notch").at("filter"), 1);
  EXPECT_EQ(out.at("notch").at("frequency_hz"), 800.0);
  EXPECT_EQ(out.at("notch").at("location"), "Speed Controller Output");
  EXPECT_TRUE(out.at("notch").at("margins_kept").get<bool>());
  // Each designed into a slot of its place.
  EXPECT_EQ(out.at("counts").at("IQREF_BQ_INI"), 1);
  EXPECT_EQ(out.at("counts").at("ASPD_BQ_INI"), 1);
}

// The filters dialog from the command line, on the report's spectrum, run by a script.
TEST(CliNotch, TheFiltersDialogPlacesTheReportsNotchFromAScript) {
  testing_support::TempDir dir;
  const std::string report = Report(dir, "at-rate.json", 0.0005, kAt800);
  const std::string script = dir.File("apply.json"), notched = dir.File("notched.json");
  testing_support::WriteFile(script, R"([{"do": "click", "caption": "Apply Notch"}, {"do": "ok"}])");
  ExpectRun({"edit --dialog filters --spectrum " + ShellQuote(report) + " --script " +
                 ShellQuote(script) + " --out " + ShellQuote(notched),
             0, "saved"});
  ExpectRun({"compute " + ShellQuote(notched) + " --print BQFilter1,BQFilterType1,BQFilterF11", 0,
             "", "BQFilter1=1\nBQFilterType1=2\nBQFilterF11=800"});
}

// The profile is short enough (0.9 s) for the log's 2000 points to be at the loop's rate; the
// coupling is the simulated load's, as heavy as the motor.
const std::string kCoupled = " --set TPS=0.35 --set TNS=0.35 --set Jload_over_J=1"
                             " --fault resonance=800 --fault resonance_damping=0.01";

// RMS current at the bins around 800 Hz.
double RippleAt800(const json& run) {
  const json& s = run.at("current_spectrum");
  const long k = std::lround(800.0 / s.at("resolution_hz").get<double>());
  double most = 0.0;
  for (long i = k - 1; i <= k + 1; ++i) most = std::max(most, s.at("amplitude_A").at(i).get<double>());
  return most;
}

TEST(CliNotch, TheNotchPlacedFromASpeedTestsReportCutsTheRippleAtTheResonanceTenTimes) {
  testing_support::TempDir dir;
  const std::string before = dir.File("before.json"), notched = dir.File("notched.json");
  const auto run = RunDcservo("test speed --json" + kCoupled);
  ASSERT_NE(run.exit_code, 2) << run.err;
  testing_support::WriteFile(before, run.out);
  ASSERT_TRUE(json::parse(run.out).at("resonance").is_object()) << run.out;
  ExpectRun({"filters --set TPS=0.35 --set TNS=0.35 --set Jload_over_J=1 --apply-notch --spectrum " +
                 ShellQuote(before) + " --out " + ShellQuote(notched),
             0, "", "applied: notch at"});
  // The raw band is kept on purpose: the tuner's low pass on the speed feedback would quiet the
  // coupling by itself. The notched run names no resonance; it misses only the ripple of the
  // speed counts, which is the raw band's and no notch's to mend.
  const auto after = RunDcservo("test speed --json " + ShellQuote(notched) + kCoupled);
  ASSERT_NE(after.exit_code, 2) << after.err;
  const json notched_run = json::parse(after.out);
  EXPECT_TRUE(notched_run.at("resonance").is_null()) << notched_run["resonance"];
  for (const json& target : notched_run.at("targets")) {
    EXPECT_EQ(target.at("met").get<bool>(),
              target.at("figure") != "current ripple at constant speed (peak)")
        << target;
  }
  EXPECT_LT(10.0 * RippleAt800(notched_run), RippleAt800(json::parse(run.out)));
}

// Conditions: the speed test on the bundled drive at its raw band (PB_S 100 rad/s, no low pass
// on the speed feedback) with a load as heavy as the motor (Jload_over_J 1). The test's log
// holds a point a millisecond, so an 800 Hz coupling shows folded at 200 Hz and is not named.
const std::string kInteracting = " --set Jload_over_J=1";

// That the rigid drive, with or without the tuner's low pass on the speed feedback, names no
// resonance in a log at the loop's rate is held by ResonanceDetection (tests/drivetests).
TEST(CliResonance, NoneIsNamedFromALogSlowerThanTheLoop) {
  const auto r = RunDcservo("test speed --json" + kInteracting +
                            " --fault resonance=800 --fault resonance_damping=0.01");
  ASSERT_NE(r.exit_code, 2) << r.err;
  const json run = json::parse(r.out);
  EXPECT_TRUE(run.at("resonance").is_null()) << run["resonance"].dump();
  // 256 points of a log at 1 kHz.
  EXPECT_DOUBLE_EQ(run.at("current_spectrum").at("resolution_hz").get<double>(), 3.90625);
}

// The notch's effect on the ringing is held where the filters place a notch from a speed
// test's report (above) and where commissioning places one.
TEST(CliResonance, TuneSpeedPlacesTheNotchAskedForWithinTheLoopsMargins) {
  testing_support::TempDir dir;
  const std::string bundled = testing_support::BundledSetupPath();
  const auto tune = RunDcservo("tune speed " + ShellQuote(bundled) + kInteracting +
                               " --notch 800 --apply-notch --json --out " +
                               ShellQuote(dir.File("notched.json")));
  ASSERT_EQ(tune.exit_code, 0) << tune.err;
  const json proposal = json::parse(tune.out).at("notch");
  EXPECT_EQ(proposal.at("location"), "Speed Controller Output");
  EXPECT_TRUE(proposal.at("margins_kept").get<bool>());
  // No notch at or above the loop's Nyquist frequency, and none for another loop.
  EXPECT_EQ(RunDcservo("tune speed " + ShellQuote(bundled) + " --notch 1000").exit_code, 2);
  EXPECT_EQ(RunDcservo("tune current " + ShellQuote(bundled) + " --notch 300").exit_code, 2);
}

}  // namespace
