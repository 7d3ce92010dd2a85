// The setup dialog base on the bundled drive, through the headless front end: a gain or the
// sensors configuration typed by the user goes to its chip parameters and comes back as what
// the drive will really run with; other names leave the chip alone.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "derive/display_step.h"
#include "derive/gains.h"
#include "derive/pipelines.h"
#include "dialogs/my_setup_dlg.h"
#include "host/zel_errors.h"
#include "tests/dialogs/dialog_test.h"

namespace {

using testing_support::Snapshot;
using testing_support::Value;

using dcservo::Direction;
using dcservo::RunStep;
using dcservo::StepResult;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr unsigned kTemplateId = 9501;
constexpr int kFirstEdit = 200;  // one edit per entry of the dialog's name list
constexpr int kEdits = 12;

ZelDialogTemplate GainsTemplate() {
  ZelDialogTemplate t;
  t.id = kTemplateId;
  t.caption = "Gains";
  for (int i = 0; i < kEdits; ++i)
    t.controls.push_back({kFirstEdit + i, ZelControlKind::Edit, "", 0, {i, 0}});
  t.controls.push_back({kIdOk, ZelControlKind::Button, "OK", 0, {kEdits, 0}});
  t.controls.push_back({kIdCancel, ZelControlKind::Button, "Cancel", 0, {kEdits, 1}});
  return t;
}
const ZelDialogTemplate kTemplate = GainsTemplate();
const ZelTemplateRegistration kRegistration(kTemplate);

const std::vector<std::string> kAllNames = {
    "Kp_C_scl", "Ki_C_scl", "Ki_P_scl", "Kp_P_scl", "Kd_P_scl", "Ki_S_scl",
    "Kp_S_scl", "KFFA_scl", "KFFS_scl", "SensorsConfiguration", "Vdc"};

// A page as the drive's dialogs build one: edits bound by name, and a handler of its own that
// hands every change on to the base.
class GainsDialog : public CMySetupDlg {
 public:
  explicit GainsDialog(CZel_Setup& setup, const std::vector<std::string>& names = kAllNames)
      : CMySetupDlg(setup, kTemplateId), names_(names) {
    for (std::size_t i = 0; i < names.size(); ++i)
      AddParameterControls(names[i], kFirstEdit + static_cast<int>(i));
  }
  int EditOf(const std::string& name) const {
    for (std::size_t i = 0; i < names_.size(); ++i)
      if (names_[i] == name) return kFirstEdit + static_cast<int>(i);
    return 0;
  }
  void OnChangedParameterValue(const std::string& name) override {
    changed.push_back(name);
    CMySetupDlg::OnChangedParameterValue(name);
  }
  std::vector<std::string> changed;

