// What the command line tells its user: failures that must not pass as success (a run that
// reports an error exits 1 and saves nothing), input and file names that it replaces or
// refuses (exit 2), how to find a name, and values as the drive holds them. Whatever it saves
// loads again, even from a hostile setup.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <regex>

#include "tests/app/cli_runner.h"

using namespace testing_support;

namespace {

const char kCurrentTest[] =
    "drive run Current_Controller_Tuning_Test --var In1=4910 --var Imax_Prot_Test=29462";

TEST(CommandLineTruth, FailedWorkExitsWith1AndSavesNothing) {
  TempDir dir;
  const std::string out = dir.File("tuned.json"), csv = dir.File("log.csv");
  ExpectRuns(
      {
          {"tune current --set PB_C=20000 --out " + ShellQuote(out), 1,
           "the loop is unstable: a closed-loop pole lies at |z| = 1.215"},
          {"tune current --set L=1e-5 --set R=5 --out " + ShellQuote(out), 1,
           "Kp_C_scl = -1.02791 is negative"},
          // A 30 Hz low pass on the speed controller's output leaves the loop -13 degrees.
          {"filters --set BQFilter1=1 --set BQFilterF11=30 --out " + ShellQuote(out), 1,
           "unstable with these filters; nothing was saved"},
          {std::string(kCurrentTest) + " --fault short_circuit --log MER --csv " + ShellQuote(csv),
           1, "MER=0x0002: short circuit protection", "MER=2\n"},
          {"drive run Speed_Controller_Tuning_Test --var IlimPS_Test=26189 "
           "--var Imax_Prot_Test=29462 --var a0=200 --var b0=0.1 --var a2=2000 "
           "--fault encoder_swapped",
           1, "control error protection", "MER=8\n"},
      },
      {out, csv});
}

TEST(CommandLineTruth, AnUnstableLoopIsSavedOnlyWhenForced) {
  TempDir dir;
  const std::string out = dir.File("forced.json");
  ExpectRun({"filters --set BQFilter1=1 --set BQFilterF11=30 --force --out " + ShellQuote(out), 0,
             "", "(unstable)"});
  EXPECT_EQ(SavedValue(out, "BQFilterF11"), 30.0);
}

TEST(CommandLineTruth, RefusedInputExitsWith2AndAFileThatCannotBeWritten1) {
  TempDir dir;
  const std::string bad_bytes = dir.File("bad.json"), read_only = dir.File("read-only.json");
  WriteFile(bad_bytes, "\xFF\xFE{}");
  WriteFile(read_only, ReadFile(BundledSetupPath()));
  chmod(read_only.c_str(), 0444);
  ExpectRuns({
      {"drive run VDC_Detection_Test --csv " + ShellQuote(dir.File("x.csv")), 2,
       "--csv needs --log"},
      {"compute --option ControlMode=speed", 2,
       "\"ControlMode\" is a parameter, not an option: --set ControlMode=VALUE"},
      {"compute --option Foo=bar", 2, "unknown option \"Foo\""},
      {"compute --option IsClosedSpeed=2", 2, "\"2\" is not one of its values: \"0\" or \"1\""},
      {"compute --option MotorSpeed=Encoder", 2, "\"\", \"Incremental Encoder\" or \"Tacho\""},
      {"chip --option DisableBrake=yes", 2, "\"0\" or \"1\""},
      {"sync --set ControlMode=fast", 2, "position (0), speed (1), current (2)"},
      {"sync --set Kp_C_sc=1", 2, "did you mean \"Kp_C_scl\""},
      {"compute --print PWM_frq", 2, "did you mean \"PWM_freq\""},
      {"show ImaxPs2", 2, "did you mean \"ImaxPS\""},
      {"comput", 2,
       "unknown command \"comput\" (did you mean \"compute\"?); the commands are: \"edit\""},
      {"drive rn", 2, "did you mean \"run\""},
      {"drive run Current_Test", 2, "its programs are: \"Current_Controller_Tuning_Test\""},
      {"drive read missing.json APOS", 2, "missing.json: no such setup file"},
      {"scale rpmm TestSpeed", 2, "unknown unit \"rpmm\" (did you mean \"rpm\""},
      {"compute " + ShellQuote(dir.File("")), 2, "is a folder"},
      {"params xyzzy", 2, "nothing matches \"xyzzy\""},
      {"motors list xyzzy", 2, "no motor matches \"xyzzy\""},
      {"compute " + ShellQuote(bad_bytes), 2, "\\xFF"},  // raw bytes escaped
      // File names that name nothing, or nothing that can be written.
      {"compute --print ,", 2, "--print: \",\" names nothing"},
      {"compute -s ''", 2, "--setup: an empty file name"},
      {"compute ''", 2, "SETUP: an empty file name"},
      {"compute --out " + ShellQuote(read_only), 1,
       "read-only.json: the file is read-only; nothing was saved"},
  });
  EXPECT_EQ(RunDcservo("compute " + ShellQuote(bad_bytes)).err.find('\xFF'), std::string::npos);
  EXPECT_EQ(ReadFile(read_only), ReadFile(BundledSetupPath()));
}

TEST(CommandLineTruth, ReplacedAndUnscaledValuesAreSaid) {
  ExpectRuns({
      // compute derives the scaled layer and names sync; chip the chip layer and names compute.
      {"compute --set ControlMode=1 --print ControlMode", 0, "ControlMode=1 is now 0 (position)",
       "ControlMode=0\n"},
      {"chip --set-internal KPI=30000 --print KPI", 0, "KPI=30000 is now 19132", "KPI=19132\n"},
      {"compute --set ControlMode=1", 0, "\"dcservo sync\""},
      {"chip --set-internal KPI=30000", 0, "\"dcservo compute\" keeps"},
      {"compute --option MotorSpeed=tacho", 0, "option MotorSpeed=Tacho is now \"\""},
      {"scale rpm TestSpeed", 0, "1 rpm = 0.10471975511965977 rad/s", "1 0\n"},
  });
  // A value that only moves within the drive's resolution is kept, not replaced.
  EXPECT_EQ(RunDcservo("sync --set IlimPS=8").err, "");
}

TEST(CommandLineTruth, NamesAreFoundAndCodedParametersShowTheirs) {
  ExpectRuns({
      {"sync --set ControlMode=speed --set BQFilterType1=notch "
       "--set bqfilterlocation2=Speed_Feedback --print ControlMode,BQFilterType1,BQFilterLocation2",
       0, "", "ControlMode=1\nBQFilterType1=2\nBQFilterLocation2=2\n"},
      {"show ControlMode --set ControlMode=current", 0, "", "value=2 (current)"},
      {"params SensorsConfiguration", 0, "", "motor-tacho-load-encoder (2)"},
      {"drive run --help", 0, "", "Programs:\n  Current_Controller_Tuning_Test"},
      {"params \"fixed-point gain\"", 0, "", "Kp_C_scl"},
      {"params isclosed", 0, "", "IsClosedSpeed"},
      {"params APOS", 0, "", "live drive variable (int32)"},
      // A shell pattern matches whole names in every list, as `motors list 'DC40*'` does.
      {"params 'kp_?_scl'", 0, "", "Kp_S_scl"},
      {"params IlimPS", 0, "", "8 A"},
  });
  const auto read_help = RunDcservo("drive read --help");
  EXPECT_EQ(read_help.exit_code, 0);
  EXPECT_EQ(read_help.out.find("--act"), std::string::npos) << read_help.out;
}

// Values kept in the drive's internal units show at one count of them, in the unit shown as
// well as in the base unit: the maximum speed 42.44 counts of 2 pi rad/s is not
// "2546.479089470326 rpm". The bundled drive's limits come back from converter counts a little
// off; the time ramps in whole slow-loop samples, the speeds in whole counts of 6.28 rad/s, and
// with 2000 counts a turn one count of a position is 0.00314 rad.
TEST(CommandLineTruth, ValuesShowAsTheDriveHoldsThem) {
  const auto shown = RunDcservo("show IlimPS Imax_Prot t_I2t_M Vbrake IPSatS Kp_C_scl TestMaxSpeed "
                                "TaPS SPD_min");
  ASSERT_EQ(shown.exit_code, 0) << shown.err;
  for (const char* part : {"IlimPS value=8 ", "Imax_Prot value=9 ", "t_I2t_M value=10 ",
                           "Vbrake value=54 ", "IPSatS value=90 ", "Kp_C_scl value=0.58388 ",
                           "TestMaxSpeed value=267 internal=42.4413181578388 ",
                           " shown=\"2550 rpm\"", "TaPS value=0.1 internal=200 ",
                           "SPD_min value=-314 internal=-50 "})
    EXPECT_NE(shown.out.find(part), std::string::npos) << part << " in\n" << shown.out;
  const auto turn = ExpectRun({"show ERR_position --set ERR_position=1rot", 0, "",
                               "ERR_position value=6.283 internal=2000 "});
  EXPECT_NE(turn.out.find(" unit=\"rad\" shown=\"1 rot\""), std::string::npos) << turn.out;

  TempDir dir;
  const std::string saved = dir.File("drive.json");
  ASSERT_EQ(RunDcservo("sync --set IlimPS=8.5A --out " + ShellQuote(saved)).exit_code, 0);
  EXPECT_EQ(RunDcservo("show -s " + ShellQuote(saved) + " IlimPS").out.rfind("IlimPS value=8.5 ", 0),
            0u);
  // --print stays exact for scripts.
  const auto printed = RunDcservo("compute " + ShellQuote(saved) + " --print IlimPS");
  EXPECT_NE(printed.out, "IlimPS=8.5\n");
  EXPECT_EQ(printed.out.rfind("IlimPS=8.50", 0), 0u) << printed.out;
  // A measured supply carries one level of its converter (60 V over 1024 levels), not the
  // 16 bits its reading is left-aligned in, nor a double's digits.
  EXPECT_EQ(RunDcservo("test vdc --fault vdc=30").out, "vdc test passed\nVdc=30.03 V\n");
}

// The bundled drive with one parameter's entry changed: `replace` stands for the text from
// its name up to its value and range, so an entry without "min" and "max" has no bounds.
std::string BundledWith(const std::string& name, const std::string& replace) {
  const std::regex entry("\"name\": \"" + name +
                         "\",[^}]*?\"value\": [-0-9.e+]+(,\\s*\"min\": [-0-9.e+]+)?"
                         "(,\\s*\"max\": [-0-9.e+]+)?");
  return std::regex_replace(ReadFile(BundledSetupPath()), entry, replace,
                            std::regex_constants::format_first_only);
}

std::map<std::string, std::string> HostileSetups() {
  return {
      {"bundled", ReadFile(BundledSetupPath())},
      {"no Motor_transmission",
       BundledWith("Motor_transmission", R"("name": "Motor_transmission_old", "value": 1)")},
      {"no R", BundledWith("R", R"("name": "R_old", "unit": "ohm", "value": 1)")},
      {"DSP_freq 0", BundledWith("DSP_freq", R"("name": "DSP_freq", "unit": "Hz", "value": 0)")},
      {"PWM_freq 0", BundledWith("PWM_freq", R"("name": "PWM_freq", "unit": "Hz", "value": 0)")},
      {"Vdc renamed", BundledWith("Vdc", R"("name": "Vdc_renamed", "unit": "V", "value": 48)")},
      {"Vdc internal",
       BundledWith("Vdc", R"("name": "Vdc", "unit": "V", "storage": "internal", "value": 48)")},
  };
}

const char* const kSavingCommands[] = {"compute", "chip",          "sync",
                                       "tune current", "tune speed", "tune position",
                                       "filters"};

// Either the run succeeds and its file loads again, or it fails and there is no file; a setup
// that reports errors makes the run exit with their code and say so.
TEST(CommandLineFiles, EverySavedFileLoadsAgainAndAFailedRunSavesNothing) {
  TempDir dir;
  const std::string in = dir.File("in.json"), out = dir.File("out.json");
  // (setup, command): the exit code and the message of a run that must fail.
  const std::map<std::pair<std::string, std::string>, std::pair<int, std::string>> failing = {
      {{"no Motor_transmission", "compute"}, {1, "23 errors were reported above; nothing was saved"}},
      {{"DSP_freq 0", "compute"}, {1, "errors were reported above; nothing was saved"}},
      {{"Vdc renamed", "compute"}, {1, "parameter \"Vdc\" is not in the setup"}},
      {{"Vdc internal", "compute"},
       {2, ": /parameters/16/storage: \"Vdc\" is read by the scales, so \"storage\" must be "
           "\"base\""}},
      {{"no R", "tune current"},
       {1, "the current controller was not tuned: parameter \"R\" is not in the setup"}},
      // The pipelines name each step they could not do, and why.
      {{"Vdc renamed", "sync"}, {1, "not derived: Limit_Speed (missing), TestMaxSpeed (missing)"}},
      {{"DSP_freq 0", "sync"}, {1, "Ts_S (refused)"}},
  };
  for (const auto& [what, text] : HostileSetups()) {
    WriteFile(in, text);
    for (const std::string command : kSavingCommands) {
      SCOPED_TRACE(what + ", " + command);
      std::remove(out.c_str());
      const auto run = RunDcservo(command + " -s " + ShellQuote(in) + " --out " + ShellQuote(out));
      if (const auto f = failing.find({what, command}); f != failing.end()) {
        EXPECT_EQ(run.exit_code, f->second.first);
        EXPECT_NE(run.err.find(f->second.second), std::string::npos) << run.err;
      }
      if (run.exit_code != 0) {
        EXPECT_FALSE(std::filesystem::exists(out)) << run.err;
        EXPECT_TRUE(run.err.empty() || run.err.find("dcservo: ") == 0) << run.err;
        continue;
      }
      EXPECT_EQ(run.err.find("error"), std::string::npos) << run.err;
      const auto reload = RunDcservo("show -s " + ShellQuote(out) + " PWMPER");
      EXPECT_EQ(reload.exit_code, 0) << reload.err;
    }
  }
  WriteFile(in, HostileSetups().at("DSP_freq 0"));
  const std::string csv = dir.File("out.csv");
  ExpectRun({"drive run VDC_Detection_Test --log MER --csv " + ShellQuote(csv) + " -s " +
                 ShellQuote(in),
             1, "errors were reported above; the drive was not started"},
            {csv});
}

// A number that means "never" or nothing is refused the same way by every command that
// runs the drive for a time.
TEST(CommandLineTruth, RunTimesHaveOneBoundAndOneMessage) {
  const std::string bound = "--until needs a time above 0 and at most 3600 s, not ";
  for (const char* command : {"drive run VDC_Detection_Test", "test encoder", "test analogue"}) {
    for (const std::string value : {"1e308", "nan", "0x10", "0"})
      ExpectRun({command + (" --until " + value), 2, bound + "\"" + value + "\""});
  }
  // A time unit is taken; the shaft was not turned, so the test fails, but it ran.
  ExpectRun({"test encoder --until 300ms", 1, ""});
}

// One rule for every option that names a file to write (docs/files.md).
TEST(CommandLineTruth, OutputPathsFollowOneRule) {
  TempDir dir;
  const std::string text = dir.File("x.txt"), bode = dir.File("B.SVG");
  for (const std::string option :
       {"test current --png", "test current --svg", "test current --csv", "test vdc --out",
        "test speed --png", "filters --bode", "compute --out", "tune speed --out"})
    ExpectRun({option + " ''", 2, option.substr(option.rfind(' ') + 1) + ": an empty file name"});
  ExpectRuns(
      {
          {"test current --png " + ShellQuote(text), 2, "x.txt\": the name must end in .png"},
          {"test position --screenshot " + ShellQuote(text), 2, "x.txt\": the name must end in .png"},
          {"filters --bode " + ShellQuote(text), 2, "the name must end in .svg, .png or .csv"},
      },
      {text});
  ExpectRun({"filters --bode " + ShellQuote(bode), 0, ""});
  EXPECT_EQ(ReadFile(bode).rfind("<svg", 0), 0u);
}

// A pipe with no writer would make the reader wait for ever.
TEST(CommandLineTruth, OnlyRegularFilesAreReadAndAnythingElseIsRefusedAtOnce) {
  TempDir dir;
  const std::string fifo = dir.File("pipe"), earlier = dir.File("earlier");
  std::filesystem::create_directory(earlier);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((earlier + "/report.json").c_str(), 0600), 0);
  ExpectRuns({
      {"compute " + ShellQuote(fifo), 2, "pipe: is not a regular file"},
      {"edit --script " + ShellQuote(fifo), 2, "pipe: is not a regular file"},
      {"commission --out " + ShellQuote(dir.File("out")) + " --compare " + ShellQuote(earlier), 2,
       "report.json: is not a regular file"},
  });
}

