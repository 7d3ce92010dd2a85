#include "units/scales.h"

#include <cmath>
#include <numbers>
#include <span>
#include <string_view>
#include <vector>

#include "host/zel_units.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"
#include "units/timing.h"

namespace dcservo {
namespace {

double Value(CZel_Setup& setup, const char* name) {
  return setup.GetParameterValueInBaseUnit(name);
}

// Encoder counts per radian of the motor shaft (four per line).
double EncoderCountsPerRadian(CZel_Setup& setup) {
  return Value(setup, param::No_encoder_lines) * 4.0 / (2.0 * std::numbers::pi);
}

// Load-side base units to motor radians.
double TransmissionRatio(CZel_Setup& setup) {
  return Value(setup, param::Motor_transmission) / Value(setup, param::Load_transmission);
}

// Tachometer converter counts per rad/s of the motor.
double TachoCountsPerRadPerSecond(CZel_Setup& setup) {
  return Value(setup, param::ADCResolution) * Value(setup, param::Tacho_gain) /
         Value(setup, param::AnalogueInputsRange);
}

double Sensors(CZel_Setup& setup) { return Value(setup, param::SensorsConfiguration); }
bool EncoderOnMotorOrLoad(double sensors) {
  return IsCode(sensors, SensorsConfiguration::EncoderOnMotor) ||
         IsCode(sensors, SensorsConfiguration::TachoAndEncoderOnLoad);
}

// Load-side kinematic scale: encoder counts per sample^order, or the tacho's counts per
// sample^(order-1) for a tacho-only drive.
double LoadKinematicScale(CZel_Setup& setup, int order) {
  const double sensors = Sensors(setup);
  const double ts = SlowLoopPeriod(setup);
  if (EncoderOnMotorOrLoad(sensors))
    return TransmissionRatio(setup) * EncoderCountsPerRadian(setup) * std::pow(ts, order);
  if (IsCode(sensors, SensorsConfiguration::TachoOnMotor))
    return TransmissionRatio(setup) * TachoCountsPerRadPerSecond(setup) * std::pow(ts, order - 1);
  return 0.0;
}

}  // namespace

double AdcMax(CZel_Setup& setup) { return static_cast<double>(Compute_ADCMaxValue(&setup)); }

double VoltageScale(CZel_Setup& setup) { return kFullScale / Value(setup, param::Vdc); }

double MeasuredVoltageScale(CZel_Setup& setup) {
  return AdcMax(setup) / Value(setup, param::VdcMaxMeasurable);
}

double CurrentScale(CZel_Setup& setup) {
  return AdcMax(setup) / (2.0 * Value(setup, param::ImaxPS));
}

double LoadPositionScale(CZel_Setup& setup) {
  if (!EncoderOnMotorOrLoad(Sensors(setup))) return 1.0;
  return TransmissionRatio(setup) * EncoderCountsPerRadian(setup);
}

double MotorPositionScale(CZel_Setup& setup) {
  return EncoderOnMotorOrLoad(Sensors(setup)) ? EncoderCountsPerRadian(setup) : 1.0;
}

double LoadSpeedScale(CZel_Setup& setup) { return LoadKinematicScale(setup, 1); }
double AccelerationScale(CZel_Setup& setup) { return LoadKinematicScale(setup, 2); }
double JerkScale(CZel_Setup& setup) { return LoadKinematicScale(setup, 3); }

// With an encoder on the load (2) the motor speed still comes from the tacho.
double MotorSpeedScale(CZel_Setup& setup) {
  if (IsCode(Sensors(setup), SensorsConfiguration::EncoderOnMotor)) return SlowLoopPeriod(setup) * EncoderCountsPerRadian(setup);
  return TachoCountsPerRadPerSecond(setup);
}

namespace {

using FactorFn = double (*)(CZel_Setup& setup);
using Names = std::span<const char* const>;

constexpr const char* kAnalogueInputNames[] = {param::DeadBand_Range, param::DeadBand_Point,
                                               var::AD2, var::AD2FIL_VAL, var::AD5};
constexpr const char* kAnalogueRangeName[] = {param::AnalogueInputsRange};
constexpr const char* kFastPeriodName[] = {param::Ts_C};
constexpr const char* kMotorPositionNames[] = {var::Motor_Position, var::APOS_MT};
constexpr const char* kAbsLoadPositionNames[] = {param::ERR_position, param::FreezeControl_errband,
                                                 param::TestPosition, param::POS_max,
                                                 param::POS_min};
constexpr const char* kMotorSpeedNames[] = {
    var::ASPD_MT,        var::ASPD,   var::Motor_Speed, var::Motor_Speed_Reference,
    param::TestMaxSpeed, var::SPDREF, var::SPDREFL};
constexpr const char* kLimitSpeedName[] = {param::Limit_Speed};
constexpr const char* kAbsLoadSpeedNames[] = {param::ERR_speed, param::ErefMaxSpeed,
                                              param::TestSpeed, param::SPD_max, param::SPD_min};

struct FactorRow {
  const char* unit;
  const char* other_unit;  // the linear twin of a rotary unit, or null
  Names names;             // empty: any name
  FactorFn factor;
};

double One(CZel_Setup&) { return 1.0; }
double MeasuredVolt(CZel_Setup& s) { return 1.0 / MeasuredVoltageScale(s); }
double AnalogueVolt(CZel_Setup& s) { return Value(s, param::AnalogueInputsRange) / AdcMax(s); }
double AppliedVolt(CZel_Setup& s) { return 1.0 / VoltageScale(s); }
double Ampere(CZel_Setup& s) { return 1.0 / CurrentScale(s); }
double FastSample(CZel_Setup& s) { return FastLoopPeriod(s); }
double SlowSample(CZel_Setup& s) { return SlowLoopPeriod(s); }
double MotorPosition(CZel_Setup& s) { return 1.0 / MotorPositionScale(s); }
double AbsLoadPosition(CZel_Setup& s) { return 1.0 / std::abs(LoadPositionScale(s)); }
double LoadPosition(CZel_Setup& s) { return 1.0 / LoadPositionScale(s); }
double MotorSpeed(CZel_Setup& s) { return 1.0 / MotorSpeedScale(s); }
double LimitSpeed(CZel_Setup& s) {
  return 1.0 / std::abs(MotorSpeedScale(s) * TransmissionRatio(s));
}
double AbsLoadSpeed(CZel_Setup& s) { return 1.0 / std::abs(LoadSpeedScale(s)); }
double LoadSpeed(CZel_Setup& s) { return 1.0 / LoadSpeedScale(s); }
double Acceleration(CZel_Setup& s) { return 1.0 / AccelerationScale(s); }
double Jerk(CZel_Setup& s) { return 1.0 / JerkScale(s); }
double DegreeCelsius(CZel_Setup& s) {
  return Value(s, param::ADCrange) / (AdcMax(s) * Value(s, param::DriveTempSensorGain));
}
double VoltPerSecond(CZel_Setup& s) { return 1.0 / VoltageScale(s) / SlowLoopPeriod(s); }
double AmperePerSecond(CZel_Setup& s) { return 1.0 / CurrentScale(s) / SlowLoopPeriod(s); }

constexpr const char kDegreeC[] = "\xB0" "C";

// First matching row wins.
const FactorRow kFactorRows[] = {
    {kMeasuredVoltageUnit, nullptr, {}, MeasuredVolt},
    {"V", nullptr, kAnalogueRangeName, One},
    {"V", nullptr, kAnalogueInputNames, AnalogueVolt},
    {"V", nullptr, {}, AppliedVolt},
    {"A", nullptr, {}, Ampere},
    {"s", nullptr, kFastPeriodName, FastSample},
    {"s", nullptr, {}, SlowSample},
    {"rad", "m", kMotorPositionNames, MotorPosition},
    {"rad", "m", kAbsLoadPositionNames, AbsLoadPosition},
    {"rad", "m", {}, LoadPosition},
    {"rad/s", "m/s", kMotorSpeedNames, MotorSpeed},
    {"rad/s", "m/s", kLimitSpeedName, LimitSpeed},
    {"rad/s", "m/s", kAbsLoadSpeedNames, AbsLoadSpeed},
    {"rad/s", "m/s", {}, LoadSpeed},
    {"rad/s^2", "m/s^2", {}, Acceleration},
    {"rad/s^3", "m/s^3", {}, Jerk},
    {kDegreeC, nullptr, {}, DegreeCelsius},
    {"V/s", nullptr, {}, VoltPerSecond},
    {"A/s", nullptr, {}, AmperePerSecond},
};

// A scale is asked for by unit and name each time a quantity's kept scale is out of date,
// so the rows' names are hashed once and the asked names once per question; names are
// compared only where the hashes agree.
struct HashedName {
  std::string_view name;
  std::uint64_t hash = 0;
  bool Is(std::string_view other, std::uint64_t other_hash) const {
    return hash == other_hash && zel::NamesEqual(name, other);
  }
};

HashedName Hashed(std::string_view name) { return {name, zel::FoldedNameHash(name)}; }

struct HashedFactorRow {
  HashedName unit;
  HashedName other_unit;  // empty name: none
  std::vector<HashedName> names;
};

const std::vector<HashedFactorRow>& HashedFactorRows() {
  static const std::vector<HashedFactorRow> rows = [] {
    std::vector<HashedFactorRow> out;
    for (const FactorRow& row : kFactorRows) {
      HashedFactorRow& hashed = out.emplace_back();
      hashed.unit = Hashed(row.unit);
      hashed.other_unit = Hashed(row.other_unit ? row.other_unit : "");
      for (const char* name : row.names) hashed.names.push_back(Hashed(name));
    }
    return out;
  }();
  return rows;
}

bool UnitOfRow(const HashedFactorRow& row, std::string_view unit, std::uint64_t hash) {
  return row.unit.Is(unit, hash) || (!row.other_unit.name.empty() && row.other_unit.Is(unit, hash));
}

}  // namespace

bool HasScaleForUnit(const char* unit) {
  const std::string_view u = unit ? unit : "";
  const std::uint64_t hash = zel::FoldedNameHash(u);
  for (const HashedFactorRow& row : HashedFactorRows()) {
    if (UnitOfRow(row, u, hash)) return true;
  }
  return false;
}

double ScaleFactor(CZel_Setup& setup, const char* unit, const char* name) {
  const std::string_view u = unit ? unit : "";
  const std::string_view n = name ? name : "";
  const std::uint64_t unit_hash = zel::FoldedNameHash(u);
  const std::uint64_t name_hash = zel::FoldedNameHash(n);
  const std::vector<HashedFactorRow>& rows = HashedFactorRows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const HashedFactorRow& row = rows[i];
    if (!UnitOfRow(row, u, unit_hash)) continue;
    bool named = row.names.empty();
    for (const HashedName& candidate : row.names) named = named || candidate.Is(n, name_hash);
    if (named) return kFactorRows[i].factor(setup);
  }
  return 1.0;
}

double ScaleOffset(CZel_Setup& setup, const char* unit) {
  if (!unit || !zel::NamesEqual(unit, kDegreeC)) return 0.0;
  return -(AdcMax(setup) * Value(setup, param::DriveTempOutputAt0oC) /
           Value(setup, param::ADCrange));
}

double DriveInternalValue(CZel_Setup& setup, const char* name) {
  const CZel_Parameter* p = setup.FindParameter(name);
  if (!p) return 0.0;
  if (!p->IsStoredInBaseUnit()) return p->GetValueInInternalUnit();
  const double factor = ScaleFactor(setup, p->GetUnitName(), name);
  if (factor == 0.0) return p->GetValueInInternalUnit();
  return p->GetValueInBaseUnit() / factor - ScaleOffset(setup, p->GetUnitName());
}

}  // namespace dcservo
