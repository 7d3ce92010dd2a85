// The motor setup dialog and the motor-inertia question on the bundled drive, through the
// headless front end: the rules that keep the motor data consistent, the brake text, what
// OK does to the control structure, and the motor database behind the dialog.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <numbers>

#include "derive/protections.h"
#include "dialogs/motor_setup_dlg.h"
#include "tests/dialogs/dialog_test.h"

namespace {

using namespace dcservo;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using testing_support::Value;

// The catalogue shipped with the program, and a user database of the test's own.
class MotorSetupDialog : public testing_support::DialogTest<CMotorSetupDialog> {
 protected:
  MotorSetupDialog() {
    ZelSetMotorCatalogueDirectory(DCSERVO_RESOURCE_DIR "/motors");
    const char* old = std::getenv("XDG_DATA_HOME");
    old_xdg_ = old ? old : "";
    setenv("XDG_DATA_HOME", data_.path().c_str(), 1);
  }
  ~MotorSetupDialog() override {
    dlg_.reset();
    ZelSetMotorCatalogueDirectory({});
    if (old_xdg_.empty())
      unsetenv("XDG_DATA_HOME");
    else
      setenv("XDG_DATA_HOME", old_xdg_.c_str(), 1);
  }
  std::string UserFile(const std::string& name) const {
    return data_.path() + "/dcservo/motors/" + name + ".json";
  }

  testing_support::TempDir data_;
  std::string old_xdg_;
};

TEST_F(MotorSetupDialog, OpensWithItsAssistantListsAndHelpTopic) {
  CMotorSetupDialog& dlg = Open();
  EXPECT_EQ(dlg.GetGuidanceCount(), 9);
  EXPECT_EQ(State(kIdOk).image, "TO_DRIVESETUP");
  EXPECT_FALSE(Shown(kLimitSwitchButton));
  EXPECT_EQ(dlg.ListGetCount(kFilterEncList), 13);
  EXPECT_EQ(dlg.ListGetText(kFilterEncList, 12), "1/72");
  EXPECT_EQ(dlg.ListGetCount(kBrakeOutputList), 6);
  Click(kMotorHelpButton);
  ASSERT_EQ(ui_.HelpRequests().size(), 1u);
  EXPECT_EQ(ui_.HelpRequests()[0].context, 262407u);
}

TEST_F(MotorSetupDialog, PeakCurrentCapsTheNominalCurrent) {
  Open();
  Type(kImaxMEdit, "5");
  EXPECT_EQ(setup_->FindParameter("In")->GetMaxInBaseUnit(), 5);
  Type(kInEdit, "6");
  EXPECT_EQ(Get("In"), 3);  // refused, with a message
  EXPECT_EQ(ui_.Messages().size(), 1u);
  Type(kImaxMEdit, "12");
  Type(kInEdit, "10");
  EXPECT_EQ(Get("In"), 10);
}

TEST_F(MotorSetupDialog, AnEmptyDisplacementIsOneRevolution) {
  Open();
  for (int edit : {kMotorTransmissionEdit, kLoadTransmissionEdit}) {
    Type(edit, "0");
    const char* name = edit == kMotorTransmissionEdit ? "Motor_transmission" : "Load_transmission";
    EXPECT_DOUBLE_EQ(Get(name), 2 * std::numbers::pi) << name;
  }
}

TEST_F(MotorSetupDialog, LimitSwitchButtonShowsForANegativeRatioUnlessTheDriveTakesOne) {
  struct Case {
    double motor, load;
    const char* has_neg;
    bool shown;
  };
  const Case cases[] = {
      {-1, 1, "1", false}, {-1, 1, "0", true}, {1, -1, "0", true}, {-1, -1, "0", false},
      {1, 1, "0", false},  // the last stays open for the edit below
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.motor << " / " << c.load << " hasNeg " << c.has_neg);
    setup_->SetOption("hasNegTransmission", c.has_neg);
    Put({{"Motor_transmission", c.motor}, {"Load_transmission", c.load}});
    Open();
    EXPECT_EQ(Shown(kLimitSwitchButton), c.shown);
  }
  Type(kLoadTransmissionEdit, "-3");
  ASSERT_TRUE(Shown(kLimitSwitchButton));
  Click(kLimitSwitchButton);
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].text, kLimitSwitchWarning);
}

TEST_F(MotorSetupDialog, SensorsDecideWhichSensorFieldsAreEnabled) {
  struct Case {
    int sensors;
    bool encoder, tacho;
  };
  for (const Case& c : {Case{0, true, false}, Case{1, false, true}, Case{2, true, true}}) {
    SCOPED_TRACE(c.sensors);
    Put({{"SensorsConfiguration", static_cast<double>(c.sensors)}, {"isFilterEnc", 1}});
    Open();
    for (int id : {kEncoderLinesEdit, kReverseCounting, kFilterEncCheck, kFilterEncList})
      EXPECT_EQ(Enabled(id), c.encoder) << id;
    EXPECT_EQ(Enabled(kTachoGainEdit), c.tacho);
    // The encoder test needs an encoder, and a build that has the test.
    EXPECT_EQ(Enabled(kTestConnections),
              c.encoder && ZelIsDialogRegistered(dcservo::dialog_names::kEncoderTest));
  }
}

