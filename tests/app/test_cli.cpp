#include <gtest/gtest.h>

#include "tests/app/cli_runner.h"

using namespace testing_support;

namespace {

std::string Exact17(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

TEST(CommandLine, EachCommandPrintsExactlyWhatItsPipelineGives) {
  struct Case {
    std::string args, out;
  };
  const Case cases[] = {
      {"compute --print PWM_freq,ts_s,IsClosedCurrent",
       "PWM_freq=20000\nTs_S=0.00050000000000000001\nIsClosedCurrent=1\n"},
      {"chip --set PWM_freq=25000 --print PWMPER,Ts_S", "PWMPER=800\nTs_S=0.00050000000000000001\n"},
      {"sync --set PWM_freq=25kHz --print PWMPER,Ts_S", "PWMPER=800\nTs_S=0.00040000000000000002\n"},
      // Assignments run in the order given.
      {"chip --set ERR_position=0.5rot --set-internal ERR_position=100 --print ERR_position "
       "--internal",
       "ERR_position=100\n"},
      {"chip --option DisableBrake=1 --print DisableBrake", "DisableBrake=1\n"},
      // The gain shown is the one that the stored mantissa gives.
      {"sync --set Kp_C_scl=0.75 --print KPI,SFTKPI,Kp_C_scl",
       "KPI=24575\nSFTKPI=0\nKp_C_scl=" + Exact17(24575.0 / 32767.0) + "\n"},
      {"scale RAD/S ASPD", "6.2831853071795862 0\n"},
      {"scale rad/s ASPD --set-internal SLPER=20", "3.1415926535897931 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto r = RunDcservo(c.args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
  // 0.5 rot is 1000 encoder counts on the bundled drive.
  const auto later_base = RunDcservo(
      "chip --set-internal ERR_position=100 --set ERR_position=0.5rot --print ERR_position --internal");
  double counts = 0;
  ASSERT_EQ(std::sscanf(later_base.out.c_str(), "ERR_position=%lf", &counts), 1) << later_base.out;
  EXPECT_NEAR(counts, 1000, 1e-9);
  double factor = 0, offset = 0;
  ASSERT_EQ(std::sscanf(RunDcservo("scale °C TEMPS").out.c_str(), "%lf %lf", &factor, &offset), 2);
  EXPECT_LT(offset, 0);
}

TEST(CommandLine, BadInputExitsWith2AndWritesNothing) {
  TempDir dir;
  const std::string out = dir.File("out.json");
  const std::string bad_file = dir.File("bad.json");
  WriteFile(bad_file, "{\"format\": \"dcservo-setup\",");
  const CliCase cases[] = {
      {"compute --set NoSuch=1", 2, "unknown parameter \"NoSuch\""},
      {"compute --print NoSuch", 2, "unknown name \"NoSuch\""},
      {"sync --set Kp_C_scl=abc", 2, "is not a number"},
      {"sync --set Kp_C_scl=nan", 2, "not a finite number"},
      {"sync --set SLPER=70000", 2, "outside its range"},
      {"sync --set Ts_S=3rpm", 2, "not a unit of this quantity; its units: \"s\", \"ms\""},
      {"sync --set Kp_C_scl", 2, "is not NAME=VALUE"},
      // A setup file is UTF-8 JSON: such an option could not be saved.
      {"sync --option " + ShellQuote("Note=\xbc"), 2, "not UTF-8"},
      {"sync --option " + ShellQuote("\xc0\xafNote=1"), 2, "not UTF-8"},  // overlong
      {"compute " + ShellQuote(bad_file), 2, "bad.json: line 1"},
      {"compute /nonexistent.json", 2, "/nonexistent.json"},
      {"frobnicate", 2, ""},
  };
  for (CliCase c : cases) {
    c.args += " --out " + ShellQuote(out);
    EXPECT_EQ(ExpectRun(c, {out}).out, "") << c.args;
  }
  // A factor asked for a unit of another kind than the quantity's has no meaning.
  ExpectRun({"scale rpm Imax_Prot", 2, "\"rpm\" is a unit of rotary speed, not of \"Imax_Prot\""});
}

TEST(CommandLine, OutSavesTheResultAndTheBundledDriveIsNeverWritten) {
  TempDir dir;
  const std::string out = dir.File("drive.json");
  const std::string before = ReadFile(BundledSetupPath());
  const auto r = RunDcservo("sync --set PWM_freq=25000 --out " + ShellQuote(out));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto again = RunDcservo("compute " + ShellQuote(out) + " --print PWMPER,Ts_C");
  EXPECT_EQ(again.out, "PWMPER=800\nTs_C=4.0000000000000003e-05\n");

  const auto refused = RunDcservo("sync --set PWM_freq=25000 --out " + ShellQuote(BundledSetupPath()));
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_EQ(ReadFile(BundledSetupPath()), before);
}

// A pass band is an angular frequency: rad/s as a speed is, but never rpm.
TEST(CommandLine, APassBandTakesNoShaftSpeedUnit) {
  ExpectRuns({{"tune speed --set PB_S=150rpm", 2,
               "PB_S: \"rpm\" is not a unit of this quantity; its units: \"rad/s\" (\"rpm\" is a "
               "unit of rotary speed, and PB_S is a quantity of angular frequency)"},
              {"tune current --set PB_C=1rot/s", 2, "\"rot/s\" is not a unit of this quantity"},
              {"tune speed --set PB_S=150rad/s", 0, "", "PB_S = 150 rad/s"},
              {"scale rpm PB_P", 2, "\"rpm\" is a unit of rotary speed, not of \"PB_P\""},
              {"scale rad/s PB_P", 0, ""},
              {"show PB_S", 0, "", "PB_S value=100 internal=100 min=10 max=2000 unit=\"rad/s\""}});
  // A setup written before pass bands had a kind loads as it did, and compute gives it one.
  TempDir dir;
  const std::string old = dir.File("old.json"), computed = dir.File("computed.json");
  std::string text = ReadFile(BundledSetupPath());
  for (std::size_t at; (at = text.find("\"kind\": \"angular frequency\",\n")) != std::string::npos;)
    text.erase(at, text.find('\n', at) + 1 - at);
  WriteFile(old, text);
  ExpectRuns({{"tune speed " + ShellQuote(old) + " --set PB_S=150rpm", 0, ""},
              {"compute " + ShellQuote(old) + " --out " + ShellQuote(computed), 0, ""},
              {"tune speed " + ShellQuote(computed) + " --set PB_S=150rpm", 2, "angular frequency"}});
}

TEST(CommandLine, EveryCommandHasHelpAndTheProgramItsVersion) {
  for (const char* command : {"", "compute", "chip", "sync", "scale", "show", "units"})
    ExpectRun({std::string(command) + " --help", 0, "", "Usage"});
  EXPECT_EQ(ExpectRun({"--version", 0, ""}).out.rfind("dcservo ", 0), 0u);
  ExpectRun({"compute", 1, "cannot load the plug-in"}, {},
                             "DCSERVO_PLUGIN=/nonexistent/libdcservo_plugin.so");
}

// The analogue-input registers hold the active mode's range only. A sync in position mode
// leaves the speed and current pairs as stored, so that switching to speed mode afterwards
// puts +-3000 rpm on the input, not the position range read as a speed.
TEST(CommandLine, EachModesReferencePairSurvivesASyncInAnotherMode) {
  TempDir dir;
  const std::string synced = dir.File("synced.json");
  const auto sync = RunDcservo("sync --out " + ShellQuote(synced) + " --print SPD_min,SPD_max,CRT_min,CRT_max");
  ASSERT_EQ(sync.exit_code, 0) << sync.err;
  const auto bundled = RunDcservo("show SPD_min SPD_max CRT_min CRT_max");
  const auto after = RunDcservo("show SPD_min SPD_max CRT_min CRT_max -s " + ShellQuote(synced));
  EXPECT_EQ(after.out, bundled.out);
  const auto speed = RunDcservo("chip " + ShellQuote(synced) +
                                " --set ControlMode=speed --print AD5OFF,CADIN,SFTADIN --internal");
  EXPECT_EQ(speed.exit_code, 0) << speed.err;
  EXPECT_EQ(speed.out, "AD5OFF=-50\nCADIN=50\nSFTADIN=0\n");
}

}  // namespace
