#include "units/control_structure.h"

#include <array>
#include <initializer_list>

#include "host/zel_numeric.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"

namespace dcservo {
namespace {

struct LoopRow {
  int control_mode;
  int position_control_type;  // -1: not read
  const char* position;
  const char* speed;
  const char* current;
};

constexpr LoopRow kLoopRows[] = {
    {ControlMode::Position, PositionControlType::OverCurrentLoop, "1", "0", "1"},
    {ControlMode::Position, PositionControlType::OverSpeedLoop, "1", "1", "1"},
    {ControlMode::Speed, -1, "0", "1", "1"},
    {ControlMode::Current, -1, "0", "0", "1"},
};

struct SensorRow {
  double configuration;
  const char* load_position;
  const char* motor_position;
  const char* motor_speed;
};

constexpr const char kEncoder[] = "Incremental Encoder";
constexpr const char kTacho[] = "Tacho";

constexpr SensorRow kSensorRows[] = {
    {SensorsConfiguration::EncoderOnMotor, "", kEncoder, ""},
    {SensorsConfiguration::TachoOnMotor, "", "", kTacho},
    {SensorsConfiguration::TachoAndEncoderOnLoad, kEncoder, "", kTacho},
};

// Null when the mode has no row, or in position mode without `PositionControlType`; that
// is read in position mode only.
const LoopRow* FindLoopRow(CZel_Setup& setup, const CZel_Parameter& control_mode) {
  const long long mode = ZelSaturatingCast<long long>(control_mode.GetValueInBaseUnit());
  long long type = -1;
  if (mode == ControlMode::Position) {
    const CZel_Parameter* position_control_type = setup.FindParameter(param::PositionControlType);
    if (!position_control_type) return nullptr;
    type = ZelSaturatingCast<long long>(position_control_type->GetValueInBaseUnit());
  }
  for (const LoopRow& row : kLoopRows) {
    if (row.control_mode == mode && row.position_control_type == type) return &row;
  }
  return nullptr;
}

enum class Kind { Position, Speed, SpeedSI, Acceleration, Jerk, PassBand };

struct UnitChoice {
  const char* name;
  int type;  // for a name that several kinds share; -1: whichever kind the name finds
};

UnitChoice UnitFor(Kind kind, bool rotary) {
  switch (kind) {
    case Kind::Position: return {rotary ? "rot" : "mm", -1};
    case Kind::Speed: return {rotary ? "rpm" : "m/s", -1};
    case Kind::SpeedSI: return {rotary ? "rad/s" : "m/s", -1};
    case Kind::Acceleration: return {rotary ? "rad/s^2" : "m/s^2", -1};
    case Kind::Jerk: return {rotary ? "rad/s^3" : "m/s^3", -1};
    // A loop's pass band is the motor's loop's, whatever the transmission to the load.
    case Kind::PassBand: return {"rad/s", kUnitAngularFrequency};
  }
  return {"", -1};
}

enum class Condition { None, AnalogueInput, FreezeControl, LimitSwitches };

struct UnitEntry {
  const char* name;
  Kind kind;
  Condition condition;
};

// Parameters, in the order they are changed.
constexpr UnitEntry kParameterUnits[] = {
    {param::Load_transmission, Kind::Position, Condition::None},
    {param::TestSpeed, Kind::Speed, Condition::None},
    {param::Limit_Speed, Kind::SpeedSI, Condition::None},
    {param::TestPosition, Kind::Position, Condition::None},
    {param::ERR_position, Kind::Position, Condition::None},
    {param::ERR_speed, Kind::SpeedSI, Condition::None},
    {param::POS_max, Kind::Position, Condition::AnalogueInput},
    {param::POS_min, Kind::Position, Condition::AnalogueInput},
    {param::SPD_max, Kind::Speed, Condition::AnalogueInput},
    {param::SPD_min, Kind::Speed, Condition::AnalogueInput},
    {param::ErefMaxSpeed, Kind::Speed, Condition::None},
    {param::ErefMaxAcceleration, Kind::Acceleration, Condition::None},
    {param::FreezeControl_errband, Kind::Position, Condition::FreezeControl},
    {param::Negative_SWLS, Kind::Position, Condition::LimitSwitches},
    {param::Positive_SWLS, Kind::Position, Condition::LimitSwitches},
    {param::PB_C, Kind::PassBand, Condition::None},
    {param::PB_C_minim, Kind::PassBand, Condition::None},
    {param::PB_C_maxim, Kind::PassBand, Condition::None},
    {param::PB_S, Kind::PassBand, Condition::None},
    {param::PB_S_minim, Kind::PassBand, Condition::None},
    {param::PB_S_maxim, Kind::PassBand, Condition::None},
    {param::PB_P, Kind::PassBand, Condition::None},
    {param::PB_P_minim, Kind::PassBand, Condition::None},
    {param::PB_P_maxim, Kind::PassBand, Condition::None},
};

struct VariableEntry {
  const char* name;
  Kind kind;
};

// Live variables, in the order they are changed.
constexpr VariableEntry kVariableUnits[] = {
    {var::Load_Position, Kind::Position},
    {var::Load_Speed, Kind::Speed},
    {var::Target_Position, Kind::Position},
    {var::Target_Speed, Kind::Speed},
    {var::Speed_Reference, Kind::Speed},
    {var::Position_Error, Kind::Position},
    {var::Speed_Error, Kind::Speed},
    {var::Pulse_Dir_Input_Speed, Kind::Speed},
    {var::Pulse_Dir_Input_Position, Kind::Position},
    {var::APOS, Kind::Position},
    {var::APOS_LD, Kind::Position},
    {var::ASPD_LD, Kind::Speed},
    {param::CACC, Kind::Acceleration},
    {var::CAPPOS, Kind::Position},
    {var::CDEC, Kind::Acceleration},
    {var::CPOS, Kind::Position},
    {param::CSPD, Kind::Speed},
    {var::EREFP, Kind::Position},
    {var::EREFS, Kind::Speed},
    {param::ERRMAX, Kind::Position},
    {var::HOMEPOS, Kind::Position},
    {var::HOMESPD, Kind::Speed},
    {var::JERK, Kind::Jerk},
    {var::POSERR, Kind::Position},
    {var::POSINIT, Kind::Position},
    {var::POSOKLIM, Kind::Position},
    {var::POSTRIGG1, Kind::Position},
    {var::POSTRIGG2, Kind::Position},
    {var::POSTRIGG3, Kind::Position},
    {var::POSTRIGG4, Kind::Position},
    {param::SERRMAX, Kind::Speed},
    {var::SPDERR, Kind::Speed},
    {var::SPDREF, Kind::Speed},
    {var::TACC, Kind::Acceleration},
    {var::TPOS, Kind::Position},
    {var::TPOSFAST, Kind::Position},
    {var::TSPD, Kind::Speed},
};

void GiveUnit(CZel_Quantity& q, UnitChoice unit) {
  if (unit.type < 0)
    q.ChangeUnitType(unit.name);
  else
    q.ChangeUnitType(unit.name, unit.type);
}

bool HasAll(CZel_Setup& setup, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (!setup.FindOptionalParameter(name)) return false;
  }
  return true;
}

bool ConditionHolds(CZel_Setup& setup, Condition condition) {
  switch (condition) {
    case Condition::None: return true;
    case Condition::AnalogueInput: {
      return setup.FindVariable(param::CADIN, 0) && setup.FindOptionalParameter(param::CADIN);
    }
    case Condition::FreezeControl:
      return HasAll(setup, {param::POSOKLIM_FC, param::TONPOSOK_FC});
    case Condition::LimitSwitches:
      return HasAll(setup, {param::isSWLS});
  }
  return false;
}

}  // namespace

