#include "derive/pipelines.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "derive/quantities.h"
#include "names/drive_names.h"

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
    {1, param::isMotorTemperatureSensor},
    {2, param::SensorsConfiguration},
    {3, param::Motor_TempSensor_Type},
    {4, param::PWM_freq},
    {5, param::PWMperiod},
    {6, param::Ts_C},
    {7, param::Ts_S},
    {8, param::PosSpd_in_FastLoop},
    {9, param::isDriveTemperatureSensor},
    {10, param::isOverVoltage},
    {11, param::isUnderVoltage},
    {12, param::isDriveOverTemp},
    {13, param::isDriveI2t},
    {14, param::UMAX_PROT},
    {15, param::UMIN_PROT},
    {16, param::Temp_2},
    {17, param::I_I2t_D},
    {18, param::t_I2t_D},
    {19, param::ControlMode},
    {20, param::ExternalReference},
    {21, param::IsAutoActivatedAfterPowerOn},
    {22, param::Axis_ID_list},
    {23, param::IlimPS},
    {24, param::Kp_C_scl},
    {25, param::Ki_C_scl},
    {26, param::TestCurrent},
    {27, param::TestProtectionCurrent},
    {28, param::isUseFilterOnCrtCtrlOutput},
    {29, param::FilterOnCurrentControllerOutput},
    {30, param::isCompensateGravitationalLoads},
    {31, param::OffsetCurrent},
    {32, param::Kp_S_scl},
    {33, param::Ki_S_scl},
    {34, param::IPSatS},
    {35, param::KFFA_scl},
    {36, param::TestLimitCurrent},
    {37, param::Jload_over_J},
    {38, param::Kp_P_scl},
    {39, param::Ki_P_scl},
    {40, param::Kd_P_scl},
    {41, param::filter_D},
    {42, param::IPSatP},
    {43, param::Limit_Speed},
    {44, param::TestMaxSpeed},
    {45, param::KFFS_scl},
    {46, param::isOverCurrent},
    {47, param::Imax_Prot},
    {48, param::time_Imax_Prot},
    {49, param::isPositionControlError},
    {50, param::ERR_position},
    {51, param::time_ERR_pos},
    {52, param::isSpeedControlError},
    {53, param::ERR_speed},
    {54, param::time_ERR_spd},
    {55, param::isMotorOverTemp},
    {56, "isMotori2t"},
    {57, param::I_I2t_M},
    {58, param::t_I2t_M},
    {59, param::isBrakeResistor},
    {60, param::Vbrake},
    {61, param::EnablePolarity},
    {62, param::LSPPolarity},
    {63, param::LSNPolarity},
    {64, param::isSWLS},
    {64, param::Negative_SWLS},
    {64, param::Positive_SWLS},
    {65, param::isSpeedEstimator},
    {66, param::isAnalogueReference},
    {67, param::DigitalReferenceType},
    {68, param::isLimitMaximum},
    {69, param::ErefMaxSpeed},
    {70, param::ErefMaxAcceleration},
    {71, param::DeadBand_Point},
    {71, param::DeadBand_Range},
    {71, param::UseFilter},
    {71, param::filter},
    {71, param::POS_min},
    {71, param::POS_max},
    {71, param::SPD_min},
    {71, param::SPD_max},
    {71, param::CRT_min},
    {71, param::CRT_max},
    {72, param::save_CAN_baudrate},
    {72, param::save_axis_id},
    {73, param::ReverseCounting},
    {74, param::isFilterEnc},
    {75, param::isMotorBrake},
    {75, param::MotorBrake_output},
    {75, param::MotorBrake_releasetime},
    {75, param::MotorBrake_applytime},
    {76, param::SpeedForward},
    {77, param::isFreezeControl},
    {77, param::FreezeControl_errband},
    {77, param::FreezeControl_time},
    {78, param::InputsPolarityType},
};

