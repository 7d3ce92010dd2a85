#include "drivetests/reference_profile.h"

#include <cmath>

#include "host/zel_errors.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"
#include "units/scales.h"
#include "units/timing.h"

namespace dcservo {

namespace {

constexpr long long kLongestSegment = 32767;
constexpr double kSteepestSlope = 32767.0;

long long Samples(double seconds, double period_s) {
  return std::llround(seconds / period_s);
}

// A ramp of `change` over `samples` samples, per sample.
double RampSlope(double change, long long samples) {
  return std::floor(change * kQ16One / static_cast<double>(samples) + 0.5);
}

// One sample that completes `change` after `count` samples of `slope`.
double ClosingStep(double change, double slope, long long count) {
  return std::floor((change - slope * static_cast<double>(count) / kQ16One) * kQ16One + 0.5);
}

// There and back: a ramp to `v` closed by a step, a hold, a ramp back closed by a step, a hold.
ReferenceProfile OneWay(double v, long long nA, long long nP, long long nD, long long nN,
                        bool position) {
  auto ramp_count = [position](long long n) { return position || n > 1 ? n - 1 : n; };
  ReferenceProfile p;
  p[0] = {ramp_count(nA), RampSlope(v, nA)};
  p[1] = {1, ClosingStep(v, p[0].slope_q16, p[0].count)};
  p[2] = {nP, 0.0};
  p[3] = {ramp_count(nD), RampSlope(-v, nD)};
  p[4] = {1, ClosingStep(-v, p[3].slope_q16, p[3].count)};
  p[5] = {nN, 0.0};
  return p;
}

ReferenceProfile BothWays(double v, double second_ramp_s, double period_s, long long nA,
                          long long nP, long long nD, long long nN) {
  ReferenceProfile p;
  p[0] = {nA, RampSlope(v, nA)};
  p[1] = {nP, 0.0};
  const long long m2 = Samples(2.0 * second_ramp_s, period_s);
  const double reached = p[0].slope_q16 * static_cast<double>(nA) / kQ16One;
  p[2] = {m2, RampSlope(-(v + reached), m2)};
  p[3] = {nN, 0.0};
  const long long c4 = nD - 1 == 0 ? 1 : nD - 1;
  p[4] = {c4, nD - 1 == 0 ? 0.0 : RampSlope(v, nD - 1)};
  const double sum = p[0].slope_q16 * static_cast<double>(p[0].count) +
                     p[2].slope_q16 * static_cast<double>(p[2].count) +
                     p[4].slope_q16 * static_cast<double>(p[4].count);
  p[5] = {1, std::trunc(-sum)};
  return p;
}

}  // namespace

ReferenceType ReferenceTypeOf(bool present, int code) {
  if (!present) return ReferenceType::Positive;
  if (code == 1) return ReferenceType::Negative;
  if (code == 2) return ReferenceType::Bidirectional;
  return ReferenceType::Positive;
}

ReferenceProfile BuildReferenceProfile(const ProfileInputs& in) {
  const double v = std::round(in.final_internal);
  const long long nA = Samples(in.first_ramp_s, in.period_s);
  const long long nP = Samples(in.hold_s, in.period_s);
  const long long nD = Samples(in.second_ramp_s, in.period_s);
  const long long nN = Samples(in.end_s, in.period_s);
  switch (in.type) {
    case ReferenceType::Negative: return OneWay(-v, nA, nP, nD, nN, in.position);
    case ReferenceType::Bidirectional:
      return BothWays(v, in.second_ramp_s, in.period_s, nA, nP, nD, nN);
    case ReferenceType::Positive: break;
  }
  return OneWay(v, nA, nP, nD, nN, in.position);
}

ProfileFault CheckReferenceProfile(const ReferenceProfile& profile) {
  for (int i = 0; i < static_cast<int>(profile.size()); ++i) {
    const ProfileSegment& s = profile[static_cast<std::size_t>(i)];
    // A negative count reaches the program as a very large unsigned one.
    if (s.count < 0 || s.count > kLongestSegment) return {i, kProfileCountText};
    if (!std::isfinite(s.slope_q16) || std::fabs(std::round(s.slope_q16 / kQ16One)) > kSteepestSlope)
      return {i, kProfileSlopeText};
  }
  return {};
}

double ProfileScale(CZel_Setup& setup, const ProfileNames& names) {
  return names.position ? LoadPositionScale(setup) : LoadSpeedScale(setup);
}

bool HasReferenceType(CZel_Setup& setup) {
  return setup.FindOptionalParameter(param::SpeedTestReferenceType) != nullptr;
}

ReferenceType ProfileReferenceType(CZel_Setup& setup, const ProfileNames& names) {
  if (!HasReferenceType(setup)) return ReferenceType::Positive;
  const CZel_Parameter* p = setup.FindOptionalParameter(names.type);
  if (!p) return ReferenceType::Positive;
  return ReferenceTypeOf(true, static_cast<int>(p->GetValueInBaseUnit()));
}

int SnapFinalValue(CZel_Setup& setup, const ProfileNames& names) {
  CZel_Parameter* f = setup.FindParameter(names.final_value);
  const double s = ProfileScale(setup, names);
  if (!f || s == 0.0 || !std::isfinite(s)) return 0;
  const double value = f->GetValueInBaseUnit();
  double n = std::round(value * s);
  if (n == 0.0) n = value >= 0.0 ? 1.0 : -1.0;
  return f->SetValueInBaseUnit(n / s);
}

std::optional<ProfileInputs> ProfileInputsOf(CZel_Setup& setup, const ProfileNames& names) {
  const CZel_Parameter* f = setup.FindParameter(names.final_value);
  const CZel_Parameter* hold = setup.FindParameter(names.hold);
  const CZel_Parameter* end = setup.FindParameter(names.end);
  const CZel_Parameter* first = setup.FindParameter(names.first_ramp);
  const CZel_Parameter* second = setup.FindParameter(names.second_ramp);
  const double period = SlowLoopPeriod(setup);
  if (!f || !hold || !end || !first || !second || !(period > 0.0)) return std::nullopt;
  ProfileInputs in;
  in.final_internal = f->GetValueInBaseUnit() * ProfileScale(setup, names);
  in.period_s = period;
  in.first_ramp_s = first->GetValueInBaseUnit();
  in.hold_s = hold->GetValueInBaseUnit();
  in.second_ramp_s = second->GetValueInBaseUnit();
  in.end_s = end->GetValueInBaseUnit();
  in.type = ProfileReferenceType(setup, names);
  in.position = names.position;
  return in;
}

}  // namespace dcservo