TEST_F(MotorSetupDialog, BrakeTextFollowsTheOutputKindAndItsInversion) {
  // The bundled drive's outputs: a sinking one, a sourcing one, a sourcing inverted one, and
  // as the last port a sinking inverted one.
  struct Case {
    int port;
    const char* ending;
  };
  const Case cases[] = {{0, "NPN (sink) output is connected to GND."},
                        {1, "PNP (source) output is connected to +Vlog."},
                        {2, "NPN (sink) output is connected to GND."},
                        {5, "PNP (source) output is connected to +Vlog."}};
  Put({{"isMotorBrake", 1}});
  Open();
  EXPECT_TRUE(Enabled(kReleaseDelayEdit));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    ASSERT_TRUE(dlg_->UserSelect(kBrakeOutputList, c.port));
    EXPECT_EQ(Get("MotorBrake_output"), c.port);
    EXPECT_EQ(Text(kBrakeText), std::string("Motor brake is applied when ") + c.ending);
  }
  Click(kBrakeCheck);
  EXPECT_TRUE(AllEnabled({kReleaseDelayEdit, kBrakeOutputList}, false));

  // A drive without outputs has nothing to drive a brake with.
  setup_->SetIOOutputPins({});
  Put({{"isMotorBrake", 1}});
  Open();
  EXPECT_TRUE(AllEnabled({kBrakeCheck, kBrakeOutputList}, false));
}

