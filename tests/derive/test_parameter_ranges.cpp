#include <utility>
#include <vector>

#include "derive/parameter_ranges.h"
#include "tests/derive/derive_test_helpers.h"

namespace {

using namespace derive_test;

using Range = std::pair<double, double>;

Range RangeOf(CZel_Setup& s, const char* name) {
  const CZel_Parameter* p = s.FindParameter(name);
  return {p->GetMinInBaseUnit(), p->GetMaxInBaseUnit()};
}

// The example drive: 500 us slow loop.
constexpr double kPositionFullScale = 32767 / kCountsPerRad;
constexpr double kSpeedFullScale = 32767 / (kCountsPerRad * 500e-6);

TEST(DeadBandRanges, WidthLeavesRoomAroundThePointUnlessTheNewDeadBandIsOn) {
  struct Case {
    double inputs_range, point;
    const char* new_dead_band;
    Range point_range, width_range;
  };
  const Case cases[] = {
      {20, 2, "0", {-10, 10}, {0, 8}},
      {20, 2, "1", {-10, 10}, {0, 20}},
      {5, 0, "0", {0, 5}, {0, 0}},
      {12, 1, "0", {0, 3.3}, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.inputs_range << " V, point " << c.point
                                      << ", new dead band " << c.new_dead_band);
    auto s = MakeTimingSetup({{"AnalogueInputsRange", c.inputs_range, "V"},
                              {"DeadBand_Point", c.point, "V"},
                              {"DeadBand_Range", 0, "V"}});
    s->SetOption("NewDeadBand", c.new_dead_band);
    dcservo::SetDeadBandPointRange(*s);
    dcservo::SetDeadBandWidthRange(*s);
    EXPECT_EQ(RangeOf(*s, "DeadBand_Point"), c.point_range);
    EXPECT_EQ(RangeOf(*s, "DeadBand_Range"), c.width_range);
  }
}

TEST(ParameterRanges, BundledDriveRangesFollowTheLimitsAndTheSlowLoop) {
  auto s = LoadBundledSetup();
  Set(*s, "ImaxM", 7);
  Set(*s, "TaPP", 0.3);
  Set(*s, "TaNP", 0.1);
  Set(*s, "Limit_Speed", 400);
  dcservo::ComputeParameterRanges(*s);
  struct Case {
    const char* name;
    Range range;
  };
  const Case cases[] = {
      {"In", {0.01, 7}},
      {"TestPosition", {-200 * kPositionFullScale, 200 * kPositionFullScale}},  // 0.1 s
      {"TestSpeed", {-400, 400}},
      {"ERR_speed", {0.001, kSpeedFullScale}},
      {"TaPP", {1e-3, 65535 * 500e-6}},
      {"POS_min", {-kPositionFullScale, s->GetParameterValueInBaseUnit("POS_max")}},
      {"CRT_max", {s->GetParameterValueInBaseUnit("CRT_min"), 7}},  // the motor's 7 A
      {"BQFilterF23", {0.1, 1000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(RangeOf(*s, c.name).first, c.range.first, 1e-9 * std::abs(c.range.first));
    EXPECT_NEAR(RangeOf(*s, c.name).second, c.range.second, 1e-9 * std::abs(c.range.second));
  }
}

TEST(ParameterRanges, AZeroScaleOrPeriodLeavesTheRangesThatDependOnIt) {
  struct Case {
    const char* name;
    std::vector<const char*> kept;
  };
  const Case cases[] = {
      {"Motor_transmission", {"ERR_position", "ERR_speed", "TestPosition", "POS_min"}},
      {"SLPER", {"time_ERR_pos", "TPP", "filter", "BQFilterF12"}},
      {"ImaxPS", {"CRT_min", "CRT_max"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " of 0");
    auto s = LoadBundledSetup();
    Set(*s, c.name, 0);
    std::vector<Range> before;
    for (const char* name : c.kept) before.push_back(RangeOf(*s, name));
    dcservo::ComputeParameterRanges(*s);
    for (std::size_t i = 0; i < c.kept.size(); ++i)
      EXPECT_EQ(RangeOf(*s, c.kept[i]), before[i]) << c.kept[i];
  }
}

}  // namespace
