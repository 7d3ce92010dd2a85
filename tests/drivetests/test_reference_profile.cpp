// The six-segment reference: counts and 16.16 slopes worked by hand, the closing steps that
// make every profile return exactly to its start, the two limits, and the snapping of the
// final value.

#include <gtest/gtest.h>

#include <cmath>

#include "drivetests/reference_profile.h"
#include "tests/support/test_setups.h"
#include "units/scales.h"

namespace {

using dcservo::BuildReferenceProfile;
using dcservo::CheckReferenceProfile;
using dcservo::ProfileInputs;
using dcservo::ReferenceProfile;
using dcservo::ReferenceType;

constexpr double kTs = 0.001;

ProfileInputs Inputs(double v, double ramp1, double hold, double ramp2, double end,
                     ReferenceType type = ReferenceType::Positive, bool position = false) {
  return {v, kTs, ramp1, hold, ramp2, end, type, position};
}

struct ProfileCase {
  const char* name;
  ProfileInputs in;
  long long count[6];
  double slope[6];
};

// nA = 10, nP = 5, nD = 4, nN = 3 unless a case says otherwise.
const ProfileCase kProfiles[] = {
    {"positive", Inputs(100, 0.010, 0.005, 0.004, 0.003),
     {9, 1, 5, 3, 1, 3},
     {655360, 655360, 0, -1638400, -1638400, 0}},
    {"negative", Inputs(100, 0.010, 0.005, 0.004, 0.003, ReferenceType::Negative),
     {9, 1, 5, 3, 1, 3},
     {-655360, -655360, 0, 1638400, 1638400, 0}},
    {"slope that does not divide", Inputs(7, 0.003, 0, 0.003, 0),
     {2, 1, 0, 2, 1, 0},
     {152917, 152918, 0, -152917, -152918, 0}},
    {"speed ramp of one sample", Inputs(5, 0.001, 0, 0.001, 0),
     {1, 1, 0, 1, 1, 0},
     {327680, 0, 0, -327680, 0, 0}},
    {"position ramp of one sample", Inputs(5, 0.001, 0, 0.001, 0, ReferenceType::Positive, true),
     {0, 1, 0, 0, 1, 0},
     {327680, 327680, 0, -327680, -327680, 0}},
    // m2 = 8 for the ramp through zero; the last sample takes what rounding left over.
    {"bidirectional", Inputs(100, 0.010, 0.005, 0.004, 0.003, ReferenceType::Bidirectional),
     {10, 5, 8, 3, 3, 1},
     {655360, 0, -1638400, 0, 2184533, 1}},
    {"unknown type code is positive", Inputs(100, 0.010, 0.005, 0.004, 0.003,
                                             dcservo::ReferenceTypeOf(true, 7)),
     {9, 1, 5, 3, 1, 3},
     {655360, 655360, 0, -1638400, -1638400, 0}},
};

TEST(ReferenceProfile, SegmentsAreTheHandWorkedCountsAndSlopesAndSumToZero) {
  for (const ProfileCase& c : kProfiles) {
    SCOPED_TRACE(c.name);
    const ReferenceProfile p = BuildReferenceProfile(c.in);
    double sum = 0.0;
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(p[i].count, c.count[i]) << "segment " << i;
      EXPECT_EQ(p[i].slope_q16, c.slope[i]) << "segment " << i;
      sum += static_cast<double>(p[i].count) * p[i].slope_q16;
    }
    EXPECT_EQ(sum, 0.0);
    EXPECT_EQ(CheckReferenceProfile(p).text, nullptr);
  }
}

struct LimitCase {
  const char* name;
  ProfileInputs in;
  int segment;  // -1: passes
  const char* text;
};

TEST(ReferenceProfile, TheFirstSegmentTheProgramCannotTakeEndsTheRunWithItsText) {
  const LimitCase cases[] = {
      {"32767 samples pass", Inputs(1, 0.01, 32.767, 0.01, 0), -1, nullptr},
      {"32768 samples", Inputs(1, 0.01, 32.768, 0.01, 0), 2, dcservo::kProfileCountText},
      {"position ramp under half a sample",
       Inputs(100, 0.0004, 0, 0.01, 0, ReferenceType::Positive, true), 0,
       dcservo::kProfileCountText},
      {"speed ramp of no samples", Inputs(100, 0.0004, 0, 0.01, 0), 0,
       dcservo::kProfileSlopeText},
      {"steeper than the program takes", Inputs(40000, 0.001, 0, 0.01, 0), 0,
       dcservo::kProfileSlopeText},
      {"32767 per sample passes", Inputs(32767, 0.001, 0, 0.001, 0), -1, nullptr},
      // nD = 0 leaves the last ramp -1 samples.
      {"bidirectional last ramp of no samples",
       Inputs(100, 0.01, 0, 0.0004, 0, ReferenceType::Bidirectional), 4,
       dcservo::kProfileCountText},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.name);
    const dcservo::ProfileFault fault = CheckReferenceProfile(BuildReferenceProfile(c.in));
    EXPECT_EQ(fault.segment, c.segment);
    if (c.text) EXPECT_STREQ(fault.text, c.text);
    else EXPECT_EQ(fault.text, nullptr);
  }
}

TEST(ReferenceProfile, TheFinalValueSnapsToAWholeNonzeroNumberOfInternalUnits) {
  auto setup = testing_support::LoadBundledSetup();
  const double s = dcservo::LoadSpeedScale(*setup);
  ASSERT_GT(s, 0.0);
  const struct {
    double internal_before, after;
  } cases[] = {{0.3, 1}, {-0.3, -1}, {0.0, 1}, {2.4, 2}, {-2.6, -3}, {15, 15}};
  for (const auto& c : cases) {
    setup->SetParameterValueInBaseUnit("TestSpeed", c.internal_before / s);
    ASSERT_EQ(dcservo::SnapFinalValue(*setup, dcservo::kSpeedProfileNames), 1);
    EXPECT_NEAR(setup->GetParameterValueInBaseUnit("TestSpeed") * s, c.after, 1e-9)
        << c.internal_before;
  }
}

TEST(ReferenceProfile, ProfileInputsComeFromTheTestsParametersAndTheSlowLoop) {
  auto setup = testing_support::LoadBundledSetup();
  setup->SetParameterValueInBaseUnit("PositionTestReferenceType", 1);
  const auto in = dcservo::ProfileInputsOf(*setup, dcservo::kPositionProfileNames);
  ASSERT_TRUE(in.has_value());
  EXPECT_TRUE(in->position);
  EXPECT_EQ(in->type, ReferenceType::Negative);
  EXPECT_DOUBLE_EQ(in->period_s, setup->GetParameterValueInBaseUnit("Ts_S"));
  EXPECT_DOUBLE_EQ(in->first_ramp_s, setup->GetParameterValueInBaseUnit("TaPP"));
  EXPECT_NEAR(in->final_internal,
              setup->GetParameterValueInBaseUnit("TestPosition") *
                  dcservo::LoadPositionScale(*setup),
              1e-9);
}

}  // namespace
