// The model asked of a setup that lacks something: it answers with the parameter it missed and
// leaves the telling to its caller, so a dialog that only wants a prediction prints nothing.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "design/drive_model.h"
#include "host/zel_errors.h"
#include "tests/support/test_setups.h"

namespace {

struct LackingCase {
  std::initializer_list<const char*> without;
  const char* missing;  // empty: the model does not need them
  const char* why;      // a part of the reason
};

TEST(DriveModelQuery, NamesWhatTheSetupLacksAndReportsNothing) {
  const LackingCase cases[] = {
      {{"R"}, "R", "the motor's R, L, K or Jt"},
      {{"Jt"}, "Jt", "the motor's R, L, K or Jt"},
      {{"K", "L"}, "L", "the motor's R, L, K or Jt"},
      // What the scales under the model read: without one a scale would read 0.
      {{"Vdc"}, "Vdc", "the setup lacks Vdc"},
      {{"ImaxPS"}, "ImaxPS", "the setup lacks ImaxPS"},
      {{"PWMPER"}, "PWMPER", "the setup lacks PWMPER"},
      {{"No_encoder_lines"}, "No_encoder_lines", "the setup lacks No_encoder_lines"},
      // A tacho that the drive of an encoder on the motor does not read.
      {{"Tacho_gain", "AnalogueInputsRange"}, "", ""},
  };
  for (const LackingCase& c : cases) {
    SCOPED_TRACE(*c.without.begin());
    auto setup = testing_support::LoadBundledSetupWithout(c.without);
    const std::size_t reported = ZelErrorCount();
    ZelCollectErrors errors;
    const dcservo::DriveModelQuery q = dcservo::QueryDriveModel(*setup);
    EXPECT_TRUE(errors.Messages().empty()) << errors.Messages().front();
    EXPECT_EQ(ZelErrorCount(), reported);
    EXPECT_EQ(q.missing, c.missing);
    EXPECT_EQ(q.model.has_value(), *c.missing == '\0');
    EXPECT_NE(q.why.find(c.why), std::string::npos) << q.why;
  }
}

}  // namespace
