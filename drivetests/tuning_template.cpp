// The control templates of the two tuning tests: a tab with two pages, each page two
// frameless columns in the same cells of the grid ("Test Parameters": limits and inertia,
// profile and procedure; "Test": the controller and the run, the plots).

#include "drivetests/tuning_template.h"

#include <algorithm>
#include <span>

#include "host/zel_template_builder.h"
#include "host/zel_test_dlg.h"
#include "names/drive_names.h"

namespace dcservo {

namespace {

using K = ZelControlKind;

enum : int {
  kParamsLeft = 1290,
  kParamsRight,
  kTestLeft,
  kTestRight,
  kButtonRow,
};

constexpr const char* kSpeedInstructions =
    "1. Check/setup the test current limits and speed profile below\r\n2. Go to the \"Test\" "
    "tab and press the \"Tune\" button\r\n3. In the \"Test\" tab, press the \"Start\" "
    "button\r\n4. Wait until the test begins and displays the results\r\n5. If needed, change "
    "the controller parameters during the test, until you get satisfactory results";
constexpr const char* kPositionInstructions =
    "1. Check/setup the test current limits and position profile below\r\n2. Go to the "
    "\"Test\" tab and press the \"Tune\" button\r\n3. In the \"Test\" tab, press the \"Start\" "
    "button\r\n4. Wait until the test begins and displays the results\r\n5. If needed, change "
    "the controller parameters during the test, until you get satisfactory results";

// label | slider | edit | unit | two spins
void SliderRow(ZelTemplateBuilder& b, int box, int row, int label_id, const char* label,
               int slider, int edit, int unit, int spin, int spin2) {
  b.Add(label_id, K::Label, label, box, {row, 0});
  b.Add(slider, K::Slider, "", box, {row, 1});
  b.Add(edit, K::Edit, "", box, {row, 2});
  if (unit) b.Add(unit, K::DropDown, "", box, {row, 3});
  b.Add(spin, K::Spin, "", box, {row, 4});
  b.Add(spin2, K::Spin, "", box, {row, 5});
}

void ParametersPage(ZelTemplateBuilder& b, const TuningTestKind& kind, bool position) {
  b.Column(kParamsLeft, 0, 1);
  b.Box(kLimitsBox, "Test current limits", kParamsLeft);
  b.Add(kLimitsPicture, K::Picture, "", kLimitsBox, {0, 0, 1, 3}).Image(kind.limits_image);
  b.ParameterField(param::TestLimitCurrent, "Drive current limit", kLimitEdit, kLimitUnit,
                   kLimitsBox, 1);
  b.ParameterField(param::TestProtectionCurrent, "Over current protection", kProtectionEdit,
                   kProtectionUnit, kLimitsBox, 2);
  if (position) {
    b.Box(kSpeedLimitBox, "Speed limit", kParamsLeft);
    b.Field(kSpeedLimitLabel, "Load speed limit", kSpeedLimitEdit, kSpeedLimitUnit,
            kSpeedLimitBox, 0);
  }
  b.Box(kInertiaBox, "Inertia", kParamsLeft);
  b.ParameterField(param::Jt, "Total inertia", kInertiaEdit, kInertiaUnit, kInertiaBox, 0);
  b.Add(kind.identify, K::Button, "Identify", kInertiaBox, {0, 3});
  b.Box(kProcedureBox, "Test procedure", kParamsLeft);
  b.Add(kProcedureText, K::Text, "", kProcedureBox, {0, 0}, kStyleReadOnly | kStyleWide);

  b.Column(kParamsRight, 1, 1);
  b.Box(kProfileBox, kind.profile_box, kParamsRight);
  b.Add(kProfilePicture, K::Picture, "", kProfileBox, {0, 0, 1, 4}).Image("314");
  const ProfileNames& n = kind.profile;
  b.ParameterField(n.final_value, position ? "Final position" : "Final speed", kind.final_edit,
                   kind.final_unit, kProfileBox, 1);
  b.ParameterField(n.hold, "tp", kHoldEdit, kHoldUnit, kProfileBox, 2);
  b.ParameterField(n.end, "tn", kEndEdit, kEndUnit, kProfileBox, 3);
  b.ParameterField(n.first_ramp, "tap", kFirstRampEdit, kFirstRampUnit, kProfileBox, 4);
  b.ParameterField(n.second_ramp, "tan", kSecondRampEdit, kSecondRampUnit, kProfileBox, 5);
  b.Add(kTypePositive, K::Radio, "Positive", kProfileBox, {6, 0});
  b.Add(kTypeNegative, K::Radio, "Negative", kProfileBox, {6, 1});
  b.Add(kTypeBidirectional, K::Radio, "Bidirectional", kProfileBox, {6, 2});
}

void TestPage(ZelTemplateBuilder& b, const TuningTestKind& kind, bool position) {
  b.Column(kTestLeft, 0, 1);
  b.Box(kViewBox, "Results", kTestLeft);
  b.Add(kDataLogger, K::Radio, "Data logger", kViewBox, {0, 0});
  b.Add(kOnlinePlot, K::Radio, "On-line plot", kViewBox, {0, 1});
  b.ParameterCheck(kind.multi_cycle, kMultiCycle, "Multiple Cycle Movement", kViewBox, {0, 2});

  b.Box(kControllerBox, position ? "Position controller" : "Speed controller", kTestLeft);
  SliderRow(b, kControllerBox, 0, 0, "Kp", kKpSlider, kKpEdit, 0, kKpSpin, kKpSpin2);
  SliderRow(b, kControllerBox, 1, 0, "Ki", kKiSlider, kKiEdit, 0, kKiSpin, kKiSpin2);
  int row = 2;
  if (position) {
    SliderRow(b, kControllerBox, row++, 0, "Kd", kKdSlider, kKdEdit, 0, kKdSpin, kKdSpin2);
    b.ParameterField(param::filter_D, "Kd filter (0...1)", kKdFilterEdit, 0, kControllerBox,
                     row++);
  }
  SliderRow(b, kControllerBox, row, 0, "Integral Limit", kIntegralSlider,
            kIntegralEdit, kIntegralUnit, kIntegralSpin, kIntegralSpin2);

  b.Box(kFeedforwardBox, "Feedforward", kTestLeft);
  SliderRow(b, kFeedforwardBox, 0, kKffsLabel, "Speed", kKffsSlider, kKffsEdit, 0, kKffsSpin,
            kKffsSpin2);
  SliderRow(b, kFeedforwardBox, 1, kKffaLabel, "Acceleration", kKffaSlider, kKffaEdit, 0,
            kKffaSpin, kKffaSpin2);

  b.Box(kTuneBox, "Tuning", kTestLeft);
  SliderRow(b, kTuneBox, 0, 0, "Passband", kPassBandSlider, kPassBandEdit,
            kPassBandUnit, kPassBandSpin, kPassBandSpin2);
  SliderRow(b, kTuneBox, 1, kRatioLabel, "Jload / Jmotor", kRatioSlider, kRatioEdit, 0,
            kRatioSpin, kRatioSpin2);
  b.Add(kTune, K::Button, "Tune", kTuneBox, {2, 1});
  b.Add(kFilters, K::Button, "Filters", kTuneBox, {2, 2});
  if (kind.loop == TunedLoop::Speed)
    b.Add(kFrequencyResponse, K::Button, "Frequency Response...", kTuneBox, {3, 1, 1, 2});

  b.Box(kRunBox, "Test", kTestLeft);
  b.Add(kIdcTestStartStop, K::Button, "&Start", kRunBox, {0, 0});
  b.Add(kIdcTestStatus, K::Edit, "", kRunBox, {0, 1, 1, 3}, kStyleReadOnly);
  b.Add(kIdcTestDetails, K::Button, "&Details", kRunBox, {1, 0});
  b.Add(kIdcTestResult, K::Edit, "", kRunBox, {1, 1, 1, 3}, kStyleReadOnly);
  b.Add(kSavePlots, K::Button, "S&ave Plots", kRunBox, {2, 0});
  b.Add(kPause, K::BitmapButton, "Pause", kRunBox, {2, 1}).Image("PAUSE_");
  b.Add(kContinue, K::BitmapButton, "Continue", kRunBox, {2, 2}).Image("CONTINUE_");

  b.Column(kTestRight, 1, 1);
  b.Box(kGraphBox, "", kTestRight);
  // One place for the two plots: the data logger's or the scope's is shown, never both.
  b.Add(kLoggerGraph, K::Graph, "", kGraphBox, {0, 0}, kStyleWide);
  b.Add(kOnlineGraph, K::Graph, "", kGraphBox, {0, 0}, kStyleWide);
  b.Box(kLiveBox, "", kTestRight);
  b.Add(kLiveReferenceMarker, K::Label, "\u25A0", kLiveBox, {0, 0});
  b.Add(kind.live_reference_label, K::Label, kind.live_reference_text, kLiveBox, {0, 1});
  b.Add(kind.live_reference, K::Label, "", kLiveBox, {0, 2});
  b.Add(kLiveLoadMarker, K::Label, "\u25A0", kLiveBox, {0, 3});
  b.Add(kind.live_load_label, K::Label, kind.live_load_text, kLiveBox, {0, 4});
  b.Add(kind.live_load, K::Label, "", kLiveBox, {0, 5});
  b.Add(kFiguresText, K::Text, "", kTestRight, {-1, 0}, kStyleReadOnly | kStyleWide);
}

// Every control that sits, at any depth, in one of the columns.
std::vector<int> ControlsIn(const ZelDialogTemplate& t, std::span<const int> columns) {
  auto parent_of = [&t](int id) {
    for (const ZelControlDef& c : t.controls)
      if (c.id == id) return c.group;
    return 0;
  };
  std::vector<int> ids;
  for (const ZelControlDef& c : t.controls) {
    for (int g = c.group; g != 0; g = parent_of(g)) {
      if (std::find(columns.begin(), columns.end(), g) != columns.end()) {
        if (c.id > 0) ids.push_back(c.id);
        break;
      }
    }
  }
  return ids;
}

}  // namespace

ZelDialogTemplate MakeTuningTemplate(const TuningTestKind& kind) {
  const bool position = kind.loop == TunedLoop::Position;
  ZelTemplateBuilder b(kind.template_id, kind.caption, kind.help_context);
  b.Add(kTuningTab, K::Tab, "", 0, {0, 0, 1, 2});
  ParametersPage(b, kind, position);
  TestPage(b, kind, position);
  b.DialogButtons(kButtonRow, 2, 2, kIdcTestHelp, 0);
  return b.Build();
}

std::vector<int> TuningPageControls(const ZelDialogTemplate& t, int page) {
  static constexpr int kParametersColumns[] = {kParamsLeft, kParamsRight};
  static constexpr int kTestColumns[] = {kTestLeft, kTestRight};
  return ControlsIn(t, page == kTestPage ? std::span<const int>(kTestColumns)
                                         : std::span<const int>(kParametersColumns));
}

const TuningTestKind kSpeedTuningKind = {
    102,
    "Speed Controller Tuning Test",
    "Checks speed controller response.",
    262402,
    kSpeedProfileNames,
    param::OnlinePlotS,
    param::MultiCycleS,
    param::Kp_S_scl,
    param::Ki_S_scl,
    param::IPSatS,
    param::PB_S,
    option::SpeedTuningOscSettings,
    "SpeedTuning",
    kFinalSpeedEdit,
    kFinalSpeedUnit,
    kSpeedIdentify,
    kLiveReferenceLabel,
    kLiveReference,
    kLiveLoadLabel,
    kLiveLoad,
    "Speed reference: ",
    "Load speed:",
    "308",
    "Test speed profile",
    kSpeedInstructions,
    TunedLoop::Speed,
};

const TuningTestKind kPositionTuningKind = {
    103,
    "Position Controller Tuning Test",
    "Checks position controller response.",
    262403,
    kPositionProfileNames,
    param::OnlinePlotP,
    param::MultiCycleP,
    param::Kp_P_scl,
    param::Ki_P_scl,
    param::IPSatP,
    param::PB_P,
    option::PositionTuningOscSettings,
    "PositionTuning",
    kFinalPositionEdit,
    kFinalPositionUnit,
    kPositionIdentify,
    kLivePositionReferenceLabel,
    kLivePositionReference,
    kLivePositionLoadLabel,
    kLivePositionLoad,
    "Position reference: ",
    "Load position:",
    "309",
    "Test position profile",
    kPositionInstructions,
    TunedLoop::Position,
};

namespace {
// Built at the first look-up: most commands open no dialog.
const ZelDialogTemplate& SpeedTuningTemplate() {
  static const ZelDialogTemplate tmpl = MakeTuningTemplate(kSpeedTuningKind);
  return tmpl;
}
const ZelDialogTemplate& PositionTuningTemplate() {
  static const ZelDialogTemplate tmpl = MakeTuningTemplate(kPositionTuningKind);
  return tmpl;
}
const ZelTemplateRegistration kSpeedTemplateRegistration(kSpeedTuningKind.template_id,
                                                         SpeedTuningTemplate);
const ZelTemplateRegistration kPositionTemplateRegistration(kPositionTuningKind.template_id,
                                                            PositionTuningTemplate);
}  // namespace

}  // namespace dcservo
