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
  // In the order they run. Empty when the registers are written by a chip-only row (or by
  // another quantity's step: the control-error flags switch their delay registers off).
  std::array<ChipWrite, 3> to_chip;
  // Presence probe of the quantity's group, for both directions; null means always.
  GuardFn guard;
  // The registers one count of which is the finest step a value stored as a double can take,
  // the first that moves the value winning; none for a value not derived from a count.
  std::array<const char*, 2> display;
  // Why the quantity travels one way only, or what a chip-only row is written from.
  const char* note;
};

namespace quantity_rows {

// A gain's row takes the names of its registers from the gains table; its shift goes to the
// chip before its mantissa (GainWriteOrder), and one count of the mantissa is its resolution.
template <Gain gain>
constexpr QuantityDescriptor GainRow() {
  constexpr const FixedPointGain& g = FixedPointGainOf(gain);
  QuantityDescriptor row{g.scaled, {g.shift, g.mantissa, g.second_shift}, ComputeScaledGain<gain>,
                         {}, nullptr, {g.mantissa, nullptr}, nullptr};
  row.to_chip[0] = {g.shift, ComputeGainShift<gain>};
  if (g.second_shift) {
    row.to_chip[1] = {g.second_shift, ComputeSFTKFF};
    row.to_chip[2] = {g.mantissa, ComputeGainMantissa<gain>};
  } else {
    row.to_chip[1] = {g.mantissa, ComputeGainMantissa<gain>};
  }
  return row;
}

constexpr const char* kPcr = "PCR";
constexpr const char* kScr = "SCR";
constexpr const char* kAcr = "ACR";
constexpr const char* kAsr = "ASR";
constexpr const char* kTestDefault = "a test's default from the motor's and drive's data";

}  // namespace quantity_rows

