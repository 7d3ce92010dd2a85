#include "derive/parameter_ranges.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "derive/checked_write.h"
#include "derive/drive_symbols.h"
#include "derive/probes.h"
#include "derive/step.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"
#include "units/scales.h"

namespace dcservo {
namespace {

// Bounds go straight to the host, minimum first: these rules may move a bound past the
// other one, and the host takes what they compute. A bound that a zero scale or period
// has made infinite is not set at all, so the rule then changes nothing.
void SetBounds(CZel_Parameter& p, double min, double max) {
  if (!AllFinite(min, max)) return;
  p.SetMinInBaseUnit(min);
  p.SetMaxInBaseUnit(max);
}

void SetMaximum(CZel_Parameter& p, double max) {
  if (AllFinite(max)) p.SetMaxInBaseUnit(max);
}

// Full scale of a 16-bit quantity in base units, for a scale in internal units per base unit.
std::optional<double> FullScale(double scale) {
  if (!IsUsableDivisor(scale)) return std::nullopt;
  return kFullScale / std::abs(scale);
}

void SetFullScaleMaximum(CZel_Setup& setup, const char* name, double scale) {
  CZel_Parameter* p = setup.FindParameter(name);
  const auto full = FullScale(scale);
  if (p && full) SetMaximum(*p, *full);
}

void SetSampleCountMaximum(CZel_Setup& setup, const char* name) {
  CZel_Parameter* p = setup.FindParameter(name);
  const auto period = ChipSlowLoopPeriod(setup);
  if (p && period) SetMaximum(*p, kFullScale * *period);
}

struct TuningBandwidth {
  const char* name;
  const char* min;
  const char* max;
};

constexpr TuningBandwidth kTuningBandwidths[] = {
    {param::PB_C, param::PB_C_minim, param::PB_C_maxim},
    {param::PB_S, param::PB_S_minim, param::PB_S_maxim},
    {param::PB_P, param::PB_P_minim, param::PB_P_maxim},
};

void SetTuningBandwidthRange(CZel_Setup& setup, const TuningBandwidth& row) {
  auto p = FindParameters(setup, row.name, row.min, row.max);
  if (!p) return;
  auto [bandwidth, min, max] = *p;
  SetBounds(*bandwidth, min->GetValueInBaseUnit(), max->GetValueInBaseUnit());
}

// The tuning tests' reference profiles count slow-loop samples in 16 bits; the
// acceleration times of the position test need at least two of them.
struct ProfileTime {
  const char* name;
  double min_samples;
};

constexpr ProfileTime kProfileTimes[] = {
    {param::TPP, 1}, {param::TNP, 1}, {param::TaPP, 2}, {param::TaNP, 2},
    {param::TPS, 1}, {param::TNS, 1}, {param::TaPS, 1}, {param::TaNS, 1},
};

void SetProfileTimeRange(CZel_Setup& setup, const ProfileTime& row) {
  CZel_Parameter* p = setup.FindParameter(row.name);
  const auto period = ChipSlowLoopPeriod(setup);
  if (p && period) SetBounds(*p, row.min_samples * *period, kUnsigned16Max * *period);
}

// The position test's amplitude is what the shorter acceleration time can reach at full
// fixed-point speed.
void SetTestPositionRange(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::TestPosition, param::TaPP, param::TaNP);
  const auto period = ChipSlowLoopPeriod(setup);
  const auto full = FullScale(LoadPositionScale(setup));
  if (!p || !period || !full) return;
  auto [position, tapp, tanp] = *p;
  const double limit =
      std::min(tapp->GetValueInBaseUnit(), tanp->GetValueInBaseUnit()) / *period * *full;
  SetBounds(*position, -limit, limit);
}

void SetTestSpeedRange(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::TestSpeed, param::Limit_Speed);
  const auto full = FullScale(LoadSpeedScale(setup));
  if (!p || !full) return;
  auto [speed, limit_speed] = *p;
  const double limit = std::min(limit_speed->GetValueInBaseUnit(), *full);
  SetBounds(*speed, -limit, limit);
}

// The reference filter cannot pass more than the slow loop's Nyquist frequency.
void SetReferenceFilterMaximum(CZel_Setup& setup) {
  CZel_Parameter* filter = setup.FindParameter(param::filter);
  const auto period = ChipSlowLoopPeriod(setup);
  if (filter && period) SetMaximum(*filter, 1.0 / (2.0 * *period));
}

void SetBiquadFrequencyMaxima(CZel_Setup& setup) {
  const auto period = ChipSlowLoopPeriod(setup);
  if (!period) return;
  for (int i = 1; i <= 3; ++i) {
    for (const char* pattern : {"BQFilterF1%d", "BQFilterF2%d"}) {
      char name[32];
      std::snprintf(name, sizeof name, pattern, i);
      if (CZel_Parameter* p = setup.FindParameter(name)) SetMaximum(*p, 0.5 / *period);
    }
  }
}

// The other limit of a pair is read now, so that the two rules of a pair can run in
// either order.
void SetLowerLimitRange(CZel_Setup& setup, const char* lower, const char* upper, double floor) {
  auto p = FindParameters(setup, lower, upper);
  if (!p) return;
  auto [low, high] = *p;
  SetBounds(*low, floor, high->GetValueInBaseUnit());
}