// What would not load again is not saved.
TEST(CommandLineTruth, NothingIsSavedThatWouldNotLoadAgain) {
  TempDir dir;
  const std::string out = dir.File("out.json");
  ExpectRun({"compute --set Motor_transmission=-1 --out " + ShellQuote(out), 1,
             "the setup would not load again ("},
            {out});
  for (const char* value : {"0", "-0", "4.9e-324", "-32769", "1e300"}) {
    SCOPED_TRACE(value);
    std::remove(out.c_str());
    const auto run = RunDcservo(std::string("compute --set Motor_transmission=") + value +
                                " --out " + ShellQuote(out));
    if (run.exit_code == 0) {
      EXPECT_EQ(RunDcservo("compute " + ShellQuote(out)).exit_code, 0) << "saved, but refused";
    } else {
      EXPECT_FALSE(std::filesystem::exists(out)) << run.err;
    }
  }
}

// A verdict is told after everything it stands for is written.
TEST(CommandLineTruth, ARunThatMeasuredOrWroteNothingIsNoSuccess) {
  TempDir dir;
  const std::string csv = dir.File("run.csv"), lost = dir.File("none/run.png");
  const std::string script = dir.File("ok.json");
  WriteFile(script, R"([{"do": "ok"}, {"do": "wait", "ms": 1}])");
  ExpectRuns(
      {
          {"test current --act stop=1@0.0001", 1, "nothing was measured"},
          {"test inertia --act stop=1@0.01", 1, "nothing was measured"},
          {"test speed --cycles 1000", 2, "--cycles 1000: a cycle of this profile takes"},
          // One file that cannot be written: the other is not written either.
          {"test current --csv " + ShellQuote(csv) + " --png " + ShellQuote(lost) + " --json", 1,
           "none/run.png: cannot create a file in its folder", "\"verdict\": \"failed\""},
          {"edit --script " + ShellQuote(script) + " --out " + ShellQuote(lost + ".json"), 1,
           "cannot create a file in its folder", "\"ok\": false"},
      },
      {csv});
  const auto stopped = RunDcservo("test current --act stop=1@0.0001");
  EXPECT_EQ(stopped.out.find("test passed"), std::string::npos) << stopped.out;
  const auto notes = RunDcservo("edit --script " + ShellQuote(script) + " --out " +
                                ShellQuote(dir.File("saved.json")));
  EXPECT_EQ(notes.exit_code, 0) << notes.err;
  EXPECT_NE(notes.out.find("step 2 (wait): not played"), std::string::npos) << notes.out;
}

