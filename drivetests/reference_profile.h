#pragma once
// The reference that the speed and position tuning tests write into their program: six
// segments of slow-loop samples, each with a constant per-sample increment in 16.16 fixed
// point, built so that the increments sum to exactly zero and the motion ends where it began.
// For the speed test the reference is a speed and the increment an acceleration; for the
// position test a position and a speed.

#include <array>
#include <optional>

#include "names/drive_names.h"

class CZel_Setup;

namespace dcservo {

enum class ReferenceType : int { Positive = 0, Negative = 1, Bidirectional = 2 };

// Any code other than 1 and 2, and a setup without the parameter, is the positive profile.
ReferenceType ReferenceTypeOf(bool present, int code);

struct ProfileInputs {
  double final_internal = 0.0;  // the final value times its internal scale
  double period_s = 0.0;        // one slow-loop sample
  double first_ramp_s = 0.0;
  double hold_s = 0.0;          // at the final value
  double second_ramp_s = 0.0;
  double end_s = 0.0;           // at the end level
  ReferenceType type = ReferenceType::Positive;
  // The position test's ramps before a closing step keep nA - 1 samples even when that is
  // 0 or -1; the speed test's keep at least one.
  bool position = false;
};

struct ProfileSegment {
  long long count = 0;
  double slope_q16 = 0.0;  // a whole number, or not finite when a ramp has no samples
};
using ReferenceProfile = std::array<ProfileSegment, 6>;

ReferenceProfile BuildReferenceProfile(const ProfileInputs& in);

inline constexpr const char* kProfileCountText =
    "Distances between consecutive points on X axis must be greater than 0 and below 32768.";
inline constexpr const char* kProfileSlopeText =
    "Reference variation between two consecutive points is too big (slope overflow).";

// The first segment the program cannot take, and why; no text when every segment fits.
struct ProfileFault {
  int segment = -1;
  const char* text = nullptr;
};
ProfileFault CheckReferenceProfile(const ReferenceProfile& profile);

// The names of one test's profile in the setup.
struct ProfileNames {
  const char* final_value;  // TestSpeed, TestPosition
  const char* hold;         // TPS, TPP
  const char* end;          // TNS, TNP
  const char* first_ramp;   // TaPS, TaPP
  const char* second_ramp;  // TaNS, TaNP
  const char* type;         // SpeedTestReferenceType, PositionTestReferenceType
  bool position;
};
inline constexpr ProfileNames kSpeedProfileNames = {param::TestSpeed,
                                                    param::TPS,
                                                    param::TNS,
                                                    param::TaPS,
                                                    param::TaNS,
                                                    param::SpeedTestReferenceType,
                                                    false};
inline constexpr ProfileNames kPositionProfileNames = {param::TestPosition,
                                                       param::TPP,
                                                       param::TNP,
                                                       param::TaPP,
                                                       param::TaNP,
                                                       param::PositionTestReferenceType,
                                                       true};

// The internal scale of the final value: load speed or load position.
double ProfileScale(CZel_Setup& setup, const ProfileNames& names);
// The reference type as the setup gives it. The position test asks whether the speed test's
// type exists, as the drive's setups carry both or neither.
ReferenceType ProfileReferenceType(CZel_Setup& setup, const ProfileNames& names);
bool HasReferenceType(CZel_Setup& setup);

// Snaps the final value to a whole, nonzero number of internal units; 0 when the value is
// missing or the scale is 0 (nothing changes then).
int SnapFinalValue(CZel_Setup& setup, const ProfileNames& names);

// Everything the profile is built from; nothing when a parameter is missing.
std::optional<ProfileInputs> ProfileInputsOf(CZel_Setup& setup, const ProfileNames& names);

}  // namespace dcservo
