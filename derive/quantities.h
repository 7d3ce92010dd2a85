#pragma once
// One descriptor per quantity: the scaled parameter a person edits, the chip registers the
// drive keeps it in, the step of each direction and what the display step needs. The two
// pipelines (derive/pipelines.cpp) place these steps in the drive's order and the display
// step (derive/display_step.cpp) reads the registers from here; docs/how-a-quantity-travels.md
// follows one quantity through all of them.

#include <array>
#include <span>
#include <string_view>

#include "derive/biquad_slots.h"
#include "derive/gains.h"
#include "derive/inputs.h"
#include "derive/probes.h"
#include "derive/protections.h"
#include "derive/references.h"
#include "derive/step.h"
#include "derive/timing_steps.h"
#include "names/drive_names.h"

namespace dcservo {

// One step of the chip pipeline: the register it is known by (its name to RunStep) and the
// step. A step may write more registers than the one it is known by; the row's registers
// say which.
struct ChipWrite {
  const char* reg = nullptr;
  StepFn run = nullptr;
  // Beyond the quantity's own guard: the i²t warning levels exist only on some drives.
  GuardFn guard = nullptr;
};

struct QuantityDescriptor {
  // The scaled parameter, or null for a chip-only row: a register that one step writes from
  // several quantities (the flags of PCR, the sensor code of SCR) or from none of them (a
  // constant, a copy, a drive rating).
  const char* scaled;
  // The chip registers the value comes from and goes to.
  std::array<const char*, 3> registers;
  StepFn to_scaled;
  // The steps that write its registers. Empty when a chip-only row writes them (or another
  // quantity's step does: the control-error flags switch their delay registers off).
  ChipWrite to_chip[3] = {};
  // Presence probe of the quantity's group, for both directions; null means always.
  GuardFn guard = nullptr;
  // The registers one count of which is the finest step a value stored as a double can take,
  // the first that moves the value winning; none for a value not derived from a count.
  std::array<const char*, 2> display = {};
  // Why the quantity travels one way only, or what a chip-only row is written from.
  const char* note = nullptr;
};

namespace quantity_rows {

// A gain's row takes the names of its registers from the gains table; its shift goes to the
// chip before its mantissa (GainWriteOrder), and one count of the mantissa is its resolution.
template <Gain gain>
constexpr QuantityDescriptor GainRow() {
  constexpr const FixedPointGain& g = FixedPointGainOf(gain);
  QuantityDescriptor row{g.scaled, {g.shift, g.mantissa, g.second_shift}, ComputeScaledGain<gain>};
  row.display[0] = g.mantissa;
  row.to_chip[0] = {g.shift, ComputeGainShift<gain>};
  if (g.HasSecondShift()) {
    row.to_chip[1] = {g.second_shift, ComputeSFTKFF};
    row.to_chip[2] = {g.mantissa, ComputeGainMantissa<gain>};
  } else {
    row.to_chip[1] = {g.mantissa, ComputeGainMantissa<gain>};
  }
  return row;
}

}  // namespace quantity_rows

// Grouped as the drive's parts are; the order in which the steps run is the pipelines'.
inline constexpr QuantityDescriptor kQuantities[] = {
    // --- Sensors and loop timing ---------------------------------------------------------
    {param::isMotorTemperatureSensor, {param::SCR}, ComputeIsMotorTemperatureSensor},
    {param::isDriveTemperatureSensor, {param::SCR}, ComputeIsDriveTemperatureSensor},
    {param::SensorsConfiguration, {param::SCR, param::OSR, param::UPGRADE},
     ComputeSensorsConfiguration},
    {param::isSpeedEstimator, {param::SCR}, ComputeIsSpeedEstimator, {}, HasSpeedEstimator},
    {nullptr, {param::SCR}, nullptr, {{param::SCR, ComputeSCR}}, nullptr, {},
     "the temperature sensors, the sensor configuration and the speed estimator"},
    {param::Motor_TempSensor_Type, {param::MTSTYPE}, ComputeMotor_TempSensor_Type,
     {{param::MTSTYPE, ComputeMTSTYPE}}},
    // The current loop's PWM saturation follows the PWM frequency.
    {param::PWM_freq, {param::PWMPER, param::SATPWM}, ComputePWM_freq,
     {{param::PWMPER, ComputePWMPER}, {param::SATPWM, ComputeSATPWM}}},
    {param::PWMperiod, {param::PWMPER}, ComputePWMperiod},
    {nullptr, {param::SATID, param::SATIQ}, nullptr,
     {{param::SATID, CopySATPWMToCurrentSaturations}}, nullptr, {},
     "copies of SATPWM"},
    {param::Ts_C, {param::CLPER}, ComputeTs_C, {}, nullptr, {},
     "its divider is set with the PWM frequency (ApplyPwmFrequencyChange), not by a pipeline"},
    {param::Ts_S, {param::SLPER}, ComputeTs_S, {}, nullptr, {},
     "its divider is set with the PWM frequency (ApplyPwmFrequencyChange), not by a pipeline"},
    {param::PosSpd_in_FastLoop, {param::UPGRADE}, ComputePosSpd_in_FastLoop},
    {param::isLimitMaximum, {param::UPGRADE}, ComputeIsLimitMaximum},
    {nullptr, {param::UPGRADE}, nullptr, {{param::UPGRADE, ComputeUPGRADE}}, nullptr, {},
     "isLimitMaximum, PosSpd_in_FastLoop and the sensor configuration"},
    {nullptr, {param::TRANSMISION}, nullptr, {{param::TRANSMISION, ComputeTRANSMISION}}, nullptr,
     {},
     "the tacho's and the encoder's data and the transmission"},

    // --- Drive protections ---------------------------------------------------------------
    {param::isOverVoltage, {param::PCR}, ComputeIsOverVoltage},
    {param::isUnderVoltage, {param::PCR}, ComputeIsUnderVoltage},
    {param::isDriveOverTemp, {param::PCR}, ComputeIsDriveOverTemp},
    {param::isDriveI2t, {param::PCR}, ComputeIsDriveI2t},
    {param::isOverCurrent, {param::PCR}, ComputeIsOverCurrent},
    {param::isMotorOverTemp, {param::PCR}, ComputeIsMotorOverTemp},
    {"isMotori2t", {param::PCR}, ComputeIsMotorI2t},
    {nullptr, {param::PCR}, nullptr, {{param::PCR, ComputePCR}}, nullptr, {},
     "the seven protection flags (PcrFlagBits)"},
    {param::UMAX_PROT, {param::UMAXPROT}, ComputeScaledUMAX_PROT,
     {{param::UMAXPROT, ComputeChipUMAXPROT}}, nullptr, {param::UMAXPROT}},
    {param::UMIN_PROT, {param::UMINPROT}, ComputeScaledUMIN_PROT,
     {{param::UMINPROT, ComputeChipUMINPROT}}, nullptr, {param::UMINPROT}},
    {param::Temp_2, {param::T2MAXPROT}, ComputeTemp_2, {{param::T2MAXPROT, ComputeT2MAXPROT}}},
    {nullptr, {param::T1MAXPROT}, nullptr,
     {{param::T1MAXPROT, ComputeT1MAXPROT}}, nullptr, {}, "always full scale"},
    {param::Vbrake, {param::BRAKELIM}, ComputeVbrake, {{param::BRAKELIM, ComputeBRAKELIM}}, nullptr,
     {param::BRAKELIM}},
    {param::isBrakeResistor, {param::OSR}, ComputeIsBrakeResistor},
    {nullptr, {param::OSR}, nullptr, {{param::OSR, ComputeOSR}}, nullptr, {},
     "isBrakeResistor and the sensor configuration"},

    // --- I²t protections: the nominal register follows the rated current, the limit and the
    // warning level the limit current and its time. --------------------------------------
    {nullptr, {param::II2TPROT_D}, nullptr, {{param::II2TPROT_D, ComputeII2TPROT_D}}, nullptr, {},
     "the drive's rated current, InPS"},
    {param::I_I2t_D, {param::I2TINTLIM_D, param::II2TWARLIM_D}, ComputeI_I2t_D,
     {{param::I2TINTLIM_D, ComputeI2TINTLIM_D},
      {param::II2TWARLIM_D, ComputeII2TWARLIM_D, HasI2tWarnings}},
     nullptr, {param::I2TINTLIM_D}},
    {param::t_I2t_D, {param::SFI2T_D}, Computet_I2t_D, {{param::SFI2T_D, ComputeSFI2T_D}}, nullptr,
     {param::SFI2T_D}},
    {nullptr, {param::II2TPROT_M}, nullptr, {{param::II2TPROT_M, ComputeII2TPROT_M}}, nullptr, {},
     "the motor's rated current, In"},
    {param::I_I2t_M, {param::I2TINTLIM_M, param::I2TWARLIM_M}, ComputeI_I2t_M,
     {{param::I2TINTLIM_M, ComputeI2TINTLIM_M},
      {param::I2TWARLIM_M, ComputeI2TWARLIM_M, HasI2tWarnings}},
     nullptr, {param::I2TINTLIM_M}},
    {param::t_I2t_M, {param::SFI2T_M}, Computet_I2t_M, {{param::SFI2T_M, ComputeSFI2T_M}}, nullptr,
     {param::SFI2T_M}},

    // --- Over-current and control-error protections: a flag that is off switches its delay
    // register off, so the flag travels through its delay's step. ------------------------
    {param::Imax_Prot, {param::IMAXPROT}, ComputeScaledImax_Prot,
     {{param::IMAXPROT, ComputeChipIMAXPROT}}, nullptr, {param::IMAXPROT}},
    {param::TestProtectionCurrent, {param::IMAXPROT}, ComputeTestProtectionCurrent,
     {}, nullptr, {param::IMAXPROT}},
    {param::time_Imax_Prot, {param::TIMAXPROT}, Computetime_Imax_Prot,
     {{param::TIMAXPROT, ComputeTIMAXPROT}}, nullptr, {param::TIMAXPROT}},
    {param::isPositionControlError, {param::TERRMAX}, ComputeIsPositionControlError},
    {param::ERR_position, {param::ERRMAX}, ComputeERR_position, {{param::ERRMAX, ComputeERRMAX}}},
    {param::time_ERR_pos, {param::TERRMAX}, Computetime_ERR_pos,
     {{param::TERRMAX, ComputeTERRMAX}}},
    {param::isSpeedControlError, {param::TSERRMAX}, ComputeIsSpeedControlError},
    {param::ERR_speed, {param::SERRMAX}, ComputeERR_speed, {{param::SERRMAX, ComputeSERRMAX}}},
    {param::time_ERR_spd, {param::TSERRMAX}, Computetime_ERR_spd,
     {{param::TSERRMAX, ComputeTSERRMAX}}},

    // --- Operating mode and references ---------------------------------------------------
    {param::ControlMode, {param::ACR}, ComputeControlMode},
    {param::ExternalReference, {param::ACR}, ComputeExternalReference},
    {param::IsAutoActivatedAfterPowerOn, {param::ACR}, ComputeIsAutoActivatedAfterPowerOn},
    {param::isAnalogueReference, {param::ACR}, ComputeIsAnalogueReference},
    {param::DigitalReferenceType, {param::ACR}, ComputeDigitalReferenceType},
    {param::SpeedForward, {param::ACR}, ComputeSpeedForward, {}, HasSpeedForward},
    {param::isFreezeControl, {param::ACR}, ComputeIsFreezeControl, {}, HasFreezeControl},
    {nullptr, {param::ACR}, nullptr, {{param::ACR, ComputeACR}}, nullptr, {},
     "the control mode, the reference source, speed feedforward and freeze control"},
    {param::Axis_ID_list, {param::AAR_table}, ComputeAxis_ID_list,
     {{param::AAR_table, ComputeAAR_table}}},
    {param::ErefMaxSpeed, {param::CSPD}, ComputeErefMaxSpeed, {{param::CSPD, ComputeCSPD}}},
    {param::ErefMaxAcceleration, {param::CACC}, ComputeErefMaxAcceleration,
     {{param::CACC, ComputeCACC}}},
    {nullptr, {param::GEAR}, nullptr, {{param::GEAR, ComputeGEAR}}, nullptr, {},
     "GEARSLAVE over GEARMASTER"},

    // --- Current loop --------------------------------------------------------------------
    // The controllers' current limit is SATS while the speed loop runs, else SATP.
    {param::IlimPS, {param::SATS, param::SATP}, ComputeIlimPS, {{param::SATS, ComputeSATS}},
     nullptr, {param::SATS, param::SATP}},
    quantity_rows::GainRow<Gain::Kp_C>(),
    quantity_rows::GainRow<Gain::Ki_C>(),
    {param::TestCurrent, {}, ComputeTestCurrent, {}, nullptr, {},
     "a test's default, from the motor's and the drive's nominal currents"},
    {param::isUseFilterOnCrtCtrlOutput, {param::FILTERQ}, ComputeIsUseFilterOnCrtCtrlOutput},
    {param::FilterOnCurrentControllerOutput, {param::FILTERQ},
     ComputeFilterOnCurrentControllerOutput},
    {nullptr, {param::FILTERQ}, nullptr, {{param::FILTERQ, ComputeFILTERQ}}, nullptr, {},
     "the output filter's switch and corner"},
    {param::isCompensateGravitationalLoads, {param::FFL}, ComputeIsCompensateGravitationalLoads},
    {param::OffsetCurrent, {param::FFL}, ComputeOffsetCurrent},
    {nullptr, {param::FFL}, nullptr, {{param::FFL, ComputeFFL}}, nullptr, {},
     "the gravity compensation's switch and offset current"},
    {nullptr, {param::KFFL}, nullptr, {{param::KFFL, ComputeKFFL}}, nullptr, {},
     "always full scale"},

    // --- Speed loop ----------------------------------------------------------------------
    quantity_rows::GainRow<Gain::Kp_S>(),
    quantity_rows::GainRow<Gain::Ki_S>(),
    {param::IPSatS, {param::IMAXS}, ComputeIPSatS, {{param::IMAXS, ComputeIMAXS}}, nullptr,
     {param::IMAXS}},
    quantity_rows::GainRow<Gain::KFFA>(),
    {param::TestLimitCurrent, {param::SATS, param::SATP}, ComputeTestLimitCurrent, {}, nullptr,
     {param::SATS, param::SATP}},
    {param::Jload_over_J, {}, ComputeJload_over_J,
     {}, nullptr, {}, "the load's share of the inertias Jt and Jm"},

    // --- Position loop -------------------------------------------------------------------
    quantity_rows::GainRow<Gain::Kp_P>(),
    quantity_rows::GainRow<Gain::Ki_P>(),
    quantity_rows::GainRow<Gain::Kd_P>(),
    {param::filter_D, {param::KDFP}, Computefilter_D, {{param::KDFP, ComputeKDFP}}, nullptr,
     {param::KDFP}},
    {param::IPSatP, {param::IMAXP}, ComputeIPSatP, {{param::IMAXP, ComputeIMAXP}}, nullptr,
     {param::IMAXP}},
    // Over the speed loop, SATP limits the speed reference instead of the current.
    {param::Limit_Speed, {param::SATP}, ComputeLimit_Speed},
    {nullptr, {param::SATP}, nullptr, {{param::SATP, ComputeSATP}}, nullptr, {},
     "IlimPS, or Limit_Speed over the speed loop"},
    {param::TestMaxSpeed, {}, ComputeTestMaxSpeed, {}, nullptr, {},
     "a test's default, from the supply voltage and the motor's constant"},
    quantity_rows::GainRow<Gain::KFFS>(),

    // --- Digital inputs and software limits ----------------------------------------------
    {param::EnablePolarity, {param::DIGIN_ACTIVE_LEVEL}, ComputeEnablePolarity},
    {param::LSPPolarity, {param::DIGIN_ACTIVE_LEVEL}, ComputeLSPPolarity},
    {param::LSNPolarity, {param::DIGIN_ACTIVE_LEVEL}, ComputeLSNPolarity},
    {nullptr, {param::DIGIN_ACTIVE_LEVEL}, nullptr,
     {{param::DIGIN_ACTIVE_LEVEL, ComputeDIGIN_ACTIVE_LEVEL}}, nullptr, {},
     "the three input polarities"},
    {param::isSWLS, {param::ASR}, ComputeIsSWLS, {}, HasSoftwareLimitSwitches},
    {param::InputsPolarityType, {param::ASR}, ComputeInputsPolarityType, {}, HasInputsPolarity},
    {nullptr, {param::ASR}, nullptr, {{param::ASR, ComputeASR}}, nullptr, {},
     "isSWLS, InputsPolarityType and the transmission's sign"},
    // With a negative position scale each limit goes to the other register.
    {param::Negative_SWLS, {param::SWNEGLS, param::SWPOSLS}, ComputeNegative_SWLS,
     {{param::SWNEGLS, ComputeSWLimitFromNegative_SWLS}}, HasSoftwareLimitSwitches, {}, nullptr},
    {param::Positive_SWLS, {param::SWPOSLS, param::SWNEGLS}, ComputePositive_SWLS,
     {{param::SWPOSLS, ComputeSWLimitFromPositive_SWLS}}, HasSoftwareLimitSwitches, {}, nullptr},

    // --- Analogue input: one pair of limits per control mode; the mode's pair gives the
    // offset AD5OFF and the gain CADIN x 2^SFTADIN. ---------------------------------------
    {param::DeadBand_Point, {param::LEVEL_AD5}, ComputeDeadBand_Point,
     {{param::LEVEL_AD5, ComputeLEVEL_AD5}}, HasAnalogueInput},
    {param::DeadBand_Range, {param::E_LEVEL_AD5}, ComputeDeadBand_Range,
     {{param::E_LEVEL_AD5, ComputeE_LEVEL_AD5}}, HasAnalogueInput},
    {param::UseFilter, {param::FILTER1}, ComputeUseFilter, {}, HasAnalogueInput},
    {param::filter, {param::FILTER1}, ComputeFilter, {}, HasAnalogueInput},
    {nullptr, {param::FILTER1}, nullptr, {{param::FILTER1, ComputeFILTER1}}, HasAnalogueInput, {},
     "the reference filter's switch and bandwidth"},
    {param::POS_min, {param::AD5OFF}, ComputePOS_min, {}, HasAnalogueInput},
    {param::POS_max, {param::AD5OFF, param::CADIN, param::SFTADIN}, ComputePOS_max, {},
     HasAnalogueInput, {param::CADIN}},
    {param::SPD_min, {param::AD5OFF}, ComputeSPD_min, {}, HasAnalogueInput},
    {param::SPD_max, {param::AD5OFF, param::CADIN, param::SFTADIN}, ComputeSPD_max, {},
     HasAnalogueInput, {param::CADIN}},
    {param::CRT_min, {param::AD5OFF}, CopyAD5OFFToCRT_min, {}, HasAnalogueInput},
    {param::CRT_max, {param::AD5OFF, param::CADIN, param::SFTADIN}, ComputeCRT_max, {},
     HasAnalogueInput, {param::CADIN}},
    {nullptr, {param::CADIN}, nullptr, {{param::CADIN, ComputeCADIN}}, HasAnalogueInput, {},
     "the limits of the control mode's pair"},
    {nullptr, {param::SFTADIN}, nullptr, {{param::SFTADIN, ComputeSFTADIN}}, HasAnalogueInput, {},
     "the limits of the control mode's pair"},
    {nullptr, {param::AD5OFF}, nullptr, {{param::AD5OFF, ComputeAD5OFF}}, HasAnalogueInput, {},
     "the lower limit of the control mode's pair"},

    // --- Features a drive may lack -------------------------------------------------------
    {param::save_CAN_baudrate, {param::LSS_Active}, ComputeSave_CAN_baudrate, {}, HasCanSettings},
    {param::save_axis_id, {param::LSS_Active}, ComputeSave_axis_id, {}, HasCanSettings},
    {nullptr, {param::LSS_Active}, nullptr, {{param::LSS_Active, ComputeLSS_Active}},
     HasCanSettings, {},
     "the two CAN settings"},
    {param::ReverseCounting, {param::COUNTINGDIR}, ComputeReverseCounting,
     {{param::COUNTINGDIR, ComputeCOUNTINGDIR}}, HasReverseCounting},
    // The step also writes the filter's period and selectors from FilterEncValue.
    {param::isFilterEnc, {param::QUAL, param::QUAL_ACT, param::QUAL_AQ2}, ComputeIsFilterEnc,
     {{param::QUAL, ComputeQUAL}}, HasEncoderFilter},
    {param::isMotorBrake, {param::BRAKECFG}, ComputeIsMotorBrake, {}, HasMotorBrake},
    {param::MotorBrake_output, {param::BRAKECFG}, ComputeMotorBrake_output, {}, HasMotorBrake},
    {nullptr, {param::BRAKECFG}, nullptr, {{param::BRAKECFG, ComputeBRAKECFG}}, HasMotorBrake, {},
     "the brake's presence and output"},
    {param::MotorBrake_applytime, {param::BRAKEAPPLYDELAY}, ComputeMotorBrake_applytime,
     {{param::BRAKEAPPLYDELAY, ComputeBRAKEAPPLYDELAY}}, HasMotorBrake},
    {param::MotorBrake_releasetime, {param::BRAKERELEASEDELAY}, ComputeMotorBrake_releasetime,
     {{param::BRAKERELEASEDELAY, ComputeBRAKERELEASEDELAY}}, HasMotorBrake},
    {param::FreezeControl_errband, {param::POSOKLIM_FC}, ComputeFreezeControl_errband,
     {{param::POSOKLIM_FC, ComputePOSOKLIM_FC}}, HasFreezeControl},
    {param::FreezeControl_time, {param::TONPOSOK_FC}, ComputeFreezeControl_time,
     {{param::TONPOSOK_FC, ComputeTONPOSOK_FC}}, HasFreezeControl},
    // The filters' slots are designed together; BQ1B0 stands for all of them.
    {nullptr, {param::BQ1B0}, nullptr, {{param::BQ1B0, ComputeBiquadFilterSlots}}, HasBiquadFilters,
     {},
     "the biquad filters' requests and the slots they are placed in"},
};

std::span<const QuantityDescriptor> Quantities();

// The descriptor of a scaled parameter (names without regard to case), or null.
const QuantityDescriptor* QuantityNamed(std::string_view scaled);

}  // namespace dcservo
