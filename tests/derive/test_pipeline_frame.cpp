#include <gtest/gtest.h>

#include <cmath>

#include "derive/compute_all.h"
#include "derive/pipelines.h"
#include "derive/set_parameter_range.h"
#include "tests/support/test_setups.h"

using dcservo::Direction;
using testing_support::MakeSetup;
using testing_support::MakeTimingSetup;

namespace {

TEST(Pipelines, StepsRunInTheDrivesOrder) {
  for (auto steps : {dcservo::ScaledPipelineSteps(), dcservo::ChipPipelineSteps()}) {
    for (std::size_t i = 1; i < steps.size(); ++i) {
      SCOPED_TRACE(steps[i].quantity);
      EXPECT_LE(steps[i - 1].row, steps[i].row);
    }
  }
}

TEST(Pipelines, EachQuantityHasOneStepPerDirection) {
  for (auto steps : {dcservo::ScaledPipelineSteps(), dcservo::ChipPipelineSteps()}) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
      for (std::size_t j = i + 1; j < steps.size(); ++j) {
        EXPECT_FALSE(zel::NamesEqual(steps[i].quantity, steps[j].quantity)) << steps[i].quantity;
      }
    }
  }
}

TEST(Pipelines, BundledDriveHasEveryNameThePipelinesLookUp) {
  auto setup = testing_support::LoadBundledSetup();
  ZelCollectErrors errors;
  dcservo::ComputeAllOptions(setup.get());
  dcservo::ComputeChipParameters(*setup);
  dcservo::ComputeScaledParameters(*setup);
  EXPECT_TRUE(errors.Messages().empty()) << ::testing::PrintToString(errors.Messages());
}

TEST(Pipelines, NullSetupIsLeftAlone) { dcservo::ComputeAllOptions(nullptr); }

TEST(Pipelines, AMissingParameterEndsOnlyItsOwnStep) {
  auto setup = MakeSetup({{"DSP_freq", 40e6}, {"PWMPER", 1000}, {"CLPER", 1}, {"Ts_C", 0},
                          {"Ts_S", 7}, {"PWM_freq", 0}});
  ZelCollectErrors errors;
  EXPECT_EQ(dcservo::RunStep(*setup, "Ts_S", Direction::ToScaled), 0);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("Ts_S"), 7);
  EXPECT_EQ(errors.Messages().size(), 1u);  // SLPER, named by the host
  dcservo::ComputeScaledParameters(*setup);
  EXPECT_DOUBLE_EQ(setup->GetParameterValueInBaseUnit("Ts_C"), 50e-6);
  EXPECT_DOUBLE_EQ(setup->GetParameterValueInBaseUnit("PWM_freq"), 20000);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("Ts_S"), 7);
}

TEST(Pipelines, SingleStepsAreFoundByQuantityWithoutCase) {
  auto setup = MakeTimingSetup({{"PWM_freq", 25000}});
  EXPECT_EQ(dcservo::RunStep(*setup, "pwmper", Direction::ToChip), 1);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("PWMPER"), 800);
  EXPECT_EQ(dcservo::RunStep(*setup, "PWMPER", Direction::ToScaled), -1);
  EXPECT_EQ(dcservo::RunStep(*setup, "NoSuchQuantity", Direction::ToChip), -1);
}

TEST(SetParameterRange, NeverLeavesAnInvertedRange) {
  struct Case {
    double stored_min, stored_max, min, max;
    int result;
    double final_min, final_max;
  };
  const Case cases[] = {
      {0, 10, 3, 3, 1, 3, 3},       // a single value
      {0, 10, 5, 4, 0, 0, 10},      // refused, nothing changed
      {10, 5, 20, 30, 1, 20, 30},   // stored range inverted, request above it
      {10, 5, 1, 2, 1, 1, 2},       // stored range inverted, request below it
      {0, 10, 20, 30, 1, 20, 30},   // moves up past the old maximum
      {0, 10, -30, -20, 1, -30, -20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "[" << c.stored_min << ", " << c.stored_max << "] -> ["
                                      << c.min << ", " << c.max << "]");
    auto setup = MakeSetup({{"X", 0}});
    CZel_Parameter& p = *setup->FindParameter("X");
    p.SetMinInBaseUnit(c.stored_min);
    p.SetMaxInBaseUnit(c.stored_max);
    EXPECT_EQ(dcservo::SetParameterRange(p, c.min, c.max), c.result);
    EXPECT_EQ(p.GetMinInBaseUnit(), c.final_min);
    EXPECT_EQ(p.GetMaxInBaseUnit(), c.final_max);
  }
}

TEST(SetParameterRange, RefusesNaN) {
  auto setup = MakeSetup({{"X", 0}});
  CZel_Parameter& p = *setup->FindParameter("X");
  EXPECT_EQ(dcservo::SetParameterRange(p, std::nan(""), 1), 0);
  EXPECT_TRUE(std::isinf(p.GetMinInBaseUnit()));
}

}  // namespace