TEST_F(MotorSetupDialog, OkAppliesTheSensorsConfigurationToTheControlStructure) {
  struct Case {
    const char* what;
    std::vector<Value> before;
    std::vector<Value> after;
    bool osr_encoder_on_load;
  };
  const Case cases[] = {
      {"tacho only in position control",
       {{"SensorsConfiguration", 1}, {"ControlMode", 0}, {"isSWLS", 1}, {"ExternalReference", 1},
        {"isAnalogueReference", 0}},
       {{"ControlMode", 1}, {"isSWLS", 0}, {"isAnalogueReference", 1}}, false},
      {"tacho only in torque control keeps the mode",
       {{"SensorsConfiguration", 1}, {"ControlMode", 2}, {"isAnalogueReference", 0}},
       {{"ControlMode", 2}, {"isAnalogueReference", 0}}, false},
      {"encoder on the load in position control over the current loop",
       {{"SensorsConfiguration", 2}, {"ControlMode", 0}, {"PositionControlType", 0}},
       {{"PositionControlType", 1}}, true},
      {"encoder on the motor",
       {{"SensorsConfiguration", 0}, {"ControlMode", 0}, {"PositionControlType", 0}},
       {{"PositionControlType", 0}, {"ControlMode", 0}}, false},
      {"no temperature sensor, no over-temperature protection",
       {{"isMotorTemperatureSensor", 0}, {"isMotorOverTemp", 1}}, {{"isMotorOverTemp", 0}}, false},
      {"a sensor keeps the protection",
       {{"isMotorTemperatureSensor", 1}, {"isMotorOverTemp", 1}}, {{"isMotorOverTemp", 1}}, false},
      {"freeze control only in position control",
       {{"ControlMode", 1}, {"isFreezeControl", 1}}, {{"isFreezeControl", 0}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reload(c.before);
    // The register starts with the other setting, so that OK has to change it.
    setup_->SetParameterValueInInternalUnit("OSR", c.osr_encoder_on_load ? 0 : 0xFFFF);
    Open();
    Click(kIdOk);
    EXPECT_EQ(dlg_->GetModalResult(), kIdOk);
    EXPECT_TRUE(Holds(c.after));
    const auto osr = static_cast<unsigned>(GetInternal("OSR"));
    EXPECT_EQ((osr & kOsrEncoderOnLoad) != 0, c.osr_encoder_on_load);
  }
}

// A motor the drive cannot serve keeps the dialog open with the reason; the remedy it names
// lets OK through.
TEST_F(MotorSetupDialog, OkRefusesMotorDataTheDriveCannotServe) {
  struct Case {
    const char* what;
    std::vector<Value> data;
    const char* why;  // "" when OK closes the dialog
  };
  const Case cases[] = {
      {"a peak current above the drive's", {{"ImaxM", 28}}, "peak current 28 A exceeds the drive's 10 A"},
      {"a motor heavier than the total", {{"Jm", 6.8e-5}}, "inertia 6.8e-05 kgm^2 exceeds the total"},
      {"a heavier motor whose inertia is unknown", {{"Jm", 6.8e-5}, {"isMotorInertiaUnknown", 1}}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reload(c.data);
    Open();
    EXPECT_TRUE(ClickTells(kIdOk, c.why));
    EXPECT_EQ(dlg_->GetModalResult() == kIdOk, !*c.why);
  }
}

// --- the motor database ---------------------------------------------------------------------

TEST_F(MotorSetupDialog, PickingACatalogueMotorFillsTheMotorData) {
  Open();
  EXPECT_EQ(dlg_->ListGetText(kDatabaseList, State(kDatabaseList).selection), "CATALOGUE");
  EXPECT_EQ(dlg_->ListGetCount(kMotorList), 12);
  EXPECT_TRUE(AllEnabled({kSaveMotor, kDeleteMotor}, false));  // the catalogue is read-only
  Select(kMotorList, "DC52-24V");  // its peak current is above the drive's present In limit
  const Value expected[] = {{"In", 5.2}, {"ImaxM", 18},     {"K", 0.0485},
                            {"R", 0.45}, {"L", 0.00013}, {"Jm", 6.8e-5}};
  for (const Value& v : expected) EXPECT_DOUBLE_EQ(Get(v.name), v.base) << v.name;
  EXPECT_EQ(setup_->FindParameter("In")->GetMaxInBaseUnit(), 18);
  EXPECT_EQ(Text(kInEdit), "5.2");
  EXPECT_EQ(Text(kMotorNameEdit), "DC52-24V");
}

TEST_F(MotorSetupDialog, UserMotorsAreSavedReplacedAndDeletedAfterAQuestion) {
  Open();
  Select(kDatabaseList, "USER");
  EXPECT_EQ(dlg_->ListGetCount(kMotorList), 0);
  Type(kREdit, "2.5");
  Type(kMotorNameEdit, "Bench motor");
  Click(kSaveMotor);
  ASSERT_TRUE(std::filesystem::exists(UserFile("Bench motor")));
  EXPECT_THAT(testing_support::ReadFile(UserFile("Bench motor")), HasSubstr("\"resistance_ohm\": 2.5"));
  EXPECT_EQ(dlg_->ListGetText(kMotorList, State(kMotorList).selection), "Bench motor");

  // Saving again under the same name asks first; No keeps the file as it was.
  Type(kREdit, "3.5");
  ui_.ThenAnswer(kIdNo);
  Click(kSaveMotor);
  EXPECT_THAT(testing_support::ReadFile(UserFile("Bench motor")), HasSubstr("2.5"));
  ui_.ThenAnswer(kIdYes);
  Click(kSaveMotor);
  EXPECT_THAT(testing_support::ReadFile(UserFile("Bench motor")), HasSubstr("3.5"));

  ASSERT_TRUE(Enabled(kDeleteMotor));
  ui_.ThenAnswer(kIdNo);
  Click(kDeleteMotor);
  EXPECT_TRUE(std::filesystem::exists(UserFile("Bench motor")));
  ui_.ThenAnswer(kIdYes);
  Click(kDeleteMotor);
  EXPECT_FALSE(std::filesystem::exists(UserFile("Bench motor")));
  EXPECT_EQ(dlg_->ListGetCount(kMotorList), 0);
}

TEST_F(MotorSetupDialog, BadNamesAndCatalogueNamesAreRefusedAndWriteNothing) {
  Open();
  Select(kDatabaseList, "USER");
  struct Case {
    const char* name;
    const char* why;
  };
  const Case cases[] = {{"DC40-24V", "catalogue motor, which cannot be overwritten"},
                        {"dc40-24v", "catalogue motor"}, {"../escape", "path separator"},
                        {"a\\b", "path separator"},    {"tab\there", "control characters"},
                        {"", "needs a name"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dlg_->SetChildText(kMotorNameEdit, c.name);
    EXPECT_TRUE(ClickTells(kSaveMotor, c.why));
  }
  EXPECT_FALSE(std::filesystem::exists(data_.path() + "/dcservo"));
  EXPECT_FALSE(std::filesystem::exists(data_.path() + "/escape.json"));
}

// --- the motor inertia question -------------------------------------------------------------

using InertiaQuestion = testing_support::DialogTest<CInertiaQuestion>;

TEST_F(InertiaQuestion, EachChoiceDoesItsOwnThing) {
  struct Case {
    int click;  // 0: keep the default
    double jt;
    double unknown;
  };
  for (const Case& c : {Case{0, 2.02e-5, 0}, Case{kDisregardMotorInertia, 4.5e-5, 1},
                        Case{kIncreaseTotalInertia, 2.02e-5, 0}}) {
    SCOPED_TRACE(c.click);
    Reload({{"Jm", 2e-5}, {"Jt", 4.5e-5}});
    CInertiaQuestion& dlg = Open();
    EXPECT_EQ(State(kIncreaseTotalInertia).checked, 1);
    EXPECT_FALSE(dlg.HasControl(kIdCancel));
    if (c.click) Click(c.click);
    Click(kIdOk);
    EXPECT_EQ(dlg.GetModalResult(), kIdOk);
    EXPECT_NEAR(Get("Jt"), c.jt, 1e-12);
    EXPECT_EQ(Get("isMotorInertiaUnknown"), c.unknown);
  }
}

}  // namespace
