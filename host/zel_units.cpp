#include "host/zel_units.h"

#include <iterator>
#include <numbers>

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRev = 2.0 * kPi;

struct UnitRow {
  const char* name;
  int type;
  double factor_to_base;
};

// Base unit first in each type.
constexpr UnitRow kUnitRows[] = {
    {"", kUnitNone, 1.0},

    {"s", kUnitTime, 1.0},
    {"ms", kUnitTime, 1e-3},
    {"µs", kUnitTime, 1e-6},
    {"us", kUnitTime, 1e-6},
    {"min", kUnitTime, 60.0},

    {"Hz", kUnitFrequency, 1.0},
    {"kHz", kUnitFrequency, 1e3},
    {"MHz", kUnitFrequency, 1e6},

    {"V", kUnitVoltage, 1.0},
    {"mV", kUnitVoltage, 1e-3},

    {kMeasuredVoltageUnit, kUnitMeasuredVoltage, 1.0},

    {"A", kUnitCurrent, 1.0},
    {"mA", kUnitCurrent, 1e-3},

    {"rad", kUnitRotaryPosition, 1.0},
    {"rot", kUnitRotaryPosition, kRev},
    {"deg", kUnitRotaryPosition, kPi / 180.0},

    {"m", kUnitLinearPosition, 1.0},
    {"mm", kUnitLinearPosition, 1e-3},
    {"µm", kUnitLinearPosition, 1e-6},
    {"um", kUnitLinearPosition, 1e-6},

    {"rad/s", kUnitRotarySpeed, 1.0},
    {"rpm", kUnitRotarySpeed, kRev / 60.0},
    {"rot/s", kUnitRotarySpeed, kRev},
    {"deg/s", kUnitRotarySpeed, kPi / 180.0},

    {"m/s", kUnitLinearSpeed, 1.0},
    {"mm/s", kUnitLinearSpeed, 1e-3},
    {"m/min", kUnitLinearSpeed, 1.0 / 60.0},

    {"rad/s^2", kUnitRotaryAcceleration, 1.0},
    {"rot/s^2", kUnitRotaryAcceleration, kRev},
    {"rpm/s", kUnitRotaryAcceleration, kRev / 60.0},
    {"deg/s^2", kUnitRotaryAcceleration, kPi / 180.0},

    {"m/s^2", kUnitLinearAcceleration, 1.0},
    {"mm/s^2", kUnitLinearAcceleration, 1e-3},

    {"rad/s^3", kUnitRotaryJerk, 1.0},
    {"rot/s^3", kUnitRotaryJerk, kRev},

    {"m/s^3", kUnitLinearJerk, 1.0},
    {"mm/s^3", kUnitLinearJerk, 1e-3},

    {"°C", kUnitTemperature, 1.0},

    {"V/s", kUnitVoltageRate, 1.0},
    {"V/ms", kUnitVoltageRate, 1e3},

    {"A/s", kUnitCurrentRate, 1.0},
    {"A/ms", kUnitCurrentRate, 1e3},

    {"ohm", kUnitResistance, 1.0},
    {"mohm", kUnitResistance, 1e-3},
    {"kohm", kUnitResistance, 1e3},

    {"H", kUnitInductance, 1.0},
    {"mH", kUnitInductance, 1e-3},
    {"µH", kUnitInductance, 1e-6},
    {"uH", kUnitInductance, 1e-6},

    {"Nm/A", kUnitTorqueConstant, 1.0},
    {"mNm/A", kUnitTorqueConstant, 1e-3},

    {"V/(rad/s)", kUnitSpeedVoltageGain, 1.0},
    {"V/krpm", kUnitSpeedVoltageGain, 1.0 / (1000.0 * kRev / 60.0)},

    {"V/°C", kUnitSensorGain, 1.0},
    {"mV/°C", kUnitSensorGain, 1e-3},

    {"kgm^2", kUnitInertia, 1.0},
    {"kgcm^2", kUnitInertia, 1e-4},
    {"gcm^2", kUnitInertia, 1e-7},

    {"Nm", kUnitTorque, 1.0},
    {"mNm", kUnitTorque, 1e-3},

    {"%", kUnitPercent, 1.0},

    // After the speeds, whose "rad/s" a name alone finds.
    {"rad/s", kUnitAngularFrequency, 1.0},
};

