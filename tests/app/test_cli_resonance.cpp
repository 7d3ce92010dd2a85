// A compliant coupling on the simulated drive: what `test speed --json` names of it, and the
// notch that `tune speed --notch --apply-notch` places for it.
//
// Conditions: the speed test on the bundled drive at its raw band (PB_S 100 rad/s, no low pass
// on the speed feedback) with a load as heavy as the motor (Jload_over_J 1). With the 500-line
// encoder the loop hunts between counts; a coupling shows where the loop drives it hard enough
// to take that hunting to itself: the cases below. Elsewhere (150 and 300 Hz, or a damping of
// 0.1) the run's logs do not name it, and nothing is reported.

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "tests/app/cli_runner.h"

namespace {

using nlohmann::json;
using testing_support::RunDcservo;
using testing_support::ShellQuote;

const std::string kInteracting = " --set Jload_over_J=1";

std::string Coupling(double hz, double damping) {
  return " --fault resonance=" + std::to_string(hz) +
         " --fault resonance_damping=" + std::to_string(damping);
}

json SpeedTest(const std::string& setup, const std::string& args) {
  const auto r = RunDcservo("test speed " + ShellQuote(setup) + " --json" + args);
  EXPECT_NE(r.exit_code, 2) << r.err;
  return json::parse(r.out);
}

// RMS current reference at the bin nearest `hz`.
double AmplitudeAt(const json& run, double hz) {
  const json& s = run.at("current_spectrum");
  return s.at("amplitude_A").at(std::lround(hz / s.at("resolution_hz").get<double>()));
}

TEST(CliResonance, NamedWithinFivePercentAndNeverOnTheRigidDrive) {
  const std::string bundled = testing_support::BundledSetupPath();
  struct Case {
    double hz, damping;
  };
  for (const Case c : {Case{500, 0.01}, Case{650, 0.03}, Case{800, 0.01}}) {
    const json run = SpeedTest(bundled, kInteracting + Coupling(c.hz, c.damping));
    ASSERT_TRUE(run.at("resonance").is_object()) << c.hz << " Hz, damping " << c.damping;
    EXPECT_NEAR(run["resonance"]["frequency_hz"].get<double>(), c.hz, 0.05 * c.hz);
    EXPECT_GE(run["resonance"]["peak_db"].get<double>(), 22.0);
  }
  // The rigid shaft's hunting stands out too, but names no resonance; the spectrum is there.
  // Behind the tuner's low pass on the speed feedback it hunts 40 dB over the floor.
  testing_support::TempDir dir;
  const std::string proposed = dir.File("proposed.json");
  ASSERT_EQ(RunDcservo("tune speed " + ShellQuote(bundled) + " --apply-proposal --out " +
                       ShellQuote(proposed))
                .exit_code,
            0);
  for (const auto& [setup, args] : {std::pair{bundled, std::string()},
                                    std::pair{bundled, kInteracting},
                                    std::pair{proposed, std::string()}}) {
    const json run = SpeedTest(setup, args);
    EXPECT_TRUE(run.at("resonance").is_null()) << setup << args << ": " << run["resonance"].dump();
    EXPECT_DOUBLE_EQ(run.at("current_spectrum").at("resolution_hz").get<double>(), 7.8125);
  }
}

TEST(CliResonance, TheAppliedNotchCutsTheRippleAtTheResonanceTenTimes) {
  testing_support::TempDir dir;
  const std::string notched = dir.File("notched.json");
  const std::string bundled = testing_support::BundledSetupPath();
  const auto tune = RunDcservo("tune speed " + ShellQuote(bundled) + kInteracting +
                               " --notch 800 --apply-notch --json --out " + ShellQuote(notched));
  ASSERT_EQ(tune.exit_code, 0) << tune.err;
  const json proposal = json::parse(tune.out).at("notch");
  EXPECT_EQ(proposal.at("location"), "Speed Controller Output");
  EXPECT_TRUE(proposal.at("margins_kept").get<bool>());

  const json before = SpeedTest(bundled, kInteracting + Coupling(800, 0.01));
  const json after = SpeedTest(notched, kInteracting + Coupling(800, 0.01));
  EXPECT_TRUE(after.at("resonance").is_null());
  EXPECT_LT(10.0 * AmplitudeAt(after, 800.0), AmplitudeAt(before, 800.0));
  EXPECT_EQ(after.at("verdict"), "succeeded");

  // No notch at or above the loop's Nyquist frequency, and none for another loop.
  EXPECT_EQ(RunDcservo("tune speed " + ShellQuote(bundled) + " --notch 1000").exit_code, 2);
  EXPECT_EQ(RunDcservo("tune current " + ShellQuote(bundled) + " --notch 300").exit_code, 2);
}

}  // namespace
