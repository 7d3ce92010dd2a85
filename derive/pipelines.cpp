#include "derive/pipelines.h"

#include <array>
#include <cstddef>
#include <string_view>

#include "derive/quantities.h"

namespace dcservo {
namespace {

// A place in one of the drive's documented orders: the row and the quantity (scaled
// pipeline) or register (chip pipeline) whose step runs there.
struct Place {
  int row;
  const char* name;
};

// Chip to scaled. Rows that are not listed belong to quantities whose conversions are not
// part of this build yet.
constexpr Place kScaledOrder[] = {
    {1, "isMotorTemperatureSensor"},
    {2, "SensorsConfiguration"},
    {3, "Motor_TempSensor_Type"},
    {4, "PWM_freq"},
    {5, "PWMperiod"},
    {6, "Ts_C"},
    {7, "Ts_S"},
    {8, "PosSpd_in_FastLoop"},
    {9, "isDriveTemperatureSensor"},
    {10, "isOverVoltage"},
    {11, "isUnderVoltage"},
    {12, "isDriveOverTemp"},
    {13, "isDriveI2t"},
    {14, "UMAX_PROT"},
    {15, "UMIN_PROT"},
    {16, "Temp_2"},
    {17, "I_I2t_D"},
    {18, "t_I2t_D"},
    {19, "ControlMode"},
    {20, "ExternalReference"},
    {21, "IsAutoActivatedAfterPowerOn"},
    {22, "Axis_ID_list"},
    {23, "IlimPS"},
    {24, "Kp_C_scl"},
    {25, "Ki_C_scl"},
    {26, "TestCurrent"},
    {27, "TestProtectionCurrent"},
    {28, "isUseFilterOnCrtCtrlOutput"},
    {29, "FilterOnCurrentControllerOutput"},
    {30, "isCompensateGravitationalLoads"},
    {31, "OffsetCurrent"},
    {32, "Kp_S_scl"},
    {33, "Ki_S_scl"},
    {34, "IPSatS"},
    {35, "KFFA_scl"},
    {36, "TestLimitCurrent"},
    {37, "Jload_over_J"},
    {38, "Kp_P_scl"},
    {39, "Ki_P_scl"},
    {40, "Kd_P_scl"},
    {41, "filter_D"},
    {42, "IPSatP"},
    {43, "Limit_Speed"},
    {44, "TestMaxSpeed"},
    {45, "KFFS_scl"},
    {46, "isOverCurrent"},
    {47, "Imax_Prot"},
    {48, "time_Imax_Prot"},
    {49, "isPositionControlError"},
    {50, "ERR_position"},
    {51, "time_ERR_pos"},
    {52, "isSpeedControlError"},
    {53, "ERR_speed"},
    {54, "time_ERR_spd"},
    {55, "isMotorOverTemp"},
    {56, "isMotori2t"},
    {57, "I_I2t_M"},
    {58, "t_I2t_M"},
    {59, "isBrakeResistor"},
    {60, "Vbrake"},
    {61, "EnablePolarity"},
    {62, "LSPPolarity"},
    {63, "LSNPolarity"},
    {64, "isSWLS"},
    {64, "Negative_SWLS"},
    {64, "Positive_SWLS"},
    {65, "isSpeedEstimator"},
    {66, "isAnalogueReference"},
    {67, "DigitalReferenceType"},
    {68, "isLimitMaximum"},
    {69, "ErefMaxSpeed"},
    {70, "ErefMaxAcceleration"},
    {71, "DeadBand_Point"},
    {71, "DeadBand_Range"},
    {71, "UseFilter"},
    {71, "filter"},
    {71, "POS_min"},
    {71, "POS_max"},
    {71, "SPD_min"},
    {71, "SPD_max"},
    {71, "CRT_min"},
    {71, "CRT_max"},
    {72, "save_CAN_baudrate"},
    {72, "save_axis_id"},
    {73, "ReverseCounting"},
    {74, "isFilterEnc"},
    {75, "isMotorBrake"},
    {75, "MotorBrake_output"},
    {75, "MotorBrake_releasetime"},
    {75, "MotorBrake_applytime"},
    {76, "SpeedForward"},
    {77, "isFreezeControl"},
    {77, "FreezeControl_errband"},
    {77, "FreezeControl_time"},
    {78, "InputsPolarityType"},
};

// Scaled to chip.
constexpr Place kChipOrder[] = {
    {1, "PWMPER"},
    {2, "T2MAXPROT"},
    {3, "UMAXPROT"},
    {4, "UMINPROT"},
    {5, "II2TPROT_D"},
    {6, "SFI2T_D"},
    {7, "I2TINTLIM_D"},
    {8, "II2TWARLIM_D"},
    {9, "SATPWM"},
    {10, "MTSTYPE"},
    {11, "AAR_table"},
    {12, "SCR"},
    {13, "OSR"},
    {14, "ASR"},
    {15, "PCR"},
    {16, "ACR"},
    {17, "SFTKPI"},
    {17, "KPI"},
    {17, "SFTKII"},
    {17, "KII"},
    {18, "SATID"},
    {19, "FILTERQ"},
    {19, "FFL"},
    {20, "KFFL"},
    {21, "SFTKPS"},
    {21, "KPS"},
    {21, "SFTKIS"},
    {21, "KIS"},
    {21, "IMAXS"},
    {21, "SATS"},
    {21, "SFTKPP"},
    {21, "KPP"},
    {21, "SFTKIP"},
    {21, "KIP"},
    {21, "SFTKDP"},
    {21, "KDP"},
    {22, "KDFP"},
    {23, "IMAXP"},
    {23, "SATP"},
    {23, "SFTSFFW"},
    {23, "KFFS"},
    {24, "SFTAFFW"},
    {24, "SFTKFF"},
    {25, "KFFA"},
    {26, "IMAXPROT"},
    {26, "TIMAXPROT"},
    {26, "ERRMAX"},
    {26, "TERRMAX"},
    {26, "SERRMAX"},
    {26, "TSERRMAX"},
    {27, "T1MAXPROT"},
    {28, "II2TPROT_M"},
    {28, "SFI2T_M"},
    {28, "I2TINTLIM_M"},
    {29, "I2TWARLIM_M"},
    {30, "SWNEGLS"},
    {30, "SWPOSLS"},
    {31, "CACC"},
    {31, "CSPD"},
    {32, "CADIN"},
    {32, "SFTADIN"},
    {32, "AD5OFF"},
    {32, "FILTER1"},
    {32, "LEVEL_AD5"},
    {32, "E_LEVEL_AD5"},
    {33, "GEAR"},
    {34, "BRAKELIM"},
    {35, "DIGIN_ACTIVE_LEVEL"},
    {36, "UPGRADE"},
    {37, "TRANSMISION"},
    {38, "LSS_Active"},
    {39, "COUNTINGDIR"},
    {40, "QUAL"},
    {41, "BRAKECFG"},
    {41, "BRAKEAPPLYDELAY"},
    {41, "BRAKERELEASEDELAY"},
    {42, "POSOKLIM_FC"},
    {42, "TONPOSOK_FC"},
    {43, "BQ1B0"},
};

constexpr bool SameName(const char* a, const char* b) {
  return a && b && std::string_view(a) == std::string_view(b);
}

// The descriptor's step that runs at a place; a name that no descriptor has stops the build.
consteval PipelineStep StepAt(const Place& place, Direction direction) {
  for (const QuantityDescriptor& q : kQuantities) {
    if (direction == Direction::ToScaled) {
      if (q.to_scaled && SameName(q.scaled, place.name))
        return {place.row, q.scaled, q.to_scaled, q.guard};
      continue;
    }
    for (const ChipWrite& write : q.to_chip) {
      if (write.run && SameName(write.reg, place.name))
        return {place.row, write.reg, write.run, write.guard ? write.guard : q.guard};
    }
  }
  throw "a place of the drive's order names no descriptor's step";
}

template <std::size_t N>
consteval std::array<PipelineStep, N> StepsAt(const Place (&order)[N], Direction direction) {
  std::array<PipelineStep, N> steps{};
  for (std::size_t i = 0; i < N; ++i) steps[i] = StepAt(order[i], direction);
  return steps;
}

constexpr auto kScaledSteps = StepsAt(kScaledOrder, Direction::ToScaled);
constexpr auto kChipSteps = StepsAt(kChipOrder, Direction::ToChip);

// The guards are presence probes and no step adds or removes a parameter, so a run of steps
// behind one guard (the analogue input's ten values) asks it once.
void RunAll(CZel_Setup& setup, std::span<const PipelineStep> steps) {
  GuardFn asked = nullptr;
  bool present = true;
  for (const PipelineStep& step : steps) {
    if (step.guard != asked) {
      asked = step.guard;
      present = !asked || asked(setup);
    }
    if (present) step.run(setup);
  }
}

}  // namespace

std::span<const PipelineStep> ScaledPipelineSteps() { return kScaledSteps; }
std::span<const PipelineStep> ChipPipelineSteps() { return kChipSteps; }

void ComputeScaledParameters(CZel_Setup& setup) { RunAll(setup, kScaledSteps); }
void ComputeChipParameters(CZel_Setup& setup) { RunAll(setup, kChipSteps); }
void SynchroniseSetup(CZel_Setup& setup) {
  ComputeChipParameters(setup);
  ComputeScaledParameters(setup);
}

StepResult RunStep(CZel_Setup& setup, std::string_view quantity, Direction direction) {
  const auto steps = direction == Direction::ToScaled ? ScaledPipelineSteps() : ChipPipelineSteps();
  for (const PipelineStep& step : steps) {
    if (!zel::NamesEqual(step.quantity, quantity)) continue;
    if (step.guard && !step.guard(setup)) return StepResult::NotDone;
    return step.run(setup) == 1 ? StepResult::Done : StepResult::NotDone;
  }
  return StepResult::NoSuchStep;
}

}  // namespace dcservo