void SetUpperLimitRange(CZel_Setup& setup, const char* lower, const char* upper, double ceiling) {
  auto p = FindParameters(setup, lower, upper);
  if (!p) return;
  auto [low, high] = *p;
  SetBounds(*high, low->GetValueInBaseUnit(), ceiling);
}

std::optional<double> SpeedLimitCeiling(CZel_Setup& setup) {
  CZel_Parameter* limit_speed = setup.FindParameter(param::Limit_Speed);
  const auto full = FullScale(LoadSpeedScale(setup));
  if (!limit_speed || !full) return std::nullopt;
  return std::min(*full, limit_speed->GetValueInBaseUnit());
}

// The current reference can reach neither the drive's nor the motor's peak current, nor
// the fixed-point full scale.
std::optional<double> CurrentLimitCeiling(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::ImaxPS, param::ImaxM);
  const double current_scale = CurrentScale(setup);
  if (!p || !IsUsableDivisor(current_scale)) return std::nullopt;
  auto [imax_ps, imax_m] = *p;
  return std::min(kFullScale / current_scale,
                  std::min(imax_ps->GetValueInBaseUnit(), imax_m->GetValueInBaseUnit()));
}

}  // namespace

void SetMotorNominalCurrentMaximum(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::In, param::ImaxM);
  if (!p) return;
  auto [in, imax_m] = *p;
  SetMaximum(*in, imax_m->GetValueInBaseUnit());
}

void SetDeadBandPointRange(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::DeadBand_Point, param::AnalogueInputsRange);
  if (!p) return;
  auto [point, span] = *p;
  const double inputs_range = span->GetValueInBaseUnit();
  if (IsCode(inputs_range, AnalogueInputsRange::Bipolar10V))
    SetBounds(*point, -10.0, 10.0);
  else if (IsCode(inputs_range, AnalogueInputsRange::Unipolar5V))
    SetBounds(*point, 0.0, 5.0);
  else
    SetBounds(*point, 0.0, 3.3);
}

void SetDeadBandWidthRange(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::DeadBand_Point, param::DeadBand_Range);
  if (!p) return;
  auto [point, width] = *p;
  const double lo = point->GetMinInBaseUnit();
  const double hi = point->GetMaxInBaseUnit();
  const double at = point->GetValueInBaseUnit();
  SetBounds(*width, 0.0, NewDeadBand(setup) ? hi - lo : std::min(at - lo, hi - at));
}

void SetPOS_minRange(CZel_Setup& setup) {
  if (const auto full = FullScale(LoadPositionScale(setup)))
    SetLowerLimitRange(setup, param::POS_min, param::POS_max, -*full);
}

void SetPOS_maxRange(CZel_Setup& setup) {
  if (const auto full = FullScale(LoadPositionScale(setup)))
    SetUpperLimitRange(setup, param::POS_min, param::POS_max, *full);
}

void SetSPD_minRange(CZel_Setup& setup) {
  if (const auto ceiling = SpeedLimitCeiling(setup))
    SetLowerLimitRange(setup, param::SPD_min, param::SPD_max, -*ceiling);
}

void SetSPD_maxRange(CZel_Setup& setup) {
  if (const auto ceiling = SpeedLimitCeiling(setup))
    SetUpperLimitRange(setup, param::SPD_min, param::SPD_max, *ceiling);
}

void SetCRT_minRange(CZel_Setup& setup) {
  if (const auto ceiling = CurrentLimitCeiling(setup))
    SetLowerLimitRange(setup, param::CRT_min, param::CRT_max, -*ceiling);
}

void SetCRT_maxRange(CZel_Setup& setup) {
  if (const auto ceiling = CurrentLimitCeiling(setup))
    SetUpperLimitRange(setup, param::CRT_min, param::CRT_max, *ceiling);
}

void ComputeParameterRanges(CZel_Setup& setup) {
  SetMotorNominalCurrentMaximum(setup);
  SetFullScaleMaximum(setup, param::ERR_speed, LoadSpeedScale(setup));
  SetFullScaleMaximum(setup, param::ERR_position, LoadPositionScale(setup));
  SetSampleCountMaximum(setup, param::time_ERR_spd);
  SetSampleCountMaximum(setup, param::time_ERR_pos);
  for (const TuningBandwidth& row : kTuningBandwidths) SetTuningBandwidthRange(setup, row);
  for (const ProfileTime& row : kProfileTimes) SetProfileTimeRange(setup, row);
  SetTestPositionRange(setup);
  SetTestSpeedRange(setup);
  if (HasAnalogueInput(setup)) {
    SetReferenceFilterMaximum(setup);
    SetDeadBandPointRange(setup);
    SetDeadBandWidthRange(setup);
    SetPOS_maxRange(setup);
    SetPOS_minRange(setup);
    SetCRT_maxRange(setup);
    SetCRT_minRange(setup);
  }
  if (HasBiquadFilters(setup)) SetBiquadFrequencyMaxima(setup);
}

}  // namespace dcservo
