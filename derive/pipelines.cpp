#include "derive/pipelines.h"

#include "derive/biquad_slots.h"
#include "derive/gains.h"
#include "derive/inputs.h"
#include "derive/probes.h"
#include "derive/protections.h"
#include "derive/references.h"
#include "derive/timing_steps.h"

namespace dcservo {
namespace {

// A gain's steps take the names of its registers from the gains table.
template <Gain gain>
constexpr PipelineStep ScaledGainStep(int row) {
  return {row, FixedPointGainOf(gain).scaled, ComputeScaledGain<gain>, nullptr};
}
template <Gain gain>
constexpr PipelineStep GainShiftStep(int row) {
  return {row, FixedPointGainOf(gain).shift, ComputeGainShift<gain>, nullptr};
}
template <Gain gain>
constexpr PipelineStep GainMantissaStep(int row) {
  return {row, FixedPointGainOf(gain).mantissa, ComputeGainMantissa<gain>, nullptr};
}

// Chip to scaled. Rows that are not listed belong to quantities whose conversions are not
// part of this build yet.
constexpr PipelineStep kScaledSteps[] = {
    {1, "isMotorTemperatureSensor", ComputeIsMotorTemperatureSensor, nullptr},
    {2, "SensorsConfiguration", ComputeSensorsConfiguration, nullptr},
    {3, "Motor_TempSensor_Type", ComputeMotor_TempSensor_Type, nullptr},
    {4, "PWM_freq", ComputePWM_freq, nullptr},
    {5, "PWMperiod", ComputePWMperiod, nullptr},
    {6, "Ts_C", ComputeTs_C, nullptr},
    {7, "Ts_S", ComputeTs_S, nullptr},
    {8, "PosSpd_in_FastLoop", ComputePosSpd_in_FastLoop, nullptr},
    {9, "isDriveTemperatureSensor", ComputeIsDriveTemperatureSensor, nullptr},
    {10, "isOverVoltage", ComputeIsOverVoltage, nullptr},
    {11, "isUnderVoltage", ComputeIsUnderVoltage, nullptr},
    {12, "isDriveOverTemp", ComputeIsDriveOverTemp, nullptr},
    {13, "isDriveI2t", ComputeIsDriveI2t, nullptr},
    {14, "UMAX_PROT", ComputeScaledUMAX_PROT, nullptr},
    {15, "UMIN_PROT", ComputeScaledUMIN_PROT, nullptr},
    {16, "Temp_2", ComputeTemp_2, nullptr},
    {17, "I_I2t_D", ComputeI_I2t_D, nullptr},
    {18, "t_I2t_D", Computet_I2t_D, nullptr},
    {19, "ControlMode", ComputeControlMode, nullptr},
    {20, "ExternalReference", ComputeExternalReference, nullptr},
    {21, "IsAutoActivatedAfterPowerOn", ComputeIsAutoActivatedAfterPowerOn, nullptr},
    {22, "Axis_ID_list", ComputeAxis_ID_list, nullptr},
    {23, "IlimPS", ComputeIlimPS, nullptr},
    ScaledGainStep<Gain::Kp_C>(24),
    ScaledGainStep<Gain::Ki_C>(25),
    {26, "TestCurrent", ComputeTestCurrent, nullptr},
    {27, "TestProtectionCurrent", ComputeTestProtectionCurrent, nullptr},
    {28, "isUseFilterOnCrtCtrlOutput", ComputeIsUseFilterOnCrtCtrlOutput, nullptr},
    {29, "FilterOnCurrentControllerOutput", ComputeFilterOnCurrentControllerOutput, nullptr},
    {30, "isCompensateGravitationalLoads", ComputeIsCompensateGravitationalLoads, nullptr},
    {31, "OffsetCurrent", ComputeOffsetCurrent, nullptr},
    ScaledGainStep<Gain::Kp_S>(32),
    ScaledGainStep<Gain::Ki_S>(33),
    {34, "IPSatS", ComputeIPSatS, nullptr},
    ScaledGainStep<Gain::KFFA>(35),
    {36, "TestLimitCurrent", ComputeTestLimitCurrent, nullptr},
    {37, "Jload_over_J", ComputeJload_over_J, nullptr},
    ScaledGainStep<Gain::Kp_P>(38),
    ScaledGainStep<Gain::Ki_P>(39),
    ScaledGainStep<Gain::Kd_P>(40),
    {41, "filter_D", Computefilter_D, nullptr},
    {42, "IPSatP", ComputeIPSatP, nullptr},
    {43, "Limit_Speed", ComputeLimit_Speed, nullptr},
    {44, "TestMaxSpeed", ComputeTestMaxSpeed, nullptr},
    ScaledGainStep<Gain::KFFS>(45),
    {46, "isOverCurrent", ComputeIsOverCurrent, nullptr},
    {47, "Imax_Prot", ComputeScaledImax_Prot, nullptr},
    {48, "time_Imax_Prot", Computetime_Imax_Prot, nullptr},
    {49, "isPositionControlError", ComputeIsPositionControlError, nullptr},
    {50, "ERR_position", ComputeERR_position, nullptr},
    {51, "time_ERR_pos", Computetime_ERR_pos, nullptr},
    {52, "isSpeedControlError", ComputeIsSpeedControlError, nullptr},
    {53, "ERR_speed", ComputeERR_speed, nullptr},
    {54, "time_ERR_spd", Computetime_ERR_spd, nullptr},
    {55, "isMotorOverTemp", ComputeIsMotorOverTemp, nullptr},
    {56, "isMotori2t", ComputeIsMotorI2t, nullptr},
    {57, "I_I2t_M", ComputeI_I2t_M, nullptr},
    {58, "t_I2t_M", Computet_I2t_M, nullptr},
    {59, "isBrakeResistor", ComputeIsBrakeResistor, nullptr},
    {60, "Vbrake", ComputeVbrake, nullptr},
    {61, "EnablePolarity", ComputeEnablePolarity, nullptr},
    {62, "LSPPolarity", ComputeLSPPolarity, nullptr},
    {63, "LSNPolarity", ComputeLSNPolarity, nullptr},
    {64, "isSWLS", ComputeIsSWLS, HasSoftwareLimitSwitches},
    {64, "Negative_SWLS", ComputeNegative_SWLS, HasSoftwareLimitSwitches},
    {64, "Positive_SWLS", ComputePositive_SWLS, HasSoftwareLimitSwitches},
    {65, "isSpeedEstimator", ComputeIsSpeedEstimator, HasSpeedEstimator},
    {66, "isAnalogueReference", ComputeIsAnalogueReference, nullptr},
    {67, "DigitalReferenceType", ComputeDigitalReferenceType, nullptr},
    {68, "isLimitMaximum", ComputeIsLimitMaximum, nullptr},
    {69, "ErefMaxSpeed", ComputeErefMaxSpeed, nullptr},
    {70, "ErefMaxAcceleration", ComputeErefMaxAcceleration, nullptr},
    {71, "DeadBand_Point", ComputeDeadBand_Point, HasAnalogueInput},
    {71, "DeadBand_Range", ComputeDeadBand_Range, HasAnalogueInput},
    {71, "UseFilter", ComputeUseFilter, HasAnalogueInput},
    {71, "filter", ComputeFilter, HasAnalogueInput},
    {71, "POS_min", ComputePOS_min, HasAnalogueInput},
    {71, "POS_max", ComputePOS_max, HasAnalogueInput},
    {71, "SPD_min", ComputeSPD_min, HasAnalogueInput},
    {71, "SPD_max", ComputeSPD_max, HasAnalogueInput},
    {71, "CRT_min", CopyAD5OFFToCRT_min, HasAnalogueInput},
    {71, "CRT_max", ComputeCRT_max, HasAnalogueInput},
    {72, "save_CAN_baudrate", ComputeSave_CAN_baudrate, HasCanSettings},
    {72, "save_axis_id", ComputeSave_axis_id, HasCanSettings},
    {73, "ReverseCounting", ComputeReverseCounting, HasReverseCounting},
    {74, "isFilterEnc", ComputeIsFilterEnc, HasEncoderFilter},
    {75, "isMotorBrake", ComputeIsMotorBrake, HasMotorBrake},
    {75, "MotorBrake_output", ComputeMotorBrake_output, HasMotorBrake},
    {75, "MotorBrake_releasetime", ComputeMotorBrake_releasetime, HasMotorBrake},
    {75, "MotorBrake_applytime", ComputeMotorBrake_applytime, HasMotorBrake},
    {76, "SpeedForward", ComputeSpeedForward, HasSpeedForward},
    {77, "isFreezeControl", ComputeIsFreezeControl, HasFreezeControl},
    {77, "FreezeControl_errband", ComputeFreezeControl_errband, HasFreezeControl},
    {77, "FreezeControl_time", ComputeFreezeControl_time, HasFreezeControl},
    {78, "InputsPolarityType", ComputeInputsPolarityType, HasInputsPolarity},
};

// Scaled to chip.
constexpr PipelineStep kChipSteps[] = {
    {1, "PWMPER", ComputePWMPER, nullptr},
    {2, "T2MAXPROT", ComputeT2MAXPROT, nullptr},
    {3, "UMAXPROT", ComputeChipUMAXPROT, nullptr},
    {4, "UMINPROT", ComputeChipUMINPROT, nullptr},
    {5, "II2TPROT_D", ComputeII2TPROT_D, nullptr},
    {6, "SFI2T_D", ComputeSFI2T_D, nullptr},
    {7, "I2TINTLIM_D", ComputeI2TINTLIM_D, nullptr},
    {8, "II2TWARLIM_D", ComputeII2TWARLIM_D, HasI2tWarnings},
    {9, "SATPWM", ComputeSATPWM, nullptr},
    {10, "MTSTYPE", ComputeMTSTYPE, nullptr},
    {11, "AAR_table", ComputeAAR_table, nullptr},
    {12, "SCR", ComputeSCR, nullptr},
    {13, "OSR", ComputeOSR, nullptr},
    {14, "ASR", ComputeASR, nullptr},
    {15, "PCR", ComputePCR, nullptr},
    {16, "ACR", ComputeACR, nullptr},
    GainShiftStep<Gain::Kp_C>(17),
    GainMantissaStep<Gain::Kp_C>(17),
    GainShiftStep<Gain::Ki_C>(17),
    GainMantissaStep<Gain::Ki_C>(17),
    {18, "SATID", CopySATPWMToCurrentSaturations, nullptr},
    {19, "FILTERQ", ComputeFILTERQ, nullptr},
    {19, "FFL", ComputeFFL, nullptr},
    {20, "KFFL", ComputeKFFL, nullptr},
    GainShiftStep<Gain::Kp_S>(21),
    GainMantissaStep<Gain::Kp_S>(21),
    GainShiftStep<Gain::Ki_S>(21),
    GainMantissaStep<Gain::Ki_S>(21),
    {21, "IMAXS", ComputeIMAXS, nullptr},
    {21, "SATS", ComputeSATS, nullptr},
    GainShiftStep<Gain::Kp_P>(21),
    GainMantissaStep<Gain::Kp_P>(21),
    GainShiftStep<Gain::Ki_P>(21),
    GainMantissaStep<Gain::Ki_P>(21),
    GainShiftStep<Gain::Kd_P>(21),
    GainMantissaStep<Gain::Kd_P>(21),
    {22, "KDFP", ComputeKDFP, nullptr},
    {23, "IMAXP", ComputeIMAXP, nullptr},
    {23, "SATP", ComputeSATP, nullptr},
    GainShiftStep<Gain::KFFS>(23),
    GainMantissaStep<Gain::KFFS>(23),
    GainShiftStep<Gain::KFFA>(24),
    {24, FixedPointGainOf(Gain::KFFA).second_shift, ComputeSFTKFF, nullptr},
    GainMantissaStep<Gain::KFFA>(25),
    {26, "IMAXPROT", ComputeChipIMAXPROT, nullptr},
    {26, "TIMAXPROT", ComputeTIMAXPROT, nullptr},
    {26, "ERRMAX", ComputeERRMAX, nullptr},
    {26, "TERRMAX", ComputeTERRMAX, nullptr},
    {26, "SERRMAX", ComputeSERRMAX, nullptr},
    {26, "TSERRMAX", ComputeTSERRMAX, nullptr},
    {27, "T1MAXPROT", ComputeT1MAXPROT, nullptr},
    {28, "II2TPROT_M", ComputeII2TPROT_M, nullptr},
    {28, "SFI2T_M", ComputeSFI2T_M, nullptr},
    {28, "I2TINTLIM_M", ComputeI2TINTLIM_M, nullptr},
    {29, "I2TWARLIM_M", ComputeI2TWARLIM_M, HasI2tWarnings},
    {30, "SWNEGLS", ComputeSWLimitFromNegative_SWLS, HasSoftwareLimitSwitches},
    {30, "SWPOSLS", ComputeSWLimitFromPositive_SWLS, HasSoftwareLimitSwitches},
    {31, "CACC", ComputeCACC, nullptr},
    {31, "CSPD", ComputeCSPD, nullptr},
    {32, "CADIN", ComputeCADIN, HasAnalogueInput},
    {32, "SFTADIN", ComputeSFTADIN, HasAnalogueInput},
    {32, "AD5OFF", ComputeAD5OFF, HasAnalogueInput},
    {32, "FILTER1", ComputeFILTER1, HasAnalogueInput},
    {32, "LEVEL_AD5", ComputeLEVEL_AD5, HasAnalogueInput},
    {32, "E_LEVEL_AD5", ComputeE_LEVEL_AD5, HasAnalogueInput},
    {33, "GEAR", ComputeGEAR, nullptr},
    {34, "BRAKELIM", ComputeBRAKELIM, nullptr},
    {35, "DIGIN_ACTIVE_LEVEL", ComputeDIGIN_ACTIVE_LEVEL, nullptr},
    {36, "UPGRADE", ComputeUPGRADE, nullptr},
    {37, "TRANSMISION", ComputeTRANSMISION, nullptr},
    {38, "LSS_Active", ComputeLSS_Active, HasCanSettings},
    {39, "COUNTINGDIR", ComputeCOUNTINGDIR, HasReverseCounting},
    {40, "QUAL", ComputeQUAL, HasEncoderFilter},
    {41, "BRAKECFG", ComputeBRAKECFG, HasMotorBrake},
    {41, "BRAKEAPPLYDELAY", ComputeBRAKEAPPLYDELAY, HasMotorBrake},
    {41, "BRAKERELEASEDELAY", ComputeBRAKERELEASEDELAY, HasMotorBrake},
    {42, "POSOKLIM_FC", ComputePOSOKLIM_FC, HasFreezeControl},
    {42, "TONPOSOK_FC", ComputeTONPOSOK_FC, HasFreezeControl},
    {43, "BQ1B0", ComputeBiquadFilterSlots, HasBiquadFilters},
};

void RunAll(CZel_Setup& setup, std::span<const PipelineStep> steps) {
  for (const PipelineStep& step : steps) {
    if (step.guard && !step.guard(setup)) continue;
    step.run(setup);
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
