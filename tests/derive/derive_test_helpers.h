#pragma once
// Shorthands shared by the derivation tests.

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <map>
#include <optional>
#include <numbers>
#include <string>

#include "derive/pipelines.h"
#include "tests/support/test_setups.h"

namespace derive_test {

using dcservo::Direction;
using testing_support::LoadBundledSetup;
using testing_support::MakeSetup;
using testing_support::MakeTimingSetup;
using testing_support::Param;
using testing_support::Put;
using testing_support::Snapshot;
using testing_support::RunOk;

constexpr auto kU16 = ZelStorageType::UInt16;
constexpr auto kU32 = ZelStorageType::UInt32;
constexpr Direction kScaled = Direction::ToScaled, kChip = Direction::ToChip;
// The example drive: 2000 counts per motor turn.
constexpr double kCountsPerRad = 2000 / (2 * std::numbers::pi);

// A register as the drive holds it, in its own integer type.
inline Param Reg(const char* name, double value, ZelStorageType type = kU16) {
  return {name, value, "", false, type};
}
// The shared base-value getter and setter, under the short names that the tables read well with.
inline constexpr auto& Value = testing_support::BaseValue;
inline constexpr auto& Set = testing_support::SetBase;
// What running one step came to, under names that tables of cases read well with.
using Outcome = std::optional<dcservo::StepResult>;
inline constexpr Outcome kDone = dcservo::StepResult::Done;
inline constexpr Outcome kMissing = dcservo::StepResult::Missing;
inline constexpr Outcome kRefused = dcservo::StepResult::Refused;
inline constexpr Outcome kNoSuchStep = std::nullopt;
inline Outcome Step(CZel_Setup& s, const char* quantity, Direction direction) {
  return dcservo::RunStep(s, quantity, direction);
}

// Runs each step in turn and expects each done.
inline void RunAllOk(CZel_Setup& s, std::initializer_list<const char*> quantities, Direction d) {
  for (const char* quantity : quantities) RunOk(s, quantity, d);
}
// Clears each scaled setting, then reads it back from the chip values.
inline void ReadBack(CZel_Setup& s, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    Set(s, name, -1);
    RunOk(s, name, Direction::ToScaled);
  }
}

// Internal value, minimum and maximum of each parameter, by name.
using RangedSnapshot = std::map<std::string, std::array<double, 3>>;

// Chip parameters are the ones the drive holds in its own integer types.
inline RangedSnapshot TakeRanged(const CZel_Setup& setup, bool chip_only = false) {
  RangedSnapshot snapshot;
  const CZel_Parameters& list = setup.GetParameters();
  for (int i = 0; i < list.GetParametersCount(); ++i) {
    const CZel_Parameter& p = *list[i];
    if (chip_only && p.GetType() == ZelStorageType::Double) continue;
    snapshot[p.GetName()] = {p.GetValueInInternalUnit(), p.GetMinInBaseUnit(),
                             p.GetMaxInBaseUnit()};
  }
  return snapshot;
}

inline void ExpectSame(const RangedSnapshot& before, const RangedSnapshot& after,
                       bool with_ranges) {
  ASSERT_EQ(before.size(), after.size());
  for (const auto& [name, was] : before) {
    const auto& is = after.at(name);
    EXPECT_EQ(is[0], was[0]) << name;
    if (with_ranges) {
      EXPECT_TRUE(is[1] == was[1] && is[2] == was[2]) << name << " range";
    }
  }
}

}  // namespace derive_test
