// A compliant coupling on the simulated drive: what `test speed --json` shows of it, and the
// notch that `tune speed --notch --apply-notch` places.
//
// Conditions: the speed test on the bundled drive at its raw band (PB_S 100 rad/s, no low pass
// on the speed feedback) with a load as heavy as the motor (Jload_over_J 1). The test's log
// holds a point a millisecond, so an 800 Hz coupling shows folded at 200 Hz and is not named.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/app/cli_runner.h"

namespace {

using nlohmann::json;
using testing_support::RunDcservo;
using testing_support::ShellQuote;

const std::string kInteracting = " --set Jload_over_J=1";

json SpeedTest(const std::string& setup, const std::string& args) {
  const auto r = RunDcservo("test speed " + ShellQuote(setup) + " --json" + args);
  EXPECT_NE(r.exit_code, 2) << r.err;
  return json::parse(r.out);
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
                                    std::pair{bundled, kInteracting + " --fault resonance=800"
                                                       " --fault resonance_damping=0.01"}}) {
    const json run = SpeedTest(setup, args);
    EXPECT_TRUE(run.at("resonance").is_null()) << setup << args << ": " << run["resonance"].dump();
    // 256 points of a log at 1 kHz.
    EXPECT_DOUBLE_EQ(run.at("current_spectrum").at("resolution_hz").get<double>(), 3.90625);
  }
}

// The notch's effect on the ringing is held where the filters place a notch from a speed
// test's report (test_cli_notch.cpp) and where commissioning places one.
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
