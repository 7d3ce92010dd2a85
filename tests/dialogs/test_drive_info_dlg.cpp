// The drive info dialog on the bundled drive (E2ROM 8 Kwords, firmware F001A): the service
// mode, the identity written on OK, the E2ROM size in Kwords and the protection rule.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dialogs/drive_info_dlg.h"
#include "tests/dialogs/dialog_test.h"

namespace {

using namespace dcservo;
using namespace dcservo::drive_info;
using ::testing::HasSubstr;

class DriveInfoDialog : public testing_support::DialogTest<CDriveInfo> {
 protected:
  void ToggleServiceMode() {
    EXPECT_TRUE(dlg_->UserKey(kServiceModeKey, kServiceModeModifiers));
  }
};

TEST(DriveInfoE2rom, FieldInKwordsGivesWordsThatFitSixteenBits) {
  struct Case {
    const char* text;
    std::optional<std::uint16_t> words;
  };
  const Case cases[] = {{"16", 16384},    {" 8 Kwords", 8192}, {"no digits", 0}, {"", 0},
                        {"63", 64512},    {"64", std::nullopt}, {"99999999999999999999", std::nullopt}};
  for (const Case& c : cases) EXPECT_EQ(E2romWordsOfField(c.text), c.words) << c.text;
}

// A firmware ID the setup refuses is reported, and the rest is stored all the same; the
// application ID takes forty characters.
TEST_F(DriveInfoDialog, ShowsTheIdentityAndStoresWhatItCanOnOk) {
  CDriveInfo& dlg = Open();
  EXPECT_EQ(Text(kE2romEdit), "8");
  EXPECT_EQ(Text(kFirmwareIdEdit), "F001A");
  EXPECT_EQ(Text(kDescriptionEdit), setup_->GetDescription());
  ToggleServiceMode();
  Type(kE2romEdit, "16");
  Type(kProductIdEdit, "P1");
  const std::string application_id = "line 3" + std::string(34, 'x');
  EXPECT_EQ(State(kApplicationIdEdit).text_limit, kApplicationIdLength);
  EXPECT_FALSE(dlg.UserEdit(kApplicationIdEdit, application_id + "x"));
  EXPECT_THAT(dlg.LastRefusal(), HasSubstr("at most 40 characters"));
  Type(kApplicationIdEdit, application_id);
  Type(kFirmwareIdEdit, "not an id!");
  Type(kDescriptionEdit, "Bench drive");
  Click(kIdOk);
  EXPECT_TRUE(dlg.HasEnded());
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].text, "Error setting the firmware ID!");
  EXPECT_EQ(setup_->GetFirmwareID(), "F001A");
  EXPECT_EQ(setup_->GetDescription(), "Bench drive");
  EXPECT_EQ(setup_->GetE2ROMSize(), 16384);
  EXPECT_EQ(setup_->GetProductID(), "P1");
  EXPECT_EQ(setup_->GetUserAppID(), application_id);
}

TEST_F(DriveInfoDialog, AnE2romSizeBeyondSixteenBitsIsRefusedAndTheOldSizeKept) {
  CDriveInfo& dlg = Open();
  ToggleServiceMode();
  Type(kE2romEdit, "64");
  Click(kIdOk);
  EXPECT_FALSE(dlg.HasEnded());
  EXPECT_EQ(setup_->GetE2ROMSize(), 8192);
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_THAT(ui_.Messages()[0].text, ::testing::AllOf(HasSubstr("below 64 Kwords"), HasSubstr("stays 8 Kwords")));
  Type(kE2romEdit, "none");
  Click(kIdOk);
  EXPECT_EQ(setup_->GetE2ROMSize(), 0);
}

TEST_F(DriveInfoDialog, OutsideServiceModeOnlyTheApplicationIdIsEditable) {
  Open();
  const int service_only[] = {kVmotMinEdit, kInputsRangeEdit, kTemperatureSensor, kOverVoltage,
                              kDriveI2t,    kDescriptionEdit, kProductIdEdit,     kE2romEdit,
                              kFirmwareIdEdit};
  for (int id : service_only) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_TRUE(AllEnabled({kApplicationIdEdit, kVmotMinUnit}));
  ToggleServiceMode();
  for (int id : service_only) EXPECT_TRUE(Enabled(id)) << id;
  // Another letter, or the letter without all three modifiers, is not the combination.
  EXPECT_FALSE(dlg_->UserKey('T', kServiceModeModifiers));
  EXPECT_FALSE(dlg_->UserKey(kServiceModeKey, kKeyCtrl | kKeyAlt));
  ToggleServiceMode();
  for (int id : service_only) EXPECT_FALSE(Enabled(id)) << id;
}

TEST_F(DriveInfoDialog, ProtectionFieldsFollowTheirChecksAndNoTemperatureProtectionWithoutSensor) {
  Put({{"isDriveTemperatureSensor", 1}, {"isDriveOverTemp", 1}, {"isOverVoltage", 0}});
  Open();
  EXPECT_TRUE(Enabled(kTemp2Label));
  EXPECT_TRUE(AllEnabled({kTemp2Edit, kUmaxLabel}, false));  // values only in service mode
  ToggleServiceMode();
  EXPECT_TRUE(AllEnabled({kTemp2Edit, kDriveOverTemp}));
  Click(kTemperatureSensor);
  EXPECT_EQ(Get("isDriveOverTemp"), 0);
  EXPECT_EQ(State(kDriveOverTemp).checked, 0);
  EXPECT_TRUE(AllEnabled({kDriveOverTemp, kTemp2Label}, false));
  Click(kOverVoltage);
  EXPECT_TRUE(Enabled(kUmaxEdit));
}

}  // namespace
