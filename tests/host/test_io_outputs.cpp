#include <gtest/gtest.h>

#include "host/zel_io_outputs.h"
#include "host/zel_setup_file.h"

namespace {

std::string WithOutputs(const std::string& outputs) {
  return R"({"format": "dcservo-setup", "version": 1, "parameters": [], "io_outputs": )" + outputs +
         "}";
}

TEST(IoOutputs, KindsOfOutputSurviveASaveInPortOrderAndDriveTheBrakeQueries) {
  ZelLoadResult loaded = ParseSetupText(
      WithOutputs(R"([31, {"pin": 26, "drive": "source"}, {"pin": 7, "inverted": true}])"), "t");
  ASSERT_TRUE(loaded.setup) << loaded.error;
  ZelLoadResult again = ParseSetupText(SetupToText(*loaded.setup), "again");
  ASSERT_TRUE(again.setup) << again.error;
  const CZel_Setup* s = again.setup.get();
  EXPECT_EQ(s->GetIOOutputs(), loaded.setup->GetIOOutputs());
  EXPECT_EQ(s->GetIOOutputPins(), (std::vector<int>{31, 26, 7}));
  EXPECT_EQ(GetNumberOfBrakeOutputs(s), 3);
  EXPECT_EQ(IsBrakePortEnable(s, 0) & kIoDriveMask, kIoDriveSink);
  EXPECT_EQ(IsBrakePortEnable(s, 1) & kIoDriveMask, kIoDriveSource);
  EXPECT_EQ(IsBrakePortEnable(s, 3), 0);
  EXPECT_TRUE(IsIOZel3PortInverted(s, 2));
  EXPECT_FALSE(IsIOZel3PortInverted(s, 1));
  EXPECT_EQ(BrakeOutputName(s, 2), "OUT7");
}

TEST(IoOutputs, PinsThatDoNotFitTheBrakeFieldAreRefused) {
  const std::pair<const char*, const char*> cases[] = {
      {"[25, 256]", "/io_outputs/1: a pin number from 0 to 255"},
      {"[2.5]", "/io_outputs/0: a pin number"},
      {"[25, 26, 25]", "/io_outputs/2: pin 25 is listed twice"},
      {R"([{"pin": 25, "drive": "pnp"}])", "/io_outputs/0/drive: \"sink\" or \"source\""},
      {R"([{"drive": "sink"}])", "/io_outputs/0: \"pin\" is missing"},
      {R"([{"pin": 25, "inverted": 1}])", "/io_outputs/0/inverted: true or false"},
  };
  for (const auto& [outputs, expected] : cases) {
    SCOPED_TRACE(outputs);
    ZelLoadResult r = ParseSetupText(WithOutputs(outputs), "drive.json");
    EXPECT_EQ(r.setup, nullptr);
    EXPECT_NE(r.error.find(expected), std::string::npos) << r.error;
  }
}

}  // namespace
