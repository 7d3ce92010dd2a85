// The resolution at which a value is shown: one count of the register it is derived from.

#include <gtest/gtest.h>

#include "derive/display_step.h"
#include "derive/pipelines.h"
#include "host/zel_format.h"
#include "tests/support/test_setups.h"

namespace {

using testing_support::LoadBundledSetup;

// A value typed but not yet derived into its register still shows at the register's
// resolution: the step is one count, not the distance to what the register holds.
TEST(DisplayStep, IsOneCountOfTheRegisterWhateverTheValueTyped) {
  auto setup = LoadBundledSetup();
  dcservo::SynchroniseSetup(*setup);
  CZel_Parameter* protection = setup->FindParameter("TestProtectionCurrent");
  ASSERT_NE(protection, nullptr);
  const double synced = dcservo::DisplayStep(*setup, *protection);
  // IMAXPROT counts the converter's full scale, 2 x ImaxPS over 65472 counts, left-aligned.
  EXPECT_GT(synced, 0.0);
  EXPECT_LT(synced, 0.01);
  ASSERT_EQ(protection->SetValueInBaseUnit(2.0), 1);
  EXPECT_DOUBLE_EQ(dcservo::DisplayStep(*setup, *protection), synced);
  EXPECT_DOUBLE_EQ(protection->GetValueInBaseUnit(), 2.0) << "the probe puts the value back";
}

// The I²t limit currents are read back from the integral limit through a square root, so a
// whole number of amperes comes back a few nano-amperes off; one count of that register is
// what tells the drive's values apart, and the value shows as the number that was typed.
TEST(DisplayStep, AnI2tLimitCurrentShowsAtOneCountOfItsIntegralLimit) {
  auto setup = LoadBundledSetup();
  for (const char* name : {"I_I2t_D", "I_I2t_M"}) {
    SCOPED_TRACE(name);
    CZel_Parameter* current = setup->FindParameter(name);
    ASSERT_NE(current, nullptr);
    ASSERT_EQ(current->SetValueInBaseUnit(6.0), 1);
    dcservo::SynchroniseSetup(*setup);
    const double step = dcservo::DisplayStep(*setup, *current);
    EXPECT_GT(step, 0.0);
    EXPECT_LT(step, 1e-3);
    EXPECT_EQ(ZelFormatValue(current->GetValueInBaseUnit(), step), "6");
  }
}

// A pass band is no register: it is as fine as the proportional gain it tunes, one count of
// that gain's mantissa (85.0526 rad/s showed six digits where the gain tells 85.053 apart).
TEST(DisplayStep, APassBandShowsAtOneCountOfItsProportionalGain) {
  auto setup = LoadBundledSetup();
  const struct {
    const char* band;
    const char* gain;
  } loops[] = {{"PB_C", "Kp_C_scl"}, {"PB_S", "Kp_S_scl"}, {"PB_P", "Kp_P_scl"}};
  for (const auto& loop : loops) {
    SCOPED_TRACE(loop.band);
    CZel_Parameter* band = setup->FindParameter(loop.band);
    CZel_Parameter* gain = setup->FindParameter(loop.gain);
    ASSERT_TRUE(band && gain);
    ASSERT_EQ(band->SetValueInBaseUnit(85.0525815443996), 1);
    dcservo::SynchroniseSetup(*setup);
    const double step = dcservo::DisplayStep(*setup, *band);
    const double relative = dcservo::DisplayStep(*setup, *gain) / gain->GetValueInBaseUnit();
    EXPECT_NEAR(step, 85.0525815443996 * relative, 1e-12);
  }
  ASSERT_EQ(setup->FindParameter("PB_S")->SetValueInBaseUnit(85.0525815443996), 1);
  ASSERT_EQ(setup->FindParameter("Kp_S_scl")->SetValueInBaseUnit(2624.080080568865), 1);
  dcservo::SynchroniseSetup(*setup);
  EXPECT_EQ(ZelFormatValue(85.0525815443996, dcservo::DisplayStep(*setup, *setup->FindParameter("PB_S"))),
            "85.053");
}

// A measured supply is as fine as one level of the converter that read it (10 bits of a 60 V
// range), not one count of the 16 bits its reading is left-aligned in: 47.9765 V showed four
// decimals where the converter tells only 0.06 V apart.
TEST(DisplayStep, AMeasuredSupplyShowsAtOneLevelOfItsConverter) {
  auto setup = LoadBundledSetup();
  CZel_Parameter* vdc = setup->FindParameter("Vdc");
  ASSERT_NE(vdc, nullptr);
  const double levels = setup->FindParameter("ADCResolution")->GetValueInBaseUnit();
  const double range = setup->FindParameter("VdcMaxMeasurable")->GetValueInBaseUnit();
  const double step = dcservo::DisplayStep(*setup, *vdc);
  EXPECT_DOUBLE_EQ(step, range / levels);
  EXPECT_EQ(ZelFormatValue(47.976539589442815, step), "48");
  EXPECT_EQ(ZelFormatValue(36.21, step), "36.2");
}

}  // namespace
