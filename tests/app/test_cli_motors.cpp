// `dcservo motors` and `dcservo filters --bode` end to end: the real program with the
// catalogue that ships with it and a user database of the test's own.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <map>

#include "host/zel_motor_database.h"
#include "host/zel_setup_file.h"
#include "tests/app/cli_runner.h"

using namespace testing_support;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class MotorsCommand : public ::testing::Test {
 protected:
  // The user's motor database lives in the test's own folder.
  std::string Env() const { return "XDG_DATA_HOME=" + ShellQuote(dir_.path()); }
  CliResult Run(const std::string& args) { return RunDcservo(args, Env()); }
  void PutUserMotor(const std::string& file, const std::string& text) {
    std::filesystem::create_directories(dir_.path() + "/dcservo/motors");
    WriteFile(dir_.path() + "/dcservo/motors/" + file, text);
  }
  TempDir dir_;
};

TEST_F(MotorsCommand, ListShowsTheCatalogueAndTheUserMotorsAndNamesSkippedFiles) {
  PutUserMotor("Mine.json", ZelMotorToText({"Mine", 1, 3, 0.05, 2, 0.001, 2e-5}));
  std::string bad = ZelMotorToText({"Bad", 1, 3, 0.05, 2, 0.001, 2e-5});
  bad.replace(bad.find("\"resistance_ohm\": 2"), 19, "\"resistance_ohm\": 0");
  PutUserMotor("Bad.json", bad);
  auto r = Run("motors list");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("DC16-12V"));
  EXPECT_THAT(r.out, HasSubstr("Mine "));
  EXPECT_THAT(r.out, Not(HasSubstr("Bad ")));
  EXPECT_THAT(r.err, HasSubstr("Bad.json: /resistance_ohm: must be above 0"));

  // A shell pattern, or a text found anywhere in the name, as `params` finds names.
  for (const char* pattern : {"'dc65*'", "65-"}) {
    r = Run(std::string("motors list ") + pattern);
    ASSERT_EQ(r.exit_code, 0) << pattern;
    EXPECT_THAT(r.out, HasSubstr("DC65-48V"));
    EXPECT_THAT(r.out, Not(HasSubstr("DC16-12V")));
  }
}

// Anyone may drop a file into the user's folder: a bad one is named once and costs nothing
// else, not the other motors and not an unrelated edit.
TEST_F(MotorsCommand, AFileThatCannotBeReadIsAWarningOnly) {
  PutUserMotor("Overflow.json", "[1e999]");
  PutUserMotor("Twice.json", R"({"format": "dcservo-motor", "name": "A", "name": "B"})");
  const auto listed = Run("motors list");
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_THAT(listed.out, HasSubstr("DC40-24V"));
  const auto once = listed.err.find("Overflow.json: not JSON");
  ASSERT_NE(once, std::string::npos) << listed.err;
  EXPECT_EQ(listed.err.find("Overflow.json", once + 1), std::string::npos) << listed.err;
  EXPECT_THAT(listed.err, HasSubstr("Twice.json: /name: the key appears twice; skipped"));
  const std::string script = dir_.File("cancel.json");
  WriteFile(script, R"([{"do": "cancel"}])");
  const auto edited = Run("edit --dialog motor --script " + ShellQuote(script));
  EXPECT_EQ(edited.exit_code, 0) << edited.err;
}

TEST_F(MotorsCommand, ShowPrintsTheDataAndRefusesBadNames) {
  auto r = Run("motors show DC40-24V");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Torque constant    K      0.0302 Nm/A"));
  ExpectRuns({{"motors show nothing-here", 2, "no motor"},
                               {"motors show ../DC40-24V", 2, "path separator"},
                               {"motors show \"$(printf 'a\\tb')\"", 2, "control characters"}},
                              {}, Env());
}

TEST_F(MotorsCommand, ApplySavesTheMotorWithItsChipParametersAndRefusesAMotorTheDriveCannotTake) {
  const std::string out = dir_.File("drive.json");
  auto r = Run("motors apply DC40-24V --out " + ShellQuote(out));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_DOUBLE_EQ(SavedValue(out, "R"), 1.1);
  EXPECT_DOUBLE_EQ(SavedValue(out, "In"), 2.6);
  EXPECT_DOUBLE_EQ(LoadSetupFile(out).setup->FindParameter("In")->GetMaxInBaseUnit(), 9.0);
  // The setup as every command takes it: -s, and --set before the motor goes in.
  const std::string again = dir_.File("again.json");
  r = Run("motors apply DC40-24V -s " + ShellQuote(out) + " --set Vdc=36 --out " + ShellQuote(again));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_DOUBLE_EQ(SavedValue(again, "Vdc"), 36.0);

  PutUserMotor("Huge.json", ZelMotorToText({"Huge", 500, 2000, 0.05, 2, 0.001, 2e-5}));
  const std::string refused = dir_.File("refused.json");
  // A motor the drive cannot serve is refused as bad input: one heavier than the setup's
  // total inertia (a peak current the drive cannot give goes the same way, as the motor
  // setup dialog's OK and commission hold). What the setup derives from a motor must also
  // fit its own ranges, or it would not load again: a peak current below the drive's
  // current limit leaves that limit above its maximum.
  ExpectRuns({{"motors apply DC52-48V --out " + ShellQuote(refused), 2,
               "the motor's inertia 6.8e-05 kgm^2 exceeds the total inertia 4.5e-05 kgm^2"},
              {"motors apply DC40-48V --out " + ShellQuote(refused), 2,
               "outside what this one admits: IlimPS 8.00006 A (0.001 to 4.6 A)"},
              {"motors apply Huge --out " + ShellQuote(refused), 2,
               "Peak current 2000 A is outside what this drive takes"}},
             {refused}, Env());
  // Either remedy the message names makes the same motor acceptable.
  for (const char* remedy : {"--set Jt=1e-4", "--set isMotorInertiaUnknown=1"}) {
    r = Run(std::string("motors apply DC52-48V ") + remedy + " --out " + ShellQuote(again));
    EXPECT_EQ(r.exit_code, 0) << remedy << ": " << r.err;
  }
  EXPECT_NEAR(SavedValue(again, "Jload_over_J"), 0.0, 1e-12);
}

