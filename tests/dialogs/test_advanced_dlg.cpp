// The advanced dialog on the bundled drive (40 MHz, PWMPER 1000, CLPER 1, SLPER 10): the PWM
// change that keeps the loop periods, the rescaling when the slow period moves, the marks
// and refusals of periods below the drive's minimum, and the groups by control structure.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "derive/pipelines.h"
#include "dialogs/advanced_dlg.h"
#include "tests/dialogs/dialog_test.h"

namespace {

using namespace dcservo;
using namespace dcservo::advanced;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing_support::Param;

class AdvancedDialog : public testing_support::DialogTest<CAdvancedDialog> {};

TEST_F(AdvancedDialog, DividersFollowThePwmAsCloseAsWholeOnesAllowAndTheFastNeverPassesTheSlow) {
  Open();
  Type(kFastDividerEdit, "2");  // the fast target becomes 100 us
  EXPECT_DOUBLE_EQ(Get("Ts_C"), 100e-6);
  const CZel_Parameter& freq = *setup_->FindParameter("PWM_freq");
  Type(kPwmFrequencyEdit, ZelFormatValue(freq.GetSelectedUnit().FromBase(25000)));
  EXPECT_EQ(Get("PWMPER"), 800);
  EXPECT_EQ(Get("CLPER"), 3);  // 2.5 whole new periods, rounded up
  EXPECT_NEAR(Get("Ts_C"), 120e-6, 1e-12);
  EXPECT_EQ(Get("SLPER"), 13);
  EXPECT_NEAR(Get("Ts_S"), 520e-6, 1e-12);
  EXPECT_EQ(Text(kFastDividerEdit), "3");

  Type(kFastDividerEdit, "14");
  EXPECT_EQ(Get("SLPER"), 14);
  EXPECT_NEAR(Get("Ts_S"), 560e-6, 1e-12);
  EXPECT_EQ(Text(kSlowDividerEdit), "14");
}

// The factor of each unit type counted in slow-loop samples when the period doubles (r = 0.5).
const std::map<int, double> kDoubledPeriodFactors = {
    {kUnitTime, 0.5},      {kUnitRotarySpeed, 2},        {kUnitLinearSpeed, 2},
    {kUnitCurrentRate, 2}, {kUnitRotaryAcceleration, 4}, {kUnitLinearAcceleration, 4}};

double DoubledPeriodFactor(const CZel_Parameter& p) {
  auto f = kDoubledPeriodFactors.find(p.GetUnitType());
  return p.IsStoredInBaseUnit() || f == kDoubledPeriodFactors.end() ? 1.0 : f->second;
}

// Over the whole parameter list of the drive: values kept in slow-loop samples follow the
// period, everything else is left as it was.
TEST(AdvancedRescale, DoublingTheSlowPeriodRescalesEveryValueCountedInSamples) {
  auto setup = testing_support::LoadBundledSetup();
  const auto before = testing_support::Snapshot(*setup);
  setup->SetParameterValueInBaseUnit("SLPER", 20);
  RescaleSlowLoopCounts(*setup, 0.5);
  const CZel_Parameters& all = setup->GetParameters();
  int rescaled = 0;
  for (int i = 0; i < all.GetParametersCount(); ++i) {
    const CZel_Parameter& p = *all[i];
    if (p.GetName() == "SLPER") continue;
    const double factor = DoubledPeriodFactor(p);
    rescaled += factor != 1.0;
    EXPECT_EQ(p.GetValueInInternalUnit(),
              StoreAs(p.GetType(), before.at(p.GetName()) * factor))
        << p.GetName();
  }
  EXPECT_GE(rescaled, 20);
}

// Through the dialog, with the synchronisation around it: what the user set stays.
TEST_F(AdvancedDialog, DoublingTheSlowPeriodKeepsWhatTheUserSet) {
  ComputeChipParameters(*setup_);
  ComputeScaledParameters(*setup_);
  Open();
  const char* const kept[] = {"time_Imax_Prot", "time_ERR_pos", "ERR_speed", "time_ERR_spd",
                              "ErefMaxSpeed",   "ErefMaxAcceleration", "Limit_Speed",
                              "FreezeControl_time", "Ts_C_min", "t_I2t_D", "Ts_C"};
  std::map<std::string, double> base;
  for (const char* name : kept) base[name] = Get(name);
  Type(kSlowDividerEdit, "20");
  ASSERT_NEAR(Get("Ts_S"), 1e-3, 1e-12);
  for (const char* name : kept) EXPECT_NEAR(Get(name), base[name], 1e-3 * base[name]) << name;
}

TEST(AdvancedRescale, AnI2tTimeThatCannotKeepItsValueKeepsTheI2t) {
  // 3 slow-loop samples of 500 us; twice the period makes it 1.5 samples, stored as 2.
  auto setup = testing_support::MakeTimingSetup(
      {Param{"t_I2t_M", 3, "s", true, ZelStorageType::Int16}, Param{"I_I2t_M", 4, "A"},
       Param{"t_I2t_D", 2, "s"}, Param{"I_I2t_D", 5, "A"}});
  const double before = setup->GetParameterValueInBaseUnit("t_I2t_M");
  setup->SetParameterValueInBaseUnit("SLPER", 20);
  RescaleSlowLoopCounts(*setup, 0.5);
  const double now = setup->GetParameterValueInBaseUnit("t_I2t_M");
  EXPECT_EQ(setup->GetParameterValueInInternalUnit("t_I2t_M"), 2);
  EXPECT_NEAR(setup->GetParameterValueInBaseUnit("I_I2t_M"), 4 * std::sqrt(before / now), 1e-12);
  // Kept in seconds: nothing to make up for.
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("t_I2t_D"), 2);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("I_I2t_D"), 5);
}