// Scaled to chip.
constexpr Place kChipOrder[] = {
    {1, param::PWMPER},
    {2, param::T2MAXPROT},
    {3, param::UMAXPROT},
    {4, param::UMINPROT},
    {5, param::II2TPROT_D},
    {6, param::SFI2T_D},
    {7, param::I2TINTLIM_D},
    {8, param::II2TWARLIM_D},
    {9, param::SATPWM},
    {10, param::MTSTYPE},
    {11, param::AAR_table},
    {12, param::SCR},
    {13, param::OSR},
    {14, param::ASR},
    {15, param::PCR},
    {16, param::ACR},
    {17, param::SFTKPI},
    {17, param::KPI},
    {17, param::SFTKII},
    {17, param::KII},
    {18, param::SATID},
    {19, param::FILTERQ},
    {19, param::FFL},
    {20, param::KFFL},
    {21, param::SFTKPS},
    {21, param::KPS},
    {21, param::SFTKIS},
    {21, param::KIS},
    {21, param::IMAXS},
    {21, param::SATS},
    {21, param::SFTKPP},
    {21, param::KPP},
    {21, param::SFTKIP},
    {21, param::KIP},
    {21, param::SFTKDP},
    {21, param::KDP},
    {22, param::KDFP},
    {23, param::IMAXP},
    {23, param::SATP},
    {23, param::SFTSFFW},
    {23, param::KFFS},
    {24, param::SFTAFFW},
    {24, param::SFTKFF},
    {25, param::KFFA},
    {26, param::IMAXPROT},
    {26, param::TIMAXPROT},
    {26, param::ERRMAX},
    {26, param::TERRMAX},
    {26, param::SERRMAX},
    {26, param::TSERRMAX},
    {27, param::T1MAXPROT},
    {28, param::II2TPROT_M},
    {28, param::SFI2T_M},
    {28, param::I2TINTLIM_M},
    {29, param::I2TWARLIM_M},
    {30, param::SWNEGLS},
    {30, param::SWPOSLS},
    {31, param::CACC},
    {31, param::CSPD},
    {32, param::CADIN},
    {32, param::SFTADIN},
    {32, param::AD5OFF},
    {32, param::FILTER1},
    {32, param::LEVEL_AD5},
    {32, param::E_LEVEL_AD5},
    {33, param::GEAR},
    {34, param::BRAKELIM},
    {35, param::DIGIN_ACTIVE_LEVEL},
    {36, param::UPGRADE},
    {37, param::TRANSMISION},
    {38, param::LSS_Active},
    {39, param::COUNTINGDIR},
    {40, param::QUAL},
    {41, param::BRAKECFG},
    {41, param::BRAKEAPPLYDELAY},
    {41, param::BRAKERELEASEDELAY},
    {42, param::POSOKLIM_FC},
    {42, param::TONPOSOK_FC},
    {43, param::BQ1B0},
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
StepFailures RunAll(CZel_Setup& setup, std::span<const PipelineStep> steps) {
  StepFailures failures;
  GuardFn asked = nullptr;
  bool present = true;
  for (const PipelineStep& step : steps) {
    if (step.guard != asked) {
      asked = step.guard;
      present = !asked || asked(setup);
    }
    if (!present) continue;
    if (const StepResult r = step.run(setup); r != StepResult::Done)
      failures.push_back({step.quantity, r});
  }
  return failures;
}

}  // namespace

std::span<const PipelineStep> ScaledPipelineSteps() { return kScaledSteps; }
std::span<const PipelineStep> ChipPipelineSteps() { return kChipSteps; }

StepFailures ComputeScaledParameters(CZel_Setup& setup) { return RunAll(setup, kScaledSteps); }
StepFailures ComputeChipParameters(CZel_Setup& setup) { return RunAll(setup, kChipSteps); }
StepFailures SynchroniseSetup(CZel_Setup& setup) {
  StepFailures failures = ComputeChipParameters(setup);
  StepFailures back = ComputeScaledParameters(setup);
  failures.insert(failures.end(), back.begin(), back.end());
  return failures;
}

std::string DescribeFailures(const StepFailures& failures) {
  std::string text;
  for (const StepFailure& f : failures) {
    if (!text.empty()) text += ", ";
    text += std::string(f.quantity) + " (" + StepResultName(f.result) + ")";
  }
  return text;
}

std::optional<StepResult> RunStep(CZel_Setup& setup, std::string_view quantity,
                                  Direction direction) {
  const auto steps = direction == Direction::ToScaled ? ScaledPipelineSteps() : ChipPipelineSteps();
  for (const PipelineStep& step : steps) {
    if (!zel::NamesEqual(step.quantity, quantity)) continue;
    if (step.guard && !step.guard(setup)) return StepResult::Missing;
    return step.run(setup);
  }
  return std::nullopt;
}

}  // namespace dcservo