 private:
  std::vector<std::string> names_;
};

std::vector<std::string> Differences(const std::map<std::string, double>& a,
                                     const std::map<std::string, double>& b) {
  std::vector<std::string> names;
  for (const auto& [name, value] : a)
    if (!b.count(name) || b.at(name) != value) names.push_back(name);
  return names;
}

// Chip values the gains cannot produce, so a chip step left out shows.
void Poison(CZel_Setup& s, const std::vector<const char*>& chip) {
  for (const char* name : chip) testing_support::Put(s, {{name, 7}});
}

class MySetupDialog : public testing_support::DialogTest<GainsDialog> {
 protected:
  std::string ShownFor(const std::string& name) const { return Text(dlg_->EditOf(name)); }
};

// Each row against a setup brought to the same place by the steps one by one: a row that
// misses a chip step, runs a foreign one or reads back another parameter differs somewhere.
// Two rows also pin the registers: the acceleration feedforward spreads its shift over two,
// and all three have to be rewritten before the gain is read back, or it reads stale shifts.
TEST_F(MySetupDialog, EveryGainRowRewritesItsChipValuesAndNothingElse) {
  struct Case {
    const char* scaled;
    const char* typed;
    std::vector<const char*> chip;
    std::vector<Value> pinned = {};
    const char* shown = nullptr;  // what the drive holds, no longer than its resolution tells
  };
  const Case cases[] = {
      {"Kp_C_scl", "0.123456", {"KPI", "SFTKPI"},  // 0.123456 * 32767, cut to the register
       {{"KPI", 4045}, {"SFTKPI", 0}, {"Kp_C_scl", 4045.0 / 32767.0}}, "0.12345"},
      {"Ki_C_scl", "0.0417", {"KII", "SFTKII"}},
      {"Ki_P_scl", "0.00731", {"SFTKIP", "KIP"}},    {"Kp_P_scl", "3.3333", {"SFTKPP", "KPP"}},
      {"Kd_P_scl", "17.77", {"SFTKDP", "KDP"}},      {"Ki_S_scl", "0.2718", {"SFTKIS", "KIS"}},
      {"Kp_S_scl", "5.4321", {"SFTKPS", "KPS"}},     {"KFFS_scl", "1.5", {"SFTSFFW", "KFFS"}},
      {"KFFA_scl", "10000", {"SFTKFF", "KFFA", "SFTAFFW"},
       {{"SFTAFFW", 11}, {"SFTKFF", 3}, {"KFFA", 19999}, {"KFFA_scl", 19999.0 * 16384 / 32767}},
       "10000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scaled);
    Reload();
    auto expected = testing_support::LoadBundledSetup();
    Poison(*setup_, c.chip);
    Poison(*expected, c.chip);
    ASSERT_TRUE(expected->SetParameterValueInBaseUnit(c.scaled, std::stod(c.typed)));
    for (const char* chip : c.chip)
      ASSERT_EQ(RunStep(*expected, chip, Direction::ToChip), StepResult::Done);
    ASSERT_EQ(RunStep(*expected, c.scaled, Direction::ToScaled), StepResult::Done);

    GainsDialog& dlg = Open();
    ASSERT_TRUE(dlg.UserEdit(dlg.EditOf(c.scaled), c.typed));
    EXPECT_THAT(Differences(Snapshot(*expected), Snapshot(*setup_)), IsEmpty());
    for (const char* chip : c.chip) EXPECT_NE(Get(chip), 7) << chip;
    EXPECT_NE(Get(c.scaled), std::stod(c.typed));  // none of these fits the registers exactly
    EXPECT_NEAR(std::stod(ShownFor(c.scaled)), Get(c.scaled),
                0.5 * dcservo::DisplayStep(*setup_, *setup_->FindParameter(c.scaled)));
    for (const Value& v : c.pinned) EXPECT_DOUBLE_EQ(Get(v.name), v.base) << v.name;
    if (c.shown) { EXPECT_EQ(ShownFor(c.scaled), c.shown); }
    EXPECT_THAT(dlg.changed, ElementsAre(c.scaled));
    EXPECT_THAT(ui_.Messages(), IsEmpty());
  }
}

TEST_F(MySetupDialog, SensorsChangeForcesSpeedForwardAndRewritesTheFeedbackRegisters) {
  auto expected = testing_support::LoadBundledSetup();
  ASSERT_TRUE(expected->SetParameterValueInBaseUnit("SensorsConfiguration", 2));
  dcservo::ApplySpeedForwardRule(*expected);
  for (const char* chip : {"UPGRADE", "SCR", "OSR"})
    ASSERT_EQ(RunStep(*expected, chip, Direction::ToChip), StepResult::Done) << chip;
  ASSERT_EQ(RunStep(*expected, "SensorsConfiguration", Direction::ToScaled), StepResult::Done);
  const auto before = Snapshot(*setup_);
  // A file may carry a wider range than the drive offers; the read-back puts the drive's back.
  setup_->FindParameter("SensorsConfiguration")->SetMaxInBaseUnit(5);

  GainsDialog& dlg = Open();
  ASSERT_TRUE(dlg.UserEdit(dlg.EditOf("SensorsConfiguration"), "2"));
  EXPECT_THAT(Differences(Snapshot(*expected), Snapshot(*setup_)), IsEmpty());
  // The load encoder is no choice for the speed feedforward, and it is told to the drive.
  EXPECT_EQ(Get("SpeedForward"), 1);
  EXPECT_EQ(static_cast<int>(Get("ACR")) & 0x4000, 0x4000);
  EXPECT_NE(Get("SCR"), before.at("SCR"));
  EXPECT_NE(Get("OSR"), before.at("OSR"));
  EXPECT_EQ(Get("SensorsConfiguration"), 2);
  EXPECT_EQ(setup_->FindParameter("SensorsConfiguration")->GetMaxInBaseUnit(), 2);
  EXPECT_EQ(ShownFor("SensorsConfiguration"), "2");
}

TEST_F(MySetupDialog, NamesMatchWithoutCaseAndOtherNamesLeaveTheChipAlone) {
  // Bound under another spelling: the host calls back with the name as it was bound.
  GainsDialog& dlg = Open(std::vector<std::string>{"kp_c_scl", "Vdc"});
  ASSERT_TRUE(dlg.UserEdit(dlg.EditOf("kp_c_scl"), "0.123456"));
  EXPECT_EQ(Get("KPI"), 4045);

  // A page that set the gain itself and reports the change by name.
  ASSERT_TRUE(setup_->SetParameterValueInBaseUnit("KFFA_scl", 10000));
  dlg.OnChangedParameterValue("kffa_SCL");
  EXPECT_EQ(Get("KFFA"), 19999);

  // Scaled values out of step with the chip, so that any row that ran would show.
  for (auto [name, value] :
       {std::pair{"Kp_C_scl", 2.0}, {"KFFA_scl", 500.0}, {"SensorsConfiguration", 2.0}})
    ASSERT_TRUE(setup_->SetParameterValueInBaseUnit(name, value));
  const auto before = Snapshot(*setup_);
  ASSERT_TRUE(dlg.UserEdit(dlg.EditOf("Vdc"), "36"));
  EXPECT_THAT(Differences(before, Snapshot(*setup_)), ElementsAre("Vdc"));
  EXPECT_EQ(Get("Vdc"), 36);
  EXPECT_THAT(dlg.changed, ElementsAre("kp_c_scl", "kffa_SCL", "Vdc"));
  // Only the whole name matches.
  for (const char* name : {"Kp_C", "", "Kp_C_scl2", "KFFA"}) dlg.OnChangedParameterValue(name);
  EXPECT_THAT(Differences(before, Snapshot(*setup_)), ElementsAre("Vdc"));
}

TEST_F(MySetupDialog, OnASmallSetupStepsWithoutTheirParametersChangeNothingAndTheRestRun) {
  ZelCollectErrors errors;
  // No mantissa: the mantissa step and the read-back cannot run, the shift step can.
  setup_ = testing_support::MakeSetup(
      {{"Kp_C_scl", 0.5}, {"SFTKPI", 0, "", false, ZelStorageType::Int16}});
  Type(Open(std::vector<std::string>{"Kp_C_scl"}).EditOf("Kp_C_scl"), "3");
  EXPECT_TRUE(Holds({{"SFTKPI", 2}, {"Kp_C_scl", 3}}));
  EXPECT_EQ(ShownFor("Kp_C_scl"), "3");
  EXPECT_THAT(dlg_->changed, ElementsAre("Kp_C_scl"));
  EXPECT_EQ(setup_->GetParameters().GetParametersCount(), 2);
  ASSERT_THAT(errors.Messages(), ::testing::Not(IsEmpty()));
  EXPECT_THAT(errors.Messages().front(), HasSubstr("KPI"));
  EXPECT_THAT(ui_.Messages(), IsEmpty());

  // Nothing of the sensors row exists here either: only the value typed is stored.
  dlg_.reset();
  setup_ = testing_support::MakeSetup({{"SensorsConfiguration", 0}});
  Type(Open(std::vector<std::string>{"SensorsConfiguration"}).EditOf("SensorsConfiguration"), "1");
  EXPECT_EQ(Get("SensorsConfiguration"), 1);
  EXPECT_EQ(setup_->GetParameters().GetParametersCount(), 1);
}

}  // namespace
