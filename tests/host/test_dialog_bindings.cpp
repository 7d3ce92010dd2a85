// Bindings of the setup dialog base: values shown, typed values stored in the unit shown,
// refusals, and the order of the callbacks around every user action.

#include "tests/host/test_dialog_fixture.h"

namespace {

using namespace dialog_testing;

class DialogBindings : public SmallDialogTest {
 protected:
  DialogBindings() { dlg_.ModalInit(); }
  const ZelControlState& State(int id) { return dlg_.GetControlState(id); }
  int IndexOf(int id, const std::string& text) {
    for (int i = 0; i < dlg_.ListGetCount(id); ++i)
      if (dlg_.ListGetText(id, i) == text) return i;
    return -1;
  }

};

TEST_F(DialogBindings, ControlsShowTheSetupAfterInit) {
  EXPECT_EQ(State(kVdcEdit).text, "48");
  EXPECT_EQ(dlg_.ListGetText(kVdcUnit, State(kVdcUnit).selection), "V");
  EXPECT_GE(IndexOf(kVdcUnit, "mV"), 0);
  EXPECT_EQ(State(kLimitEdit).text, "5");
  EXPECT_EQ(State(kOverCurrent).checked, 0);
  EXPECT_EQ(State(kPosition).checked, 1);
  EXPECT_EQ(State(kSpeed).checked, 0);
  // FilterType 2 is the entry whose data is 2, not the third entry.
  EXPECT_EQ(dlg_.ListGetText(kFilterList, State(kFilterList).selection), "Notch");
  EXPECT_EQ(State(kKpSlider).position, 25);
  EXPECT_EQ(State(kKpEdit).text, "0.5");
  EXPECT_THAT(dlg_.log, IsEmpty());
}

TEST_F(DialogBindings, TypedValueIsStoredThenCalledBackThenShown) {
  struct Case { const char* typed; double stored; std::vector<std::string> log; const char* text; };
  const Case cases[] = {
      {"48", 48, {}, "48"},  // committing unchanged text is no edit
      {"24.5", 24.5, {"changed Vdc=24.5", "refresh Vdc=24.5"}, "24.5"},
      {"30,5", 30.5, {"changed Vdc=30.5", "refresh Vdc=30.5"}, "30.5"},  // a decimal comma
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    dlg_.log.clear();
    ASSERT_TRUE(dlg_.UserEdit(kVdcEdit, c.typed));
    EXPECT_DOUBLE_EQ(Value("Vdc"), c.stored);
    EXPECT_EQ(dlg_.log, c.log);
    EXPECT_EQ(State(kVdcEdit).text, c.text);
  }
  EXPECT_THAT(ui_.Messages(), IsEmpty());
}

TEST_F(DialogBindings, ValuesAreTypedInTheSelectedUnit) {
  ASSERT_TRUE(dlg_.UserSelect(kVdcUnit, IndexOf(kVdcUnit, "mV")));
  EXPECT_EQ(State(kVdcEdit).text, "48000");
  EXPECT_THAT(dlg_.log, ElementsAre("unit Vdc=48"));
  EXPECT_DOUBLE_EQ(Value("Vdc"), 48.0);

  ASSERT_TRUE(dlg_.UserEdit(kVdcEdit, "36000"));
  EXPECT_DOUBLE_EQ(Value("Vdc"), 36.0);
  EXPECT_EQ(State(kVdcEdit).text, "36000");
}

TEST_F(DialogBindings, RefusedValuesChangeNothingAndSayWhy) {
  struct Case { const char* unit; const char* typed; const char* message; };
  const Case cases[] = {
      {"V", "100", "Power supply: 100 V is outside the allowed range 10 to 60 V."},
      {"V", "9.99", "Power supply: 9.99 V is outside the allowed range 10 to 60 V."},
      {"mV", "70000", "70000 mV is outside the allowed range 10000 to 60000 mV."},
      {"V", "4,8", "Power supply: 4.8 V is outside"},
      // What the parser refuses (DialogValues) takes this one path.
      {"V", "abc", "\"abc\" is not a number; Power supply keeps 48 V."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.unit) + " \"" + c.typed + "\"");
    dlg_.UserSelect(kVdcUnit, IndexOf(kVdcUnit, c.unit));
    dlg_.log.clear();
    const std::size_t boxes = ui_.Messages().size();
    const std::string shown = State(kVdcEdit).text;

    EXPECT_TRUE(dlg_.UserEdit(kVdcEdit, c.typed));
    EXPECT_DOUBLE_EQ(Value("Vdc"), 48.0);
    EXPECT_EQ(State(kVdcEdit).text, shown);
    EXPECT_THAT(dlg_.log, IsEmpty());
    ASSERT_EQ(ui_.Messages().size(), boxes + 1);
    EXPECT_THAT(ui_.Messages().back().text, HasSubstr(c.message));
    EXPECT_EQ(ui_.Messages().back().style, kMbOk | kMbIconWarning);
  }
}

