// The external reference setup on the bundled drive (analogue input ±10 V): what each control
// mode binds and shows, the partner units, the ranges that follow the edits, and the test
// that opens through the registry.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dialogs/analog_reference_dlg.h"
#include "names/dialog_names.h"
#include "tests/dialogs/dialog_test.h"

namespace {

using namespace dcservo;
using namespace dcservo::external_reference;

class ExternalReferenceDialog : public testing_support::DialogTest<CAnalogReferenceDlg> {
 protected:
  CAnalogReferenceDlg& OpenWith(double mode, double analogue, double limit) {
    Put({{"ControlMode", mode}, {"isAnalogueReference", analogue}, {"isLimitMaximum", limit}});
    return Open();
  }
  std::string BoundTo(int id) const { return dlg_->GetControlBinding(id).parameter; }
};

TEST_F(ExternalReferenceDialog, EachModeHasItsRangeLimitAndPicture) {
  struct Case {
    const char* what;
    double mode, analogue;
    const char *maximum, *maximum_label, *picture, *limit_text;
    bool limit_shown, digital_enabled, first_limit_shown, second_limit_shown;
    const char* first_limit;
  };
  const Case cases[] = {
      {"position, analogue", 0, 1, "POS_max", "Maximum Position", "3003", "Limit maximum speed at",
       true, true, true, false, "ErefMaxSpeed"},
      {"position, digital", 0, 0, "POS_max", "Maximum Position", "3003",
       "Limit maximum acceleration at", true, true, false, true, "ErefMaxSpeed"},
      {"speed", 1, 1, "SPD_max", "Maximum Speed", "3044", "Limit maximum acceleration at", true,
       false, true, false, "ErefMaxAcceleration"},
      {"torque", 2, 1, "CRT_max", "Maximum Current", "3002", "Limit maximum acceleration at",
       false, false, false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenWith(c.mode, c.analogue, 1);
    EXPECT_EQ(BoundTo(kMaximumEdit), c.maximum);
    EXPECT_EQ(Text(kMaximumLabel), c.maximum_label);
    EXPECT_EQ(State(kPicture).image, c.picture);
    EXPECT_EQ(Text(kLimitCheck), c.limit_text);
    EXPECT_EQ(Shown(kLimitCheck), c.limit_shown);
    EXPECT_EQ(Enabled(kDigital), c.digital_enabled);
    EXPECT_EQ(Shown(kFirstLimitEdit), c.first_limit_shown);
    EXPECT_EQ(Shown(kSecondLimitEdit), c.second_limit_shown);
    EXPECT_EQ(BoundTo(kFirstLimitEdit), c.first_limit);
    EXPECT_EQ(Enabled(kMaximumEdit), c.analogue == 1);
    EXPECT_EQ(Enabled(kSlaveEdit), c.mode == 0 && c.analogue == 0);
  }
  EXPECT_EQ(Text(kMinimumLabel), "Minimum Current");
}

TEST_F(ExternalReferenceDialog, SwitchingToAnalogueShowsTheSpeedLimit) {
  OpenWith(0, 0, 1);
  EXPECT_EQ(BoundTo(kSecondLimitEdit), "ErefMaxAcceleration");
  Click(kAnalogue);
  EXPECT_EQ(Text(kLimitCheck), "Limit maximum speed at");
  EXPECT_TRUE(Shown(kFirstLimitEdit) && !Shown(kSecondLimitEdit));
  Click(kLimitCheck);
  EXPECT_FALSE(Shown(kFirstLimitEdit));
}

TEST_F(ExternalReferenceDialog, MinimumFollowsTheUnitOfItsMaximum) {
  OpenWith(1, 1, 0);
  const CZel_Parameter& minimum = *setup_->FindParameter("SPD_min");
  EXPECT_EQ(minimum.GetSelectedUnit().GetName(), "rpm");
  Select(kMaximumUnit, "rad/s");
  EXPECT_EQ(minimum.GetSelectedUnit().GetName(), "rad/s");
  // -50 counts of 6.28 rad/s, the resolution at which the drive holds it.
  EXPECT_EQ(Text(kMinimumEdit), "-314");
}

TEST_F(ExternalReferenceDialog, DeadBandWidthFollowsBothEdits) {
  OpenWith(0, 1, 0);
  const CZel_Parameter& width = *setup_->FindParameter("DeadBand_Range");
  Type(kDeadBandPointEdit, "6");  // 4 V of room up to +10 V
  EXPECT_DOUBLE_EQ(width.GetMaxInBaseUnit(), 4);
  setup_->SetParameterValueInBaseUnit("DeadBand_Point", -8);
  Type(kDeadBandRangeEdit, "1");  // 2 V of room down to -10 V
  EXPECT_DOUBLE_EQ(width.GetMaxInBaseUnit(), 2);
  EXPECT_EQ(Text(kDeadBandPointEdit), "-8");
}

TEST_F(ExternalReferenceDialog, MinimumAndMaximumBoundEachOther) {
  OpenWith(0, 1, 0);
  const double top = Get("POS_max");
  Type(kMinimumEdit, ZelFormatValue(setup_->FindParameter("POS_min")->GetSelectedUnit().FromBase(top / 2)));
  EXPECT_DOUBLE_EQ(setup_->FindParameter("POS_max")->GetMinInBaseUnit(), Get("POS_min"));
}

TEST_F(ExternalReferenceDialog, InputVoltageLabelsFollowTheInputRange) {
  struct Case {
    double range;
    const char *low, *high;
  };
  for (const Case& c : {Case{20, "-10", "10"}, Case{5, "0", "5"}, Case{10, "0", "3.3"}}) {
    SCOPED_TRACE(c.range);
    setup_->SetParameterValueInBaseUnit("AnalogueInputsRange", c.range);
    OpenWith(0, 1, 0);
    EXPECT_EQ(Text(kLowVoltageLabel), c.low);
    EXPECT_EQ(Text(kHighVoltageLabel), c.high);
    EXPECT_TRUE(Enabled(kLowVoltageLabel));
  }
  OpenWith(0, 0, 0);
  EXPECT_FALSE(Enabled(kHighVoltageLabel));
}

TEST_F(ExternalReferenceDialog, EachReferenceIsOffWhenTheDriveLacksIt) {
  setup_->SetOption("DisableExternalDigitalReference", "1");
  OpenWith(0, 1, 0);
  EXPECT_TRUE(!Enabled(kDigital) && Enabled(kAnalogue));
  // Without an analogue input only the digital reference remains.
  dlg_.reset();
  setup_ = testing_support::LoadBundledSetupWithout({"CADIN"});
  OpenWith(0, 0, 0);
  EXPECT_FALSE(Enabled(kAnalogue));
  EXPECT_EQ(BoundTo(kMaximumEdit), "");
  EXPECT_EQ(BoundTo(kSlaveEdit), "GEARSLAVE");
}

TEST_F(ExternalReferenceDialog, TestOpensThroughTheRegistryAndSynchronisesWhateverItsResult) {
  OpenWith(0, 1, 0);
  if (!ZelIsDialogRegistered(dialog_names::kAnalogueTest)) {
    EXPECT_FALSE(Enabled(kTest));
    EXPECT_EQ(State(kTest).tooltip, kNotBuiltTooltip);
  }
  int opened = 0;
  testing_support::ScopedDialogOverride test(
      dialog_names::kAnalogueTest, [&](CZel_Setup&, CZel_Dialog*) {
        ++opened;
        return std::make_unique<CZel_Dialog>(*ZelFindTemplate(kExternalReferenceTemplate));
      });
  OpenWith(0, 1, 0);
  ASSERT_TRUE(Enabled(kTest));
  setup_->SetParameterValueInBaseUnit("Kp_C_scl", 0.123456789);  // a gain the chip rounds
  Click(kTest);
  EXPECT_EQ(opened, 1);
  EXPECT_NE(Get("Kp_C_scl"), 0.123456789);
  OpenWith(0, 0, 0);
  EXPECT_FALSE(Enabled(kTest));
}

}  // namespace
