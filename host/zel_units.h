#pragma once
// The host's unit table: every unit a value can be shown in, grouped into unit types. Each
// type has one base unit (the SI unit a scaled parameter is stored in); every other unit of
// the type converts to it by a factor.

#include <string>
#include <string_view>
#include <vector>

#include "host/zel_names.h"

// Unit type numbers are part of what the dialogs compare; they are stable.
enum ZelUnitType : int {
  kUnitNone = 0,
  kUnitTime = 1,
  kUnitFrequency = 2,
  kUnitVoltage = 3,
  kUnitMeasuredVoltage = 4,
  kUnitCurrent = 5,
  kUnitRotaryPosition = 6,
  kUnitLinearPosition = 7,
  kUnitRotarySpeed = 8,
  kUnitLinearSpeed = 9,
  kUnitRotaryAcceleration = 10,
  kUnitLinearAcceleration = 11,
  kUnitRotaryJerk = 12,
  kUnitLinearJerk = 13,
  kUnitTemperature = 14,
  kUnitVoltageRate = 15,
  kUnitCurrentRate = 16,
  kUnitResistance = 17,
  kUnitInductance = 18,
  kUnitTorqueConstant = 19,
  kUnitSpeedVoltageGain = 20,
  kUnitSensorGain = 21,
  kUnitInertia = 22,
  kUnitTorque = 23,
  kUnitPercent = 24,
  // A loop's pass band: an angle per second as a shaft speed is, but not one that a shaft
  // turns at, so a speed's units (rpm) are not its units.
  kUnitAngularFrequency = 25,
};

// The measured DC-link voltage, which the drive counts in converter units rather than in
// fractions of the supply: "V" with a blank, a unit of its own beside the applied "V".
inline constexpr char kMeasuredVoltageUnit[] = "V ";

// "current", "rotary speed", ...; "" for kUnitNone and unknown types.
const char* ZelUnitTypeName(int type);
// The type of that name ("angular frequency"), or -1.
int ZelUnitTypeNamed(std::string_view name);

class CZel_Unit {
 public:
  CZel_Unit(std::string name, int type, double factor_to_base)
      : name_(std::move(name)), type_(type), factor_to_base_(factor_to_base) {}

  const std::string& GetName() const { return name_; }
  int GetUnitType() const { return type_; }
  // value in base unit = value in this unit x factor
  double GetFactorToBase() const { return factor_to_base_; }
  bool IsBaseUnit() const { return factor_to_base_ == 1.0; }
  double ToBase(double value_in_unit) const { return value_in_unit * factor_to_base_; }
  double FromBase(double value_in_base) const { return value_in_base / factor_to_base_; }

 private:
  std::string name_;
  int type_;
  double factor_to_base_;
};

class CZel_Units {
 public:
  CZel_Units();
  CZel_Units(const CZel_Units&) = delete;
  CZel_Units& operator=(const CZel_Units&) = delete;

  // The unit of that name, or null. Two kinds may share a name ("rad/s" is a rotary speed
  // and an angular frequency): this is the one of the first kind in the table.
  const CZel_Unit* FindUnit(std::string_view name) const;
  // The unit of that name among the units of `type`, or null.
  const CZel_Unit* FindUnitOfType(std::string_view name, int type) const;
  // The unit of that name in `type` when that kind has it, else as FindUnit finds it.
  const CZel_Unit* FindUnitPreferringType(std::string_view name, int type) const;
  // The base unit of the named unit's type ("rpm" gives "rad/s"), or null.
  const CZel_Unit* FindBaseUnit(std::string_view name) const;
  const CZel_Unit* BaseUnitOfType(int type) const;
  const std::vector<CZel_Unit>& All() const { return units_; }
  // Units of one type in table order, base unit first.
  std::vector<const CZel_Unit*> UnitsOfType(int type) const;

 private:
  // The unit of `type` in the chain of units named alike that starts at `first`, or null.
  const CZel_Unit* OfTypeAmongSameName(std::size_t first, int type) const;
  std::vector<CZel_Unit> units_;
  // The first unit of each name; the units that share it follow through next_same_name_.
  zel::NameMap<std::size_t> by_name_;
  std::vector<std::size_t> next_same_name_;
  std::vector<std::size_t> base_of_type_;
};

// The one table of the process; setups share it.
const CZel_Units& ZelUnitTable();