TEST_F(DialogBindings, ABoundTypedAsShownIsTheBound) {
  setup_->FindParameter("Vdc")->SetMaxInBaseUnit(48.12345678);
  ASSERT_TRUE(dlg_.UserEdit(kVdcEdit, "48.1235"));
  EXPECT_DOUBLE_EQ(Value("Vdc"), 48.12345678);
  EXPECT_THAT(ui_.Messages(), IsEmpty());
  // One digit further is outside.
  EXPECT_TRUE(dlg_.UserEdit(kVdcEdit, "48.124"));
  EXPECT_DOUBLE_EQ(Value("Vdc"), 48.12345678);
  EXPECT_EQ(ui_.Messages().size(), 1u);
}

TEST_F(DialogBindings, ClicksStoreBeforeTheHandlerRuns) {
  ASSERT_TRUE(dlg_.UserClick(kPosition));  // the radio already checked still stores and calls back
  ASSERT_TRUE(dlg_.UserClick(kOverCurrent));
  ASSERT_TRUE(dlg_.UserClick(kTorque));
  EXPECT_THAT(dlg_.log, ElementsAre("changed ControlMode=0", "refresh ControlMode=0",
                                    "handler ControlMode=0", "changed isOverCurrent=1",
                                    "refresh isOverCurrent=1", "handler isOverCurrent=1",
                                    "changed ControlMode=2", "refresh ControlMode=2",
                                    "handler ControlMode=2"));
  EXPECT_EQ(State(kOverCurrent).checked, 1);
  EXPECT_EQ(State(kPosition).checked, 0);
  EXPECT_EQ(State(kTorque).checked, 1);

  ASSERT_TRUE(dlg_.UserClick(kOverCurrent));
  EXPECT_EQ(Value("isOverCurrent"), 0.0);
  EXPECT_EQ(State(kOverCurrent).checked, 0);
}

using DialogRadioGroups = HeadlessTest;

TEST_F(DialogRadioGroups, RadiosInOneBoxGroupByTheirBinding) {
  // Two bound rows and an unbound pair share one box, as the input polarities do.
  using K = ZelControlKind;
  ZelDialogTemplate t;
  t.id = 9002;
  t.controls = {{50, K::Group, "Inputs polarity"},
                {51, K::Radio, "low", 50},  {52, K::Radio, "high", 50},
                {53, K::Radio, "low", 50},  {54, K::Radio, "high", 50},
                {55, K::Radio, "Source", 50}, {56, K::Radio, "Sink", 50}};
  auto setup = testing_support::MakeSetup({{"EnablePolarity", 1}, {"LSPPolarity", 0}});
  CZel_EditSetupDlg dlg(*setup, t);
  dlg.AddSwitchParameterControls("EnablePolarity", 51, 52);
  dlg.AddSwitchParameterControls("LSPPolarity", 53, 54);
  dlg.CheckDlgButton(56, 1);

  ASSERT_TRUE(dlg.UserClick(51));
  ASSERT_TRUE(dlg.UserClick(55));
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("EnablePolarity"), 0.0);
  std::vector<int> checked;
  for (int id = 51; id <= 56; ++id) checked.push_back(dlg.IsDlgButtonChecked(id));
  EXPECT_THAT(checked, ElementsAre(1, 0, 1, 0, 1, 0));
}

