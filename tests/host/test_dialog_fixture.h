#pragma once
// A small test template bound to a small setup, and a dialog that writes down every callback
// and handler in the order they come, with the value the setup held at that moment.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/zel_dialog_setup.h"
#include "host/zel_headless.h"
#include "tests/support/test_setups.h"

namespace dialog_testing {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

enum : int {
  kSupplyBox = 100, kVdcEdit = 102, kVdcUnit = 103, kLimitEdit = 104, kOverCurrent = 110,
  kModeBox = 119, kPosition = 120, kSpeed = 121, kTorque = 122,
  kFilterList = 130,
  kKpSlider = 140, kKpEdit = 141, kKpSpin = 143, kKpPageSpin = 144,
  kApply = 150, kOpenChild = 151,
};

inline ZelDialogTemplate SmallTemplate() {
  using K = ZelControlKind;
  ZelDialogTemplate t;
  t.id = 9001;
  t.caption = "Small setup";
  t.help_context = 262406;
  t.controls = {
      {kSupplyBox, K::Group, "Drive operation parameters", 0, {0, 0}},
      {0, K::Label, "Power supply", kSupplyBox, {0, 0}},
      {kVdcEdit, K::Edit, "", kSupplyBox, {0, 1}}, {kVdcUnit, K::DropDown, "", kSupplyBox, {0, 2}},
      {0, K::Label, "Current limit", kSupplyBox, {1, 0}},
      {kLimitEdit, K::Edit, "", kSupplyBox, {1, 1}},
      {kOverCurrent, K::Check, "Over current", kSupplyBox, {2, 0}},
      {kModeBox, K::Group, "Control mode", 0, {0, 1}},
      {kPosition, K::Radio, "Position", kModeBox, {0, 0}},
      {kSpeed, K::Radio, "Speed", kModeBox, {1, 0}},
      {kTorque, K::Radio, "Torque", kModeBox, {2, 0}},
      {kFilterList, K::DropDown, "", 0, {1, 0}},
      {kKpSlider, K::Slider, "", 0, {2, 0}}, {kKpEdit, K::Edit, "", 0, {2, 1}},
      {kKpSpin, K::Spin, "", 0, {2, 2}}, {kKpPageSpin, K::Spin, "", 0, {2, 3}},
      {kApply, K::Button, "Apply", 0, {3, 0}}, {kOpenChild, K::Button, "Child...", 0, {3, 1}},
      {kIdcGuidanceText, K::Text, "", 0, {4, 0, 1, 2}},
      {kIdcGuidancePrevious, K::Button, "Previous", 0, {5, 0}},
      {kIdcGuidanceNext, K::Button, "Next", 0, {5, 1}},
      {kIdOk, K::Button, "OK", 0, {6, 0}}, {kIdCancel, K::Button, "Cancel", 0, {6, 1}},
  };
  return t;
}

inline const char* const kGuidance[] = {"Step 1. Choose the mode.", "Step 2. Set the supply.",
                                        "Step 3.\tTune.", ""};

inline std::unique_ptr<CZel_Setup> SmallSetup() {
  auto setup = testing_support::MakeSetup({{"Vdc", 48, "V"}, {"IlimPS", 5, "A"},
                                           {"isOverCurrent", 0}, {"ControlMode", 0},
                                           {"FilterType", 2}, {"Kp_C_scl", 0.5}});
  const struct { const char* name; double lo, hi; } ranges[] = {
      {"Vdc", 10, 60},       {"IlimPS", 0, 10},    {"isOverCurrent", 0, 1},
      {"ControlMode", 0, 2}, {"FilterType", 0, 9}, {"Kp_C_scl", 0, 4}};
  for (const auto& r : ranges) {
    setup->FindParameter(r.name)->SetMinInBaseUnit(r.lo);
    setup->FindParameter(r.name)->SetMaxInBaseUnit(r.hi);
  }
  return setup;
}

// What the user does to the dialog in front.
using Step = std::function<void(CZel_Dialog&)>;
inline Step Click(int id) {
  return [id](CZel_Dialog& top) { top.UserClick(id); };
}
inline Step Close(int result) {
  return [result](CZel_Dialog& top) { top.EndDialog(result); };
}

// The headless front end installed for the test's lifetime.
class HeadlessTest : public ::testing::Test {
 protected:
  HeadlessTest() : installed_(ui_) {}
  void Then(std::initializer_list<Step> steps) {
    for (const Step& step : steps) ui_.Then(step);
  }
  ZelHeadlessBackend ui_;
  ZelScopedUiBackend installed_;
};

class RecordingDialog : public CZel_EditSetupDlg {
 public:
  explicit RecordingDialog(CZel_Setup& setup, ZelDialogTemplate tmpl = SmallTemplate())
      : CZel_EditSetupDlg(setup, tmpl, 1, kGuidance) {
    AddParameterControls("Vdc", kVdcEdit, kVdcUnit);
    AddParameterControls("IlimPS", kLimitEdit);
    AddCheckParameterControls("isOverCurrent", kOverCurrent);
    AddSwitchParameterControls("ControlMode", kPosition, kTorque);
    AddSwitchParameterControls("FilterType", kFilterList);
    AddSliderParameterControls("Kp_C_scl", kKpSlider, kKpEdit, 0, kKpSpin, kKpPageSpin, 0.0, 2.0);
  }

