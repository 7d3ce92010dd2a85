// The model asked of a setup that lacks something: the query answers with the parameter it
// missed and tells nobody; the caller that talks to the user decides what to print.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "design/drive_model.h"
#include "host/zel_errors.h"
#include "tests/support/test_setups.h"

namespace {

struct LackingCase {
  std::initializer_list<const char*> without;
  const char* missing_motor;  // empty: none
  std::vector<std::string> missing_scale_inputs;
  bool model;
};

std::vector<std::string> ReportsOf(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const std::string& n : names) out.push_back("parameter \"" + n + "\" is not in the setup");
  return out;
}

TEST(DriveModelQuery, NamesWhatTheSetupLacksAndOnlyTheReportingCallerTells) {
  const LackingCase cases[] = {
      {{"R"}, "R", {}, false},
      {{"Jt"}, "Jt", {}, false},
      {{"K", "L"}, "L", {}, false},
      // What the scales under the model read: each reads 0, as the host's lookup has it, and
      // the model stands or falls with what that makes of it.
      {{"Vdc"}, "", {"Vdc"}, true},
      {{"No_encoder_lines"}, "", {"No_encoder_lines"}, true},
      {{"ImaxPS"}, "", {"ImaxPS"}, false},
      {{"PWMPER"}, "", {"PWMPER"}, false},
      // A tacho that a drive with the encoder on the motor does not read.
      {{"Tacho_gain", "AnalogueInputsRange"}, "", {}, true},
  };
  for (const LackingCase& c : cases) {
    SCOPED_TRACE(*c.without.begin());
    auto setup = testing_support::LoadBundledSetupWithout(c.without);
    {
      ZelCollectErrors errors;
      const dcservo::DriveModelQuery q = dcservo::QueryDriveModel(*setup);
      EXPECT_TRUE(errors.Messages().empty()) << errors.Messages().front();
      EXPECT_EQ(q.missing_motor, c.missing_motor);
      EXPECT_EQ(q.missing_scale_inputs, c.missing_scale_inputs);
      EXPECT_EQ(q.model.has_value(), c.model);
      EXPECT_EQ(q.why.empty(), c.model) << q.why;
    }
    ZelCollectErrors errors;
    EXPECT_EQ(dcservo::ReportedDriveModelOf(*setup).has_value(), c.model);
    EXPECT_EQ(errors.Messages(), ReportsOf(c.missing_scale_inputs));
  }
}

}  // namespace