TEST_F(AdvancedDialog, PeriodsBelowTheMinimumAreMarkedRedAndRefusedOnOk) {
  struct Case {
    const char* what;
    double fast_min, slow_min;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"within limits", 50e-6, 500e-6, {}},
      {"fast too short", 60e-6, 0, {"Fast loop sampling period is 0.060000 ms!"}},
      {"both too short", 60e-6, 1e-3,
       {"The minimum value for Fast loop sampling period is 0.060000 ms!\nAdjust the PWM",
        "The minimum value for Slow loop sampling period is 1.000000 ms!\nAdjust the PWM"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reload({{"Ts_C_min", c.fast_min}, {"Ts_S_min", c.slow_min}});
    const std::size_t first = ui_.Messages().size();
    CAdvancedDialog& dlg = Open();
    EXPECT_FALSE(Shown(kFastMarker));
    // Typing the dividers as they are marks the periods they give.
    Type(kFastDividerEdit, "2");
    Type(kFastDividerEdit, "1");
    Type(kSlowDividerEdit, "11");
    Type(kSlowDividerEdit, "10");
    const bool fast_out = c.fast_min > 50e-6, slow_out = c.slow_min > 500e-6;
    EXPECT_EQ(Shown(kFastMarker), fast_out);
    EXPECT_EQ(Shown(kSlowMarker), slow_out);
    EXPECT_EQ(State(kFastPeriodLabel).text_colour, fast_out ? kZelTextRed : kZelTextDefault);
    EXPECT_EQ(State(kFastDividerLabel).text_colour, fast_out ? kZelTextRed : kZelTextDefault);
    EXPECT_EQ(State(kSlowPeriodLabel).text_colour, slow_out ? kZelTextRed : kZelTextDefault);
    EXPECT_EQ(State(kFastMarker).text_colour, kZelTextRed);

    Click(kIdOk);
    ASSERT_EQ(ui_.Messages().size() - first, c.messages.size());
    for (std::size_t i = 0; i < c.messages.size(); ++i)
      EXPECT_THAT(ui_.Messages()[first + i].text, HasSubstr(c.messages[i]));
    EXPECT_EQ(dlg.HasEnded(), c.messages.empty());
  }
}

TEST_F(AdvancedDialog, OtherNamesReachNoBaseHandler) {
  CAdvancedDialog& dlg = Open();
  // A gain the chip cannot hold exactly: the setup dialog base would encode it and read back.
  setup_->SetParameterValueInBaseUnit("Kp_C_scl", 0.123456789);
  const auto before = testing_support::Snapshot(*setup_);
  for (const char* name : {"Kp_C_scl", "SensorsConfiguration", "CLPER", "SLPER"})
    dlg.OnChangedParameterValue(name);
  EXPECT_EQ(testing_support::Snapshot(*setup_), before);
}

TEST_F(AdvancedDialog, GroupsAndSchemeFollowTheControlStructureAndHelpOpensItsTopic) {
  struct Case {
    double mode, sensors, structure;
    const char* image;
    bool scheme_radios, feedforward, speed_loop_feedforward;
  };
  const Case cases[] = {
      {0, 0, 0, "3017", true, true, false},  {0, 0, 1, "3000", true, true, true},
      {0, 2, 1, "3001", false, true, false}, {1, 0, 1, "3062", false, true, false},
      {1, 1, 0, "3016", false, true, false}, {2, 0, 1, "3063", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image);
    Put({{"ControlMode", c.mode}, {"SensorsConfiguration", c.sensors},
         {"PositionControlType", c.structure}});
    Open();
    EXPECT_EQ(State(kSchemePicture).image, c.image);
    EXPECT_EQ(Shown(kPositionOverSpeed), c.scheme_radios);
    EXPECT_EQ(Enabled(kFeedforwardCurrentLoop), c.feedforward);
    EXPECT_EQ(Enabled(kFeedforwardSpeedLoop), c.speed_loop_feedforward);
    EXPECT_EQ(Enabled(kFreezeCheck), c.mode == 0);
    EXPECT_EQ(Enabled(kFastLoop), c.mode < 2 && c.sensors < 2);
  }
  // Clicking the other scheme shows its picture at once.
  Put({{"ControlMode", 0}, {"SensorsConfiguration", 0}});
  Open();
  Click(kPositionOverCurrent);
  EXPECT_EQ(State(kSchemePicture).image, "3017");
  Click(kHelpButton);
  ASSERT_EQ(ui_.HelpRequests().size(), 1u);
  EXPECT_EQ(ui_.HelpRequests()[0].context, kAdvancedHelpContext);
}

TEST_F(AdvancedDialog, WithoutTheFastLoopSwitchItsGroupIsHidden) {
  setup_ = testing_support::LoadBundledSetupWithout({"PosSpd_in_FastLoop"});
  ZelCollectErrors errors;
  Open();
  EXPECT_THAT(errors.Messages(), IsEmpty());
  for (int id : {kLoopBox, kSlowLoop, kFastLoop}) EXPECT_FALSE(Shown(id)) << id;
}

}  // namespace
