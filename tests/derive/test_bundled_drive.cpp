#include <set>

#include "derive/compute_all.h"
#include "tests/derive/derive_test_helpers.h"

namespace {

using namespace derive_test;

void Sync(CZel_Setup& setup) {
  dcservo::ComputeChipParameters(setup);
  dcservo::ComputeScaledParameters(setup);
}

// Every name the pipelines look up is in the bundled drive, its chip values survive a full
// derivation, and a second sync changes nothing.
TEST(BundledDrive, DerivingEverythingAndSyncingKeepsEveryChipParameter) {
  auto setup = LoadBundledSetup();
  const RangedSnapshot chip_before = TakeRanged(*setup, true);
  ZelCollectErrors errors;
  dcservo::ComputeAllOptions(setup.get());
  Sync(*setup);
  ExpectSame(chip_before, TakeRanged(*setup, true), false);
  EXPECT_TRUE(errors.Messages().empty()) << ::testing::PrintToString(errors.Messages());

  const RangedSnapshot after_first = TakeRanged(*setup);
  Sync(*setup);
  ExpectSame(after_first, TakeRanged(*setup), false);
}

TEST(BundledDrive, NullSetupIsLeftAlone) { dcservo::ComputeAllOptions(nullptr); }

// Rows in the drive's order, each row present, and one step per quantity and direction.
TEST(Pipelines, BothPipelinesHoldEveryRowInOrder) {
  struct Case {
    std::span<const dcservo::PipelineStep> steps;
    int last_row;
  };
  for (const Case& c :
       {Case{dcservo::ScaledPipelineSteps(), 78}, Case{dcservo::ChipPipelineSteps(), 43}}) {
    SCOPED_TRACE(c.last_row);
    std::set<int> rows;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      rows.insert(c.steps[i].row);
      if (i > 0) {
        EXPECT_LE(c.steps[i - 1].row, c.steps[i].row) << c.steps[i].quantity;
      }
      for (std::size_t j = i + 1; j < c.steps.size(); ++j)
        EXPECT_FALSE(zel::NamesEqual(c.steps[i].quantity, c.steps[j].quantity))
            << c.steps[i].quantity;
    }
    for (int row = 1; row <= c.last_row; ++row) EXPECT_EQ(rows.count(row), 1u) << "row " << row;
    EXPECT_EQ(*rows.rbegin(), c.last_row);
  }
}

}  // namespace
