// The setup dialog base: a gain or the sensors configuration that the user changes is encoded
// into its chip parameters at once and shown as the drive will run it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "derive/pipelines.h"
#include "dialogs/my_setup_dlg.h"
#include "host/zel_errors.h"
#include "host/zel_headless.h"
#include "tests/support/test_setups.h"

namespace {

using namespace dcservo;

enum : int { kKpEdit = 101, kKffaEdit = 102, kVdcEdit = 103 };

const ZelDialogTemplate& GainTemplate() {
  static const ZelDialogTemplate t{9200, "Gains", 0,
                                   {{kKpEdit, ZelControlKind::Edit},
                                    {kKffaEdit, ZelControlKind::Edit},
                                    {kVdcEdit, ZelControlKind::Edit},
                                    {kIdOk, ZelControlKind::Button, "OK"}}};
  static const ZelTemplateRegistration registration(t);
  return t;
}

class GainDialog : public CMySetupDlg {
 public:
  explicit GainDialog(CZel_Setup& setup) : CMySetupDlg(setup, GainTemplate().id) {
    AddParameterControls("Kp_C_scl", kKpEdit);
    ZelQuietErrors quiet;  // the small setups lack some of these
    AddParameterControls("KFFA_scl", kKffaEdit);
    AddParameterControls("Vdc", kVdcEdit);
  }
};

class SetupDialogBase : public ::testing::Test {
 protected:
  SetupDialogBase() : installed_(ui_), setup_(testing_support::LoadBundledSetup()) {
    ComputeScaledParameters(*setup_);
  }
  double Internal(const char* name) const { return setup_->GetParameterValueInInternalUnit(name); }
  double Base(const char* name) const { return setup_->GetParameterValueInBaseUnit(name); }
  // The scaled value is what its chip parameters give when it is derived back from them.
  void ExpectDerivedFromChip(const char* name) {
    const double shown = Base(name);
    ASSERT_EQ(RunStep(*setup_, name, Direction::ToScaled), 1);
    EXPECT_DOUBLE_EQ(Base(name), shown) << name;
  }

  ZelHeadlessBackend ui_;
  ZelScopedUiBackend installed_;
  std::unique_ptr<CZel_Setup> setup_;
};

TEST_F(SetupDialogBase, TypedGainComesBackAsTheChipHoldsIt) {
  GainDialog dlg(*setup_);
  dlg.ModalInit();
  const double kpi_before = Internal("KPI");
  ASSERT_TRUE(dlg.UserEdit(kKpEdit, "0.123456"));
  EXPECT_NE(Internal("KPI"), kpi_before);
  EXPECT_NE(Base("Kp_C_scl"), 0.123456);  // a 15-bit mantissa cannot hold it
  EXPECT_NEAR(Base("Kp_C_scl"), 0.123456, 1e-4);
  ExpectDerivedFromChip("Kp_C_scl");
  EXPECT_EQ(dlg.GetChildText(kKpEdit), ZelFormatValue(Base("Kp_C_scl")));

  // A handler that names the parameter in another case runs the same row.
  setup_->SetParameterValueInBaseUnit("Kp_C_scl", 0.25);
  dlg.OnChangedParameterValue("kp_c_scl");
  EXPECT_NE(Internal("KPI"), kpi_before);
  ExpectDerivedFromChip("Kp_C_scl");
}

TEST_F(SetupDialogBase, AccelerationFeedforwardWritesAllThreeChipPartsBeforeReadingBack) {
  GainDialog dlg(*setup_);
  dlg.ModalInit();
  // Garbage in every chip part: any step left out keeps its garbage and the value read back
  // no longer matches the gain typed.
  for (const char* chip : {"SFTKFF", "KFFA", "SFTAFFW"})
    setup_->SetParameterValueInInternalUnit(chip, 3);
  ASSERT_TRUE(dlg.UserEdit(kKffaEdit, "0.8"));
  EXPECT_NEAR(Base("KFFA_scl"), 0.8, 1e-3);
  ExpectDerivedFromChip("KFFA_scl");
  const double kffa = Internal("KFFA"), sftkff = Internal("SFTKFF"), sftaffw = Internal("SFTAFFW");
  ComputeChipParameters(*setup_);
  EXPECT_EQ(Internal("KFFA"), kffa);
  EXPECT_EQ(Internal("SFTKFF"), sftkff);
  EXPECT_EQ(Internal("SFTAFFW"), sftaffw);
}

TEST_F(SetupDialogBase, OtherParametersAndTheSensorsRow) {
  GainDialog dlg(*setup_);
  dlg.ModalInit();
  // A stale chip value stays stale: the supply is in no row.
  setup_->SetParameterValueInInternalUnit("KPI", 1);
  ASSERT_TRUE(dlg.UserEdit(kVdcEdit, "36"));
  EXPECT_EQ(Internal("KPI"), 1);
  EXPECT_EQ(Base("Vdc"), 36);

  const double scr = Internal("SCR");
  setup_->SetParameterValueInBaseUnit("SensorsConfiguration", 2);
  dlg.OnChangedParameterValue("SensorsConfiguration");
  EXPECT_NE(Internal("SCR"), scr);
  EXPECT_EQ(Base("SensorsConfiguration"), 2);
  ExpectDerivedFromChip("SensorsConfiguration");
}

TEST_F(SetupDialogBase, MissingChipParametersChangeNothing) {
  auto small = testing_support::MakeSetup({{"Kp_C_scl", 0.5}, {"Vdc", 48, "V"}});
  GainDialog dlg(*small);
  dlg.ModalInit();
  ZelCollectErrors errors;
  ASSERT_TRUE(dlg.UserEdit(kKpEdit, "0.3"));
  EXPECT_EQ(small->GetParameterValueInBaseUnit("Kp_C_scl"), 0.3);
  dlg.OnChangedParameterValue("KFFA_scl");
  dlg.OnChangedParameterValue("SensorsConfiguration");
  EXPECT_EQ(small->GetParameterValueInBaseUnit("Kp_C_scl"), 0.3);
}

}  // namespace