// Grouped as the drive's parts are; the order in which the steps run is the pipelines'.
inline constexpr QuantityDescriptor kQuantities[] = {
    // --- Sensors and loop timing ---------------------------------------------------------
    {"isMotorTemperatureSensor", {quantity_rows::kScr}, ComputeIsMotorTemperatureSensor, {}, nullptr, {}, nullptr},
    {"isDriveTemperatureSensor", {quantity_rows::kScr}, ComputeIsDriveTemperatureSensor, {}, nullptr, {}, nullptr},
    {"SensorsConfiguration", {quantity_rows::kScr, "OSR", "UPGRADE"}, ComputeSensorsConfiguration, {}, nullptr, {}, nullptr},
    {"isSpeedEstimator", {quantity_rows::kScr}, ComputeIsSpeedEstimator, {}, HasSpeedEstimator, {}, nullptr},
    {nullptr, {quantity_rows::kScr}, nullptr, {{{quantity_rows::kScr, ComputeSCR}}}, nullptr, {},
     "the temperature sensors, the sensor configuration and the speed estimator"},
    {"Motor_TempSensor_Type", {"MTSTYPE"}, ComputeMotor_TempSensor_Type, {{{"MTSTYPE", ComputeMTSTYPE}}}, nullptr, {}, nullptr},
    // The current loop's PWM saturation follows the PWM frequency.
    {"PWM_freq", {"PWMPER", "SATPWM"}, ComputePWM_freq, {{{"PWMPER", ComputePWMPER}, {"SATPWM", ComputeSATPWM}}}, nullptr, {}, nullptr},
    {"PWMperiod", {"PWMPER"}, ComputePWMperiod, {}, nullptr, {}, nullptr},
    {nullptr, {"SATID", "SATIQ"}, nullptr, {{{"SATID", CopySATPWMToCurrentSaturations}}}, nullptr, {},
     "copies of SATPWM"},
    {"Ts_C", {"CLPER"}, ComputeTs_C, {}, nullptr, {},
     "its divider is set with the PWM frequency (ApplyPwmFrequencyChange), not by a pipeline"},
    {"Ts_S", {"SLPER"}, ComputeTs_S, {}, nullptr, {},
     "its divider is set with the PWM frequency (ApplyPwmFrequencyChange), not by a pipeline"},
    {"PosSpd_in_FastLoop", {"UPGRADE"}, ComputePosSpd_in_FastLoop, {}, nullptr, {}, nullptr},
    {"isLimitMaximum", {"UPGRADE"}, ComputeIsLimitMaximum, {}, nullptr, {}, nullptr},
    {nullptr, {"UPGRADE"}, nullptr, {{{"UPGRADE", ComputeUPGRADE}}}, nullptr, {},
     "isLimitMaximum, PosSpd_in_FastLoop and the sensor configuration"},
    {nullptr, {"TRANSMISION"}, nullptr, {{{"TRANSMISION", ComputeTRANSMISION}}}, nullptr, {},
     "the tacho's and the encoder's data and the transmission"},

    // --- Drive protections ---------------------------------------------------------------
    {"isOverVoltage", {quantity_rows::kPcr}, ComputeIsOverVoltage, {}, nullptr, {}, nullptr},
    {"isUnderVoltage", {quantity_rows::kPcr}, ComputeIsUnderVoltage, {}, nullptr, {}, nullptr},
    {"isDriveOverTemp", {quantity_rows::kPcr}, ComputeIsDriveOverTemp, {}, nullptr, {}, nullptr},
    {"isDriveI2t", {quantity_rows::kPcr}, ComputeIsDriveI2t, {}, nullptr, {}, nullptr},
    {"isOverCurrent", {quantity_rows::kPcr}, ComputeIsOverCurrent, {}, nullptr, {}, nullptr},
    {"isMotorOverTemp", {quantity_rows::kPcr}, ComputeIsMotorOverTemp, {}, nullptr, {}, nullptr},
    {"isMotori2t", {quantity_rows::kPcr}, ComputeIsMotorI2t, {}, nullptr, {}, nullptr},
    {nullptr, {quantity_rows::kPcr}, nullptr, {{{quantity_rows::kPcr, ComputePCR}}}, nullptr, {},
     "the seven protection flags (PcrFlagBits)"},
    {"UMAX_PROT", {"UMAXPROT"}, ComputeScaledUMAX_PROT, {{{"UMAXPROT", ComputeChipUMAXPROT}}}, nullptr, {"UMAXPROT"}, nullptr},
    {"UMIN_PROT", {"UMINPROT"}, ComputeScaledUMIN_PROT, {{{"UMINPROT", ComputeChipUMINPROT}}}, nullptr, {"UMINPROT"}, nullptr},
    {"Temp_2", {"T2MAXPROT"}, ComputeTemp_2, {{{"T2MAXPROT", ComputeT2MAXPROT}}}, nullptr, {}, nullptr},
    {nullptr, {"T1MAXPROT"}, nullptr, {{{"T1MAXPROT", ComputeT1MAXPROT}}}, nullptr, {}, "always full scale"},
    {"Vbrake", {"BRAKELIM"}, ComputeVbrake, {{{"BRAKELIM", ComputeBRAKELIM}}}, nullptr, {"BRAKELIM"}, nullptr},
    {"isBrakeResistor", {"OSR"}, ComputeIsBrakeResistor, {}, nullptr, {}, nullptr},
    {nullptr, {"OSR"}, nullptr, {{{"OSR", ComputeOSR}}}, nullptr, {},
     "isBrakeResistor and the sensor configuration"},

    // --- I²t protections: the nominal register follows the rated current, the limit and the
    // warning level the limit current and its time. --------------------------------------
    {nullptr, {"II2TPROT_D"}, nullptr, {{{"II2TPROT_D", ComputeII2TPROT_D}}}, nullptr, {},
     "the drive's rated current, InPS"},
    {"I_I2t_D", {"I2TINTLIM_D", "II2TWARLIM_D"}, ComputeI_I2t_D,
     {{{"I2TINTLIM_D", ComputeI2TINTLIM_D}, {"II2TWARLIM_D", ComputeII2TWARLIM_D, HasI2tWarnings}}},
     nullptr, {"I2TINTLIM_D"}, nullptr},
    {"t_I2t_D", {"SFI2T_D"}, Computet_I2t_D, {{{"SFI2T_D", ComputeSFI2T_D}}}, nullptr, {"SFI2T_D"}, nullptr},
    {nullptr, {"II2TPROT_M"}, nullptr, {{{"II2TPROT_M", ComputeII2TPROT_M}}}, nullptr, {},
     "the motor's rated current, In"},
    {"I_I2t_M", {"I2TINTLIM_M", "I2TWARLIM_M"}, ComputeI_I2t_M,
     {{{"I2TINTLIM_M", ComputeI2TINTLIM_M}, {"I2TWARLIM_M", ComputeI2TWARLIM_M, HasI2tWarnings}}},
     nullptr, {"I2TINTLIM_M"}, nullptr},
    {"t_I2t_M", {"SFI2T_M"}, Computet_I2t_M, {{{"SFI2T_M", ComputeSFI2T_M}}}, nullptr, {"SFI2T_M"}, nullptr},

    // --- Over-current and control-error protections: a flag that is off switches its delay
    // register off, so the flag travels through its delay's step. ------------------------
    {"Imax_Prot", {"IMAXPROT"}, ComputeScaledImax_Prot, {{{"IMAXPROT", ComputeChipIMAXPROT}}}, nullptr, {"IMAXPROT"}, nullptr},
    {"TestProtectionCurrent", {"IMAXPROT"}, ComputeTestProtectionCurrent, {}, nullptr, {"IMAXPROT"}, nullptr},
    {"time_Imax_Prot", {"TIMAXPROT"}, Computetime_Imax_Prot, {{{"TIMAXPROT", ComputeTIMAXPROT}}}, nullptr, {"TIMAXPROT"}, nullptr},
    {"isPositionControlError", {"TERRMAX"}, ComputeIsPositionControlError, {}, nullptr, {}, nullptr},
    {"ERR_position", {"ERRMAX"}, ComputeERR_position, {{{"ERRMAX", ComputeERRMAX}}}, nullptr, {}, nullptr},
    {"time_ERR_pos", {"TERRMAX"}, Computetime_ERR_pos, {{{"TERRMAX", ComputeTERRMAX}}}, nullptr, {}, nullptr},
    {"isSpeedControlError", {"TSERRMAX"}, ComputeIsSpeedControlError, {}, nullptr, {}, nullptr},
    {"ERR_speed", {"SERRMAX"}, ComputeERR_speed, {{{"SERRMAX", ComputeSERRMAX}}}, nullptr, {}, nullptr},
    {"time_ERR_spd", {"TSERRMAX"}, Computetime_ERR_spd, {{{"TSERRMAX", ComputeTSERRMAX}}}, nullptr, {}, nullptr},

    // --- Operating mode and references ---------------------------------------------------
    {"ControlMode", {quantity_rows::kAcr}, ComputeControlMode, {}, nullptr, {}, nullptr},
    {"ExternalReference", {quantity_rows::kAcr}, ComputeExternalReference, {}, nullptr, {}, nullptr},
    {"IsAutoActivatedAfterPowerOn", {quantity_rows::kAcr}, ComputeIsAutoActivatedAfterPowerOn, {}, nullptr, {}, nullptr},
    {"isAnalogueReference", {quantity_rows::kAcr}, ComputeIsAnalogueReference, {}, nullptr, {}, nullptr},
    {"DigitalReferenceType", {quantity_rows::kAcr}, ComputeDigitalReferenceType, {}, nullptr, {}, nullptr},
    {"SpeedForward", {quantity_rows::kAcr}, ComputeSpeedForward, {}, HasSpeedForward, {}, nullptr},
    {"isFreezeControl", {quantity_rows::kAcr}, ComputeIsFreezeControl, {}, HasFreezeControl, {}, nullptr},
    {nullptr, {quantity_rows::kAcr}, nullptr, {{{quantity_rows::kAcr, ComputeACR}}}, nullptr, {},
     "the control mode, the reference source, speed feedforward and freeze control"},
    {"Axis_ID_list", {"AAR_table"}, ComputeAxis_ID_list, {{{"AAR_table", ComputeAAR_table}}}, nullptr, {}, nullptr},
    {"ErefMaxSpeed", {"CSPD"}, ComputeErefMaxSpeed, {{{"CSPD", ComputeCSPD}}}, nullptr, {}, nullptr},
    {"ErefMaxAcceleration", {"CACC"}, ComputeErefMaxAcceleration, {{{"CACC", ComputeCACC}}}, nullptr, {}, nullptr},
    {nullptr, {"GEAR"}, nullptr, {{{"GEAR", ComputeGEAR}}}, nullptr, {}, "GEARSLAVE over GEARMASTER"},

    // --- Current loop --------------------------------------------------------------------
    // The controllers' current limit is SATS while the speed loop runs, else SATP.
    {"IlimPS", {"SATS", "SATP"}, ComputeIlimPS, {{{"SATS", ComputeSATS}}}, nullptr, {"SATS", "SATP"}, nullptr},
    quantity_rows::GainRow<Gain::Kp_C>(),
    quantity_rows::GainRow<Gain::Ki_C>(),
    {"TestCurrent", {}, ComputeTestCurrent, {}, nullptr, {}, quantity_rows::kTestDefault},
    {"isUseFilterOnCrtCtrlOutput", {"FILTERQ"}, ComputeIsUseFilterOnCrtCtrlOutput, {}, nullptr, {}, nullptr},
    {"FilterOnCurrentControllerOutput", {"FILTERQ"}, ComputeFilterOnCurrentControllerOutput, {}, nullptr, {}, nullptr},
    {nullptr, {"FILTERQ"}, nullptr, {{{"FILTERQ", ComputeFILTERQ}}}, nullptr, {},
     "the output filter's switch and corner"},
    {"isCompensateGravitationalLoads", {"FFL"}, ComputeIsCompensateGravitationalLoads, {}, nullptr, {}, nullptr},
    {"OffsetCurrent", {"FFL"}, ComputeOffsetCurrent, {}, nullptr, {}, nullptr},
    {nullptr, {"FFL"}, nullptr, {{{"FFL", ComputeFFL}}}, nullptr, {},
     "the gravity compensation's switch and offset current"},
    {nullptr, {"KFFL"}, nullptr, {{{"KFFL", ComputeKFFL}}}, nullptr, {}, "always full scale"},

    // --- Speed loop ----------------------------------------------------------------------
    quantity_rows::GainRow<Gain::Kp_S>(),
    quantity_rows::GainRow<Gain::Ki_S>(),
    {"IPSatS", {"IMAXS"}, ComputeIPSatS, {{{"IMAXS", ComputeIMAXS}}}, nullptr, {"IMAXS"}, nullptr},
    quantity_rows::GainRow<Gain::KFFA>(),
    {"TestLimitCurrent", {"SATS", "SATP"}, ComputeTestLimitCurrent, {}, nullptr, {"SATS", "SATP"}, nullptr},
    {"Jload_over_J", {}, ComputeJload_over_J, {}, nullptr, {}, "the load's share of the inertias Jt and Jm"},

    // --- Position loop -------------------------------------------------------------------
    quantity_rows::GainRow<Gain::Kp_P>(),
    quantity_rows::GainRow<Gain::Ki_P>(),
    quantity_rows::GainRow<Gain::Kd_P>(),
    {"filter_D", {"KDFP"}, Computefilter_D, {{{"KDFP", ComputeKDFP}}}, nullptr, {"KDFP"}, nullptr},
    {"IPSatP", {"IMAXP"}, ComputeIPSatP, {{{"IMAXP", ComputeIMAXP}}}, nullptr, {"IMAXP"}, nullptr},
    // Over the speed loop, SATP limits the speed reference instead of the current.
    {"Limit_Speed", {"SATP"}, ComputeLimit_Speed, {}, nullptr, {}, nullptr},
    {nullptr, {"SATP"}, nullptr, {{{"SATP", ComputeSATP}}}, nullptr, {},
     "IlimPS, or Limit_Speed over the speed loop"},
    {"TestMaxSpeed", {}, ComputeTestMaxSpeed, {}, nullptr, {}, quantity_rows::kTestDefault},
    quantity_rows::GainRow<Gain::KFFS>(),

    // --- Digital inputs and software limits ----------------------------------------------
    {"EnablePolarity", {"DIGIN_ACTIVE_LEVEL"}, ComputeEnablePolarity, {}, nullptr, {}, nullptr},
    {"LSPPolarity", {"DIGIN_ACTIVE_LEVEL"}, ComputeLSPPolarity, {}, nullptr, {}, nullptr},
    {"LSNPolarity", {"DIGIN_ACTIVE_LEVEL"}, ComputeLSNPolarity, {}, nullptr, {}, nullptr},
    {nullptr, {"DIGIN_ACTIVE_LEVEL"}, nullptr, {{{"DIGIN_ACTIVE_LEVEL", ComputeDIGIN_ACTIVE_LEVEL}}}, nullptr, {},
     "the three input polarities"},
    {"isSWLS", {quantity_rows::kAsr}, ComputeIsSWLS, {}, HasSoftwareLimitSwitches, {}, nullptr},
    {"InputsPolarityType", {quantity_rows::kAsr}, ComputeInputsPolarityType, {}, HasInputsPolarity, {}, nullptr},
    {nullptr, {quantity_rows::kAsr}, nullptr, {{{quantity_rows::kAsr, ComputeASR}}}, nullptr, {},
     "isSWLS, InputsPolarityType and the transmission's sign"},
    // With a negative position scale each limit goes to the other register.
    {"Negative_SWLS", {"SWNEGLS", "SWPOSLS"}, ComputeNegative_SWLS,
     {{{"SWNEGLS", ComputeSWLimitFromNegative_SWLS}}}, HasSoftwareLimitSwitches, {}, nullptr},
    {"Positive_SWLS", {"SWPOSLS", "SWNEGLS"}, ComputePositive_SWLS,
     {{{"SWPOSLS", ComputeSWLimitFromPositive_SWLS}}}, HasSoftwareLimitSwitches, {}, nullptr},

    // --- Analogue input: one pair of limits per control mode; the mode's pair gives the
    // offset AD5OFF and the gain CADIN x 2^SFTADIN. ---------------------------------------
    {"DeadBand_Point", {"LEVEL_AD5"}, ComputeDeadBand_Point, {{{"LEVEL_AD5", ComputeLEVEL_AD5}}}, HasAnalogueInput, {}, nullptr},
    {"DeadBand_Range", {"E_LEVEL_AD5"}, ComputeDeadBand_Range, {{{"E_LEVEL_AD5", ComputeE_LEVEL_AD5}}}, HasAnalogueInput, {}, nullptr},
    {"UseFilter", {"FILTER1"}, ComputeUseFilter, {}, HasAnalogueInput, {}, nullptr},
    {"filter", {"FILTER1"}, ComputeFilter, {}, HasAnalogueInput, {}, nullptr},
    {nullptr, {"FILTER1"}, nullptr, {{{"FILTER1", ComputeFILTER1}}}, HasAnalogueInput, {},
     "the reference filter's switch and bandwidth"},
    {"POS_min", {"AD5OFF"}, ComputePOS_min, {}, HasAnalogueInput, {}, nullptr},
    {"POS_max", {"AD5OFF", "CADIN", "SFTADIN"}, ComputePOS_max, {}, HasAnalogueInput, {"CADIN"}, nullptr},
    {"SPD_min", {"AD5OFF"}, ComputeSPD_min, {}, HasAnalogueInput, {}, nullptr},
    {"SPD_max", {"AD5OFF", "CADIN", "SFTADIN"}, ComputeSPD_max, {}, HasAnalogueInput, {"CADIN"}, nullptr},
    {"CRT_min", {"AD5OFF"}, CopyAD5OFFToCRT_min, {}, HasAnalogueInput, {}, nullptr},
    {"CRT_max", {"AD5OFF", "CADIN", "SFTADIN"}, ComputeCRT_max, {}, HasAnalogueInput, {"CADIN"}, nullptr},
    {nullptr, {"CADIN"}, nullptr, {{{"CADIN", ComputeCADIN}}}, HasAnalogueInput, {},
     "the limits of the control mode's pair"},
    {nullptr, {"SFTADIN"}, nullptr, {{{"SFTADIN", ComputeSFTADIN}}}, HasAnalogueInput, {},
     "the limits of the control mode's pair"},
    {nullptr, {"AD5OFF"}, nullptr, {{{"AD5OFF", ComputeAD5OFF}}}, HasAnalogueInput, {},
     "the lower limit of the control mode's pair"},

    // --- Features a drive may lack -------------------------------------------------------
    {"save_CAN_baudrate", {"LSS_Active"}, ComputeSave_CAN_baudrate, {}, HasCanSettings, {}, nullptr},
    {"save_axis_id", {"LSS_Active"}, ComputeSave_axis_id, {}, HasCanSettings, {}, nullptr},
    {nullptr, {"LSS_Active"}, nullptr, {{{"LSS_Active", ComputeLSS_Active}}}, HasCanSettings, {},
     "the two CAN settings"},
    {"ReverseCounting", {"COUNTINGDIR"}, ComputeReverseCounting, {{{"COUNTINGDIR", ComputeCOUNTINGDIR}}}, HasReverseCounting, {}, nullptr},
    // The step also writes the filter's period and selectors from FilterEncValue.
    {"isFilterEnc", {"QUAL", "QUAL_ACT", "QUAL_AQ2"}, ComputeIsFilterEnc, {{{"QUAL", ComputeQUAL}}}, HasEncoderFilter, {}, nullptr},
    {"isMotorBrake", {"BRAKECFG"}, ComputeIsMotorBrake, {}, HasMotorBrake, {}, nullptr},
    {"MotorBrake_output", {"BRAKECFG"}, ComputeMotorBrake_output, {}, HasMotorBrake, {}, nullptr},
    {nullptr, {"BRAKECFG"}, nullptr, {{{"BRAKECFG", ComputeBRAKECFG}}}, HasMotorBrake, {},
     "the brake's presence and output"},
    {"MotorBrake_applytime", {"BRAKEAPPLYDELAY"}, ComputeMotorBrake_applytime, {{{"BRAKEAPPLYDELAY", ComputeBRAKEAPPLYDELAY}}}, HasMotorBrake, {}, nullptr},
    {"MotorBrake_releasetime", {"BRAKERELEASEDELAY"}, ComputeMotorBrake_releasetime, {{{"BRAKERELEASEDELAY", ComputeBRAKERELEASEDELAY}}}, HasMotorBrake, {}, nullptr},
    {"FreezeControl_errband", {"POSOKLIM_FC"}, ComputeFreezeControl_errband, {{{"POSOKLIM_FC", ComputePOSOKLIM_FC}}}, HasFreezeControl, {}, nullptr},
    {"FreezeControl_time", {"TONPOSOK_FC"}, ComputeFreezeControl_time, {{{"TONPOSOK_FC", ComputeTONPOSOK_FC}}}, HasFreezeControl, {}, nullptr},
    // The filters' slots are designed together; BQ1B0 stands for all of them.
    {nullptr, {"BQ1B0"}, nullptr, {{{"BQ1B0", ComputeBiquadFilterSlots}}}, HasBiquadFilters, {},
     "the biquad filters' requests and the slots they are placed in"},
};

std::span<const QuantityDescriptor> Quantities();

// The descriptor of a scaled parameter (names without regard to case), or null.
const QuantityDescriptor* QuantityNamed(std::string_view scaled);

}  // namespace dcservo