TEST_F(DialogBindings, ListStoresTheDataOfTheChosenEntry) {
  ASSERT_TRUE(dlg_.UserSelect(kFilterList, IndexOf(kFilterList, "Lead-lag")));
  EXPECT_EQ(Value("FilterType"), 8.0);
  EXPECT_THAT(dlg_.log, ElementsAre("changed FilterType=8", "refresh FilterType=8"));
  // A value that no entry stands for selects none.
  setup_->SetParameterValueInBaseUnit("FilterType", 5);
  dlg_.RefreshParameterControls("filtertype");
  EXPECT_EQ(State(kFilterList).selection, -1);
}

TEST_F(DialogBindings, SliderSpinsAndEditMoveTogether) {
  struct Case {
    const char* what;
    std::function<bool()> act;
    double kp;
    int position;
    const char* text;
  };
  const Case cases[] = {
      {"slide to 75", [&] { return dlg_.UserSlide(kKpSlider, 75); }, 1.5, 75, "1.5"},
      {"one step up", [&] { return dlg_.UserSpin(kKpSpin, 1); }, 1.52, 76, "1.52"},
      {"a page down", [&] { return dlg_.UserSpin(kKpPageSpin, -1); }, 1.32, 66, "1.32"},
      {"past the end", [&] { return dlg_.UserSpin(kKpPageSpin, 5); }, 2.0, 100, "2"},
      // The slider's ends are not the parameter's: a typed 3 is allowed and pins the slider.
      {"typed beyond the slider", [&] { return dlg_.UserEdit(kKpEdit, "3"); }, 3.0, 100, "3"},
      {"typed", [&] { return dlg_.UserEdit(kKpEdit, "0.2"); }, 0.2, 10, "0.2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.act());
    EXPECT_NEAR(Value("Kp_C_scl"), c.kp, 1e-12);
    EXPECT_EQ(State(kKpSlider).position, c.position);
    EXPECT_EQ(State(kKpEdit).text, c.text);
  }
  // Spinning against the end changes nothing and calls nothing back.
  dlg_.UserSlide(kKpSlider, 0);
  dlg_.log.clear();
  ASSERT_TRUE(dlg_.UserSpin(kKpSpin, -1));
  EXPECT_THAT(dlg_.log, IsEmpty());
}

TEST_F(DialogBindings, RefreshOnlyShows) {
  setup_->SetParameterValueInBaseUnit("Vdc", 30);
  setup_->SetParameterValueInBaseUnit("ControlMode", 1);
  setup_->SetParameterValueInBaseUnit("isOverCurrent", 1);
  dlg_.RefreshParameterControls("VDC");
  EXPECT_EQ(State(kVdcEdit).text, "30");
  EXPECT_EQ(State(kSpeed).checked, 0);
  dlg_.RefreshAllParameters(0);
  EXPECT_EQ(State(kSpeed).checked, 1);
  EXPECT_EQ(State(kOverCurrent).checked, 1);
  EXPECT_THAT(dlg_.log, IsEmpty());
}

TEST_F(DialogBindings, UsersCannotActOnDisabledOrHiddenControls) {
  const int list[] = {kVdcEdit, kOverCurrent};
  dlg_.EnableChildren(list, 0);
  EXPECT_FALSE(dlg_.UserEdit(kVdcEdit, "20"));
  EXPECT_THAT(dlg_.LastRefusal(), HasSubstr("disabled"));
  EXPECT_FALSE(dlg_.UserClick(kOverCurrent));
  dlg_.ShowChild(kSpeed, 0);
  EXPECT_FALSE(dlg_.UserClick(kSpeed));
  EXPECT_THAT(dlg_.LastRefusal(), HasSubstr("hidden"));
  EXPECT_FALSE(dlg_.UserClick(9999));
  EXPECT_FALSE(dlg_.UserClick(kVdcEdit));
  EXPECT_THAT(dlg_.LastRefusal(), HasSubstr("does not take"));
  EXPECT_EQ(Value("Vdc"), 48.0);
  EXPECT_EQ(Value("ControlMode"), 0.0);
  EXPECT_THAT(dlg_.log, IsEmpty());
}

TEST_F(DialogBindings, BlankHidesContentOnlyWhileDisabled) {
  dlg_.EnableChild(kLimitEdit, 0, 1);
  EXPECT_TRUE(State(kLimitEdit).blank);
  EXPECT_EQ(State(kLimitEdit).text, "5");
  dlg_.EnableChild(kLimitEdit, 1, 1);
  EXPECT_FALSE(State(kLimitEdit).blank);
  EXPECT_TRUE(State(kLimitEdit).enabled);
}

TEST_F(DialogBindings, GuidanceStepsWithPreviousAndNext) {
  EXPECT_EQ(dlg_.GetGuidanceCount(), 3);
  EXPECT_EQ(State(kIdcGuidanceText).text, "Step 1. Choose the mode.");
  EXPECT_FALSE(State(kIdcGuidancePrevious).enabled);
  ASSERT_TRUE(dlg_.UserClick(kIdcGuidanceNext));
  ASSERT_TRUE(dlg_.UserClick(kIdcGuidanceNext));
  EXPECT_EQ(State(kIdcGuidanceText).text, "Step 3.\tTune.");
  EXPECT_FALSE(State(kIdcGuidanceNext).enabled);
  EXPECT_FALSE(dlg_.UserClick(kIdcGuidanceNext));
  ASSERT_TRUE(dlg_.UserClick(kIdcGuidancePrevious));
  EXPECT_EQ(dlg_.GetGuidanceStep(), 1);
  EXPECT_TRUE(State(kIdcGuidanceNext).enabled);
  // A refresh of the data does not move the assistant.
  dlg_.UpdateData(0);
  EXPECT_EQ(State(kIdcGuidanceText).text, "Step 2. Set the supply.");
}

TEST_F(DialogBindings, BindingsThatCannotBeMadeAreReported) {
  ZelCollectErrors errors;
  EXPECT_EQ(dlg_.AddParameterControls("NoSuchParameter", kVdcEdit), 0);
  EXPECT_EQ(dlg_.AddCheckParameterControls("Vdc", kVdcEdit), 0);
  EXPECT_EQ(dlg_.AddSwitchParameterControls("ControlMode", kPosition, kPosition + 7), 0);
  EXPECT_EQ(dlg_.AddParameterControls("Vdc", 4242), 0);
  ASSERT_EQ(errors.Messages().size(), 4u);
  EXPECT_THAT(errors.Messages()[1], HasSubstr("a edit"));
  EXPECT_THAT(errors.Messages()[3], HasSubstr("missing"));
}

TEST(DialogValues, FormatAndParse) {
  struct Case { double value; const char* shown; };
  for (const Case& c : {Case{0.0, "0"}, {-0.0, "0"}, {48, "48"}, {0.123456789, "0.123457"},
                        {40e6, "40000000"}, {1234567.5, "1.23457e+06"}, {2.5e-5, "2.5e-05"},
                        {-3.25, "-3.25"}}) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(ZelFormatValue(c.value), c.shown);
    double back = 0;
    ASSERT_TRUE(ZelParseValue(c.shown, back));
  }
  double v = 0;
  for (const char* bad : {"", " ", "1.2.3", "0x10", "inf", "nan", "1e999", "1e", "--1", "12 V",
                          "4,8,1", "4.8,1"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ZelParseValue(bad, v));
  }
  ASSERT_TRUE(ZelParseValue("  +1.5e3 ", v));
  EXPECT_EQ(v, 1500.0);
}

}  // namespace