  int OnInitDialog() override {
    CZel_EditSetupDlg::OnInitDialog();
    // The list's values are codes, not positions, as the filter types are.
    for (auto [text, code] : {std::pair{"Low pass", 0}, {"Notch", 2}, {"Lead-lag", 8}})
      ListSetItemData(kFilterList, ListAddString(kFilterList, text), code);
    RefreshParameterControls("FilterType");
    return 1;
  }

  void OnChangedParameterValue(const std::string& name) override { Note("changed", name); }
  void OnChangedParameterUnit(const std::string& name) override { Note("unit", name); }
  void OnRefreshParameterValue(const std::string& name) override { Note("refresh", name); }

  const ZelMessageMap* GetMessageMap() const override {
    static const ZelMessageMap map{
        CZel_EditSetupDlg::GetMessageMap(),
        {ZelOnClicked(kOverCurrent, &RecordingDialog::OnOverCurrent),
         ZelOnRange(ZelNotify::Clicked, kPosition, kTorque, &RecordingDialog::OnMode),
         ZelOnClicked(kApply, &RecordingDialog::OnApply),
         ZelOnClicked(kOpenChild, &RecordingDialog::OnOpenChild)}};
    return &map;
  }

  std::vector<std::string> log;
  int child_result = 0;
  std::function<void(RecordingDialog&)> on_apply;

 private:
  void Note(const char* what, const std::string& name) {
    log.push_back(std::string(what) + " " + name + "=" +
                  ZelFormatValue(GetSetup().GetParameterValueInBaseUnit(name)));
  }
  void OnOverCurrent() { Note("handler", "isOverCurrent"); }
  void OnMode(int) { Note("handler", "ControlMode"); }
  void OnApply() {
    log.push_back("apply");
    if (on_apply) on_apply(*this);
  }
  void OnOpenChild() {
    RecordingDialog child(GetSetup());
    child.SetWindowText("Child");
    child_result = child.DoModal();
    log.push_back("child returned " + std::to_string(child_result));
  }
};

// The recording dialog on the small setup, the headless front end installed.
class SmallDialogTest : public HeadlessTest {
 protected:
  double Value(const char* name) { return setup_->GetParameterValueInBaseUnit(name); }
  std::unique_ptr<CZel_Setup> setup_ = SmallSetup();
  RecordingDialog dlg_{*setup_};
};

}  // namespace dialog_testing
