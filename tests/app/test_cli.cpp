#include <gtest/gtest.h>

#include "host/zel_setup_file.h"
#include "tests/app/cli_runner.h"

using testing_support::BundledSetupPath;
using testing_support::ReadFile;
using testing_support::RunDcservo;
using testing_support::ShellQuote;
using testing_support::TempDir;

namespace {

TEST(CommandLine, ComputeOnTheBundledDrivePrintsValuesAndOptions) {
  const auto r = RunDcservo("compute --print PWM_freq,ts_s,IsClosedCurrent");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "PWM_freq=20000\nTs_S=0.00050000000000000001\nIsClosedCurrent=1\n");
}

TEST(CommandLine, AssignmentsRunInTheOrderGiven) {
  // 0.5 rot is 1000 encoder counts on the bundled drive.
  const auto later_internal = RunDcservo(
      "chip --set ERR_position=0.5rot --set-internal ERR_position=100 --print ERR_position --internal");
  EXPECT_EQ(later_internal.exit_code, 0) << later_internal.err;
  EXPECT_EQ(later_internal.out, "ERR_position=100\n");
  const auto later_base = RunDcservo(
      "chip --set-internal ERR_position=100 --set ERR_position=0.5rot --print ERR_position --internal");
  double counts = 0;
  ASSERT_EQ(std::sscanf(later_base.out.c_str(), "ERR_position=%lf", &counts), 1) << later_base.out;
  EXPECT_NEAR(counts, 1000, 1e-9);
}

TEST(CommandLine, ChipAndSyncReachThePipelines) {
  const auto chip = RunDcservo("chip --set PWM_freq=25000 --print PWMPER,Ts_S");
  EXPECT_EQ(chip.exit_code, 0) << chip.err;
  EXPECT_EQ(chip.out, "PWMPER=800\nTs_S=0.00050000000000000001\n");
  const auto sync = RunDcservo("sync --set PWM_freq=25kHz --print PWMPER,Ts_S");
  EXPECT_EQ(sync.out, "PWMPER=800\nTs_S=0.00040000000000000002\n");
}

TEST(CommandLine, OptionsAreSetAndPrinted) {
  const auto r = RunDcservo("chip --option DisableBrake=1 --print DisableBrake");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "DisableBrake=1\n");
}

TEST(CommandLine, BadInputExitsWith2AndWritesNothing) {
  TempDir dir;
  const std::string out = dir.File("out.json");
  const std::string bad_file = dir.File("bad.json");
  testing_support::WriteFile(bad_file, "{\"format\": \"dcservo-setup\",");
  struct Case {
    const char* what;
    std::string args;
    const char* message;
  };
  const Case cases[] = {
      {"unknown name", "compute --set NoSuch=1", "unknown parameter \"NoSuch\""},
      {"unknown print name", "compute --print NoSuch", "unknown name \"NoSuch\""},
      {"not a number", "sync --set Kp_C_scl=abc", "is not a number"},
      {"not finite", "sync --set Kp_C_scl=nan", "not a finite number"},
      {"out of range", "sync --set SLPER=70000", "outside its range"},
      {"unit of another kind", "sync --set Ts_S=3rpm", "not a unit of this quantity"},
      {"not an assignment", "sync --set Kp_C_scl", "is not NAME=VALUE"},
      // A setup file is UTF-8 JSON: such an option could not be saved.
      {"option text not UTF-8", "sync --option " + ShellQuote("Note=\xbc"), "not UTF-8"},
      {"overlong option name", "sync --option " + ShellQuote("\xc0\xafNote=1"), "not UTF-8"},
      {"malformed file", "compute " + ShellQuote(bad_file), "bad.json: line 1"},
      {"missing file", "compute /nonexistent.json", "/nonexistent.json"},
      {"unknown command", "frobnicate", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto r = RunDcservo(c.args + " --out " + ShellQuote(out));
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(ReadFile(out).empty());
  }
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

TEST(CommandLine, SaveFailureExitsWith1) {
  const auto r = RunDcservo("compute --out /nonexistent/folder/drive.json");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("/nonexistent/folder/drive.json"), std::string::npos);
}

TEST(CommandLine, ScalePrintsFactorAndOffset) {
  const auto speed = RunDcservo("scale RAD/S ASPD");
  EXPECT_EQ(speed.exit_code, 0) << speed.err;
  EXPECT_EQ(speed.out, "6.2831853071795862 0\n");
  const auto temperature = RunDcservo("scale °C TEMPS");
  double factor = 0, offset = 0;
  ASSERT_EQ(std::sscanf(temperature.out.c_str(), "%lf %lf", &factor, &offset), 2);
  EXPECT_LT(offset, 0);
  const auto slower = RunDcservo("scale rad/s ASPD --set-internal SLPER=20");
  EXPECT_EQ(slower.out, "3.1415926535897931 0\n");
}

TEST(CommandLine, ShowPrintsValueRangeAndUnit) {
  const auto r = RunDcservo("show ERR_position --set ERR_position=1rot");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("ERR_position value=6.2831853071795", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(" internal=2000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" unit=\"rad\" shown=\"1 rot\""), std::string::npos) << r.out;
  EXPECT_EQ(RunDcservo("show NoSuch").exit_code, 2);
}

TEST(CommandLine, EveryCommandHasHelp) {
  for (const char* command : {"", "compute", "chip", "sync", "scale", "show", "units"}) {
    SCOPED_TRACE(command);
    const auto r = RunDcservo(std::string(command) + " --help");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("Usage"), std::string::npos);
  }
}

TEST(CommandLine, VersionNamesTheProgram) {
  const auto r = RunDcservo("--version");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("dcservo ", 0), 0u) << r.out;
}

TEST(CommandLine, MissingPluginExitsWith1) {
  const auto r = RunDcservo("compute", "DCSERVO_PLUGIN=/nonexistent/libdcservo_plugin.so");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("cannot load the plug-in"), std::string::npos) << r.err;
}

}  // namespace
