// The quantity descriptors against the bundled drive and against the two pipelines.

#include <string>
#include <vector>

#include "derive/quantities.h"
#include "tests/derive/derive_test_helpers.h"

namespace {

using dcservo::ChipWrite;
using dcservo::PipelineStep;
using dcservo::QuantityDescriptor;
using derive_test::LoadBundledSetup;

std::string NameOf(const QuantityDescriptor& q) {
  return q.scaled ? q.scaled : q.to_chip[0].reg ? q.to_chip[0].reg : "?";
}

// A name the table holds but the drive does not would make its step change nothing, every
// time, with only the host's error report to tell.
TEST(Quantities, EveryNameIsOneTheBundledDriveHolds) {
  auto setup = LoadBundledSetup();
  ZelQuietErrors quiet;
  std::vector<std::string> missing;
  const auto expect = [&](const QuantityDescriptor& q, const char* name) {
    if (name && !setup->FindParameter(name)) missing.push_back(NameOf(q) + ": " + name);
  };
  for (const QuantityDescriptor& q : dcservo::Quantities()) {
    if (q.guard && !q.guard(*setup)) continue;
    expect(q, q.scaled);
    for (const char* name : q.registers) expect(q, name);
    for (const char* name : q.display) expect(q, name);
    for (const ChipWrite& write : q.to_chip) {
      if (!write.guard || write.guard(*setup)) expect(q, write.reg);
    }
  }
  EXPECT_TRUE(missing.empty()) << ::testing::PrintToString(missing);
}

// A step missing from its pipeline never runs; one listed twice runs twice, and RunStep
// reaches only the first.
TEST(Quantities, EachStepHasExactlyOnePlaceInItsPipeline) {
  const auto places = [](std::span<const PipelineStep> steps, const char* name, dcservo::StepFn run) {
    int count = 0;
    for (const PipelineStep& step : steps)
      count += zel::NamesEqual(step.quantity, name) && step.run == run;
    return count;
  };
  std::size_t scaled_steps = 0, chip_steps = 0;
  for (const QuantityDescriptor& q : dcservo::Quantities()) {
    SCOPED_TRACE(NameOf(q));
    if (q.to_scaled) {
      ++scaled_steps;
      EXPECT_EQ(places(dcservo::ScaledPipelineSteps(), q.scaled, q.to_scaled), 1);
    }
    for (const ChipWrite& write : q.to_chip) {
      if (!write.run) continue;
      ++chip_steps;
      EXPECT_EQ(places(dcservo::ChipPipelineSteps(), write.reg, write.run), 1) << write.reg;
    }
  }
  EXPECT_EQ(dcservo::ScaledPipelineSteps().size(), scaled_steps);
  EXPECT_EQ(dcservo::ChipPipelineSteps().size(), chip_steps);
}

// A value that is edited but reaches no register is overwritten by the next sync; that is
// right for a test's default, wrong for a setting, so the table has to say which.
TEST(Quantities, ATripThatGoesOneWayOnlySaysWhy) {
  const auto written = [](const char* reg) {
    for (const QuantityDescriptor& q : dcservo::Quantities())
      for (const ChipWrite& write : q.to_chip)
        if (write.run && zel::NamesEqual(write.reg, reg)) return true;
    return false;
  };
  for (const QuantityDescriptor& q : dcservo::Quantities()) {
    SCOPED_TRACE(NameOf(q));
    const bool own_write = q.to_chip[0].run != nullptr;
    bool reaches_chip = own_write;
    for (const char* reg : q.registers) reaches_chip = reaches_chip || (reg && written(reg));
    const bool one_way = !q.scaled || !q.to_scaled || !reaches_chip;
    EXPECT_EQ(q.note != nullptr, one_way) << (q.note ? q.note : "no note");
    EXPECT_TRUE(own_write || q.to_scaled) << "a row with no step";
  }
}

// The display step moves a register by one count and derives the value again: a register
// the value is not derived from moves nothing, and the value shows at full length.
TEST(Quantities, TheDisplayStepMovesOnlyRegistersTheValueComesFrom) {
  for (const QuantityDescriptor& q : dcservo::Quantities()) {
    for (const char* shown : q.display) {
      if (!shown) continue;
      bool among = false;
      for (const char* reg : q.registers) among = among || (reg && zel::NamesEqual(reg, shown));
      EXPECT_TRUE(among) << NameOf(q) << ": " << shown;
    }
  }
}

}  // namespace