int ComputeControlStructureOptions(CZel_Setup& setup) {
  // Looked up before anything is written: a setup without them gets no options at all
  // rather than those of position mode with the motor encoder.
  const CZel_Parameter* control_mode = setup.FindParameter(param::ControlMode);
  const CZel_Parameter* sensors_configuration = setup.FindParameter(param::SensorsConfiguration);
  if (!control_mode || !sensors_configuration) return 0;
  const LoopRow* loops = FindLoopRow(setup, *control_mode);
  if (!loops) return 0;
  setup.SetOption(option::IsClosedPosition, loops->position);
  setup.SetOption(option::IsClosedSpeed, loops->speed);
  setup.SetOption(option::IsClosedCurrent, loops->current);

  const double sensors = sensors_configuration->GetValueInBaseUnit();
  const double truncated = static_cast<double>(ZelSaturatingCast<long long>(sensors));
  for (const SensorRow& row : kSensorRows) {
    if (row.configuration != truncated) continue;
    setup.SetOption(option::LoadPosition, row.load_position);
    setup.SetOption(option::MotorPosition, row.motor_position);
    setup.SetOption(option::MotorSpeed, row.motor_speed);
  }
  // The feedback flags compare the untruncated value.
  const bool on_load = IsCode(sensors, SensorsConfiguration::TachoAndEncoderOnLoad);
  const bool encoder_on_motor = IsCode(sensors, SensorsConfiguration::EncoderOnMotor);
  setup.SetOption(option::isPositionFeedbackOnLoad, on_load ? "1" : "0");
  setup.SetOption(option::isPositionFeedbackOnMotor, encoder_on_motor ? "1" : "0");
  setup.SetOption(option::isSpeedFeedback, encoder_on_motor ? "0" : "1");
  return 1;
}

int AssignUnitTypes(CZel_Setup& setup) {
  const bool rotary =
      IsCode(setup.GetParameterValueInBaseUnit(param::TransmissionType), TransmissionType::Rotary);
  // Each condition looks its parameters up once, not once for every entry that has it.
  constexpr std::size_t kConditions = static_cast<std::size_t>(Condition::LimitSwitches) + 1;
  std::array<signed char, kConditions> holds;
  holds.fill(-1);
  for (const UnitEntry& entry : kParameterUnits) {
    signed char& known = holds[static_cast<std::size_t>(entry.condition)];
    if (known < 0) known = ConditionHolds(setup, entry.condition) ? 1 : 0;
    if (!known) continue;
    if (CZel_Parameter* p = setup.FindParameter(entry.name))
      GiveUnit(*p, UnitFor(entry.kind, rotary));
  }
  for (const VariableEntry& entry : kVariableUnits) {
    if (CZel_Variable* v = setup.FindVariable(entry.name, 1))
      GiveUnit(*v, UnitFor(entry.kind, rotary));
  }
  return 1;
}

bool ControlStructureOptionValues(std::string_view option, std::vector<std::string>& values) {
  static constexpr const char* kFlags[] = {
      option::IsClosedPosition,          option::IsClosedSpeed,
      option::IsClosedCurrent,           option::isPositionFeedbackOnLoad,
      option::isPositionFeedbackOnMotor, option::isSpeedFeedback};
  static constexpr const char* kSensors[] = {option::LoadPosition, option::MotorPosition,
                                             option::MotorSpeed};
  for (const char* flag : kFlags) {
    if (zel::NamesEqual(flag, option)) {
      values = {"0", "1"};
      return true;
    }
  }
  for (const char* sensor : kSensors) {
    if (zel::NamesEqual(sensor, option)) {
      values = {"", kEncoder, kTacho};
      return true;
    }
  }
  return false;
}

}  // namespace dcservo