// Values no drive has, typed or in a setup without ranges: every run ends with an answer,
// and (in the sanitizer build) without a double made into an integer that cannot hold it.
TEST(CommandLineTruth, ExtremeValuesEndInAnAnswer) {
  TempDir dir;
  const std::pair<const char*, const char*> setups[] = {
      {"Jt", R"("name": "Jt", "unit": "kgm^2", "value": 5e-324)"},
      {"ImaxPS", R"("name": "ImaxPS", "unit": "A", "value": 5e-324)"},
      {"isOverCurrent", R"("name": "isOverCurrent", "value": 1e300)"},
  };
  std::vector<std::string> runs = {"test speed --set Motor_transmission=0",
                                   "test position --set Motor_transmission=0",
                                   "commission --set Motor_transmission=0 --out " +
                                       ShellQuote(dir.File("transmission"))};
  for (const auto& [name, entry] : setups) {
    const std::string setup = dir.File(std::string(name) + ".json");
    WriteFile(setup, BundledWith(name, entry));
    runs.push_back("chip " + ShellQuote(setup));
    runs.push_back("commission " + ShellQuote(setup) + " --out " + ShellQuote(dir.File(name)));
  }
  for (const std::string& args : runs) {
    SCOPED_TRACE(args);
    const auto run = RunDcservo(args);
    EXPECT_TRUE(run.exit_code >= 0 && run.exit_code <= 2) << run.exit_code << run.err;
    EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
  }
}

}  // namespace
