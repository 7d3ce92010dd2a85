#include "units/scales.h"

#include <cmath>
#include <numbers>
#include <span>
#include <string_view>
#include <vector>

#include "host/zel_units.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"
#include "units/parameter_reader.h"
#include "units/timing.h"

namespace dcservo {
namespace {

double Value(const ParameterReader& in, const char* name) { return in.BaseValue(name); }

// Encoder counts per radian of the motor shaft (four per line).
double EncoderCountsPerRadian(const ParameterReader& in) {
  return Value(in, param::No_encoder_lines) * 4.0 / (2.0 * std::numbers::pi);
}

// Load-side base units to motor radians.
double TransmissionRatio(const ParameterReader& in) {
  return Value(in, param::Motor_transmission) / Value(in, param::Load_transmission);
}

// Tachometer converter counts per rad/s of the motor.
double TachoCountsPerRadPerSecond(const ParameterReader& in) {
  return Value(in, param::ADCResolution) * Value(in, param::Tacho_gain) /
         Value(in, param::AnalogueInputsRange);
}

double Sensors(const ParameterReader& in) { return Value(in, param::SensorsConfiguration); }
bool EncoderOnMotorOrLoad(double sensors) {
  return IsCode(sensors, SensorsConfiguration::EncoderOnMotor) ||
         IsCode(sensors, SensorsConfiguration::TachoAndEncoderOnLoad);
}

// Load-side kinematic scale: encoder counts per sample^order, or the tacho's counts per
// sample^(order-1) for a tacho-only drive.
double LoadKinematicScale(const ParameterReader& in, int order) {
  const double sensors = Sensors(in);
  const double ts = SlowLoopPeriod(in);
  if (EncoderOnMotorOrLoad(sensors))
    return TransmissionRatio(in) * EncoderCountsPerRadian(in) * std::pow(ts, order);
  if (IsCode(sensors, SensorsConfiguration::TachoOnMotor))
    return TransmissionRatio(in) * TachoCountsPerRadPerSecond(in) * std::pow(ts, order - 1);
  return 0.0;
}

}  // namespace

double AdcMax(const ParameterReader& in) {
  return static_cast<double>(ZelAdcMaxOfResolution(Value(in, param::ADCResolution)));
}

double VoltageScale(const ParameterReader& in) { return kFullScale / Value(in, param::Vdc); }

double MeasuredVoltageScale(const ParameterReader& in) {
  return AdcMax(in) / Value(in, param::VdcMaxMeasurable);
}

double CurrentScale(const ParameterReader& in) {
  return AdcMax(in) / (2.0 * Value(in, param::ImaxPS));
}

double LoadPositionScale(const ParameterReader& in) {
  if (!EncoderOnMotorOrLoad(Sensors(in))) return 1.0;
  return TransmissionRatio(in) * EncoderCountsPerRadian(in);
}

double MotorPositionScale(const ParameterReader& in) {
  return EncoderOnMotorOrLoad(Sensors(in)) ? EncoderCountsPerRadian(in) : 1.0;
}

double LoadSpeedScale(const ParameterReader& in) { return LoadKinematicScale(in, 1); }
double AccelerationScale(const ParameterReader& in) { return LoadKinematicScale(in, 2); }
double JerkScale(const ParameterReader& in) { return LoadKinematicScale(in, 3); }

// With an encoder on the load (2) the motor speed still comes from the tacho.
double MotorSpeedScale(const ParameterReader& in) {
  if (IsCode(Sensors(in), SensorsConfiguration::EncoderOnMotor)) return SlowLoopPeriod(in) * EncoderCountsPerRadian(in);
  return TachoCountsPerRadPerSecond(in);
}

namespace {

using FactorFn = double (*)(const ParameterReader& in);
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

double One(const ParameterReader&) { return 1.0; }
double MeasuredVolt(const ParameterReader& in) { return 1.0 / MeasuredVoltageScale(in); }
double AnalogueVolt(const ParameterReader& in) { return Value(in, param::AnalogueInputsRange) / AdcMax(in); }
double AppliedVolt(const ParameterReader& in) { return 1.0 / VoltageScale(in); }
double Ampere(const ParameterReader& in) { return 1.0 / CurrentScale(in); }
double FastSample(const ParameterReader& in) { return FastLoopPeriod(in); }
double SlowSample(const ParameterReader& in) { return SlowLoopPeriod(in); }
double MotorPosition(const ParameterReader& in) { return 1.0 / MotorPositionScale(in); }
double AbsLoadPosition(const ParameterReader& in) { return 1.0 / std::abs(LoadPositionScale(in)); }
double LoadPosition(const ParameterReader& in) { return 1.0 / LoadPositionScale(in); }
double MotorSpeed(const ParameterReader& in) { return 1.0 / MotorSpeedScale(in); }
double LimitSpeed(const ParameterReader& in) {
  return 1.0 / std::abs(MotorSpeedScale(in) * TransmissionRatio(in));
}
double AbsLoadSpeed(const ParameterReader& in) { return 1.0 / std::abs(LoadSpeedScale(in)); }
double LoadSpeed(const ParameterReader& in) { return 1.0 / LoadSpeedScale(in); }
double Acceleration(const ParameterReader& in) { return 1.0 / AccelerationScale(in); }
double Jerk(const ParameterReader& in) { return 1.0 / JerkScale(in); }
double DegreeCelsius(const ParameterReader& in) {
  return Value(in, param::ADCrange) / (AdcMax(in) * Value(in, param::DriveTempSensorGain));
}
double VoltPerSecond(const ParameterReader& in) { return 1.0 / VoltageScale(in) / SlowLoopPeriod(in); }
double AmperePerSecond(const ParameterReader& in) { return 1.0 / CurrentScale(in) / SlowLoopPeriod(in); }

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

double ScaleFactor(const ParameterReader& in, const char* unit, const char* name) {
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
    if (named) return kFactorRows[i].factor(in);
  }
  return 1.0;
}

double ScaleOffset(const ParameterReader& in, const char* unit) {
  if (!unit || !zel::NamesEqual(unit, kDegreeC)) return 0.0;
  return -(AdcMax(in) * Value(in, param::DriveTempOutputAt0oC) /
           Value(in, param::ADCrange));
}

double DriveInternalValue(const ParameterReader& in, const char* name) {
  const CZel_Parameter* p = in.Find(name);
  if (!p) return 0.0;
  if (!p->IsStoredInBaseUnit()) return p->GetValueInInternalUnit();
  const double factor = ScaleFactor(in, p->GetUnitName(), name);
  if (factor == 0.0) return p->GetValueInInternalUnit();
  return p->GetValueInBaseUnit() / factor - ScaleOffset(in, p->GetUnitName());
}

// The host's and the pipelines' questions: a missing parameter is reported.
double AdcMax(CZel_Setup& setup) { return AdcMax(ParameterReader::Reporting(setup)); }
double VoltageScale(CZel_Setup& setup) { return VoltageScale(ParameterReader::Reporting(setup)); }
double MeasuredVoltageScale(CZel_Setup& setup) {
  return MeasuredVoltageScale(ParameterReader::Reporting(setup));
}
double CurrentScale(CZel_Setup& setup) { return CurrentScale(ParameterReader::Reporting(setup)); }
double LoadPositionScale(CZel_Setup& setup) {
  return LoadPositionScale(ParameterReader::Reporting(setup));
}
double MotorPositionScale(CZel_Setup& setup) {
  return MotorPositionScale(ParameterReader::Reporting(setup));
}
double LoadSpeedScale(CZel_Setup& setup) { return LoadSpeedScale(ParameterReader::Reporting(setup)); }
double MotorSpeedScale(CZel_Setup& setup) {
  return MotorSpeedScale(ParameterReader::Reporting(setup));
}
double AccelerationScale(CZel_Setup& setup) {
  return AccelerationScale(ParameterReader::Reporting(setup));
}
double JerkScale(CZel_Setup& setup) { return JerkScale(ParameterReader::Reporting(setup)); }
double ScaleFactor(CZel_Setup& setup, const char* unit, const char* name) {
  return ScaleFactor(ParameterReader::Reporting(setup), unit, name);
}
double ScaleOffset(CZel_Setup& setup, const char* unit) {
  return ScaleOffset(ParameterReader::Reporting(setup), unit);
}
double DriveInternalValue(CZel_Setup& setup, const char* name) {
  return DriveInternalValue(ParameterReader::Reporting(setup), name);
}

}  // namespace dcservo
