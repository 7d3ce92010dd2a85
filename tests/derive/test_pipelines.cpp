#include <algorithm>
#include <string_view>
#include <cmath>
#include <set>
#include <vector>

#include "derive/compute_all.h"
#include "derive/set_parameter_range.h"
#include "tests/derive/derive_test_helpers.h"

namespace {

using namespace derive_test;

// Why a pipeline did not do a quantity's step; nothing when it did.
Outcome FailureOf(const dcservo::StepFailures& failures, std::string_view quantity) {
  const auto it = std::find_if(failures.begin(), failures.end(),
                               [&](const dcservo::StepFailure& f) { return f.quantity == quantity; });
  return it == failures.end() ? kNoSuchStep : Outcome(it->result);
}

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

// A host may hand the export no setup: it returns at once, so nothing is reported and the
// host's error reporting is as it was (no step got as far as silencing it).
TEST(BundledDrive, NoSetupIsNoWorkAndNoError) {
  ZelCollectErrors errors;
  const int saved = g_bShowErrors;
  for (const int shown : {1, 0}) {
    g_bShowErrors = shown;
    dcservo::ComputeAllOptions(nullptr);
    EXPECT_EQ(g_bShowErrors, shown);
  }
  g_bShowErrors = saved;
  EXPECT_TRUE(errors.Messages().empty()) << ::testing::PrintToString(errors.Messages());
}

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

TEST(Pipelines, AMissingParameterEndsOnlyItsOwnStep) {
  auto setup = MakeSetup({{"DSP_freq", 40e6}, {"PWMPER", 1000}, {"CLPER", 1}, {"Ts_C", 0},
                          {"Ts_S", 7}, {"PWM_freq", 0}});
  ZelCollectErrors errors;
  EXPECT_EQ(Step(*setup, "Ts_S", Direction::ToScaled), kMissing);
  EXPECT_EQ(Value(*setup, "Ts_S"), 7);
  EXPECT_EQ(errors.Messages().size(), 1u);  // SLPER, named by the host
  const dcservo::StepFailures failures = dcservo::ComputeScaledParameters(*setup);
  EXPECT_DOUBLE_EQ(Value(*setup, "Ts_C"), 50e-6);
  EXPECT_DOUBLE_EQ(Value(*setup, "PWM_freq"), 20000);
  EXPECT_EQ(Value(*setup, "Ts_S"), 7);
  EXPECT_EQ(FailureOf(failures, "Ts_S"), kMissing);
  EXPECT_EQ(FailureOf(failures, "Ts_C"), kNoSuchStep);
}

// The bundled drive is whole: nothing fails. What breaks one quantity is named with its
// reason, and the rest of the pipeline still runs.
TEST(Pipelines, ReturnWhatWasNotDoneAndWhy) {
  struct Case {
    const char* set;
    double value;
    const char* failed;  // null: every step done
    Outcome why;
  };
  const Case cases[] = {
      {nullptr, 0, nullptr, kDone},
      {"Jm", 0.0, "Jload_over_J", kRefused},
      {"DSP_freq", 0.0, "Ts_S", kRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set ? c.set : "the bundled drive");
    auto s = LoadBundledSetup();
    if (c.set) Set(*s, c.set, c.value);
    ZelCollectErrors errors;
    const dcservo::StepFailures failures = dcservo::ComputeScaledParameters(*s);
    if (!c.failed) {
      EXPECT_TRUE(failures.empty()) << dcservo::DescribeFailures(failures);
      continue;
    }
    EXPECT_EQ(FailureOf(failures, c.failed), c.why) << dcservo::DescribeFailures(failures);
  }
}

TEST(Pipelines, SingleStepsAreFoundByQuantityWithoutCase) {
  auto setup = MakeTimingSetup({{"PWM_freq", 25000}});
  EXPECT_EQ(Step(*setup, "pwmper", Direction::ToChip), kDone);
  EXPECT_EQ(Value(*setup, "PWMPER"), 800);
  EXPECT_EQ(Step(*setup, "PWMPER", Direction::ToScaled), kNoSuchStep);
  EXPECT_EQ(Step(*setup, "NoSuchQuantity", Direction::ToChip), kNoSuchStep);
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
      {0, 10, std::nan(""), 1, 0, 0, 10},  // refused, nothing changed
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

// A drive that lacks an optional feature: a sync leaves the feature's values as typed and
// every other value as it leaves them on a drive that has the feature.
TEST(Pipelines, ADriveWithoutAFeatureSkipsOnlyThatFeaturesSteps) {
  struct Case {
    const char* missing;
    const char* typed;
    double value;
    std::vector<const char*> group;  // the other values that only the feature's steps change
  };
  const Case cases[] = {
      {"CADIN", "DeadBand_Point", 1.0, {"LEVEL_AD5"}},
      {"isSWLS", "Negative_SWLS", -1.0, {"SWNEGLS", "Positive_SWLS", "SWPOSLS"}},
      {"BRAKECFG", "MotorBrake_applytime", 0.5, {"BRAKEAPPLYDELAY"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.missing);
    auto full = LoadBundledSetup();
    auto without = testing_support::LoadBundledSetupWithout({c.missing});
    const auto before = testing_support::Snapshot(*without);
    // Typed values whose steps run before and after the feature's, so that a step skipped or
    // run where it should not shows.
    for (CZel_Setup* s : {full.get(), without.get()}) {
      Set(*s, c.typed, c.value);
      Set(*s, "Vbrake", 50.0);
      Set(*s, "FreezeControl_time", 0.25);
    }
    ZelCollectErrors errors;
    dcservo::SynchroniseSetup(*full);
    dcservo::SynchroniseSetup(*without);
    EXPECT_TRUE(errors.Messages().empty()) << ::testing::PrintToString(errors.Messages());
    EXPECT_EQ(Value(*without, c.typed), c.value);
    const auto with_feature = testing_support::Snapshot(*full);
    for (const auto& [name, value] : testing_support::Snapshot(*without)) {
      if (zel::NamesEqual(name, c.typed)) continue;
      // clang 14 does not capture a structured binding.
      const std::string& param = name;
      const bool in_group = std::any_of(c.group.begin(), c.group.end(),
                                        [&](const char* g) { return zel::NamesEqual(g, param); });
      EXPECT_EQ(value, in_group ? before.at(name) : with_feature.at(name)) << name;
    }
  }
}

}  // namespace
