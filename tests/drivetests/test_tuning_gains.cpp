// The tuning tests' gains outside the dialog: the span of a gain's slider and the gains that
// a run's report lists.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "drivetests/tuning_gains.h"
#include "tests/support/test_setups.h"

namespace {

using namespace dcservo;
using testing_support::BaseValue;
using testing_support::SetBase;

// The slider sits around the gain, within the gain's range; a gain of 0 would pin it, so it
// then spans the whole range.
TEST(TuningGains, TheSliderSpansTheGainWithinItsRange) {
  auto setup = testing_support::LoadBundledSetup();
  const CZel_Parameter* kp = setup->FindParameter("Kp_S_scl");
  ASSERT_NE(kp, nullptr);
  const double min = kp->GetMinInBaseUnit(), max = kp->GetMaxInBaseUnit();
  for (const double v : {0.0, 0.5 * (min + max), max}) {
    SetBase(*setup, "Kp_S_scl", v);
    const auto range = GainSliderRange(*setup, "Kp_S_scl");
    ASSERT_TRUE(range) << v;
    EXPECT_LT(range->first, range->second) << v;
    EXPECT_GE(range->first, min) << v;
    EXPECT_LE(range->second, max) << v;
    if (v == 0.0) EXPECT_EQ(*range, std::pair(min, max));
    else EXPECT_TRUE(range->first <= v && v <= range->second) << v;
  }
  EXPECT_FALSE(GainSliderRange(*setup, "NoSuchGain"));
}

// The scaled gains come first, then the registers they become, each name once.
TEST(TuningGains, TheReportListsEachGainOnceScaledBeforeRegisters) {
  auto setup = testing_support::LoadBundledSetup();
  for (const TunedLoop loop : {TunedLoop::Speed, TunedLoop::Position}) {
    const auto gains = ReportedGains(*setup, loop);
    const auto rows = TuningGainRows(loop);
    std::set<std::string> seen;
    for (const auto& [name, value] : gains) EXPECT_TRUE(seen.insert(name).second) << name;
    ASSERT_GT(gains.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_STREQ(gains[i].first, rows[i].scaled);
      EXPECT_EQ(gains[i].second, BaseValue(*setup, rows[i].scaled));
    }
    for (const GainChipRow& row : rows)
      for (const char* chip : row.chip) EXPECT_TRUE(seen.count(chip)) << chip;
  }
}

}  // namespace
