#include "derive/probes.h"

#include <initializer_list>

#include "derive/step.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

int HasParameters(CZel_Setup& setup, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (!setup.FindOptionalParameter(name)) return 0;
  }
  return 1;
}

int OptionIsOne(const CZel_Setup& setup, const char* name) {
  return setup.GetIntOption(name) == 1 ? 1 : 0;
}

}  // namespace

int HasAnalogueInput(CZel_Setup& setup) {
  return setup.FindVariable(param::CADIN, 0) && setup.FindOptionalParameter(param::CADIN) ? 1 : 0;
}

int IsMotorInertiaUnknown(CZel_Setup& setup) {
  const CZel_Parameter* unknown = setup.FindOptionalParameter(param::isMotorInertiaUnknown);
  return unknown && IsFlagSet(unknown->GetValueInBaseUnit()) ? 1 : 0;
}

int HasSoftwareLimitSwitches(CZel_Setup& setup) { return HasParameters(setup, {param::isSWLS}); }
int HasSpeedEstimator(CZel_Setup& setup) { return HasParameters(setup, {param::isSpeedEstimator}); }
int HasCanSettings(CZel_Setup& setup) {
  return HasParameters(setup, {param::save_CAN_baudrate, param::save_axis_id});
}
int HasMotorBrake(CZel_Setup& setup) {
  return HasParameters(setup, {param::BRAKECFG, param::isMotorBrake});
}
int HasFreezeControl(CZel_Setup& setup) {
  return HasParameters(setup, {param::POSOKLIM_FC, param::TONPOSOK_FC});
}
int HasInputsPolarity(CZel_Setup& setup) {
  return HasParameters(setup, {param::InputsPolarityType});
}
int HasBiquadFilters(CZel_Setup& setup) { return HasParameters(setup, {param::IQREF_BQ_INI}); }
int HasSpeedTestReference(CZel_Setup& setup) {
  return HasParameters(setup, {param::SpeedTestReferenceType});
}
int HasI2tWarnings(CZel_Setup& setup) {
  return HasParameters(setup, {param::II2TWARLIM_D, param::I2TWARLIM_M});
}
int HasSpeedForward(CZel_Setup& setup) { return HasParameters(setup, {param::SpeedForward}); }
int HasReverseCounting(CZel_Setup& setup) { return HasParameters(setup, {param::ReverseCounting}); }
int HasEncoderFilter(CZel_Setup& setup) {
  return HasParameters(setup, {param::isFilterEnc, param::FilterEncValue});
}
int HasPosSpdInFastLoop(CZel_Setup& setup) {
  return HasParameters(setup, {param::PosSpd_in_FastLoop});
}

int hasNegTransmission(const CZel_Setup& setup) {
  return OptionIsOne(setup, option::hasNegTransmission);
}
int hideEnablePolarity(const CZel_Setup& setup) {
  return OptionIsOne(setup, option::hideEnablePolarity);
}
int NewDeadBand(const CZel_Setup& setup) { return OptionIsOne(setup, option::NewDeadBand); }
int DisableBrake(const CZel_Setup& setup) {
  return OptionIsOne(setup, option::DisableBrake) ? 0 : 1;
}
int IsInputsTypeProgrammable(const CZel_Setup& setup) {
  if (setup.GetOptionNoError(option::IsInputsTypeProgrammable).empty()) return -1;
  return setup.GetIntOption(option::IsInputsTypeProgrammable);
}

}  // namespace dcservo