// Every motor that ships is applied to the bundled drive, or refused as bad input with what to
// change; what the refusal names, given with --set, makes it apply. The smallest motor on the
// bundled drive's load: a load 499 times its inertia and limits for a 9 A motor.
TEST_F(MotorsCommand, EveryCatalogueMotorAppliesOrSaysWhatToChange) {
  const std::string out = dir_.File("m.json");
  for (const char* motor : {"DC16-12V", "DC22-12V", "DC22-24V", "DC26-24V", "DC32-12V", "DC32-24V",
                            "DC40-24V", "DC40-48V", "DC52-24V", "DC52-48V", "DC65-24V", "DC65-48V"}) {
    const CliResult r = Run(std::string("motors apply ") + motor + " --out " + ShellQuote(out));
    const bool says_what_to_change =
        r.err.find("--set") != std::string::npos || r.err.find("Jt") != std::string::npos;
    EXPECT_TRUE(r.exit_code == 0 || (r.exit_code == 2 && says_what_to_change))
        << motor << ": " << r.exit_code << " " << r.err;
  }
  const std::string refused = dir_.File("refused.json");
  ExpectRuns({{"motors apply DC16-12V --out " + ShellQuote(refused), 2,
               "the total inertia 4.5e-05 kgm^2 is 500 times the motor's inertia 9e-08 kgm^2, and "
               "the tuning takes a load of at most 100 times the motor's: set Jt to the motor and "
               "load's total inertia, at most 9.09e-06 kgm^2"}},
             {refused}, Env());
  const CliResult r = Run("motors apply DC16-12V --set Jt=9e-6 --set IlimPS=0.9 --set Imax_Prot=0.9 "
                          "--set I_I2t_M=0.31 --set TestProtectionCurrent=0.9 "
                          "--set TestLimitCurrent=0.8 --out " + ShellQuote(out));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NEAR(SavedValue(out, "IlimPS"), 0.9, 1e-3);
  EXPECT_NEAR(SavedValue(out, "Jload_over_J"), 99.0, 1e-9);
}

TEST(FiltersBode, WritesTheResponseAndRefusesWhatItCannotDraw) {
  TempDir dir;
  const std::string on = "--set BQFilter1=1 --set BQFilterType1=2 --set BQFilter2=1 "
                         "--set BQFilterLocation2=1 --set BQFilterType2=8 ";
  auto r = RunDcservo("filters " + on + "--bode " + ShellQuote(dir.File("r.csv")));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string csv = ReadFile(dir.File("r.csv"));
  EXPECT_THAT(csv, HasSubstr("Frequency [Hz],Filter 1 magnitude [dB],Filter 1 phase [deg]"));
  EXPECT_THAT(csv, HasSubstr("Speed Controller Output (all) phase [deg]"));
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 401);
  r = RunDcservo("filters " + on + "--bode " + ShellQuote(dir.File("r.svg")));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // Magnitude and phase share one plot: the key gives each response's two lines two inks.
  const std::string svg = ReadFile(dir.File("r.svg"));
  std::map<std::string, std::string> ink_of;
  const std::regex key("stroke=\"(#[0-9a-f]{6})\"[^>]*/>\n<text[^>]*>([^<]*) \\((dB|deg)\\)");
  for (std::sregex_iterator m(svg.begin(), svg.end(), key), end; m != end; ++m)
    ink_of[(*m)[2].str() + " " + (*m)[3].str()] = (*m)[1];
  const std::string header = csv.substr(0, csv.find('\n'));
  EXPECT_EQ(static_cast<long>(ink_of.size()), std::count(header.begin(), header.end(), '[') - 1);
  for (const auto& [name, ink] : ink_of) {
    if (name.ends_with(" dB")) {
      EXPECT_NE(ink, ink_of[name.substr(0, name.size() - 3) + " deg"]) << name;
    }
  }

  // No picture of a kind it cannot draw, nor of a filter at the Nyquist frequency, which
  // cannot be designed, nor a PNG without its text when there is no font to draw it with.
  const std::string txt = dir.File("r.txt"), nyquist = dir.File("nyquist.svg");
  const std::string textless = dir.File("textless.png");
  ExpectRuns(
      {{"filters --bode " + ShellQuote(txt), 2, ""},
       {"filters --set BQFilter1=1 --set BQFilterF11=1000 --bode " + ShellQuote(nyquist), 1, ""}},
      {txt, nyquist});
  ExpectRun({"filters " + on + "--bode " + ShellQuote(textless), 1, "no font to draw the text with"},
            {textless}, "DCSERVO_FONT=" + ShellQuote(dir.File("no-such-font.ttf")));
}

}  // namespace
