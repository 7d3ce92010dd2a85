// Every fault that the simulated drive can be given, in a test where it shows and in
// commissioning, with the cause that the command line must name for it: the fault injected
// is the truth that the diagnosis is held to, not the tool's own model.

#include <gtest/gtest.h>

#include <regex>

#include "tests/app/cli_runner.h"

using namespace testing_support;

namespace {

struct FaultCase {
  const char* args;
  int exit_code;
  const char* cause;  // a fragment of the "cause:" line, or of what a passing run identifies
};

void ExpectCauses(std::initializer_list<FaultCase> cases) {
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(std::string("dcservo ") + c.args);
    const CliResult r = RunDcservo(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_NE((r.err + r.out).find(c.cause), std::string::npos) << r.err << r.out;
  }
}

constexpr char kCoupling[] = "--set Jload_over_J=1 --fault resonance_damping=0.01 ";

TEST(FaultDiagnosis, EachFaultOfTheDriveNamedInTheTestWhereItShows) {
  ExpectCauses({
      {"test current --fault short_circuit", 1, "cause: the drive's short-circuit protection"},
      {"test speed --fault enable_off", 1, "cause: the drive's ENABLE input"},
      {"test speed --fault limit_positive", 1, "cause: the positive limit switch"},
      {"test inertia --fault limit_negative", 1, "cause: the negative limit switch"},
      // The supply first: a current step at half the supply reads R and L off alike.
      {"test current --fault vdc=24", 1, "cause: the drive's supply is not the setup's Vdc"},
      {"test speed --fault vdc=5", 1, "cause: the drive's supply gives less voltage"},
      {"test speed --fault encoder_a_missing", 1, "cause: an encoder signal does not reach"},
      {"test inertia --fault encoder_b_missing", 1, "cause: an encoder signal does not reach"},
      {"test speed --fault encoder_swapped", 1, "cause: the encoder counts backwards"},
      {"test inertia --fault encoder_swapped", 1, "the encoder counts backwards"},
      {"test speed --set No_encoder_lines=10 --set TestSpeed=126 --tune", 1,
       "cause: the encoder has too few lines"},
      {"test speed --fault shaft_blocked", 1, "cause: the shaft did not turn"},
      {"test inertia --fault shaft_blocked", 1, "cause: the shaft did not turn"},
      {"test inertia --fault friction=0.3", 1, "friction or a load torque beyond"},
      {"test inertia --fault viscous=2e-3", 1, "the load needs more torque than the test current"},
      {"test current --fault resistance=2.4", 1, "cause: the motor's R or L in the setup"},
      {(std::string("test speed ") + kCoupling + "--fault resonance=500").c_str(), 1,
       "cause: a compliant coupling"},
  });
}

TEST(FaultDiagnosis, CommissioningNamesTheFaultOfTheStepThatFailed) {
  TempDir dir;
  const std::string out = " --out " + ShellQuote(dir.File("record"));
  // The supply first: commissioning measures it before it steps the current, and keeps it.
  ExpectRun({"commission --fault vdc=24" + out, 0, ""});
  EXPECT_NEAR(SavedValue(dir.File("record") + "/setup.json", "Vdc"), 24.0, 0.5);
  ExpectCauses({
      {("commission --fault encoder_a_missing" + out).c_str(), 1,
       "an encoder signal does not reach"},
      {("commission --fault encoder_swapped" + out).c_str(), 1, "the encoder counts backwards"},
      {("commission --fault load_torque=0.05" + out).c_str(), 1, "a load drives it"},
      {("commission --fault viscous=2e-3" + out).c_str(), 1, "the load needs more torque"},
      {("commission --fault friction=0.3" + out).c_str(), 1, "or friction or a load torque beyond"},
      {("commission --fault resonance=150 --fault resonance_damping=0.01" + out).c_str(), 1,
       "a compliant coupling resonates"},
  });
}

// The inertia test takes the friction off the test torque, from the coast after its run; the
// dialog shows the documented formula's figure and stores the corrected one.
TEST(FaultDiagnosis, TheInertiaTestSeparatesFriction) {
  const double truth = 4.5e-5;
  for (const double share : {0.0, 0.25, 0.5}) {
    SCOPED_TRACE(share);
    const double friction = share * 0.09;  // of the 1.5 A test current's torque
    TempDir dir;
    const std::string saved = dir.File("a.json");
    const CliResult r = RunDcservo("test inertia --json --accept --out " + ShellQuote(saved) +
                                   " --fault friction=" + std::to_string(friction));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NEAR(SavedValue(saved, "Jt"), truth, 0.05 * truth);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("\"friction_torque\": \\{\\s*\"value\": ([-0-9.e]+)")))
        << r.out;
    // The motor's own viscous friction adds a little at the test's speeds.
    EXPECT_NEAR(std::stod(m[1]), friction, 0.1 * friction + 3e-3);
  }
}

}  // namespace
