// A compliant coupling on the simulated drive: what `test speed --json` shows of it, and the
// notch that `tune speed --notch --apply-notch` places for it.
//
// Conditions: the speed test on the bundled drive at its raw band (PB_S 100 rad/s, no low pass
// on the speed feedback) with a load as heavy as the motor (Jload_over_J 1). The test's log
// holds a point a millisecond, so an 800 Hz coupling shows folded at 200 Hz and is not named.

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

TEST(CliResonance, NoneIsNamedOnTheRigidDriveNorFromALogSlowerThanTheLoop) {
  const std::string bundled = testing_support::BundledSetupPath();
  // The rigid shaft's hunting stands out, but names no resonance; behind the tuner's low pass
  // on the speed feedback it hunts 40 dB over the floor, and that loop is not judged.
  testing_support::TempDir dir;
  const std::string proposed = dir.File("proposed.json");
  ASSERT_EQ(RunDcservo("tune speed " + ShellQuote(bundled) + " --apply-proposal --out " +
                       ShellQuote(proposed))
                .exit_code,
            0);
  for (const auto& [setup, args] : {std::pair{bundled, std::string()},
                                    std::pair{bundled, kInteracting},
                                    std::pair{proposed, std::string()},
                                    std::pair{bundled, kInteracting + Coupling(800, 0.01)}}) {
    const json run = SpeedTest(setup, args);
    EXPECT_TRUE(run.at("resonance").is_null()) << setup << args << ": " << run["resonance"].dump();
    // 256 points of a log at 1 kHz.
    EXPECT_DOUBLE_EQ(run.at("current_spectrum").at("resolution_hz").get<double>(), 3.90625);
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
  // 800 Hz in a log at 1 kHz reads at 200 Hz, where the ringing coupling stands well over a
  // tenth of an ampere.
  EXPECT_GT(AmplitudeAt(before, 200.0), 0.1);
  EXPECT_LT(10.0 * AmplitudeAt(after, 200.0), AmplitudeAt(before, 200.0));
  EXPECT_EQ(after.at("verdict"), "succeeded");

  // No notch at or above the loop's Nyquist frequency, and none for another loop.
  EXPECT_EQ(RunDcservo("tune speed " + ShellQuote(bundled) + " --notch 1000").exit_code, 2);
  EXPECT_EQ(RunDcservo("tune current " + ShellQuote(bundled) + " --notch 300").exit_code, 2);
}

}  // namespace
