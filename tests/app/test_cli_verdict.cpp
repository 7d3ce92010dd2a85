// The verdict of a tuning run against the simulated drive's truth: loops that the drive runs
// unstable or near it, loads beyond the motor's current and runs held at the current limit
// fail, each naming its cause and the command that mends it; a sound loop passes.

#include <gtest/gtest.h>

#include "tests/app/cli_runner.h"

using namespace testing_support;

namespace {

const std::string kRingingCoupling =
    " --set Jload_over_J=1 --set TPS=0.35 --set TNS=0.35 --fault resonance_damping=0.01";

TEST(TuningVerdict, EachFaultFailsWithItsCauseAndFix) {
  ExpectRuns({
      // The bundled drive's own speed loop: its speed counts ripple the current by 0.98 A.
      {"test speed", 1, "current ripple at constant speed (peak) 0.98 A",
       ""},
      {"test speed", 1, "dcservo tune speed --apply-proposal"},
      // A coupling that the loop drives unstable (|z| 1.0024) or to 1.7 dB of gain margin.
      {"test speed --fault resonance=600" + kRingingCoupling, 1,
       "resonance at 603.1 Hz loop gain -6.1 dB"},
      {"test speed --fault resonance=700" + kRingingCoupling, 1, "--notch 700.7 --apply-notch"},
      // Gains that tune refuses: the test refuses them too, with the model's margins.
      {"test speed --set PB_S=1000 --tune", 1, "phase margin -9.4 deg, gain margin -1.7 dB, "
                                               "unstable (|z| = 1.063)"},
      {"test speed --set PB_S=600 --tune", 1, "phase margin 22.1 deg"},
      // The position loop over a speed loop tuned for a fifth of the inertia.
      {"test position --set Jt=2.25e-4 --tune", 1,
       "the speed loop under it (54.5 rad/s) is slower than the position loop (63.8 rad/s)"},
      {"tune position --set Jt=2.25e-4", 1, "is slower than the position loop"},
      // Loads beyond the motor: 167 % of In continuously, 140 % held at speed.
      {"test speed --fault friction=0.3", 1, "RMS current over the run 4.6 A (153 % of In)"},
      {"test speed --fault viscous=2e-3", 1, "current held at constant speed 4.19 A"},
      // Held at its limit for 0.54 s of 1.2 s.
      {"test speed --set TestLimitCurrent=0.5", 1, "time at the current limit 543 ms"},
  });
}

TEST(TuningVerdict, ASoundLoopPassesAndItsWarningsAreOnTheTerminal) {
  TempDir dir;
  const std::string tuned = dir.File("tuned.json");
  ExpectRun({"tune speed --apply-proposal --out " + ShellQuote(tuned), 0, "",
             "at 0.5 to 2 x Jt: phase margin 24.5 deg (at 0.5 x Jt)"});
  ExpectRun({"test speed " + ShellQuote(tuned), 0, "",
             "warning: with the inertia off by a factor of two the loop loses its margins"});
  ExpectRun({"test position", 0, "", "position test passed"});
}

// The figures set against each other: a prediction aligned with the log, the JSON's
// prediction from the curve that is plotted, a settling band the speed counts resolve, and a
// phase margin told in (-180, 180].
TEST(TuningVerdict, TheFiguresAreTheOnesThatArePlotted) {
  ExpectRun({"test position --json", 0, "", "\"deviation_from_prediction_rms\": 0.000174"});
  ExpectRun({"tune position --json --set BQFilter1=1 --set BQFilterLocation1=speed-feedback "
             "--set BQFilterType1=low-pass-2nd-order --set BQFilterF11=30",
             1, "", "\"phase_margin_deg\": -75.7"});
  TempDir dir;
  const std::string tuned = dir.File("tuned.json");
  ExpectRun({"tune speed --apply-proposal --out " + ShellQuote(tuned), 0, ""});
  const CliResult r = ExpectRun({"test speed --json " + ShellQuote(tuned), 0, "",
                                 "settled within 24 rpm (the response averaged over 4 samples)"});
  EXPECT_EQ(r.out.find("\"settling_time_s\": 0.0,"), std::string::npos) << r.out;
}

}  // namespace
