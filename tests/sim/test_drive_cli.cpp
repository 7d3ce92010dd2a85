// `dcservo drive` as a user runs it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <numbers>
#include <sstream>

#include "sim/simulated_drive.h"
#include "tests/app/cli_runner.h"

namespace {

using testing_support::ExpectRun;
using testing_support::ReadFile;
using testing_support::RunDcservo;
using testing_support::ShellQuote;
using testing_support::TempDir;

const char* kInertiaInputs = " --var In1=4910 --var LimitSpeedMax=42 --var Imax_Prot_Test=29462";

TEST(DriveCommand, RunPrintsTheProgramsVariablesAndMer) {
  const auto r = RunDcservo(std::string("drive run Total_Inertia_Identification_Test") + kInertiaInputs);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (const char* line : {"In1=4910\n", "STARTED=1\n", "test_flag=1\n", "MER=0\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  EXPECT_NE(r.out.find("delta_time="), std::string::npos);
  EXPECT_EQ(r.out.find("1.2345e+100"), std::string::npos);
}

TEST(DriveCommand, TheLogIsWrittenAsCsvWithATimeColumnInSeconds) {
  TempDir dir;
  const std::string csv = dir.File("run.csv");
  const auto r = RunDcservo("drive run Current_Controller_Tuning_Test --var In1=4910 "
                            "--var Imax_Prot_Test=29462 --fault shaft_blocked --fast-log "
                            "--log-points 40 --log Current_Reference,Motor_Current --csv " +
                            ShellQuote(csv));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::istringstream in(ReadFile(csv));
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "Time [s],Current_Reference [A],Motor_Current [A]");
  int rows = 0;
  double t = -1, last_reference = 0;
  while (std::getline(in, line)) {
    double time = 0, reference = 0, current = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf", &time, &reference, &current), 3) << line;
    EXPECT_NEAR(time - t, rows ? 50e-6 : time + 1, 1e-9);
    t = time;
    last_reference = reference;
    ++rows;
  }
  EXPECT_EQ(rows, 40);
  // 4910 counts of the bundled drive's current converter, in amperes.
  EXPECT_NEAR(last_reference, 1.5, 1e-3);
}

TEST(DriveCommand, ActionsAtATimeEndTheEncoderTest) {
  const auto ended = RunDcservo("drive run Encoder_Connection_Test --act turn=6.3@0.1 "
                                "--act var_i2=1@0.8 --until 5");
  ASSERT_EQ(ended.exit_code, 0) << ended.err;
  EXPECT_EQ(ended.err, "");
  const auto limit = RunDcservo("drive run Encoder_Connection_Test --until 0.5");
  ASSERT_EQ(limit.exit_code, 0) << limit.err;
  EXPECT_NE(limit.err.find("still ran at 0.5 s and was stopped"), std::string::npos) << limit.err;
}

TEST(DriveCommand, BadInputIsRefusedWithItsReason) {
  const std::pair<const char*, const char*> cases[] = {  // after `dcservo drive`; the reason
      {"run No_Such_Test", "the drive has no program \"No_Such_Test\""},
      {"run VDC_Detection_Test --var NoSuch=1",
       "the program \"VDC_Detection_Test\" has no variable \"NoSuch\""},
      {"run VDC_Detection_Test --var STARTED", "\"STARTED\" is not NAME=VALUE"},
      {"run VDC_Detection_Test --fault no_such", "no fault or action is called \"no_such\""},
      {"run VDC_Detection_Test --fault inertia=-1", "\"inertia\" takes a value from 1e-09 to 10"},
      // Values that the drive's types and the motor model cannot carry.
      {"run Speed_Controller_Tuning_Test --fault load_torque=1e20",
       "\"load_torque\" takes a value from -100 to 100"},
      {"run Speed_Controller_Tuning_Test --var a0=1e300",
       "\"a0\" takes values from 0 to 4294967295 on the drive, not 1e+300"},
      {"run Speed_Controller_Tuning_Test --var b0=32768",
       "\"b0\" takes values from -32768 to 32767.99998"},
      {"run Current_Controller_Tuning_Test --var In1=1e308",
       "\"In1\" takes values from -32768 to 32767 on the drive, not 1e+308"},
      {"run Current_Controller_Tuning_Test --var In1=-32769",
       "\"In1\" takes values from -32768 to 32767"},
      {"run VDC_Detection_Test --fault short_circuit=2", "\"short_circuit\" takes 0 or 1"},
      {"run VDC_Detection_Test --fault encoder_swapped=0.5", "\"encoder_swapped\" takes 0 or 1"},
      {"run VDC_Detection_Test --fault vdc", "\"vdc\" needs a value: vdc=V"},
      {"run VDC_Detection_Test --fault var_i2=0.5",
       "\"var_i2\" takes a whole number from -32768 to 32767"},
      {"run VDC_Detection_Test --act stop=0@1", "\"stop\" takes 1"},
      {"run VDC_Detection_Test --act pot=1@-1", "\"pot\" needs a time of 0 s or more"},
      {"run VDC_Detection_Test --until 3601", "at most 3600 s"},
      {"read MER --at 1e308", "--at needs a time from 0 to 3600 s"},
      {"run VDC_Detection_Test --log APOS --csv ''", "--csv: an empty file name"},
      {"run VDC_Detection_Test --log , --csv -", "--log: \",\" names nothing"},
      {"run VDC_Detection_Test --act pot=3", "\"pot=3\" is not NAME=VALUE@SECONDS"},
      {"run VDC_Detection_Test --act pot=x@1", "pot: \"x\" is not a number"},
      {"run VDC_Detection_Test --log APOS", "--log needs --csv"},
      {"run VDC_Detection_Test --log NoSuch --csv -", "no variable \"NoSuch\" to log"},
      {"read NoSuchVariable", "the drive has no variable \"NoSuchVariable\""},
  };
  for (const auto& [args, reason] : cases) ExpectRun({std::string("drive ") + args, 2, reason});
}

TEST(DriveCommand, AProgramVariableIsHeldAsItsTypeHoldsIt) {
  const auto r = RunDcservo("drive run Current_Controller_Tuning_Test --var In1=-32768 "
                            "--var Imax_Prot_Test=32767.4 --until 0.1");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("In1=-32768\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Imax_Prot_Test=32767\n"), std::string::npos) << r.out;
}

TEST(DriveCommand, HelpListsEveryFaultAndAction) {
  for (const char* sub : {"run", "read"}) {
    SCOPED_TRACE(sub);
    const auto r = RunDcservo(std::string("drive ") + sub + " --help");
    ASSERT_EQ(r.exit_code, 0);
    for (const dcsim::ConditionInfo& c : dcsim::Conditions())
      EXPECT_NE(r.out.find(std::string("  ") + c.name + " "), std::string::npos) << c.name;
  }
}

TEST(DriveCommand, ReadGivesLiveVariablesInBaseOrInternalUnits) {
  const auto r = RunDcservo("drive read var_u2 AD5 --fault vdc=60 --fault pot=10 --internal");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "var_u2=65472\nAD5=65472\n");
  // APOS is kept in encoder counts and read in radians: a hand's full turn gives 2 pi.
  const auto base = RunDcservo("drive read " + ShellQuote(testing_support::BundledSetupPath()) +
                               " APOS AD5 --fault turn=6.2832 --at 1");
  ASSERT_EQ(base.exit_code, 0) << base.err;
  double apos = 0;
  char unit[16] = {};
  ASSERT_EQ(std::sscanf(base.out.c_str(), "APOS=%lf %15s", &apos, unit), 2) << base.out;
  EXPECT_NEAR(apos, 6.2832, 0.01);
  EXPECT_STREQ(unit, "rad") << "each value says its unit";
  // At the drive's resolution (2000 counts a turn) and in the counts the encoder test reads,
  // a converter's counts without a unit, a speed without counts.
  EXPECT_THAT(base.out,
              ::testing::MatchesRegex("APOS=6\\.28[0-9] rad \\(200[0-9] counts\\)\nAD5=[0-9]+\n"));
  const auto turning = RunDcservo("drive read APOS ASPD --fault turn=6.2832 --at 0.1");
  ASSERT_EQ(turning.exit_code, 0) << turning.err;
  EXPECT_THAT(turning.out, ::testing::MatchesRegex(
                               "APOS=-?[0-9.]+ rad \\(-?[0-9]+ counts\\)\nASPD=-?[0-9.]+ rad/s\n"));
  // The two agree: 2000 counts a turn.
  double counts = 0;
  ASSERT_EQ(std::sscanf(turning.out.c_str(), "APOS=%lf rad (%lf", &apos, &counts), 2);
  EXPECT_NEAR(apos, counts * 2 * std::numbers::pi / 2000, 0.002);
}

}  // namespace
