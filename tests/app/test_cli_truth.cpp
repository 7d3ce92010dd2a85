// What the command line tells its user: failures that must not pass as success, input
// that the run replaces or refuses, how to find a name, and values as the drive holds them.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/app/cli_runner.h"

using testing_support::ReadFile;
using testing_support::RunDcservo;
using testing_support::ShellQuote;
using testing_support::TempDir;

namespace {

struct Case {
  const char* what;
  std::string args;
  int exit_code;
  const char* out;  // a fragment of stdout; "" for any
  const char* err;  // a fragment of stderr; "" for any
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + ": dcservo " + c.args);
    const auto r = RunDcservo(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
}

const char kCurrentTest[] =
    "drive run Current_Controller_Tuning_Test --var In1=4910 --var Imax_Prot_Test=29462";

TEST(CommandLineTruth, FailedWorkExitsWith1AndSavesNothing) {
  TempDir dir;
  const std::string out = dir.File("tuned.json"), csv = dir.File("log.csv");
  const std::vector<Case> cases = {
      {"unstable loop", "tune current --set PB_C=20000 --out " + ShellQuote(out), 1, "",
       "the loop is unstable (pole radius 1.72"},
      {"negative gain", "tune current --set L=1e-5 --set R=5 --out " + ShellQuote(out), 1, "",
       "Kp_C_scl = -1.02791 is negative"},
      {"shorted motor", std::string(kCurrentTest) + " --fault short_circuit --log MER --csv " +
                            ShellQuote(csv),
       1, "MER=2\n", "MER=0x0002: short circuit protection"},
      {"swapped encoder",
       "drive run Speed_Controller_Tuning_Test --var IlimPS_Test=26189 --var Imax_Prot_Test=29462 "
       "--var a0=200 --var b0=0.1 --var a2=2000 --fault encoder_swapped",
       1,
       "MER=8\n", "control error protection"},
  };
  RunCases(cases);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_FALSE(std::filesystem::exists(csv));

  const auto forced = RunDcservo("tune current --set PB_C=20000 --force --out " + ShellQuote(out));
  EXPECT_EQ(forced.exit_code, 0) << forced.err;
  EXPECT_TRUE(std::filesystem::exists(out));
}

TEST(CommandLineTruth, RefusedInputExitsWith2) {
  TempDir dir;
  const std::string bad_bytes = dir.File("bad.json");
  testing_support::WriteFile(bad_bytes, "\xFF\xFE{}");
  const std::vector<Case> cases = {
      {"csv without log", "drive run VDC_Detection_Test --csv " + ShellQuote(dir.File("x.csv")), 2,
       "", "--csv needs --log"},
      {"parameter as option", "compute --option ControlMode=speed", 2, "",
       "\"ControlMode\" is a parameter, not an option: --set ControlMode=VALUE"},
      {"unknown option", "compute --option Foo=bar", 2, "", "unknown option \"Foo\""},
      {"option value not listed", "compute --option IsClosedSpeed=2", 2, "",
       "\"2\" is not one of its values: \"0\" or \"1\""},
      {"sensor option value", "compute --option MotorSpeed=Encoder", 2, "",
       "\"\", \"Incremental Encoder\" or \"Tacho\""},
      {"flag option of the file", "chip --option DisableBrake=yes", 2, "", "\"0\" or \"1\""},
      {"unknown code name", "sync --set ControlMode=fast", 2, "",
       "position (0), speed (1), current (2)"},
      {"misspelt parameter", "sync --set Kp_C_sc=1", 2, "", "did you mean \"Kp_C_scl\""},
      {"misspelt print name", "compute --print PWM_frq", 2, "", "did you mean \"PWM_freq\""},
      {"misspelt show name", "show ImaxPs2", 2, "", "did you mean \"ImaxPS\""},
      {"unknown command", "comput", 2, "",
       "unknown command \"comput\" (did you mean \"compute\"?); the commands are: \"edit\""},
      {"unknown drive command", "drive rn", 2, "", "did you mean \"run\""},
      {"unknown program", "drive run Current_Test", 2, "",
       "its programs are: \"Current_Controller_Tuning_Test\""},
      {"missing setup of read", "drive read missing.json APOS", 2, "",
       "missing.json: no such setup file"},
      {"misspelt unit", "scale rpmm TestSpeed", 2, "", "unknown unit \"rpmm\" (did you mean \"rpm\""},
      {"unit of another kind", "sync --set Ts_S=3rpm", 2, "", "its units: \"s\", \"ms\""},
      {"folder as setup", "compute " + ShellQuote(dir.File("")), 2, "", "is a folder"},
      {"nothing matches", "params xyzzy", 2, "", "nothing matches \"xyzzy\""},
      {"raw bytes escaped", "compute " + ShellQuote(bad_bytes), 2, "", "\\xFF"},
  };
  RunCases(cases);
  EXPECT_EQ(RunDcservo("compute " + ShellQuote(bad_bytes)).err.find('\xFF'), std::string::npos);
}

TEST(CommandLineTruth, ReplacedAndUnscaledValuesAreSaid) {
  const std::vector<Case> cases = {
      {"compute derives the scaled layer", "compute --set ControlMode=1 --print ControlMode", 0,
       "ControlMode=0\n", "ControlMode=1 is now 0 (position)"},
      {"chip derives the chip layer", "chip --set-internal KPI=30000 --print KPI", 0,
       "KPI=19132\n", "KPI=30000 is now 19132"},
      {"compute names sync", "compute --set ControlMode=1", 0, "", "\"dcservo sync\""},
      {"chip names compute", "chip --set-internal KPI=30000", 0, "", "\"dcservo compute\" keeps"},
      {"options follow the structure", "compute --option MotorSpeed=tacho", 0, "",
       "option MotorSpeed=Tacho is now \"\""},
      {"unit outside the export", "scale rpm TestSpeed", 0, "1 0\n",
       "1 rpm = 0.10471975511965977 rad/s"},
  };
  RunCases(cases);
  // A value that only moves within the drive's resolution is kept, not replaced.
  EXPECT_EQ(RunDcservo("sync --set IlimPS=8").err, "");
}

TEST(CommandLineTruth, CodedParametersTakeAndShowTheirNames) {
  const std::vector<Case> cases = {
      {"names in sync", "sync --set ControlMode=speed --set BQFilterType1=notch "
                        "--set bqfilterlocation2=Speed_Feedback "
                        "--print ControlMode,BQFilterType1,BQFilterLocation2",
       0, "ControlMode=1\nBQFilterType1=2\nBQFilterLocation2=2\n", ""},
      {"show", "show ControlMode --set ControlMode=current", 0, "value=2 (current)", ""},
      {"params lists the codes", "params SensorsConfiguration", 0,
       "motor-tacho-load-encoder (2)", ""},
  };
  RunCases(cases);
}

TEST(CommandLineTruth, HelpAndParamsFindThings) {
  const std::vector<Case> cases = {
      {"programs in help", "drive run --help", 0, "Programs:\n  Current_Controller_Tuning_Test", ""},
      {"params by meaning", "params \"fixed-point gain\"", 0, "Kp_C_scl", ""},
      {"params finds options", "params isclosed", 0, "IsClosedSpeed", ""},
      {"params finds variables", "params APOS", 0, "live drive variable (int32)", ""},
      {"params value and range", "params IlimPS", 0, "8 A", ""},
  };
  RunCases(cases);
  const auto read_help = RunDcservo("drive read --help");
  EXPECT_EQ(read_help.exit_code, 0);
  EXPECT_EQ(read_help.out.find("--act"), std::string::npos) << read_help.out;
}

TEST(CommandLineTruth, ValuesShowAsTheDriveHoldsThem) {
  // The bundled drive's limits come back from converter counts a little off.
  const auto shown = RunDcservo("show IlimPS Imax_Prot t_I2t_M Vbrake IPSatS PB_C Kp_C_scl");
  ASSERT_EQ(shown.exit_code, 0) << shown.err;
  for (const char* part : {"IlimPS value=8 ", "Imax_Prot value=9 ", "t_I2t_M value=10 ",
                           "Vbrake value=54 ", "IPSatS value=90 ", "PB_C value=2000 ",
                           "unit=\"rad/s\"", "Kp_C_scl value=0.58388 "})
    EXPECT_NE(shown.out.find(part), std::string::npos) << part << " in\n" << shown.out;

  TempDir dir;
  const std::string saved = dir.File("drive.json");
  ASSERT_EQ(RunDcservo("sync --set IlimPS=8.5A --out " + ShellQuote(saved)).exit_code, 0);
  EXPECT_EQ(RunDcservo("show -s " + ShellQuote(saved) + " IlimPS").out.rfind("IlimPS value=8.5 ", 0),
            0u);
  // --print stays exact for scripts.
  const auto printed = RunDcservo("compute " + ShellQuote(saved) + " --print IlimPS");
  EXPECT_NE(printed.out, "IlimPS=8.5\n");
  EXPECT_EQ(printed.out.rfind("IlimPS=8.50", 0), 0u) << printed.out;
}

TEST(CommandLineTruth, CsvHeadersNameTheirUnits) {
  const auto r = RunDcservo(std::string(kCurrentTest) +
                            " --fault shaft_blocked --log-points 2 --log ASPD,APOS --csv -");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("time_s,ASPD_rad_per_s,APOS_rad\n"), std::string::npos) << r.out;
}

}  // namespace
