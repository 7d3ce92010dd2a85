#include <gtest/gtest.h>

#include "host/zel_io_outputs.h"
#include "host/zel_setup_file.h"
#include "tests/support/test_setups.h"

namespace {

std::string WithOutputs(const std::string& outputs) {
  return R"({"format": "dcservo-setup", "version": 1, "parameters": [], "io_outputs": )" + outputs +
         "}";
}

TEST(IoOutputs, ListSurvivesASaveAndALoadInPortOrder) {
  testing_support::TempDir dir;
  ZelLoadResult loaded = ParseSetupText(WithOutputs("[31, 25, 7]"), "t");
  ASSERT_TRUE(loaded.setup) << loaded.error;
  ASSERT_EQ(SaveSetupFile(*loaded.setup, dir.File("drive.json")), "");
  ZelLoadResult again = LoadSetupFile(dir.File("drive.json"));
  ASSERT_TRUE(again.setup) << again.error;
  EXPECT_EQ(again.setup->GetIOOutputPins(), (std::vector<int>{31, 25, 7}));
  EXPECT_EQ(GetIOPinFromPort(again.setup.get(), 0), 31);
  EXPECT_EQ(GetIOPortFromPin(again.setup.get(), 7), 2);
}

TEST(IoOutputs, KindsOfOutputSurviveASaveAndDriveTheBrakeQueries) {
  testing_support::TempDir dir;
  ZelLoadResult loaded = ParseSetupText(
      WithOutputs(R"([25, {"pin": 26, "drive": "source"}, {"pin": 27, "inverted": true}])"), "t");
  ASSERT_TRUE(loaded.setup) << loaded.error;
  ASSERT_EQ(SaveSetupFile(*loaded.setup, dir.File("drive.json")), "");
  ZelLoadResult again = LoadSetupFile(dir.File("drive.json"));
  ASSERT_TRUE(again.setup) << again.error;
  const CZel_Setup* s = again.setup.get();
  EXPECT_EQ(s->GetIOOutputs(), loaded.setup->GetIOOutputs());
  EXPECT_EQ(GetNumberOfBrakeOutputs(s), 3);
  EXPECT_EQ(IsBrakePortEnable(s, 0) & kIoDriveMask, kIoDriveSink);
  EXPECT_EQ(IsBrakePortEnable(s, 1) & kIoDriveMask, kIoDriveSource);
  EXPECT_EQ(IsBrakePortEnable(s, 3), 0);
  EXPECT_TRUE(IsIOZel3PortInverted(s, 2));
  EXPECT_FALSE(IsIOZel3PortInverted(s, 1));
  EXPECT_EQ(BrakeOutputName(s, 2), "OUT27");
}

TEST(IoOutputs, PinsThatDoNotFitTheBrakeFieldAreRefused) {
  struct Case {
    const char* outputs;
    const char* expected;
  };
  const Case cases[] = {
      {"[25, 256]", "/io_outputs/1: a pin number from 0 to 255"},
      {"[2.5]", "/io_outputs/0: a pin number"},
      {"[25, 26, 25]", "/io_outputs/2: pin 25 is listed twice"},
      {R"([{"pin": 25, "drive": "pnp"}])", "/io_outputs/0/drive: \"sink\" or \"source\""},
      {R"([{"drive": "sink"}])", "/io_outputs/0: \"pin\" is missing"},
      {R"([{"pin": 25, "inverted": 1}])", "/io_outputs/0/inverted: true or false"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.outputs);
    ZelLoadResult r = ParseSetupText(WithOutputs(c.outputs), "drive.json");
    EXPECT_EQ(r.setup, nullptr);
    EXPECT_NE(r.error.find(c.expected), std::string::npos) << r.error;
  }
}

}  // namespace