// By unit type number.
constexpr const char* kUnitTypeNames[] = {
    "",
    "time",
    "frequency",
    "voltage",
    "measured voltage",
    "current",
    "rotary position",
    "linear position",
    "rotary speed",
    "linear speed",
    "rotary acceleration",
    "linear acceleration",
    "rotary jerk",
    "linear jerk",
    "temperature",
    "voltage rate",
    "current rate",
    "resistance",
    "inductance",
    "torque constant",
    "speed voltage gain",
    "sensor gain",
    "inertia",
    "torque",
    "percentage",
    "angular frequency",
};
static_assert(std::size(kUnitTypeNames) == kUnitAngularFrequency + 1);

}  // namespace

const char* ZelUnitTypeName(int type) {
  return type >= 0 && type < static_cast<int>(std::size(kUnitTypeNames)) ? kUnitTypeNames[type]
                                                                           : "";
}

int ZelUnitTypeNamed(std::string_view name) {
  for (std::size_t type = 1; type < std::size(kUnitTypeNames); ++type) {
    if (name == kUnitTypeNames[type]) return static_cast<int>(type);
  }
  return -1;
}

namespace {
constexpr std::size_t kNoUnit = static_cast<std::size_t>(-1);
}  // namespace

CZel_Units::CZel_Units() {
  units_.reserve(std::size(kUnitRows));
  next_same_name_.assign(std::size(kUnitRows), kNoUnit);
  base_of_type_.assign(std::size(kUnitTypeNames), kNoUnit);
  for (const UnitRow& row : kUnitRows) {
    const std::size_t index = units_.size();
    if (std::size_t* first = by_name_.Find(row.name)) {
      std::size_t last = *first;  // a name that two kinds share: the first, then the others
      while (next_same_name_[last] != kNoUnit) last = next_same_name_[last];
      next_same_name_[last] = index;
    } else {
      by_name_.Insert(row.name, index);
    }
    if (base_of_type_[row.type] == kNoUnit) base_of_type_[row.type] = index;
    units_.emplace_back(row.name, row.type, row.factor_to_base);
  }
}

const CZel_Unit* CZel_Units::OfTypeAmongSameName(std::size_t first, int type) const {
  for (std::size_t i = first; i != kNoUnit; i = next_same_name_[i]) {
    if (units_[i].GetUnitType() == type) return &units_[i];
  }
  return nullptr;
}

const CZel_Unit* CZel_Units::FindUnitOfType(std::string_view name, int type) const {
  const std::size_t* first = by_name_.Find(name);
  return first ? OfTypeAmongSameName(*first, type) : nullptr;
}

const CZel_Unit* CZel_Units::FindUnitPreferringType(std::string_view name, int type) const {
  const std::size_t* first = by_name_.Find(name);
  if (!first) return nullptr;
  const CZel_Unit* of_type = OfTypeAmongSameName(*first, type);
  return of_type ? of_type : &units_[*first];
}

const CZel_Unit* CZel_Units::FindUnit(std::string_view name) const {
  const std::size_t* index = by_name_.Find(name);
  return index ? &units_[*index] : nullptr;
}

const CZel_Unit* CZel_Units::FindBaseUnit(std::string_view name) const {
  const CZel_Unit* unit = FindUnit(name);
  return unit ? BaseUnitOfType(unit->GetUnitType()) : nullptr;
}

const CZel_Unit* CZel_Units::BaseUnitOfType(int type) const {
  // The base unit is the first of its type.
  if (type < 0 || static_cast<std::size_t>(type) >= base_of_type_.size()) return nullptr;
  const std::size_t index = base_of_type_[type];
  return index == kNoUnit ? nullptr : &units_[index];
}

std::vector<const CZel_Unit*> CZel_Units::UnitsOfType(int type) const {
  std::vector<const CZel_Unit*> out;
  for (const CZel_Unit& unit : units_) {
    if (unit.GetUnitType() == type) out.push_back(&unit);
  }
  return out;
}

const CZel_Units& ZelUnitTable() {
  static const CZel_Units table;
  return table;
}
