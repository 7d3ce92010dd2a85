#include <gtest/gtest.h>

#include <array>
#include <map>
#include <set>
#include <string>

#include "derive/compute_all.h"
#include "derive/pipelines.h"
#include "tests/support/test_setups.h"

namespace {

using dcservo::Direction;
// Internal value, minimum and maximum of each parameter, by name.
using Snapshot = std::map<std::string, std::array<double, 3>>;

// Chip parameters are the ones the drive holds in its own integer types.
Snapshot Take(const CZel_Setup& setup, bool chip_only) {
  Snapshot snapshot;
  const CZel_Parameters& list = setup.GetParameters();
  for (int i = 0; i < list.GetParametersCount(); ++i) {
    const CZel_Parameter& p = *list[i];
    if (chip_only && p.GetType() == ZelStorageType::Double) continue;
    snapshot[p.GetName()] = {p.GetValueInInternalUnit(), p.GetMinInBaseUnit(),
                             p.GetMaxInBaseUnit()};
  }
  return snapshot;
}

void ExpectSame(const Snapshot& before, const Snapshot& after, bool with_ranges) {
  ASSERT_EQ(before.size(), after.size());
  for (const auto& [name, was] : before) {
    const auto& is = after.at(name);
    EXPECT_EQ(is[0], was[0]) << name;
    if (with_ranges) {
      EXPECT_TRUE(is[1] == was[1] && is[2] == was[2]) << name << " range";
    }
  }
}

void Sync(CZel_Setup& setup) {
  dcservo::ComputeChipParameters(setup);
  dcservo::ComputeScaledParameters(setup);
}

TEST(BundledDrive, DerivingEverythingAndSyncingKeepsEveryChipParameter) {
  auto setup = testing_support::LoadBundledSetup();
  const Snapshot chip_before = Take(*setup, true);
  ZelCollectErrors errors;
  dcservo::ComputeAllOptions(setup.get());
  Sync(*setup);
  ExpectSame(chip_before, Take(*setup, true), false);
  EXPECT_TRUE(errors.Messages().empty()) << ::testing::PrintToString(errors.Messages());
}

TEST(BundledDrive, ASecondSyncChangesNothing) {
  auto setup = testing_support::LoadBundledSetup();
  dcservo::ComputeAllOptions(setup.get());
  Sync(*setup);
  const Snapshot after_first = Take(*setup, false);
  Sync(*setup);
  ExpectSame(after_first, Take(*setup, false), false);
}

TEST(BundledDrive, BothPipelinesHoldEveryRow) {
  struct Case {
    std::span<const dcservo::PipelineStep> steps;
    int last_row;
  };
  for (const Case& c :
       {Case{dcservo::ScaledPipelineSteps(), 78}, Case{dcservo::ChipPipelineSteps(), 43}}) {
    SCOPED_TRACE(c.last_row);
    std::set<int> rows;
    for (const auto& step : c.steps) rows.insert(step.row);
    for (int row = 1; row <= c.last_row; ++row) EXPECT_EQ(rows.count(row), 1u) << "row " << row;
    EXPECT_EQ(*rows.rbegin(), c.last_row);
  }
}

// A zero in a denominator leaves the whole setup as it was, ranges included, and says
// nothing to the user: the step reports 0.
TEST(BundledDrive, ReferenceAndInputStepsRefuseAZeroDenominator) {
  constexpr Direction kScaled = Direction::ToScaled, kChip = Direction::ToChip;
  struct Case {
    const char* name;  // set to 0
    const char* quantity;
    Direction direction;
  };
  const Case cases[] = {
      {"No_encoder_lines", "ErefMaxSpeed", kScaled},
      {"No_encoder_lines", "ErefMaxAcceleration", kScaled},
      {"Motor_transmission", "Negative_SWLS", kScaled},
      {"Motor_transmission", "Positive_SWLS", kScaled},
      {"Motor_transmission", "FreezeControl_errband", kScaled},
      {"SLPER", "filter", kScaled},
      {"Motor_transmission", "TRANSMISION", kChip},
      {"No_encoder_lines", "TRANSMISION", kChip},
      {"SLPER", "TRANSMISION", kChip},
      {"Load_transmission", "CSPD", kChip},
      {"Load_transmission", "CACC", kChip},
      {"GEARMASTER", "GEAR", kChip},
      {"AnalogueInputsRange", "LEVEL_AD5", kChip},
      {"AnalogueInputsRange", "E_LEVEL_AD5", kChip},
      {"Ts_S", "BRAKEAPPLYDELAY", kChip},
      {"Ts_S", "BRAKERELEASEDELAY", kChip},
      {"Ts_S", "TONPOSOK_FC", kChip},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.quantity) + " with " + c.name + " of 0");
    auto setup = testing_support::LoadBundledSetup();
    ASSERT_TRUE(setup->SetParameterValueInBaseUnit(c.name, 0));
    const Snapshot before = Take(*setup, false);
    ZelCollectErrors errors;
    EXPECT_EQ(dcservo::RunStep(*setup, c.quantity, c.direction), 0);
    ExpectSame(before, Take(*setup, false), true);
    EXPECT_TRUE(errors.Messages().empty()) << ::testing::PrintToString(errors.Messages());
  }
}

}  // namespace
