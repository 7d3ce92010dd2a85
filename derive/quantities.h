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
  if (g.second_shift) {
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
    {"isMotorTemperatureSensor", {"SCR"}, ComputeIsMotorTemperatureSensor},
    {"isDriveTemperatureSensor", {"SCR"}, ComputeIsDriveTemperatureSensor},
    {"SensorsConfiguration", {"SCR", "OSR", "UPGRADE"}, ComputeSensorsConfiguration},
    {"isSpeedEstimator", {"SCR"}, ComputeIsSpeedEstimator, {}, HasSpeedEstimator},
    {nullptr, {"SCR"}, nullptr, {{"SCR", ComputeSCR}}, nullptr, {},
     "the temperature sensors, the sensor configuration and the speed estimator"},
    {"Motor_TempSensor_Type", {"MTSTYPE"}, ComputeMotor_TempSensor_Type,
     {{"MTSTYPE", ComputeMTSTYPE}}},
    // The current loop's PWM saturation follows the PWM frequency.
    {"PWM_freq", {"PWMPER", "SATPWM"}, ComputePWM_freq,
     {{"PWMPER", ComputePWMPER}, {"SATPWM", ComputeSATPWM}}},
    {"PWMperiod", {"PWMPER"}, ComputePWMperiod},
    {nullptr, {"SATID", "SATIQ"}, nullptr, {{"SATID", CopySATPWMToCurrentSaturations}}, nullptr, {},
     "copies of SATPWM"},
    {"Ts_C", {"CLPER"}, ComputeTs_C, {}, nullptr, {},
     "its divider is set with the PWM frequency (ApplyPwmFrequencyChange), not by a pipeline"},
    {"Ts_S", {"SLPER"}, ComputeTs_S, {}, nullptr, {},
     "its divider is set with the PWM frequency (ApplyPwmFrequencyChange), not by a pipeline"},
    {"PosSpd_in_FastLoop", {"UPGRADE"}, ComputePosSpd_in_FastLoop},
    {"isLimitMaximum", {"UPGRADE"}, ComputeIsLimitMaximum},
    {nullptr, {"UPGRADE"}, nullptr, {{"UPGRADE", ComputeUPGRADE}}, nullptr, {},
     "isLimitMaximum, PosSpd_in_FastLoop and the sensor configuration"},
    {nullptr, {"TRANSMISION"}, nullptr, {{"TRANSMISION", ComputeTRANSMISION}}, nullptr, {},
     "the tacho's and the encoder's data and the transmission"},

    // --- Drive protections ---------------------------------------------------------------
    {"isOverVoltage", {"PCR"}, ComputeIsOverVoltage},
    {"isUnderVoltage", {"PCR"}, ComputeIsUnderVoltage},
    {"isDriveOverTemp", {"PCR"}, ComputeIsDriveOverTemp},
    {"isDriveI2t", {"PCR"}, ComputeIsDriveI2t},
    {"isOverCurrent", {"PCR"}, ComputeIsOverCurrent},
    {"isMotorOverTemp", {"PCR"}, ComputeIsMotorOverTemp},
    {"isMotori2t", {"PCR"}, ComputeIsMotorI2t},
    {nullptr, {"PCR"}, nullptr, {{"PCR", ComputePCR}}, nullptr, {},
     "the seven protection flags (PcrFlagBits)"},
    {"UMAX_PROT", {"UMAXPROT"}, ComputeScaledUMAX_PROT,
     {{"UMAXPROT", ComputeChipUMAXPROT}}, nullptr, {"UMAXPROT"}},
    {"UMIN_PROT", {"UMINPROT"}, ComputeScaledUMIN_PROT,
     {{"UMINPROT", ComputeChipUMINPROT}}, nullptr, {"UMINPROT"}},
    {"Temp_2", {"T2MAXPROT"}, ComputeTemp_2, {{"T2MAXPROT", ComputeT2MAXPROT}}},
    {nullptr, {"T1MAXPROT"}, nullptr,
     {{"T1MAXPROT", ComputeT1MAXPROT}}, nullptr, {}, "always full scale"},
    {"Vbrake", {"BRAKELIM"}, ComputeVbrake, {{"BRAKELIM", ComputeBRAKELIM}}, nullptr, {"BRAKELIM"}},
    {"isBrakeResistor", {"OSR"}, ComputeIsBrakeResistor},
    {nullptr, {"OSR"}, nullptr, {{"OSR", ComputeOSR}}, nullptr, {},
     "isBrakeResistor and the sensor configuration"},

    // --- I²t protections: the nominal register follows the rated current, the limit and the
    // warning level the limit current and its time. --------------------------------------
    {nullptr, {"II2TPROT_D"}, nullptr, {{"II2TPROT_D", ComputeII2TPROT_D}}, nullptr, {},
     "the drive's rated current, InPS"},
    {"I_I2t_D", {"I2TINTLIM_D", "II2TWARLIM_D"}, ComputeI_I2t_D,
     {{"I2TINTLIM_D", ComputeI2TINTLIM_D}, {"II2TWARLIM_D", ComputeII2TWARLIM_D, HasI2tWarnings}},
     nullptr, {"I2TINTLIM_D"}},
    {"t_I2t_D", {"SFI2T_D"}, Computet_I2t_D, {{"SFI2T_D", ComputeSFI2T_D}}, nullptr, {"SFI2T_D"}},
    {nullptr, {"II2TPROT_M"}, nullptr, {{"II2TPROT_M", ComputeII2TPROT_M}}, nullptr, {},
     "the motor's rated current, In"},
    {"I_I2t_M", {"I2TINTLIM_M", "I2TWARLIM_M"}, ComputeI_I2t_M,
     {{"I2TINTLIM_M", ComputeI2TINTLIM_M}, {"I2TWARLIM_M", ComputeI2TWARLIM_M, HasI2tWarnings}},
     nullptr, {"I2TINTLIM_M"}},
    {"t_I2t_M", {"SFI2T_M"}, Computet_I2t_M, {{"SFI2T_M", ComputeSFI2T_M}}, nullptr, {"SFI2T_M"}},

    // --- Over-current and control-error protections: a flag that is off switches its delay
    // register off, so the flag travels through its delay's step. ------------------------
    {"Imax_Prot", {"IMAXPROT"}, ComputeScaledImax_Prot,
     {{"IMAXPROT", ComputeChipIMAXPROT}}, nullptr, {"IMAXPROT"}},
    {"TestProtectionCurrent", {"IMAXPROT"}, ComputeTestProtectionCurrent,
     {}, nullptr, {"IMAXPROT"}},
    {"time_Imax_Prot", {"TIMAXPROT"}, Computetime_Imax_Prot,
     {{"TIMAXPROT", ComputeTIMAXPROT}}, nullptr, {"TIMAXPROT"}},
    {"isPositionControlError", {"TERRMAX"}, ComputeIsPositionControlError},
    {"ERR_position", {"ERRMAX"}, ComputeERR_position, {{"ERRMAX", ComputeERRMAX}}},
    {"time_ERR_pos", {"TERRMAX"}, Computetime_ERR_pos, {{"TERRMAX", ComputeTERRMAX}}},
    {"isSpeedControlError", {"TSERRMAX"}, ComputeIsSpeedControlError},
    {"ERR_speed", {"SERRMAX"}, ComputeERR_speed, {{"SERRMAX", ComputeSERRMAX}}},
    {"time_ERR_spd", {"TSERRMAX"}, Computetime_ERR_spd, {{"TSERRMAX", ComputeTSERRMAX}}},

    // --- Operating mode and references ---------------------------------------------------
    {"ControlMode", {"ACR"}, ComputeControlMode},
    {"ExternalReference", {"ACR"}, ComputeExternalReference},
    {"IsAutoActivatedAfterPowerOn", {"ACR"}, ComputeIsAutoActivatedAfterPowerOn},
    {"isAnalogueReference", {"ACR"}, ComputeIsAnalogueReference},
    {"DigitalReferenceType", {"ACR"}, ComputeDigitalReferenceType},
    {"SpeedForward", {"ACR"}, ComputeSpeedForward, {}, HasSpeedForward},
    {"isFreezeControl", {"ACR"}, ComputeIsFreezeControl, {}, HasFreezeControl},
    {nullptr, {"ACR"}, nullptr, {{"ACR", ComputeACR}}, nullptr, {},
     "the control mode, the reference source, speed feedforward and freeze control"},
    {"Axis_ID_list", {"AAR_table"}, ComputeAxis_ID_list, {{"AAR_table", ComputeAAR_table}}},
    {"ErefMaxSpeed", {"CSPD"}, ComputeErefMaxSpeed, {{"CSPD", ComputeCSPD}}},
    {"ErefMaxAcceleration", {"CACC"}, ComputeErefMaxAcceleration, {{"CACC", ComputeCACC}}},
    {nullptr, {"GEAR"}, nullptr, {{"GEAR", ComputeGEAR}}, nullptr, {}, "GEARSLAVE over GEARMASTER"},

    // --- Current loop --------------------------------------------------------------------
    // The controllers' current limit is SATS while the speed loop runs, else SATP.
    {"IlimPS", {"SATS", "SATP"}, ComputeIlimPS, {{"SATS", ComputeSATS}}, nullptr, {"SATS", "SATP"}},
    quantity_rows::GainRow<Gain::Kp_C>(),
    quantity_rows::GainRow<Gain::Ki_C>(),
    {"TestCurrent", {}, ComputeTestCurrent, {}, nullptr, {},
     "a test's default, from the motor's and the drive's nominal currents"},
    {"isUseFilterOnCrtCtrlOutput", {"FILTERQ"}, ComputeIsUseFilterOnCrtCtrlOutput},
    {"FilterOnCurrentControllerOutput", {"FILTERQ"}, ComputeFilterOnCurrentControllerOutput},
    {nullptr, {"FILTERQ"}, nullptr, {{"FILTERQ", ComputeFILTERQ}}, nullptr, {},
     "the output filter's switch and corner"},
    {"isCompensateGravitationalLoads", {"FFL"}, ComputeIsCompensateGravitationalLoads},
    {"OffsetCurrent", {"FFL"}, ComputeOffsetCurrent},
    {nullptr, {"FFL"}, nullptr, {{"FFL", ComputeFFL}}, nullptr, {},
     "the gravity compensation's switch and offset current"},
    {nullptr, {"KFFL"}, nullptr, {{"KFFL", ComputeKFFL}}, nullptr, {}, "always full scale"},

    // --- Speed loop ----------------------------------------------------------------------
    quantity_rows::GainRow<Gain::Kp_S>(),
    quantity_rows::GainRow<Gain::Ki_S>(),
    {"IPSatS", {"IMAXS"}, ComputeIPSatS, {{"IMAXS", ComputeIMAXS}}, nullptr, {"IMAXS"}},
    quantity_rows::GainRow<Gain::KFFA>(),
    {"TestLimitCurrent", {"SATS", "SATP"}, ComputeTestLimitCurrent, {}, nullptr, {"SATS", "SATP"}},
    {"Jload_over_J", {}, ComputeJload_over_J,
     {}, nullptr, {}, "the load's share of the inertias Jt and Jm"},

    // --- Position loop -------------------------------------------------------------------
    quantity_rows::GainRow<Gain::Kp_P>(),
    quantity_rows::GainRow<Gain::Ki_P>(),
    quantity_rows::GainRow<Gain::Kd_P>(),
    {"filter_D", {"KDFP"}, Computefilter_D, {{"KDFP", ComputeKDFP}}, nullptr, {"KDFP"}},
    {"IPSatP", {"IMAXP"}, ComputeIPSatP, {{"IMAXP", ComputeIMAXP}}, nullptr, {"IMAXP"}},
    // Over the speed loop, SATP limits the speed reference instead of the current.
    {"Limit_Speed", {"SATP"}, ComputeLimit_Speed},
    {nullptr, {"SATP"}, nullptr, {{"SATP", ComputeSATP}}, nullptr, {},
     "IlimPS, or Limit_Speed over the speed loop"},
    {"TestMaxSpeed", {}, ComputeTestMaxSpeed, {}, nullptr, {},
     "a test's default, from the supply voltage and the motor's constant"},
    quantity_rows::GainRow<Gain::KFFS>(),

    // --- Digital inputs and software limits ----------------------------------------------
    {"EnablePolarity", {"DIGIN_ACTIVE_LEVEL"}, ComputeEnablePolarity},
    {"LSPPolarity", {"DIGIN_ACTIVE_LEVEL"}, ComputeLSPPolarity},
    {"LSNPolarity", {"DIGIN_ACTIVE_LEVEL"}, ComputeLSNPolarity},
    {nullptr, {"DIGIN_ACTIVE_LEVEL"}, nullptr,
     {{"DIGIN_ACTIVE_LEVEL", ComputeDIGIN_ACTIVE_LEVEL}}, nullptr, {},
     "the three input polarities"},
    {"isSWLS", {"ASR"}, ComputeIsSWLS, {}, HasSoftwareLimitSwitches},
    {"InputsPolarityType", {"ASR"}, ComputeInputsPolarityType, {}, HasInputsPolarity},
    {nullptr, {"ASR"}, nullptr, {{"ASR", ComputeASR}}, nullptr, {},
     "isSWLS, InputsPolarityType and the transmission's sign"},
    // With a negative position scale each limit goes to the other register.
    {"Negative_SWLS", {"SWNEGLS", "SWPOSLS"}, ComputeNegative_SWLS,
     {{"SWNEGLS", ComputeSWLimitFromNegative_SWLS}}, HasSoftwareLimitSwitches, {}, nullptr},
    {"Positive_SWLS", {"SWPOSLS", "SWNEGLS"}, ComputePositive_SWLS,
     {{"SWPOSLS", ComputeSWLimitFromPositive_SWLS}}, HasSoftwareLimitSwitches, {}, nullptr},

    // --- Analogue input: one pair of limits per control mode; the mode's pair gives the
    // offset AD5OFF and the gain CADIN x 2^SFTADIN. ---------------------------------------
    {"DeadBand_Point", {"LEVEL_AD5"}, ComputeDeadBand_Point,
     {{"LEVEL_AD5", ComputeLEVEL_AD5}}, HasAnalogueInput},
    {"DeadBand_Range", {"E_LEVEL_AD5"}, ComputeDeadBand_Range,
     {{"E_LEVEL_AD5", ComputeE_LEVEL_AD5}}, HasAnalogueInput},
    {"UseFilter", {"FILTER1"}, ComputeUseFilter, {}, HasAnalogueInput},
    {"filter", {"FILTER1"}, ComputeFilter, {}, HasAnalogueInput},
    {nullptr, {"FILTER1"}, nullptr, {{"FILTER1", ComputeFILTER1}}, HasAnalogueInput, {},
     "the reference filter's switch and bandwidth"},
    {"POS_min", {"AD5OFF"}, ComputePOS_min, {}, HasAnalogueInput},
    {"POS_max", {"AD5OFF", "CADIN", "SFTADIN"}, ComputePOS_max, {}, HasAnalogueInput, {"CADIN"}},
    {"SPD_min", {"AD5OFF"}, ComputeSPD_min, {}, HasAnalogueInput},
    {"SPD_max", {"AD5OFF", "CADIN", "SFTADIN"}, ComputeSPD_max, {}, HasAnalogueInput, {"CADIN"}},
    {"CRT_min", {"AD5OFF"}, CopyAD5OFFToCRT_min, {}, HasAnalogueInput},
    {"CRT_max", {"AD5OFF", "CADIN", "SFTADIN"}, ComputeCRT_max, {}, HasAnalogueInput, {"CADIN"}},
    {nullptr, {"CADIN"}, nullptr, {{"CADIN", ComputeCADIN}}, HasAnalogueInput, {},
     "the limits of the control mode's pair"},
    {nullptr, {"SFTADIN"}, nullptr, {{"SFTADIN", ComputeSFTADIN}}, HasAnalogueInput, {},
     "the limits of the control mode's pair"},
    {nullptr, {"AD5OFF"}, nullptr, {{"AD5OFF", ComputeAD5OFF}}, HasAnalogueInput, {},
     "the lower limit of the control mode's pair"},

    // --- Features a drive may lack -------------------------------------------------------
    {"save_CAN_baudrate", {"LSS_Active"}, ComputeSave_CAN_baudrate, {}, HasCanSettings},
    {"save_axis_id", {"LSS_Active"}, ComputeSave_axis_id, {}, HasCanSettings},
    {nullptr, {"LSS_Active"}, nullptr, {{"LSS_Active", ComputeLSS_Active}}, HasCanSettings, {},
     "the two CAN settings"},
    {"ReverseCounting", {"COUNTINGDIR"}, ComputeReverseCounting,
     {{"COUNTINGDIR", ComputeCOUNTINGDIR}}, HasReverseCounting},
    // The step also writes the filter's period and selectors from FilterEncValue.
    {"isFilterEnc", {"QUAL", "QUAL_ACT", "QUAL_AQ2"}, ComputeIsFilterEnc,
     {{"QUAL", ComputeQUAL}}, HasEncoderFilter},
    {"isMotorBrake", {"BRAKECFG"}, ComputeIsMotorBrake, {}, HasMotorBrake},
    {"MotorBrake_output", {"BRAKECFG"}, ComputeMotorBrake_output, {}, HasMotorBrake},
    {nullptr, {"BRAKECFG"}, nullptr, {{"BRAKECFG", ComputeBRAKECFG}}, HasMotorBrake, {},
     "the brake's presence and output"},
    {"MotorBrake_applytime", {"BRAKEAPPLYDELAY"}, ComputeMotorBrake_applytime,
     {{"BRAKEAPPLYDELAY", ComputeBRAKEAPPLYDELAY}}, HasMotorBrake},
    {"MotorBrake_releasetime", {"BRAKERELEASEDELAY"}, ComputeMotorBrake_releasetime,
     {{"BRAKERELEASEDELAY", ComputeBRAKERELEASEDELAY}}, HasMotorBrake},
    {"FreezeControl_errband", {"POSOKLIM_FC"}, ComputeFreezeControl_errband,
     {{"POSOKLIM_FC", ComputePOSOKLIM_FC}}, HasFreezeControl},
    {"FreezeControl_time", {"TONPOSOK_FC"}, ComputeFreezeControl_time,
     {{"TONPOSOK_FC", ComputeTONPOSOK_FC}}, HasFreezeControl},
    // The filters' slots are designed together; BQ1B0 stands for all of them.
    {nullptr, {"BQ1B0"}, nullptr, {{"BQ1B0", ComputeBiquadFilterSlots}}, HasBiquadFilters, {},
     "the biquad filters' requests and the slots they are placed in"},
};

std::span<const QuantityDescriptor> Quantities();

// The descriptor of a scaled parameter (names without regard to case), or null.
const QuantityDescriptor* QuantityNamed(std::string_view scaled);

}  // namespace dcservo
