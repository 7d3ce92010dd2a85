// The drive setup dialog on the bundled drive, through the headless front end: what the
// state refresh enables and shows, what changes and clicks do to the setup, the axis-ID
// selector, and what the page shows after the dialogs that its buttons open.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "derive/pipelines.h"
#include "dialogs/drive_setup_dlg.h"
#include "drivetests/tuning_test_dlg.h"
#include "names/dialog_names.h"
#include "tests/dialogs/dialog_test.h"

namespace {

using namespace dcservo;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using testing_support::Value;

class DriveSetupDialog : public testing_support::DialogTest<CDriveSetupDlg> {
 protected:
  // Scaled values as a user left them in a file: the chip parameters follow, and the dialog
  // derives everything back from those when it is built.
  void Prepare(const std::vector<Value>& values) {
    for (const Value& v : values) Put({v});
    ComputeChipParameters(*setup_);
  }
};

TEST_F(DriveSetupDialog, OpensWithTheAssistantOfTenStepsAndEveryFieldBound) {
  CDriveSetupDlg& dlg = Open();
  EXPECT_EQ(dlg.GetGuidanceCount(), 10);
  dlg.ShowGuidanceStep(6);
  EXPECT_THAT(State(kIdcGuidanceText).text, HasSubstr("Select \"H/W\" if"));
  // Every field of the page is bound on the bundled drive, which has all the optional ones.
  const std::vector<std::string> bound = dlg.GetBoundParameters();
  EXPECT_EQ(bound.size(), 43u);
  for (const char* name : {"Vdc", "KFFA_scl", "Limit_Speed", "t_I2t_M", "Vbrake", "EnablePolarity",
                           "InputsPolarityType", "Positive_SWLS", "save_axis_id"})
    EXPECT_THAT(bound, ::testing::Contains(name));
}

TEST_F(DriveSetupDialog, AxisIdSelectorShowsStoresAndWarnsAboutCanOpen) {
  Prepare({{"Axis_ID_list", 0}});
  CDriveSetupDlg& dlg = Open();
  EXPECT_EQ(dlg.ListGetCount(kAxisIdList), 256);
  EXPECT_EQ(dlg.ListGetText(kAxisIdList, State(kAxisIdList).selection), "H/W");

  ASSERT_TRUE(dlg.UserSelect(kAxisIdList, 126));  // 127: still a CANopen node id
  EXPECT_THAT(ui_.Messages(), IsEmpty());
  ASSERT_TRUE(dlg.UserSelect(kAxisIdList, 127));  // 128
  ASSERT_TRUE(dlg.UserSelect(kAxisIdList, 254));  // 255
  ASSERT_EQ(ui_.Messages().size(), 2u);
  EXPECT_THAT(ui_.Messages()[0].text, HasSubstr("must be in the range 1-127"));
  EXPECT_EQ(ui_.Messages()[0].style, kMbOk | kMbIconInformation);
  EXPECT_EQ(State(kAxisIdList).selection, 254);  // the warning does not undo the choice
  ASSERT_TRUE(dlg.UserSelect(kAxisIdList, 41));
  ASSERT_TRUE(dlg.UserClick(kIdOk));
  EXPECT_EQ(Get("Axis_ID_list"), 42);

  Open();
  EXPECT_EQ(State(kAxisIdList).selection, 41);
  ASSERT_TRUE(dlg_->UserSelect(kAxisIdList, 255));
  EXPECT_EQ(ui_.Messages().size(), 2u);
  ASSERT_TRUE(dlg_->UserClick(kIdOk));
  EXPECT_EQ(Get("Axis_ID_list"), 0);

  // An identifier that no entry shows is kept, not read as the hardware switches.
  Prepare({{"Axis_ID_list", 300}});
  Open();
  EXPECT_EQ(State(kAxisIdList).selection, -1);
  ASSERT_TRUE(dlg_->UserClick(kIdOk));
  EXPECT_EQ(Get("Axis_ID_list"), 300);
  EXPECT_EQ(AxisIdOfEntry("255"), 255);
}

TEST_F(DriveSetupDialog, SoftwareLimitJustTypedGivesWayToTheOther) {
  Prepare({{"isSWLS", 1}, {"SensorsConfiguration", 0}, {"Negative_SWLS", -10},
           {"Positive_SWLS", 10}});
  CDriveSetupDlg& dlg = Open();
  ASSERT_TRUE(Enabled(kNegativeSwlsEdit));
  const double two_pi = 2 * std::acos(-1.0);  // the fields show revolutions, the setup radians
  ASSERT_TRUE(dlg.UserEdit(kNegativeSwlsEdit, "2"));
  EXPECT_NEAR(Get("Negative_SWLS"), 10, 1e-3);
  EXPECT_EQ(State(kNegativeSwlsEdit).text, State(kPositiveSwlsEdit).text);
  ASSERT_TRUE(dlg.UserEdit(kNegativeSwlsEdit, "-1"));
  ASSERT_TRUE(dlg.UserEdit(kPositiveSwlsEdit, "-2"));
  EXPECT_NEAR(Get("Positive_SWLS"), -two_pi, 1e-3);
  EXPECT_NEAR(Get("Negative_SWLS"), -two_pi, 1e-3);
  ASSERT_TRUE(dlg.UserEdit(kNegativeSwlsEdit, "-3"));
  ASSERT_TRUE(dlg.UserEdit(kPositiveSwlsEdit, "-3"));  // equal limits are a valid pair
  EXPECT_NEAR(Get("Negative_SWLS"), -3 * two_pi, 1e-3);
  EXPECT_NEAR(Get("Positive_SWLS"), -3 * two_pi, 1e-3);
}

// The structure as the file left it, and a click on a mode or the reference: what the setup
// then holds and what the page offers.
TEST_F(DriveSetupDialog, ControlStructureDecidesWhatThePageOffers) {
  struct Case {
    const char* what;
    std::vector<Value> prepared;
    int click;  // 0: none
    std::vector<Value> after;
    std::vector<int> enabled, disabled, shown;
    std::vector<std::pair<int, int>> checked = {};
  };
  const Case cases[] = {
      {"leaving position control follows the local reference",
       {{"ControlMode", 0}, {"GEARMASTER", 3}, {"GEARSLAVE", 2}, {"isAnalogueReference", 0}},
       kModeSpeed, {{"GEARMASTER", 1}, {"GEARSLAVE", 1}, {"isAnalogueReference", 1}},
       {kSpeedErrorCheck}, {kPositionErrorCheck}, {}, {{kAnalogueReference, 1}}},
      {"position control again keeps the gear", {{"ControlMode", 1}, {"GEARMASTER", 5}},
       kModePosition, {{"GEARMASTER", 5}}, {kKpPEdit}, {}, {}},
      {"an encoder on the load puts the position loop over the speed loop",
       {{"SensorsConfiguration", 2}, {"ControlMode", 1}, {"PositionControlType", 0}}, kModePosition,
       {{"PositionControlType", 1}}, {kKpSEdit, kPositionKffaEdit}, {}, {kLimitSpeedEdit}},
      {"a tacho alone rules out position control and software limits",
       {{"SensorsConfiguration", 1}, {"ControlMode", 1}, {"isSWLS", 1}}, 0, {}, {},
       {kModePosition, kSwlsCheck, kNegativeSwlsEdit, kPositiveSwlsUnit}, {}},
      {"no external reference, no automatic activation",
       {{"ExternalReference", 1}, {"IsAutoActivatedAfterPowerOn", 1}}, kReferenceNo,
       {{"isAutoActivatedAfterPowerOn", 0}}, {}, {kAutoActivated, kReferenceSetup}, {},
       {{kAutoActivated, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reload();
    Prepare(c.prepared);
    ASSERT_TRUE(Holds(c.prepared));  // the chip parameters keep them, so the click has to act
    Open();
    if (c.click) {
      // What the click is to switch off or over is on, and the other way, before it.
      EXPECT_TRUE(AllEnabled(c.disabled)) << "before the click";
      for (const auto& [id, checked] : c.checked) EXPECT_NE(State(id).checked, checked) << id;
      Click(c.click);
    }
    EXPECT_TRUE(Holds(c.after));
    EXPECT_TRUE(AllEnabled(c.enabled));
    EXPECT_TRUE(AllEnabled(c.disabled, false));
    EXPECT_TRUE(AllShown(c.shown));
    for (const auto& [id, checked] : c.checked) EXPECT_EQ(State(id).checked, checked) << id;
  }
}

TEST_F(DriveSetupDialog, FeedforwardFieldsSitWithTheOuterLoop) {
  Prepare({{"ControlMode", 1}, {"PosSpd_in_FastLoop", 0}});
  ASSERT_EQ(Get("PosSpd_in_FastLoop"), 0);
  CDriveSetupDlg& dlg = Open();
  EXPECT_TRUE(AllShown({kSpeedKffaEdit, kSpeedKffsEdit}));
  EXPECT_TRUE(Enabled(kSpeedKffsEdit));
  EXPECT_TRUE(AllShown({kPositionKffaEdit, kPositionFeedforwardLabel}, false));

  Click(kModePosition);
  EXPECT_FALSE(Shown(kSpeedKffaEdit));
  EXPECT_TRUE(Shown(kPositionKffsEdit));

  setup_->SetParameterValueInBaseUnit("PosSpd_in_FastLoop", 1);
  dlg.UpdateData(0);
  EXPECT_TRUE(AllShown({kSpeedFeedforwardLabel, kPositionFeedforwardLabel}, false));
}

TEST_F(DriveSetupDialog, InputTypeChangeKeepsWhatTheInputsMean) {
  setup_->SetOption("IsInputsTypeProgrammable", "1");
  Prepare({{"InputsPolarityType", 1}, {"EnablePolarity", 1}, {"LSPPolarity", 0},
           {"LSNPolarity", 1}});
  Open();
  ASSERT_TRUE(Enabled(kInputTypeSource));
  EXPECT_EQ(Text(kActiveHighRowLabel), "Active high (Connected to +Vlog)");
  Click(kInputTypeSource);
  EXPECT_TRUE(Holds({{"InputsPolarityType", 0}, {"EnablePolarity", 0}, {"LSPPolarity", 1}, {"LSNPolarity", 0}}));
  EXPECT_EQ(Text(kActiveHighRowLabel), "Active high (Open/No connection)");
  EXPECT_EQ(Text(kActiveLowRowLabel), "Active low (Connected to GND)");
  EXPECT_EQ(State(kLspActiveLow).checked, 1);
  Click(kInputTypeSink);
  EXPECT_TRUE(Holds({{"EnablePolarity", 1}, {"LSPPolarity", 0}, {"LSNPolarity", 1}}));
  EXPECT_EQ(Text(kActiveLowRowLabel), "Active low (Open/No connection)");
}

TEST_F(DriveSetupDialog, DriveDescriptionDecidesTheInputTypeWhenTheOptionIsMissing) {
  setup_->ClearOption("IsInputsTypeProgrammable");
  setup_->SetDescription("DS-48/10 BX");
  Prepare({{"InputsPolarityType", 0}});
  Open();
  EXPECT_EQ(State(kInputTypeSink).checked, 1);
  EXPECT_EQ(State(kInputTypeSource).checked, 0);
  EXPECT_TRUE(AllEnabled({kInputTypeSink, kInputTypeSource}, false));
  EXPECT_EQ(Text(kActiveHighRowLabel), "Active high (Connected to +Vlog)");
}

// A dialog opened from the drive setup: it changes a gain behind the chip parameters' back,
// as a tuning test does, and ends with the given result.
class ChildDialog : public CZel_EditSetupDlg {
 public:
  ChildDialog(CZel_Setup& setup, int result)
      : CZel_EditSetupDlg(setup, ZelDialogTemplate{9100, "Child", 0, {}}), result_(result) {}
  int OnInitDialog() override {
    m_Setup.SetParameterValueInBaseUnit("Kp_C_scl", m_Setup.GetParameterValueInBaseUnit("Kp_C_scl") + 0.1);
    EndDialog(result_);
    return 1;
  }

 private:
  int result_;
};

class DriveSetupOpeners : public DriveSetupDialog {
 protected:
  void Register(const char* dialog, int result) {
    overrides_.push_back(std::make_unique<testing_support::ScopedDialogOverride>(
        dialog, [result](CZel_Setup& setup, CZel_Dialog*) {
          return std::make_unique<ChildDialog>(setup, result);
        }));
  }
  // The gain that the child changed, as the page ought to show it now.
  std::string GainAsShown(CDriveSetupDlg& dlg) {
    return dlg.DisplayText(*setup_->FindParameter("Kp_C_scl"), Get("Kp_C_scl"));
  }

  // Taken back newest first, so that a name overridden twice gets its own dialog back.
  ~DriveSetupOpeners() override {
    while (!overrides_.empty()) overrides_.pop_back();
  }
  std::vector<std::unique_ptr<testing_support::ScopedDialogOverride>> overrides_;
};

// Each button of the drive setup and the dialog it opens.
struct Opener {
  int button;
  const char* dialog;
};
const Opener kOpeners[] = {
    {kDetect, dialog_names::kVdcTest},           {kCurrentTune, dialog_names::kCurrentTest},
    {kSpeedTune, dialog_names::kSpeedTest},      {kPositionTune, dialog_names::kPositionTest},
    {kMotorSetup, dialog_names::kMotorSetup},    {kAdvanced, dialog_names::kAdvanced},
    {kDriveInfo, dialog_names::kDriveInfo},      {kReferenceSetup, dialog_names::kExternalReference},
    {kCommission, dialog_names::kCommission}};

TEST_F(DriveSetupOpeners, EachButtonIsOnOnceItsDialogIsBuilt) {
  Prepare({{"ExternalReference", 1}});
  Open();
  for (const Opener& o : kOpeners) {
    SCOPED_TRACE(o.dialog);
    const bool built = ZelIsDialogRegistered(o.dialog);
    EXPECT_EQ(Enabled(o.button), built);
    EXPECT_EQ(State(o.button).tooltip, built ? "" : kNotBuiltTooltip);
  }
  // The advanced, external reference and drive info dialogs are built.
  for (int id : {kAdvanced, kDriveInfo, kReferenceSetup}) EXPECT_TRUE(Enabled(id)) << id;
}

// A child keeps what it changed however it closes, so after each, OK or Cancel, the page
// shows the setup as OK will save it.
TEST_F(DriveSetupOpeners, EveryChildIsFollowedByTheSetupShownAsItWillBeSaved) {
  Prepare({{"ExternalReference", 1}});
  // The shaft that the notice had blocked for the current test is not needed blocked once
  // that test has closed, however it closed (nothing freed it, and the speed test then ran
  // into a stalled motor).
  const char* open_child = nullptr;
  std::vector<std::string> ended_after;
  const int listener = ZelAddActionEndListener([&](ZelAskedAction ended) {
    if (ended == ZelAskedAction::BlockShaft) ended_after.push_back(open_child);
  });
  for (const Opener& o : kOpeners) {
    open_child = o.dialog;
    for (int result : {kIdOk, kIdCancel}) {
      SCOPED_TRACE(std::string(o.dialog) + (result == kIdOk ? " OK" : " Cancel"));
      Register(o.dialog, result);
      Open();
      const double kpi = GetInternal("KPI");
      Click(o.button);
      // The chip parameter follows the gain only when the dialog synchronised after the child.
      EXPECT_NE(GetInternal("KPI"), kpi);
      EXPECT_EQ(Text(kKpCEdit), GainAsShown(*dlg_));
    }
  }
  ZelRemoveActionEndListener(listener);
  EXPECT_THAT(ended_after, ElementsAre(dialog_names::kCurrentTest, dialog_names::kCurrentTest));
  // The current test is preceded by its notice.
  ASSERT_FALSE(ui_.Messages().empty());
  EXPECT_EQ(ui_.Messages()[0].text, "The test must be performed with motor shaft blocked.");
}

// The speed test itself: a gain typed there and cancelled stays in the setup, so the page
// shows it and OK saves it.
TEST_F(DriveSetupDialog, AGainTypedInTheSpeedTestThenCancelledIsShownAndSaved) {
  CDriveSetupDlg& dlg = Open();
  ASSERT_NE(Text(kKpSEdit), "2000");
  ui_.Then([](CZel_Dialog& test) {
    ASSERT_TRUE(test.UserSelect(kTuningTab, kTestPage)) << test.LastRefusal();
    ASSERT_TRUE(test.UserEdit(kKpEdit, "2000")) << test.LastRefusal();
    ASSERT_TRUE(test.UserClick(kIdCancel)) << test.LastRefusal();
  });
  Click(kSpeedTune);
  EXPECT_EQ(Text(kKpSEdit), "2000");
  Click(kIdOk);
  EXPECT_EQ(dlg.GetModalResult(), kIdOk);
  EXPECT_NEAR(Get("Kp_S_scl"), 2000.0, 1.0);
}

TEST_F(DriveSetupOpeners, MotorSetupOpensOnceTheDialogIsShown) {
  int opened = 0;
  testing_support::ScopedDialogOverride motor(dialog_names::kMotorSetup, [&opened](CZel_Setup& setup, CZel_Dialog*) {
    ++opened;
    return std::make_unique<ChildDialog>(setup, kIdOk);
  });
  CDriveSetupDlg dlg(*setup_);
  ui_.Then([&](CZel_Dialog&) { EXPECT_EQ(opened, 0); });
  ui_.ThenWait(5);
  const double before = Get("Kp_C_scl");
  ui_.Then([&](CZel_Dialog& top) {
    EXPECT_EQ(opened, 1);
    EXPECT_NEAR(Get("Kp_C_scl"), before + 0.1, 1e-4);
    EXPECT_EQ(top.GetChildText(kKpCEdit), GainAsShown(dlg));
  });
  ui_.ThenWait(5);
  EXPECT_EQ(dlg.DoModal(), kIdCancel);
  EXPECT_EQ(opened, 1);
  EXPECT_THAT(ui_.Errors(), IsEmpty());
}

TEST_F(DriveSetupDialog, OkComputesTheChipParametersAndHelpOpensItsTopic) {
  CDriveSetupDlg& dlg = Open();
  ASSERT_TRUE(dlg.UserClick(kHelpButton));
  ASSERT_EQ(ui_.HelpRequests().size(), 1u);
  EXPECT_EQ(ui_.HelpRequests()[0].context, 262406u);

  ASSERT_TRUE(dlg.UserEdit(kVdcEdit, "36"));
  setup_->SetParameterValueInInternalUnit("KPI", 1);
  ASSERT_TRUE(dlg.UserClick(kIdOk));
  EXPECT_EQ(dlg.GetModalResult(), kIdOk);
  EXPECT_NE(setup_->GetParameterValueInInternalUnit("KPI"), 1);
}

}  // namespace
